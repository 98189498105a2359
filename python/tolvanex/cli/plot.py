"""``tolvanex-plot``: draw one run of a tolvanex trace file, or export it as CSV.

    tolvanex-plot TRACE [--flux flux_analysis.txt] [--run N] [--normalise]
                  [--species A,P,...] [--linear-time] [--dpi N]
                  [-o FILE.png|FILE.svg|FILE.pdf]
    tolvanex-plot TRACE --csv OUT.csv [--flux F --flux-csv OUT2.csv] [--raw-labels]
    tolvanex-plot TRACE --list

The picture has a log time axis and up to three panels: the enzyme complex
(HgMerB), the acceptor (Thiol), the product, the free enzyme (apoMerB) and,
for organomercurial runs, the organic product; the twelve intermediates;
and, with --flux, the cumulative net fluxes.  A trace file can hold several
runs; the last one is drawn unless --run N picks another.

>>> main(["--version"])
tolvanex-plot 1.1.0
0
"""

import argparse
import sys

from ..runs.file_format import FileFormatError, select_run
from ..runs.flux_file import flux_mismatch, matching_flux_run, read_flux
from ..runs.trace_file import read_trace
from ..export.run_csv import write_flux_csv, write_trace_csv
from ..plots.run_picture import default_output, draw
from ..runs.run import recorded_program
from .options import ArgumentParser, output_closed, parse

PROG = "tolvanex-plot"


class Failure(Exception):
    """A user's mistake or an unreadable file: one line on stderr."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


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
    p.add_argument("trace", help="trace file (the last argument of the run)")
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


def _read(reader, path):
    try:
        return reader(path, warn)
    except IsADirectoryError:
        raise Failure(f"{path} is a folder, not a file") from None
    except OSError as e:
        raise Failure(f"cannot read {path}: {e.strerror}") from None
    except FileFormatError as e:
        raise Failure(str(e)) from None


def _select(runs, number, path):
    try:
        return select_run(runs, number)
    except IndexError as e:
        raise Failure(f"{path}: {e}") from None


def list_runs(runs) -> None:
    for r in runs:
        last = r.rows[-1][0] if r.rows else "-"
        mode = ", organomercurial" if r.organomercurial else ""
        err = ", negative concentration" if r.error else ""
        ph = f"pH {r.pH:g}" if r.pH is not None else "pH ?"
        print(f"run {r.number}: line {r.first_line}, {ph}{mode}, "
              f"{len(r.rows)} rows, last time {last} s{err}")


def flux_run_of(args, run, runs):
    """The flux-file run to show beside the trace run, checked to belong to it."""
    flux_runs = _read(read_flux, args.flux)
    if args.flux_run is None:
        flux_run = matching_flux_run(args.trace, run, runs, flux_runs, warn)
        if flux_run is None:
            raise Failure(f"{args.flux} holds no run whose times match run {run.number} "
                          f"of {args.trace}; pick one with --flux-run N")
    else:
        flux_run = _select(flux_runs, args.flux_run, args.flux)
    if not flux_run.rows:
        raise Failure(f"run {flux_run.number} of {args.flux} has no flux rows")
    mismatch = flux_mismatch(run, flux_run)
    if mismatch:
        raise Failure(f"run {flux_run.number} of {args.flux} does not belong to run "
                      f"{run.number} of {args.trace}: {mismatch}")
    return flux_run


def _main(args) -> int:
    runs = _read(read_trace, args.trace)
    if args.list:
        list_runs(runs)
        return 0
    run = _select(runs, args.run, args.trace)
    if run.table is None or not run.rows:
        raise Failure(f"run {run.number} of {args.trace} has no concentration rows")
    flux_run = None
    if args.flux:
        flux_run = flux_run_of(args, run, runs)
    elif args.flux_csv:
        raise Failure("--flux-csv needs --flux", 2)
    if args.csv or args.flux_csv:
        if args.csv:
            write_trace_csv(run, args.csv, raw_labels=args.raw_labels)
        if args.flux_csv:
            write_flux_csv(flux_run, args.flux_csv, raw_labels=args.raw_labels)
        return 0
    out = args.output or default_output(args.trace, args.run)
    try:
        draw(args.trace, run, len(runs), flux_run, out, normalise=args.normalise,
             enzyme=args.enzyme, title=args.title, species=args.species, dpi=args.dpi,
             linear_time=args.linear_time, program=recorded_program(args.trace, run))
    except ValueError as e:
        raise Failure(str(e)) from None
    print(out)
    return 0


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status; a user's mistake is one line on standard error.

    >>> main(["--no-such-option"])
    2
    """
    args, status = parse(parser(), argv)
    if args is None:
        return status
    try:
        return _main(args)
    except Failure as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return e.status
    except BrokenPipeError:
        return output_closed(PROG)
    except OSError as e:
        print(f"{PROG}: {e.filename or ''}{': ' if e.filename else ''}{e.strerror or e}",
              file=sys.stderr)
        return 1
