"""What every command of the package shares on its command line: ``--version``
and ``--help``, and a usage mistake told on one line of standard error.

>>> p = ArgumentParser(prog="tolvanex-demo", description="A demonstration.")
>>> parse(p, ["--version"])
tolvanex-demo 1.1.0
(None, 0)
>>> parse(p, ["surplus"])
(None, 2)
"""

from __future__ import annotations

import argparse
import os
import signal
import sys

from .. import __version__


class UsageError(Exception):
    """A command line the command cannot carry out."""


class ArgumentParser(argparse.ArgumentParser):
    """argparse's parser with ``--version`` (prints ``PROG VERSION``) whose
    mistakes raise `UsageError` instead of printing the usage text.

    >>> ArgumentParser(prog="tolvanex-demo").parse_args(["--colour"])
    Traceback (most recent call last):
    ...
    tolvanex.cli.options.UsageError: unrecognized arguments: --colour
    """

    def __init__(self, **kwargs):
        super().__init__(**kwargs)
        self.add_argument("--version", action="version", version=f"{self.prog} {__version__}",
                          help="print the command's name and version and exit")

    def error(self, message):
        raise UsageError(message)


def parse(parser: argparse.ArgumentParser, argv):
    """``(arguments, None)``, or ``(None, exit status)`` when the command is
    done already: 0 after ``--help`` or ``--version``, 2 after a usage
    mistake, which is told on one line of standard error."""
    try:
        return parser.parse_args(sys.argv[1:] if argv is None else argv), None
    except SystemExit as e:              # --help, --version
        return None, int(e.code or 0)
    except UsageError as e:
        print(f"{parser.prog}: {e} (see {parser.prog} --help)", file=sys.stderr)
        return None, 2
    except BrokenPipeError:             # --help | head -1
        return None, output_closed(parser.prog)


def output_closed(prog: str) -> int:
    """What a command does when the reader of its standard output stopped
    early (``| head``): one line on standard error, no traceback and no
    second error when Python flushes at exit; returns the exit status a
    shell gives for SIGPIPE (141)."""
    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
    print(f"{prog}: standard output closed before all was written", file=sys.stderr)
    return 128 + signal.SIGPIPE
