"""``tolvanex-scan``: the exact kinetics (or a program's runs) over a grid of
parameter values, each point in a folder of its own, summarised in
summary.csv.

    tolvanex-scan ARGS_FILE --vary NAME=VALUES [--vary ...] [--set NAME=VALUE ...]
                  --out DIR [--jobs N] [--engine exact [--traces] | --program NAME|PATH
                  [--sequential] [--dry-run]] [--plot [--metric t50|t90|P@wanted]]
    tolvanex-scan --resume DIR [ARGS_FILE --vary ... --set ...] [--plot]
    tolvanex-scan --collect DIR [--plot]

With --slurm [--partition P] [--time HH:MM:SS] [--max-parallel N]
[--runs-per-task K] [--sbatch-arg=ARG ...] [--wait] a new scan or a resume
submits its runs to Slurm as one job array.

>>> main(["--version"])
tolvanex-scan 1.1.0
0
"""

from __future__ import annotations

import argparse
import os
import sys

from . import command
from ..model.parameters import ALIASES, CONDITIONS, MEANINGS, NAMES, Parameters
from .options import (ArgumentParser, UsageError, add_slurm_options, name_value_pairs,
                      slurm_options)
from ..plots.scan_picture import NAMED_COLUMNS, check_metric, picture_name, plot_summary
from ..runs.programs import EXACT, program_label
from ..scans.grid import Grid
from ..scans.manifest import read_manifest
from ..scans.scan import ScanInterrupted, collect, scan
from ..scans.slurm_scan import last_job
from ..runs.outcome import ENDED_WELL
from ..scans.summary import NUMBERS, run_states, verdict

PROG = "tolvanex-scan"


def _names_help() -> str:
    lines = ["parameter names (case does not matter):"]
    for name in NAMES + CONDITIONS:
        if name.startswith("barrier") and name not in ("barrier1", "barrier38"):
            continue
        shown = "barrier1 ... barrier38" if name == "barrier1" else name
        if name == "barrier38":
            continue
        aliases = [a for a, n in ALIASES.items() if n == name]
        also = f" (also: {', '.join(aliases)})" if aliases else ""
        meaning = ("activation free energy of step direction N, kcal/mol"
                   if name == "barrier1" else MEANINGS[name])
        lines.append(f"  {shown:24s}{meaning}{also}")
    lines.append("")
    lines.append("Example: tolvanex-scan examples/glutathione.args --vary pH=6.5:8.5:0.5 "
                 "--vary barrier12=16.6,18 --set wanted_time=10 --jobs 2 --out scans/ph --plot")
    return "\n".join(lines)


def parser() -> argparse.ArgumentParser:
    """The command-line options of tolvanex-scan.

    >>> parser().prog
    'tolvanex-scan'
    """
    p = ArgumentParser(
        prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Solve the exact kinetics (or run a program) over a grid of parameter "
                    "values, each point in its own folder, and summarise them in "
                    "summary.csv, whose program column names what ran.",
        epilog=_names_help())
    p.add_argument("args_file", nargs="?", help="arguments file with the base argument list")
    p.add_argument("--vary", action="append", default=[], metavar="NAME=VALUES",
                   help="a,b,c (taken as typed) or start:stop:step (stop included); "
                        "repeatable, the first changing slowest")
    p.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                   help="a fixed value for every run (not in the folder names); repeatable")
    p.add_argument("--out", metavar="DIR", help="folder for the scan (must not hold one)")
    p.add_argument("--resume", metavar="DIR",
                   help="run what is not finished in an existing scan folder")
    p.add_argument("--collect", metavar="DIR",
                   help="write the summary of an existing scan folder")
    p.add_argument("--jobs", type=int, default=os.cpu_count() or 1, metavar="N",
                   help="solves (threads) or runs (under GNU parallel) at a time "
                        "(default: %(default)s)")
    p.add_argument("--engine", choices=[EXACT],
                   help="the exact engine (the default): every point solved here, in "
                        "milliseconds; summary.csv only, unless --traces")
    p.add_argument("--traces", action="store_true",
                   help="with the exact engine: also trace.csv and fluxes.csv in every "
                        "point's folder (every step of the solver)")
    p.add_argument("--program", metavar="NAME|PATH",
                   help="a program instead of the engine: tolvanex_unpruned (the default "
                        "for --dry-run and --slurm), tolvanex (drops backward net fluxes: "
                        "other numbers), or a path; names are looked up in build/ of the "
                        "source tree, beside this command, then on PATH")
    p.add_argument("--sequential", action="store_true",
                   help="one run after the other even when GNU parallel is there")
    p.add_argument("--dry-run", action="store_true",
                   help="write the folders and commands.txt only")
    p.add_argument("--plot", action="store_true",
                   help="draw the metric against the first varied parameter (summary.png "
                        "for t50, summary-METRIC.png for another)")
    p.add_argument("--metric", default="t50", metavar="NAME",
                   help="what --plot draws: " + ", ".join(NAMED_COLUMNS) +
                        " or a summary column (default: %(default)s)")
    p.add_argument("--no-progress", action="store_true",
                   help="no progress line, nor notes on how the runs are carried out")
    add_slurm_options(p)
    return p


