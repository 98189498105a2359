"""``tolvanex-export``: the rate equations of a run as an SBML file, for
COPASI, Tellurium or any SBML tool.

    tolvanex-export ARGS_FILE [--set NAME=VALUE ...] --sbml OUT.xml

The file is SBML Level 3 Version 1, core only (see tolvanex.export.sbml),
checked with libsbml's consistency checks before it is written; it is
written whole or not at all (OUT.xml.part, then renamed).  ``--sbml -``
writes it to standard output.

>>> main(["--version"])
tolvanex-export 1.1.0
0
"""

from __future__ import annotations

import argparse
import os
import sys

from ..export.sbml import SbmlError, sbml_text, write_sbml
from ..grid import Grid
from ..parameters import Parameters
from .options import ArgumentParser, UsageError, output_closed, parse
from .scan import _pairs

PROG = "tolvanex-export"


class Failure(Exception):
    """A mistake or a file that cannot be written: one line on stderr."""

    def __init__(self, message, status):
        super().__init__(message)
        self.status = status


def parser() -> argparse.ArgumentParser:
    """The command-line options of tolvanex-export.

    >>> parser().prog
    'tolvanex-export'
    """
    p = ArgumentParser(
        prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Write the rate equations of a run (its arguments file) as an SBML "
                    "Level 3 file: species, reactions with mass-action kinetic laws, rate "
                    "constants with units and their barriers, core SBML only.",
        epilog="NAME is a parameter name as tolvanex-scan --help lists them (pH, "
               "acceptor_type, enzyme, acceptor, barrier1 ... barrier38, ...).\n\n"
               "exit status: 0 written; 1 the file cannot be written; 2 refused (one line "
               "on standard error)\n\n"
               "Example: tolvanex-export examples/mera.args --set pH=7.5 --sbml mera.xml")
    p.add_argument("args_file", metavar="ARGS_FILE", help="arguments file of the run")
    p.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                   help="replace one argument; repeatable")
    p.add_argument("--sbml", metavar="FILE", required=True,
                   help="the SBML file to write ('-': standard output)")
    return p


def _parameters(args) -> tuple[Parameters, str]:
    """The run's arguments with --set applied, and where they come from."""
    try:
        base = Parameters.read(args.args_file)
        fixed = _pairs(args.set, "--set")
        parameters = Grid(base, None, fixed).points()[0].parameters
    except (UsageError, ValueError) as e:
        raise Failure(str(e), 2) from None
    except OSError as e:
        raise Failure(f"{args.args_file}: {e.strerror or e}", 2) from None
    source = args.args_file + "".join(f" --set {item}" for item in args.set)
    return parameters, source


def _refuse_output(args) -> None:
    out = args.sbml
    if out == "-":
        return
    if os.path.isdir(out):
        raise Failure(f"--sbml {out}: a folder; give a file name", 2)
    for path in (out, os.path.realpath(out) + ".part"):    # the file, or the one written first
        if os.path.exists(path) and os.path.samefile(path, args.args_file):
            raise Failure(f"--sbml {out}: {path} is the arguments file; give another "
                          "name", 2)


def _main(args) -> int:
    parameters, source = _parameters(args)
    _refuse_output(args)
    try:
        if args.sbml == "-":
            sys.stdout.write(sbml_text(parameters, source))
            sys.stdout.flush()
        else:
            write_sbml(parameters, args.sbml, source)
    except OverflowError:
        raise Failure("a rate constant or 10^-pH is too large for a double: check the "
                      "barriers and the pH", 2) from None
    except SbmlError as e:
        raise Failure(str(e), 1) from None
    except BrokenPipeError:
        raise
    except OSError as e:
        raise Failure(f"cannot write {args.sbml}: {e.strerror or e}", 1) from None
    return 0


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status; a mistake is one line on standard error.

    >>> main(["examples/mera.args"])
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
