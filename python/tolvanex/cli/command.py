"""The one way every tool runs: parse the command line, do the work, and end
with an exit status that means the same in every tool
(`tolvanex.cli.options.EXIT_STATUSES`, printed at the end of every ``--help``).

A mistake is told on one line of standard error, never as a traceback:
``PROG: MESSAGE``.  Standard output is flushed here, inside the tool's own
error handling, so that a reader that stopped early (``| head``) costs one
line on standard error and the status 141, not a second error when Python
exits.

>>> from tolvanex.cli.options import ArgumentParser
>>> p = ArgumentParser(prog="tolvanex-demo")
>>> main("tolvanex-demo", p, lambda args: 0, ["--version"])
tolvanex-demo 1.1.0
0
>>> main("tolvanex-demo", p, lambda args: 0, ["surplus"])
2
"""

from __future__ import annotations

import os
import signal
import sys

from ..errors import InputError, NotEnded, TolvanexError
from .options import UsageError
from ..scans.scan import ScanInterrupted

#: How each kind of error ends a tool (the first that matches).
USAGE, FAILED, NOT_ENDED = 2, 1, 3
CLOSED_PIPE = 128 + signal.SIGPIPE


def exit_status(error: BaseException) -> int:
    """The exit status for an error that ended a tool.

    >>> from tolvanex.errors import InvalidValue
    >>> exit_status(InvalidValue("x")), exit_status(RuntimeError("x")), exit_status(ValueError())
    (2, 1, 2)
    """
    if isinstance(error, ScanInterrupted):
        return 128 + error.signum
    if isinstance(error, NotEnded):
        return NOT_ENDED
    if isinstance(error, (InputError, ValueError)):
        return USAGE            # ValueError: a value NumPy or Python itself refused
    return FAILED


def message(error: BaseException) -> str:
    """The one line that tells an error."""
    if isinstance(error, OSError) and error.strerror and not isinstance(error, TolvanexError):
        return f"{error.filename}: {error.strerror}" if error.filename else error.strerror
    text = str(error)
    if isinstance(error, KeyError) and error.args:
        text = str(error.args[0])
    return " ".join(text.split())


def output_closed(prog: str) -> int:
    """What a tool does when the reader of its standard output stopped
    early: one line on standard error, standard output sent to /dev/null
    (so that Python's own flush at exit finds nothing to fail on), and the
    status a shell gives for SIGPIPE."""
    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
    print(f"{prog}: standard output closed before all was written", file=sys.stderr)
    return CLOSED_PIPE


def warner(prog: str):
    """A tool's `warn(message)`: one line on standard error, named."""
    return lambda message: print(f"{prog}: {message}", file=sys.stderr)


def resumable(prog: str, check, run):
    """The work of a study tool whose runs go in a folder (``--out`` or
    ``--resume``): ``check(args)``, then ``run(args)`` for its status; a
    signal that stopped the runs is told with the command that finishes
    them."""
    def work(args) -> int:
        check(args)
        try:
            return run(args)
        except ScanInterrupted as e:
            print(f"{prog}: {e}; resume with {prog} --resume {args.resume or args.out or 'DIR'}",
                  file=sys.stderr)
            return exit_status(e)
    return work


def main(prog: str, parser, work, argv=None) -> int:
    """Run a tool: parse `argv` (default: the command line) with `parser`,
    call ``work(args)`` for its status, and map what ends it to an exit
    status (see the module)."""
    if hasattr(sys.stdout, "reconfigure"):     # paths that are not UTF-8 print as they are
        sys.stdout.reconfigure(errors="surrogateescape")
    try:
        try:
            args = parser.parse_args(sys.argv[1:] if argv is None else argv)
        except SystemExit as e:                   # --help, --version
            status = e.code if isinstance(e.code, int) else 0
        except UsageError as e:                   # the parser's own words
            print(f"{prog}: {e} (see {prog} --help)", file=sys.stderr)
            return USAGE
        else:
            status = work(args)
        sys.stdout.flush()
        return status
    except BrokenPipeError:
        return output_closed(prog)
    except KeyboardInterrupt:
        print(f"{prog}: interrupted", file=sys.stderr)
        return 128 + signal.SIGINT
    except ScanInterrupted as e:
        _flush_quietly()
        print(f"{prog}: {e}", file=sys.stderr)
        return exit_status(e)
    except (TolvanexError, ValueError, OSError) as e:
        _flush_quietly()
        print(f"{prog}: {message(e)}", file=sys.stderr)
        return exit_status(e)


def _flush_quietly() -> None:
    try:
        sys.stdout.flush()
    except BrokenPipeError:
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
