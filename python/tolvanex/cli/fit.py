"""``tolvanex-fit``: fit barriers to measured time courses.

    tolvanex-fit ARGS_FILE DATA_CSV [--data ARGS_FILE DATA_CSV ...]
                 --vary NAMES [--prior-sigma S] [--profile] [--mcmc ...]
                 [--program NAME|PATH] [--no-confirm] --out DIR

Each data file goes with the arguments file it was measured under; several
pairs make one global fit with the varied parameters shared.  Writes
fit.json, fit.csv, the fitted arguments and a picture per data set in DIR,
runs the program at the fitted barriers to confirm, and prints a report.
Exit status 0; 1 when the fit does not converge or a confirmation run
fails; 2 for input that cannot be meant.

>>> main(["--version"])
tolvanex-fit 1.1.0
0
"""

from __future__ import annotations

import argparse
import sys

from . import command
from .options import ArgumentParser, UsageError
from ..studies.fit import sampling
from ..studies.fit.report import report
from ..studies.fit.study import DEFAULT_PROGRAM, fit

PROG = "tolvanex-fit"


def parser() -> argparse.ArgumentParser:
    """The command-line options.

    >>> parser().parse_args(["a.args", "d.csv", "--vary", "barrier1", "--out", "f"]).vary
    ['barrier1']
    """
    p = ArgumentParser(prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
                       description="Fit barriers to measured time courses: values, 95 % "
                       "intervals, what the data do not determine, and a confirmation run.",
                       epilog="Example: tolvanex-fit examples/glutathione.args gsh.csv "
                       "--vary barrier1,barrier9 --out fits/gsh\n\n"
                       "Data: a CSV with time_s and observables (P, A_mol_per_L, P_fraction "
                       "...),\noptionally sigma or OBSERVABLE_sigma.  NAMES: barrierN, stepN "
                       "(both barriers\nof the step together), shift (every other barrier), "
                       "each optionally\nwith bounds NAME=LOW:HIGH in kcal/mol (default: 10 "
                       "either way, within\n0 and the 60 kcal/mol cut-off).")
    p.add_argument("args_file", help="arguments file the data were measured under")
    p.add_argument("data_file", help="CSV file of the measured time course")
    p.add_argument("--data", nargs=2, action="append", default=[],
                   metavar=("ARGS_FILE", "DATA_CSV"), help="one more data set; repeatable")
    p.add_argument("--vary", action="append", required=True, metavar="NAMES",
                   help="what to fit, comma-separated; repeatable")
    p.add_argument("--prior-sigma", type=float, metavar="S",
                   help="Gaussian prior of S kcal/mol around the calculated values")
    p.add_argument("--profile", action="store_true",
                   help="95 %% intervals by profile likelihood too")
    p.add_argument("--mcmc", action="store_true",
                   help="sample the posterior with emcee (walkers x steps evaluations)")
    p.add_argument("--mcmc-walkers", type=int, metavar="N",
                   help="walkers (default: 4 per parameter, at least 8)")
    p.add_argument("--mcmc-steps", type=int, default=sampling.DEFAULT_STEPS, metavar="N",
                   help="steps of every walker (default %(default)s)")
    p.add_argument("--seed", type=int, default=1, help="seed of the sampler (default 1)")
    p.add_argument("--jobs", type=int, default=1, metavar="N",
                   help="evaluations at a time while sampling (default 1)")
    p.add_argument("--program", default=DEFAULT_PROGRAM, metavar="NAME|PATH",
                   help="program of the confirmation run (default %(default)s)")
    p.add_argument("--no-confirm", action="store_true", help="no confirmation run")
    p.add_argument("--max-evaluations", type=int, default=500, metavar="N",
                   help="evaluations the minimisation may take (default %(default)s)")
    p.add_argument("--out", required=True, metavar="DIR",
                   help="fit folder, new or empty")
    return p


def _say(line: str) -> None:
    print(f"{PROG}: {line}", file=sys.stderr, flush=True)


def _main(args) -> int:
    if not args.mcmc and (args.mcmc_walkers is not None
                          or args.mcmc_steps != sampling.DEFAULT_STEPS):
        raise UsageError("--mcmc-walkers and --mcmc-steps need --mcmc")
    pairs = [(args.args_file, args.data_file)] + [tuple(pair) for pair in args.data]
    result = fit(pairs, args.vary, prior_sigma=args.prior_sigma, profile=args.profile,
                 mcmc=args.mcmc, walkers=args.mcmc_walkers, steps=args.mcmc_steps,
                 seed=args.seed, jobs=args.jobs, program=args.program,
                 confirm=not args.no_confirm, out=args.out,
                 max_evaluations=args.max_evaluations, say=_say)
    print(report(result, args.out))
    if not result.converged:
        return 1
    return 1 if any(c.failed for c in result.confirmations) else 0


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status (`tolvanex.cli.command`).

    >>> main(["a.args", "d.csv", "--vary", "barrier1"])
    2
    """
    return command.main(PROG, parser(), _main, argv)
