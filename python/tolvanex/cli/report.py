"""tolvanex-report: a run's result on one screen.

    tolvanex-report RUN_FOLDER_OR_TRACE [--run N] [--args FILE] [--program NAME]
                    [--no-exact] [--json]

How the run ended (the program's own message), its end time against the
wanted time, the iterations, the amounts at the end, t50, t90 and the
initial rate, the mercury and enzyme balances over every row, and the
largest difference from the exact solution of its rate equations (the
compiled engine, milliseconds).  Status 0 when the run ended well and both
balances hold, 1 when not (the report's last line says why), 2 on a usage
error.
"""

from __future__ import annotations

import argparse
import json
import math
import sys

from . import command
from .check import check_matches
from .options import ArgumentParser, UsageError
from ..runs.programs import PROGRAM_NAMES, program_name
from ..runs.folder import RunNotFound
from ..runs.report import failed_without_trace, figures, screen
from ..runs.run import Run

PROG = "tolvanex-report"


def parser() -> argparse.ArgumentParser:
    """The command-line options of tolvanex-report.

    >>> parser().parse_args(["run/mera", "--no-exact"]).exact
    False
    """
    p = ArgumentParser(prog=PROG, description="Show a run's result on one screen: how it "
                       "ended, the amounts at the end, t50, t90, the initial rate, the mercury "
                       "and enzyme balances and the difference from the exact solution.")
    p.add_argument("path", metavar="RUN_FOLDER_OR_TRACE")
    p.add_argument("--run", type=int, default=-1, metavar="N",
                   help="which run of the trace file (1 the first, -1 the last; default last)")
    p.add_argument("--args", metavar="FILE", help="the run's arguments file, when its folder "
                   "records none")
    p.add_argument("--program", metavar="NAME", help="the program that made the run, when "
                   "its folder records none: tolvanex or tolvanex_unpruned")
    p.add_argument("--no-exact", dest="exact", action="store_false",
                   help="leave out the comparison with the exact solution")
    p.add_argument("--json", action="store_true",
                   help="write the figures as JSON (null for a value not known or not "
                   "reached) instead of the screen")
    return p


def _finite(value):
    """The figures with every NaN or infinity as None, for strict JSON."""
    if isinstance(value, dict):
        return {k: _finite(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_finite(v) for v in value]
    if isinstance(value, float) and not math.isfinite(value):
        return None
    return value


def _main(args) -> int:
    if args.program is not None and program_name(args.program) is None:
        raise UsageError(f"--program {args.program!r}: give {' or '.join(PROGRAM_NAMES)}")
    try:
        run = Run.load(args.path, args.run,
                       lambda m: print(f"{PROG}: warning: {m}", file=sys.stderr),
                       arguments=args.args, program=args.program, fluxes=False)
    except RunNotFound:
        f = failed_without_trace(args.path)    # a run that failed before its first row
        if f is None:
            raise
    else:
        if run.parameters is not None:
            check_matches(run.raw_trace, run.parameters, run.trace_path)
        f = figures(run, exact=args.exact)
    print(json.dumps(_finite(f), indent=1) if args.json else screen(f))
    return f["verdict"]["status"]


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status (`tolvanex.cli.command`): 0 when the run ended well and its
    balances hold, 1 when not.

    >>> main(["--version"])
    tolvanex-report 1.1.0
    0
    """
    return command.main(PROG, parser(), _main, argv)
