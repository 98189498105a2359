"""``tolvanex-solve``: the exact kinetics of one argument set, in
milliseconds: how the solve ended, t50, t90 and every amount at the wanted
time, on one screen.

    tolvanex-solve ARGS_FILE [--set NAME=VALUE ...] [--csv FILE|-] [-o PICTURE]

The rate equations are solved by the exact engine (`tolvanex.solve`, SUNDIALS
CVODE) from time 0 to the wanted time; ``--set`` replaces an argument as in
tolvanex-scan, and sets the conditions the programs hold fixed (``pKa``,
``temperature``).  ``--csv`` writes the amounts at every step of the solver
(``-``: standard output, the report then goes to standard error); ``-o``
draws them as tolvanex-plot draws a run.  Exit status 0 when solved, 1 when
the solver fails (its flag by name) or an output cannot be written, 2 for a
usage error or an invalid value (nothing solved).

>>> main(["--version"])
tolvanex-solve 1.1.0
0
"""

from __future__ import annotations

import argparse
import math
import os
import sys

from . import command
from ..export.run_csv import solution_frame, write_frame_csv
from ..model.parameters import ACCEPTOR_TYPES, Parameters
from ..model.solution import solve
from ..model.species import TRACE_COLUMN_OF, TRACE_LABELS, product_name
from ..plots import choices
from ..scans.grid import Grid
from .options import ArgumentParser, UsageError, name_value_pairs

PROG = "tolvanex-solve"
#: Names of the species a trace file has no column for (organomercurial mode).
CONSOLE_NAMES = {"MerB": "free MerB", "ES": "MerB bound to PHMB", "PHMB": "PHMB"}


def parser() -> argparse.ArgumentParser:
    """The command-line options of tolvanex-solve.

    >>> parser().parse_args(["x.args", "--set", "pKa=9", "-o", "x.png"]).output
    'x.png'
    """
    p = ArgumentParser(
        prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Solve the rate equations of one argument set exactly (the CVODE "
                    "engine, in milliseconds) to its wanted time: how the solve ended, "
                    "t50, t90 and every amount at the wanted time.",
        epilog="NAME is a parameter name as tolvanex-scan --help lists them, or pKa or "
               "temperature (K), which the programs hold fixed.\n\n"
               "Example: tolvanex-solve examples/glutathione.args --set pH=9 --set pKa=9.0")
    p.add_argument("args_file", metavar="ARGS_FILE", help="arguments file")
    p.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                   help="replace one value; repeatable")
    p.add_argument("--csv", metavar="FILE",
                   help="write the amounts at every step of the solver as CSV ('-': "
                        "standard output)")
    p.add_argument("-o", "--output", metavar="PICTURE",
                   help="draw the solution (PNG, SVG or PDF by the extension)")
    return p


def _parameters(args) -> Parameters:
    base = Parameters.read(args.args_file)
    return Grid(base, None, name_value_pairs(args.set, "--set")).points()[0].parameters


def _time(solution, fraction: float) -> str:
    t = solution.time_to(fraction)
    return f"{t:.6g} s" if not math.isnan(t) else f"none: {solution.why_not(fraction)}"


def report(solution, source: str) -> str:
    """What the command prints (see the module)."""
    p, s = solution.parameters, solution
    acceptor = ACCEPTOR_TYPES.get(int(p.acceptor_type), "?")
    enzyme = "free MerB" if p.is_organomercurial else "HgMerB"
    lines = [f"{source}: exact kinetics (CVODE engine), solved to {s.end_time:g} s (the wanted "
             f"time) in {1000 * s.stats['wall_s']:.3g} ms, {s.stats['steps']} steps",
             f"{acceptor} acceptor {choices.concentration(p.acceptor)}, {enzyme} "
             f"{choices.concentration(p.enzyme)}"
             + (f", organomercurial {choices.concentration(p.organomercurial)}"
                if p.is_organomercurial else "")
             + f", pH {p.pH:g}, pKa {p.pKa:g}, {p.temperature:g} K", "",
             f"t50  {_time(s, 0.5)}", f"t90  {_time(s, 0.9)}", "",
             f"{'at ' + format(s.end_time, 'g') + ' s':<33}{'mol/L':>12}  share"]
    row = s.at(s.end_time)
    shown = [c for c in TRACE_LABELS if c in row.index]
    if p.is_organomercurial:
        shown += ["MerB", "ES", "PHMB"]
    for label in shown:
        amount = float(row[label])
        reference, of = ((p.acceptor, "of the acceptor") if label == "S" else
                         (p.organomercurial, "of the organomercurial")
                         if label in ("PHMB", "organic") else (p.enzyme, "of the enzyme"))
        share = f"{amount / reference:.4g} {of}" if reference else ""
        name = (product_name(p.acceptor_type) if label == "P" else CONSOLE_NAMES.get(label)
                or " ".join(TRACE_COLUMN_OF[label].split()))
        lines.append(f"{label:<8}{name:<25}{amount:>12.5e}  {share}")
    return "\n".join(lines)


def _main(args) -> int:
    parameters = _parameters(args)
    if args.output:
        choices.check_output(args.output)
        if os.path.isdir(args.output):
            raise UsageError(f"-o {args.output}: a folder; give a file name")
    solution = solve(parameters)
    text = report(solution, args.args_file)
    print(text, file=sys.stderr if args.csv == "-" else sys.stdout)
    if args.csv:
        write_frame_csv(solution_frame(solution), args.csv)
    if args.output:
        from ..plots.solution_picture import draw_solution
        print(draw_solution(solution, args.output, args.args_file),
              file=sys.stderr if args.csv == "-" else sys.stdout)
    return 0


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status (`tolvanex.cli.command`).

    >>> main(["examples/mera.args", "--set", "temperature=-1"])
    2
    """
    return command.main(PROG, parser(), _main, argv)