warn = command.warner(PROG)


def _main(args) -> int:
    try:
        return _run(args)
    except ScanInterrupted as e:
        path = os.path.join(os.path.abspath(args.resume or args.out), "summary.csv")
        warn(f"{e}; the runs' states are in {path}")
        return command.exit_status(e)


def _run(args) -> int:
    progress = None if args.no_progress else sys.stderr
    if args.plot:
        check_metric(args.metric, NUMBERS)            # before anything runs
    slurm = slurm_options(args)
    if slurm and (args.collect or args.dry_run):
        raise UsageError("--slurm submits a new scan or a resume; leave out "
                         + ("--collect" if args.collect else "--dry-run"))
    if args.engine and args.program:
        raise UsageError("give --engine exact or --program, not both")
    if args.collect:
        if (args.args_file or args.vary or args.set or args.out or args.dry_run or args.resume
                or args.engine or args.program or args.traces):
            raise UsageError("--collect takes only the scan folder (and --plot, --metric)")
        out = os.path.abspath(args.collect)
        table = collect(out, warn)
    elif args.resume:
        if args.out:
            raise UsageError("--resume names the scan folder; leave out --out")
        if args.jobs < 1:
            raise UsageError("--jobs must be at least 1")
        if (args.vary or args.set) and not args.args_file:
            raise UsageError("--vary and --set need the arguments file too")
        out = os.path.abspath(args.resume)
        table = scan(args.args_file, name_value_pairs(args.vary, "--vary"), name_value_pairs(args.set, "--set"),
                     args.jobs, args.program, out, resume=True, sequential=args.sequential,
                     dry_run=args.dry_run, progress=progress, warn=warn, slurm=slurm,
                     engine=args.engine, traces=args.traces)
    else:
        if not args.args_file or not args.out:
            raise UsageError("give the arguments file and --out DIR")
        if args.jobs < 1:
            raise UsageError("--jobs must be at least 1")
        out = os.path.abspath(args.out)
        # Every grid point is checked before a folder is made.
        Grid(Parameters.read(args.args_file), name_value_pairs(args.vary, "--vary"),
             name_value_pairs(args.set, "--set")).points()
        table = scan(args.args_file, name_value_pairs(args.vary, "--vary"), name_value_pairs(args.set, "--set"),
                     args.jobs, args.program, out, sequential=args.sequential,
                     dry_run=args.dry_run, progress=progress, warn=warn, slurm=slurm,
                     engine=args.engine, traces=args.traces)
    if table is None and slurm:
        job = last_job(read_manifest(out))
        print(job["job_id"])
        warn(f"follow it with squeue --jobs={job['job_id']}; summarise it with {PROG} "
             f"--collect {out} once it has ended")
        return 0
    if table is None:
        n = len(read_manifest(out)["runs"])
        print(f"{n} run{'s' if n != 1 else ''} prepared; their commands are in "
              f"{os.path.join(out, 'commands.txt')}")
        return 0
    print(ran(table))
    print(os.path.join(out, "summary.csv"))
    if args.plot:
        _plot(out, table, args.metric)
    status, lines = verdict(table)
    if table.attrs.get("job_in_queue"):
        return 3                            # a summary so far: the job goes on (said so)
    for line in lines:
        warn(line + (f"; {PROG} --resume {out} runs them" if "not ended" in line else ""))
    return status


def ran(table) -> str:
    """The console's line on what ran and how it went.

    >>> import pandas as pd
    >>> ran(pd.DataFrame({"program": ["exact"] * 3, "exit_status": [0, 0, 1],
    ...                   "ended": ["time reached"] * 2 + ["solver failed (CV_CONV_FAILURE)"]}))
    'exact (the CVODE engine): 3 points, 2 ended well, 1 did not'
    """
    labels = sorted({label for label in table["program"] if label}) or ["program not recorded"]
    what = ", ".join(f"{label} (the CVODE engine)" if label == EXACT else label
                     for label in labels)
    good = int(run_states(table).eq(ENDED_WELL).sum())
    n = len(table)
    return (f"{what}: {n} {'point' if EXACT in labels else 'run'}{'s' if n != 1 else ''}, "
            f"{good} ended well" + (f", {n - good} did not" if n - good else ""))


def _plot(out: str, table, metric: str) -> None:
    manifest = read_manifest(out)
    varied = [n for n, _ in manifest.get("varied", [])]
    base = os.path.basename(manifest.get("args_file") or "scan")
    print(plot_summary(table, varied, os.path.join(out, picture_name(metric)), metric,
                       title=f"{base}: {metric} against {varied[0] if varied else 'run'}"
                             f" — {program_label(manifest.get('program')) or 'program not recorded'}"))


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status (`tolvanex.cli.command`).

    >>> main(["--no-such-option"])
    2
    """
    return command.main(PROG, parser(), _main, argv)
