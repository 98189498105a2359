"""``tolvanex-uncertainty``: how sure t50, t90 or P@T is, given the errors
of the barriers, and which barriers carry the spread.

    tolvanex-uncertainty ARGS_FILE [--set NAME=VALUE ...] --sigma 1 [--sigma barrier9=2]
                         [--sigma-step S|stepM=S] [--shift S] [--sigma-file FILE]
                         [--distribution normal|uniform] [--samples N] [--seed S]
                         [--sampling sobol|lhs|random] [--metric t50|t90|P@T] [--end S]
                         [--shares N] [--shares-by factor|step]
                         [--engine exact | --program P [--confirm K]] [--jobs N] [--out DIR]
    tolvanex-uncertainty --resume DIR | --collect DIR

Writes samples.csv, uncertainty.json, uncertainty.csv and uncertainty.png
in the study folder and prints a summary.  Exit status 0; 1 when a sample
failed (no value); 2 on a usage error or a bad value (nothing run); 3
(--collect) while the study's Slurm job is still queued or running.

>>> main(["--version"])
tolvanex-uncertainty 1.1.0
0
"""

from __future__ import annotations

import argparse
import os
import sys

from . import command
from .options import (ArgumentParser, UsageError, add_study_folder_options, name_value_pairs,
                      slurm_options)
from ..model.parameters import Parameters
from ..scans.manifest import read_manifest
from ..scans.slurm_scan import last_job
from ..studies.uncertainty.study import (SAMPLE_CAP, collect_uncertainty, resume_uncertainty,
                                         uncertainty)

PROG = "tolvanex-uncertainty"


def parser() -> argparse.ArgumentParser:
    """The command-line options.

    >>> parser().parse_args(["x.args", "--sigma", "1", "--sigma", "barrier9=2"]).sigma
    ['1', 'barrier9=2']
    """
    p = ArgumentParser(prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
                description="The spread of t50, t90 or P@T that errors of the barriers "
                "cause, sampled on the exact engine, with its linear estimate and the share "
                "of the variance each barrier carries.",
                epilog="Example: tolvanex-uncertainty examples/glutathione.args --sigma 1 "
                "--out studies/glutathione-uncertainty")
    p.add_argument("args_file", nargs="?", help="arguments file of the base run")
    p.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                   help="replace one argument of the file (repeatable)")
    e = p.add_argument_group("errors (kcal/mol; they add up)")
    e.add_argument("--sigma", action="append", default=[], metavar="S|barrierN=S",
                   help="independent error of every barrier, or of one (repeatable)")
    e.add_argument("--sigma-step", action="append", default=[], metavar="S|stepM=S",
                   help="error of the transition state of every step (both its barriers "
                        "moved together), or of one step (repeatable)")
    e.add_argument("--shift", metavar="S", help="one common shift of every barrier")
    e.add_argument("--sigma-file", metavar="FILE",
                   help="lines NAME VALUE: barriers, barrierN, steps, stepM, shift (the "
                        "options override it)")
    e.add_argument("--distribution", choices=("normal", "uniform"), default="normal",
                   help="normal with standard deviation S (default), or uniform within ±S")
    s = p.add_argument_group("sampling and results")
    s.add_argument("--samples", type=int, default=1000, metavar="N",
                   help=f"samples (default 1000, at most {SAMPLE_CAP:,})")
    s.add_argument("--sampling", choices=("sobol", "lhs", "random"), default="sobol",
                   help="scrambled Sobol (default), Latin hypercube, or plain random")
    s.add_argument("--seed", type=int, default=1, metavar="S",
                   help="the seed: the same command gives the same numbers (default 1)")
    s.add_argument("--metric", default="t50", metavar="t50|t90|P@T",
                   help="t50 (default), t90, or P@T, the product at T seconds")
    s.add_argument("--end", type=float, metavar="SECONDS",
                   help="how far t50/t90 are looked for (default 1e10 s, or the wanted time "
                        "if later); samples that do not get there are censored")
    s.add_argument("--shares", type=int, default=0, metavar="N",
                   help="Sobol variance shares from N base samples: N*(factors+2) solves "
                        "(default 0: only the linear shares)")
    s.add_argument("--shares-by", choices=("factor", "step"), default="factor",
                   help="a share per factor (default), or per step (half the solves)")
    r = p.add_argument_group("engine")
    r.add_argument("--engine", choices=("exact",),
                   help="the exact engine, in-process (the default)")
    r.add_argument("--program", metavar="NAME|PATH",
                   help="run the samples with this program through the scan machinery "
                        "(tolvanex_unpruned, tolvanex or a path)")
    r.add_argument("--confirm", type=int, metavar="K",
                   help="with --program: run only the first K samples")
    r.add_argument("--jobs", type=int, default=os.cpu_count() or 1, metavar="N",
                   help="solves or runs at a time (default: %(default)s)")
    p.add_argument("--out", metavar="DIR", help="study folder (default: uncertainty-NAME)")
    add_study_folder_options(
        p, resume="run what is not finished in a study made with --program",
        collect="the outputs of a study whose runs were carried out elsewhere",
        dry_run="with --program: write the run folders and commands.txt only")
    return p


