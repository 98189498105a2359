"""tolvanex-check: how far a run is from the exact solution of its rate
equations.

    tolvanex-check RUN_FOLDER_OR_TRACE [--tol 1e-3] [--args FILE]
                   [--program tolvanex|tolvanex_unpruned] [--run N]

The run's rows are compared with the exact solution at the same times
(the CVODE engine, in milliseconds; SciPy's Radau where it is not built): the largest difference of every species as a fraction of the enzyme
amount, and the times to 50 % and 90 % product.  Exit status 0 when every
species is within --tol of the enzyme amount (beyond the rounding of the
six printed digits), 1 when one is not, 2 on a usage error.

The arguments come from --args FILE, from arguments.args in the run folder,
or from the scan.json of the scan the folder belongs to (which also names
the program).  For a run of tolvanex, which drops backward and negligible
net fluxes, the difference includes the effect of that dropping.
"""

from __future__ import annotations

import argparse
import math
import sys

from . import command
from ..model.mechanism import rate_constants
from .options import ArgumentParser, UsageError
from ..runs.folder import ARGUMENTS, RunNotFound
from ..runs.programs import PROGRAM_NAMES, program_name
from ..runs.run import Run
from ..scans.manifest import MANIFEST
from ..studies.comparison import DEFAULT_TOLERANCE, compare_with_exact

PROG = "tolvanex-check"
SOLVERS = {"cvode": "the CVODE engine", "radau": "SciPy's Radau (the engine is not built)"}


def parser() -> argparse.ArgumentParser:
    """The command-line options of tolvanex-check.

    >>> parser().prog
    'tolvanex-check'
    """
    p = ArgumentParser(prog=PROG, description="Compare a run with the exact solution of its "
                "rate equations (the CVODE engine; SciPy's Radau where it is not built).")
    p.add_argument("path", metavar="RUN_FOLDER_OR_TRACE")
    p.add_argument("--tol", type=float, default=DEFAULT_TOLERANCE,
                   help="largest difference allowed, as a fraction of the enzyme amount "
                   f"(default {DEFAULT_TOLERANCE:g})")
    p.add_argument("--args", metavar="FILE", help="the run's arguments file")
    p.add_argument("--program", metavar="NAME", help="the program that made the run: "
                   "tolvanex or tolvanex_unpruned (or its path)")
    p.add_argument("--run", type=int, metavar="N",
                   help="which run of the trace file (1 the first, -1 the last; default last)")
    return p


def check_arguments(args):
    """Refuse a tolerance or program that cannot be meant."""
    if not (args.tol > 0 and math.isfinite(args.tol)):
        raise UsageError(f"--tol {args.tol:g}: give a positive fraction of the enzyme amount")
    if args.program is not None and program_name(args.program) is None:
        raise UsageError(f"--program {args.program!r}: give {' or '.join(PROGRAM_NAMES)}")


def check_matches(run, parameters, trace_path: str) -> None:
    """Refuse arguments that are not the run's: the rate constants, the
    enzyme amount and the mode printed in the trace file must be theirs."""
    k = rate_constants(parameters)
    for i, printed in sorted(run.header.rate_constants.items()):
        if printed is None or not 1 <= i <= 38:
            continue
        if abs(printed - k[i]) > 1e-5 * abs(k[i]):
            raise RunNotFound(f"{trace_path}: k{i} is {printed:.5e} there but {k[i]:.5e} "
                              "by the arguments: they belong to another run")
    if run.organomercurial != parameters.is_organomercurial:
        mode = "is" if run.organomercurial else "is not"
        raise RunNotFound(f"{trace_path}: the run {mode} in organomercurial mode, "
                          "its arguments say otherwise")
    printed = run.header.enzyme
    expected = 0.0 if parameters.is_organomercurial else parameters.enzyme
    if printed is not None and abs(printed - expected) > 0.006 * abs(expected):
        raise RunNotFound(f"{trace_path}: Enzyme={printed:.2e} there, {expected:.2e} by "
                          "the arguments: they belong to another run")


def _time(value: float) -> str:
    return "not reached" if math.isnan(value) else f"{value:.6g} s"


def format_report(comparison, trace_path, run_number, program, arguments_from) -> str:
    c = comparison
    made_by = program or "unknown program (give --program)"
    lines = [f"run {run_number} of {trace_path}: {c.rows} rows to {c.end:.6g} s; made by "
             f"{made_by}; arguments from {arguments_from}",
             "", f"{'species':<9}{'largest |run - exact| / enzyme':>32}{'at time':>14}  within",
             ]
    for name, row in c.species.iterrows():
        lines.append(f"{name:<9}{row['difference_of_enzyme']:>32.3e}{row['at_time_s']:>12.4g} s"
                     f"  {'yes' if row['within'] else 'NO'}")
    lines += ["", f"{'':<5}{'run':>16}{'exact':>16}{'relative difference':>22}"]
    for label, row in c.times.iterrows():
        diff = row["relative_difference"]
        lines.append(f"{label:<5}{_time(row['run_s']):>16}{_time(row['exact_s']):>16}"
                     f"{'' if math.isnan(diff) else format(diff, '+.2e'):>22}")
    lines.append("")
    lines.append(f"exact solution: {SOLVERS.get(c.method, c.method)}, {1000 * c.wall_s:.3g} ms")
    if program == "tolvanex":
        lines.append("This run is of tolvanex, which drops backward and negligible net "
                     "fluxes: the difference includes the effect of that dropping "
                     "(tolvanex_unpruned follows the rate equations).")
    elif program is None:
        lines.append("If this run is of tolvanex, the difference includes the effect of "
                     "its dropping of backward and negligible net fluxes.")
    worst = c.worst
    verdict = "Every species is within" if c.ok else "NOT every species is within"
    lines.append(f"{verdict} {c.tolerance:g} of the enzyme amount (largest: {worst}, "
                 f"{c.species.loc[worst, 'beyond_rounding_of_enzyme']:.3e} beyond the "
                 "rounding of the six printed digits, which is allowed on top).")
    return "\n".join(lines)


def _main(args) -> int:
    check_arguments(args)
    run = Run.load(args.path, -1 if args.run is None else args.run,
                   lambda m: print(f"{PROG}: warning: {m}", file=sys.stderr),
                   arguments=args.args, program=args.program, fluxes=False)
    if run.parameters is None:
        raise RunNotFound(f"{run.folder}: no {ARGUMENTS} there and no {MANIFEST} of a scan "
                          "above it that lists it; give the arguments with --args FILE")
    run.parameters.check()
    check_matches(run.raw_trace, run.parameters, run.trace_path)
    comparison = compare_with_exact(run.trace, run.parameters, tolerance=args.tol)
    print(format_report(comparison, run.trace_path, run.raw_trace.number,
                        program_name(run.program), run.parameters_from))
    return 0 if comparison.ok else 1


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status (`tolvanex.cli.command`): 0 when every species is within the
    tolerance, 1 when one is not.

    >>> main(["--version"])
    tolvanex-check 1.1.0
    0
    """
    return command.main(PROG, parser(), _main, argv)
