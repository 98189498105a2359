"""``tolvanex-plot``: draw one run of a tolvanex trace file, or export it as CSV.

    tolvanex-plot TRACE [--flux flux_analysis.txt] [--run N] [--normalise]
                  [--species A,P,...] [--linear-time] [--dpi N]
                  [-o FILE.png|FILE.svg|FILE.pdf]
    tolvanex-plot TRACE --csv OUT.csv [--flux F --flux-csv OUT2.csv] [--raw-labels]
    tolvanex-plot TRACE --list

The picture has a log time axis and up to three panels: the enzyme complex
(HgMerB), the acceptor (Thiol), the product, the free enzyme (apoMerB) and,
for organomercurial runs, the organic product; the twelve intermediates;
and, with --flux, the cumulative net fluxes, each labelled by its step's
reaction.  Where the run's arguments are recorded and the exact engine is
built, the log panels shade the amounts within the run's difference from
the exact solution; --floor starts them at a fraction of the enzyme amount.  A trace file can hold several
runs; the last one is drawn unless --run N picks another.

>>> main(["--version"])
tolvanex-plot 1.1.0
0
"""

import argparse
import os
import sys

from . import command
from ..atomic import refuse_same_files
from ..export.run_csv import write_flux_csv, write_trace_csv
from .options import ArgumentParser, UsageError
from ..plots.run_picture import default_output, draw_run
from ..runs.folder import find_trace, read_records
from ..runs.run import Run
from ..runs.trace_file import read_trace

PROG = "tolvanex-plot"


def warn(message: str) -> None:
    print(f"{PROG}: warning: {message}", file=sys.stderr)


def parser() -> argparse.ArgumentParser:
    """The command-line options of tolvanex-plot.

    >>> parser().prog
    'tolvanex-plot'
    """
    p = ArgumentParser(
        prog=PROG,
        description="Draw a run of a tolvanex trace file (log time axis), or "
                    "export it as CSV.",
        epilog="Output goes beside the trace file unless -o is given "
               "(TRACE with .png in place of its extension).")
    p.add_argument("trace", help="trace file (the last argument of the run), or the run's folder")
    p.add_argument("--flux", metavar="FILE",
                   help="flux_analysis.txt of the same folder: adds the panel of "
                        "cumulative net fluxes")
    p.add_argument("--run", type=int, metavar="N",
                   help="which run of the file: 1 the first, -1 the last (default)")
    p.add_argument("--flux-run", type=int, metavar="N",
                   help="which run of the flux file (default: the one that "
                        "belongs to the chosen trace run)")
    p.add_argument("-o", "--output", metavar="FILE",
                   help="picture to write: PNG, SVG or PDF, by the extension of FILE")
    p.add_argument("--dpi", type=float, metavar="N",
                   help="resolution of a PNG in dots per inch (default 100)")
    p.add_argument("--species", metavar="A,P,...",
                   help="draw only these species, by their labels (A S C D E F G I J K L "
                        "M N apoMerB P Q organic; case does not matter)")
    p.add_argument("--linear-time", action="store_true",
                   help="a linear time axis (it shows the time-0 row too)")
    p.add_argument("--normalise", "--normalize", action="store_true",
                   help="show HgMerB and the products as fractions of the enzyme "
                        "amount and Thiol as a fraction of its starting amount")
    p.add_argument("--enzyme", type=float, metavar="CONC",
                   help="enzyme amount (mol/L) for --normalise; needed for "
                        "organomercurial runs, whose trace does not record it")
    p.add_argument("--floor", type=float, metavar="FRACTION",
                   help="start the log axes of amounts at this fraction of the enzyme "
                        "amount (e.g. 1e-9): amounts far below what a run resolves swing "
                        "about as if they were chemistry")
    p.add_argument("--title", help="title of the picture")
    p.add_argument("--csv", metavar="OUT",
                   help="write the run's concentration table as CSV ('-' for "
                        "standard output) instead of drawing: time_s, A_mol_per_L, ..., "
                        "numbers as in the file")
    p.add_argument("--flux-csv", metavar="OUT",
                   help="with --flux: write the run's flux table as CSV too "
                        "(time_s, total_flux1_mol_per_L ... total_flux37_mol_per_L)")
    p.add_argument("--raw-labels", action="store_true",
                   help="CSV headers with the files' own column labels (Time, HgMerB, ...; "
                        "flux1 ...), as earlier versions wrote them")
    p.add_argument("--list", action="store_true",
                   help="list the runs of the file and stop")
    return p


def list_runs(path: str) -> None:
    """Print one line per run of the trace file (of a run folder's)."""
    if os.path.isdir(path):
        records = read_records(path, warn)
        path = find_trace(path, records.parameters, records.trace_name)
    for r in read_trace(path, warn):
        last = r.rows[-1][0] if r.rows else "-"
        mode = ", organomercurial" if r.organomercurial else ""
        err = ", negative concentration" if r.error else ""
        ph = f"pH {r.pH:g}" if r.pH is not None else "pH ?"
        print(f"run {r.number}: line {r.first_line}, {ph}{mode}, "
              f"{len(r.rows)} rows, last time {last} s{err}")


def _main(args) -> int:
    if args.flux_csv and not args.flux:
        raise UsageError("--flux-csv needs --flux")
    if args.list:
        list_runs(args.trace)
        return 0
    run = Run.load(args.trace, -1 if args.run is None else args.run, warn,
                   fluxes=args.flux or False, flux_run=args.flux_run)
    inputs = {"the trace file": run.trace_path, "the flux file": args.flux}
    if args.csv or args.flux_csv:
        refuse_same_files({"--csv": args.csv, "--flux-csv": args.flux_csv}, inputs)
        if args.csv:
            write_trace_csv(run.raw_trace, args.csv, raw_labels=args.raw_labels)
        if args.flux_csv:
            write_flux_csv(run.raw_flux, args.flux_csv, raw_labels=args.raw_labels)
        return 0
    # Named for the run drawn: --run -2 of a file of two runs is run 1.
    out = args.output or default_output(run.trace_path, None if args.run is None
                                        else run.raw_trace.number)
    refuse_same_files({"the picture": out}, inputs)
    print(draw_run(run, out, normalise=args.normalise, enzyme=args.enzyme, title=args.title,
                   species=args.species, dpi=args.dpi, linear_time=args.linear_time,
                   floor=args.floor))
    return 0


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status (`tolvanex.cli.command`).

    >>> main(["--no-such-option"])
    2
    """
    return command.main(PROG, parser(), _main, argv)
