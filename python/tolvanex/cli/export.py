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

from . import command
from ..errors import InvalidValue
from ..export.sbml import sbml_text, write_sbml
from ..model.parameters import Parameters
from ..scans.grid import Grid
from .options import ArgumentParser, UsageError, name_value_pairs

PROG = "tolvanex-export"


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
               "Example: tolvanex-export examples/mera.args --set pH=7.5 --sbml mera.xml")
    p.add_argument("args_file", metavar="ARGS_FILE", help="arguments file of the run")
    p.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                   help="replace one argument; repeatable")
    p.add_argument("--sbml", metavar="FILE", required=True,
                   help="the SBML file to write ('-': standard output)")
    return p


def _parameters(args) -> tuple[Parameters, str]:
    """The run's arguments with --set applied, and where they come from."""
    base = Parameters.read(args.args_file)
    parameters = Grid(base, None, name_value_pairs(args.set, "--set")).points()[0].parameters
    source = args.args_file + "".join(f" --set {item}" for item in args.set)
    return parameters, source


def _refuse_output(args) -> None:
    out = args.sbml
    if out == "-":
        return
    if os.path.isdir(out):
        raise UsageError(f"--sbml {out}: a folder; give a file name")
    for path in (out, os.path.realpath(out) + ".part"):    # the file, or the one written first
        if os.path.exists(path) and os.path.samefile(path, args.args_file):
            raise UsageError(f"--sbml {out}: {path} is the arguments file; give another name")


def _main(args) -> int:
    parameters, source = _parameters(args)
    _refuse_output(args)
    try:
        text = sbml_text(parameters, source)
    except OverflowError:
        raise InvalidValue("a rate constant or 10^-pH is too large for a double: check the "
                           "barriers and the pH") from None
    if args.sbml == "-":
        sys.stdout.write(text)
        return 0
    try:
        write_sbml(parameters, args.sbml, source)
    except OSError as e:
        if isinstance(e, BrokenPipeError):
            raise
        raise OSError(e.errno, e.strerror, f"cannot write {args.sbml}") from None
    return 0


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status; a mistake is one line on standard error.

    >>> main(["examples/mera.args"])
    2
    """
    return command.main(PROG, parser(), _main, argv)