warn = command.warner(PROG)


def _check(args) -> None:
    modes = [m for m in ("resume", "collect") if getattr(args, m)]
    if len(modes) > 1:
        raise UsageError("give --resume or --collect, not both")
    if modes:
        given = [o for o, v in (("ARGS_FILE", args.args_file), ("--out", args.out),
                                ("--sigma", args.sigma), ("--sigma-step", args.sigma_step),
                                ("--shift", args.shift), ("--sigma-file", args.sigma_file),
                                ("--set", args.set), ("--dry-run", args.dry_run),
                                ("--confirm", args.confirm), ("--end", args.end)) if v]
        if given:
            raise UsageError(f"--{modes[0]} takes the study folder; leave out {given[0]}")
    elif not args.args_file:
        raise UsageError("give the arguments file (or --resume DIR, --collect DIR)")
    if args.engine and args.program:
        raise UsageError("give --engine exact or --program, not both")
    if args.jobs < 1:
        raise UsageError("--jobs must be at least 1")


def _run(args) -> int:
    progress = None if args.no_progress else sys.stderr
    slurm = slurm_options(args)
    if args.collect:
        if slurm:
            raise UsageError("--slurm submits a new study or a resume; leave out --collect")
        found = collect_uncertainty(args.collect, args.jobs, progress, warn)
        out = args.collect
    elif args.resume:
        out = os.path.abspath(args.resume)
        found = resume_uncertainty(out, args.jobs, args.program, progress, warn, slurm)
    else:
        base = Parameters.read(args.args_file)
        changes = name_value_pairs(args.set, "--set")
        if changes:
            base = base.replace(**changes)
        stem = os.path.splitext(os.path.basename(args.args_file))[0]
        out = args.out = os.path.abspath(args.out or f"uncertainty-{stem}")
        found = uncertainty(base, sigma=args.sigma or None, sigma_step=args.sigma_step or None,
                            shift=args.shift, sigma_file=args.sigma_file,
                            distribution=args.distribution, samples=args.samples,
                            sampling=args.sampling, seed=args.seed, metric=args.metric,
                            end=args.end, shares=args.shares, shares_by=args.shares_by,
                            program=args.program, confirm=args.confirm, jobs=args.jobs,
                            out=out, dry_run=args.dry_run, progress=progress, warn=warn,
                            slurm=slurm)
        if found is None and not slurm:
            n = len(read_manifest(out)["runs"])
            print(f"{n} runs prepared; their commands are in {os.path.join(out, 'commands.txt')}"
                  f"; then: {PROG} --collect {out}")
            return 0
    if found is None:                           # submitted to Slurm
        job = last_job(read_manifest(out))["job_id"]
        print(job)
        warn(f"follow it with squeue --jobs={job}; then: {PROG} --collect {out}")
        return 0
    print(found.summary())
    if found.result.get("job_in_queue"):
        return 3
    if found.result.get("not_ended"):
        n = found.result["not_ended"]
        warn(f"{n} run{'s' if n != 1 else ''} of the study ha{'s' if n == 1 else 've'} not "
             f"ended (not run, or running or killed); {PROG} --resume {found.folder} runs them")
        return 3
    return 1 if found.result["failed"] else 0


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status (`tolvanex.cli.command`).

    >>> main(["examples/mera.args", "--sigma", "-1"])
    2
    """
    return command.main(PROG, parser(), command.resumable(PROG, _check, _run), argv)
