"""The files of a run folder: one run of a program, started in a folder of
its own, as `tolvanex.run` and every run of a scan leave it.

=================  ==========================================================
``arguments.args``  the arguments, as an arguments file (`Parameters.write`)
trace file          the program's trace file, named by its last argument
flux_analysis.txt   the program's flux file
``console.txt``     the program's standard output
``stderr.txt``      the program's standard error
``times.txt``       start and end of the run, seconds since the epoch, one a line
``exit-status``     the exit status, written last: its presence says the run is over
``pid``             (a scan's runs) the process id of the run's shell, a group leader
=================  ==========================================================

>>> print(command_line("/scans/a/001_pH=7", "/opt/tolvanex", ["1", "x.trace"]))
cd /scans/a/001_pH=7 && { trap : INT TERM; date +%s.%N >times.txt; /opt/tolvanex 1 x.trace >console.txt 2>stderr.txt; s=$?; date +%s.%N >>times.txt; echo $s >exit-status; exit $s; }
"""

from __future__ import annotations

import os
import re
import shlex
import shutil
from typing import NamedTuple

from ..errors import InputError, InvalidValue
from ..model.parameters import FLUX_FILE_NAME, Parameters
from .trace_file import BANNER

ARGUMENTS = "arguments.args"
CONSOLE = "console.txt"
STDERR = "stderr.txt"
TIMES = "times.txt"
EXIT_STATUS = "exit-status"
PID = "pid"
FLUX = FLUX_FILE_NAME
#: What a point of the exact engine holds instead of a program's files
#: (`tolvanex.scans.exact_points`).
SOLUTION = "solution.json"
#: Every file a run folder holds besides the trace file.
KNOWN_FILES = (ARGUMENTS, CONSOLE, STDERR, TIMES, EXIT_STATUS, PID, FLUX)


def check_run_trace_name(trace: str) -> str:
    """The trace file's name in a run folder (its base name), refused
    (InvalidValue) when it is one of the folder's own records, which the
    program would append to or which would be written over its rows.

    >>> check_run_trace_name("sub/mera.trace")
    'mera.trace'
    >>> check_run_trace_name("times.txt")
    Traceback (most recent call last):
    ...
    tolvanex.errors.InvalidValue: trace file 'times.txt': a run folder keeps its own records under that name (arguments.args, console.txt, stderr.txt, times.txt, exit-status, pid, flux_analysis.txt); give another name
    """
    name = os.path.basename(trace)
    if name in KNOWN_FILES or name in (".", "..", ""):
        raise InvalidValue(f"trace file {trace!r}: a run folder keeps its own records under "
                           f"that name ({', '.join(KNOWN_FILES)}); give another name")
    return name


def check_carried(text: str, what: str) -> str:
    """`text` (a path or word of a run's command line), refused when a
    runner cannot carry it: GNU parallel's job file and a Slurm task's list
    hold one command a line, so a line end would split the command in two.
    Everything else is passed quoted.

    >>> check_carried("/scans/a b;$(x)", "--out")
    '/scans/a b;$(x)'
    >>> check_carried("/scans/a\\ntouch X", "--out")
    Traceback (most recent call last):
    ...
    tolvanex.errors.InvalidValue: --out '/scans/a\\ntouch X': a line end cannot be part of a name here (a run's command is one line of a job list); choose another
    """
    if "\n" in text or "\r" in text or "\0" in text:
        raise InvalidValue(f"{what} {text!r}: a line end cannot be part of a name here (a run's "
                           "command is one line of a job list); choose another")
    return text


def command_line(folder: str, program: str, words: list[str],
                 stop_file: str | None = None, owner: tuple[int, str] | None = None) -> str:
    """The shell command that carries out one run in its folder.

    The shell traps SIGINT and SIGTERM so that it outlives the program, which
    ends after its current block on either; it then records the end time and
    the exit status (last, so that its presence means the run is over).

    With `stop_file` (a scan's runs) the shell first records its process id
    in ``pid``, so that the scan can signal the run, and then starts nothing
    when `stop_file` exists: a scan being stopped creates it before it
    signals the runs it finds, so a run either is found or does not start.
    With `owner` (process id, lock file: the scan that carries the runs out
    here) it also starts nothing once that process has ended or no longer
    holds the lock: a scan killed outright (SIGKILL) starts no further run,
    whatever GNU parallel still has in its list.

    Every path and word is quoted; one with a line end is refused
    (`check_carried`), since the runners take one command a line.

    >>> print(command_line("/s/001", "/opt/tolvanex", ["1"], "/s/.stop", (42, "/s/scan.lock")))
    cd /s/001 && { trap : INT TERM; echo $$ >pid; if [ -e /s/.stop ] || ! kill -0 42 2>/dev/null || ! grep -qs '^42 ' /s/scan.lock; then rm -f pid; exit 0; fi; date +%s.%N >times.txt; /opt/tolvanex 1 >console.txt 2>stderr.txt; s=$?; date +%s.%N >>times.txt; echo $s >exit-status; exit $s; }
    """
    for text, what in ((folder, "run folder"), (program, "program"), *(
            (w, "argument") for w in words), (stop_file or "", "stop file")):
        check_carried(text, what)
    stop = ""
    if stop_file:
        alive = ""
        if owner:
            pid, lock = owner
            alive = (f" || ! kill -0 {int(pid)} 2>/dev/null || ! grep -qs '^{int(pid)} ' "
                     f"{shlex.quote(lock)}")
        stop = (f"echo $$ >{PID}; if [ -e {shlex.quote(stop_file)} ]{alive}; then rm -f {PID}; "
                "exit 0; fi; ")
    return (f"cd {shlex.quote(folder)} && {{ trap : INT TERM; {stop}date +%s.%N >{TIMES}; "
            f"{shlex.quote(program)} " + " ".join(shlex.quote(w) for w in words)
            + f" >{CONSOLE} 2>{STDERR}; s=$?; date +%s.%N >>{TIMES}; "
            f"echo $s >{EXIT_STATUS}; exit $s; }}")


def signal_run(folder: str, signum: int) -> bool:
    """Pass `signum` to the run going on in `folder` (its shell's process
    group, from ``pid``); whether one is going on there.  A run is over once
    its exit status is written, or when its shell is gone.
    """
    if os.path.exists(os.path.join(folder, EXIT_STATUS)):
        return False
    try:
        text = read_small_text(os.path.join(folder, PID))
        pid = int(text) if text and text.strip().isdigit() else None
    except UnreadableFile:
        pid = None
    if pid is None:
        return False
    try:   # the process of that id must still be this run's shell
        if os.path.realpath(os.readlink(f"/proc/{pid}/cwd")) != os.path.realpath(folder):
            return False
    except OSError:
        try:
            os.kill(pid, 0)
        except OSError:
            return False
    try:
        os.killpg(pid, signum)
    except OSError:
        try:
            os.kill(pid, signum)
        except OSError:
            return False
    return True


class UnreadableFile(InputError, ValueError):
    """A file of a run folder holds what no run writes there."""


def read_small_text(path: str, limit: int = 4096) -> str | None:
    """The start of a short text file, None when it does not exist.

    Raises UnreadableFile for a folder or a file that is not text.
    """
    try:
        with open(path, "rb") as f:
            data = f.read(limit)
    except FileNotFoundError:
        return None
    except IsADirectoryError:
        raise UnreadableFile(f"{path} is a folder, not a file") from None
    except OSError as e:
        raise UnreadableFile(f"cannot read {path}: {e.strerror}") from None
    try:
        return data.decode("ascii")
    except UnicodeDecodeError:
        raise UnreadableFile(f"{path} is not a text file") from None


def read_exit_status(folder: str) -> int | None:
    """The exit status recorded in the folder; None while the run has not ended.

    >>> import tempfile; d = tempfile.mkdtemp()
    >>> read_exit_status(d) is None
    True
    >>> _ = open(os.path.join(d, EXIT_STATUS), "w").write("143\\n"); read_exit_status(d)
    143
    """
    text = read_small_text(os.path.join(folder, EXIT_STATUS))
    if text is None:
        return None
    if not re.fullmatch(r"\s*-?\d{1,9}\s*", text):
        raise UnreadableFile(f"{os.path.join(folder, EXIT_STATUS)} holds {text[:40]!r},"
                             " not an exit status")
    return int(text)


def read_wall_seconds(folder: str) -> float | None:
    """The run's wall-clock time (s) from times.txt; None when not recorded."""
    try:
        text = read_small_text(os.path.join(folder, TIMES))
    except UnreadableFile:
        return None
    if text is None:
        return None
    try:
        start, end = (float(w) for w in text.split()[:2])
    except ValueError:
        return None
    return max(end - start, 0.0)


def empty(folder: str) -> None:
    """Remove everything inside a run folder (the programs append to their
    files, so a run is only started in an empty folder)."""
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.remove(path)


def has_output(folder: str, trace_name: str) -> str | None:
    """The first output file a program would append to that is already there."""
    for name in (trace_name, FLUX):
        path = os.path.join(folder, name)
        if os.path.lexists(path):
            return path
    return None


class RunNotFound(InputError, ValueError):
    """What a run needs cannot be found; the message says what to give."""


class Records(NamedTuple):
    """What a run folder records about the first run of its trace file
    (`run` and scans start the program once, in an empty folder)."""

    parameters: Parameters | None   # the arguments, not checked
    trace_name: str | None          # the trace file a scan's manifest names
    program: str | None             # the program's path (or name) as recorded
    source: str | None              # the file the arguments were read from


def read_records(folder: str, warn=None) -> Records:
    """The run folder's records: ``arguments.args`` (its first line, "# run
    with PATH", names the program when `run` wrote it), else the entry of
    the folder in the manifest of the scan above (`tolvanex.scans.manifest`),
    which names the program too.  An ``arguments.args`` that cannot be read
    raises; a manifest that cannot be read, or whose entry is no argument
    list, counts as no record (`warn` is told)."""
    from ..scans.manifest import NotAScan, manifest_path, run_entry

    warn = warn or (lambda message: None)
    path = os.path.join(folder, ARGUMENTS)
    parameters = program = source = trace_name = None
    if os.path.exists(path):
        parameters, source = Parameters.read(path, check=False), path
        with open(path, encoding="utf-8") as f:
            first = f.readline()
        if first.startswith("# run with "):
            program = first[len("# run with "):].strip()
    try:
        found = run_entry(folder)
    except NotAScan as e:
        warn(f"{e}; the folder's scan records are left out")
        found = None
    if found:
        manifest, entry = found
        program = program or manifest.get("program")
        if parameters is None:
            try:
                parameters = Parameters.from_args(entry.get("args"), check=False)
            except (TypeError, ValueError) as e:
                warn(f"{manifest_path(os.path.dirname(os.path.abspath(folder)))}: the "
                     f"arguments of {entry['folder']} cannot be read ({e}); left out")
            else:
                source = manifest_path(os.path.dirname(os.path.abspath(folder)))
                trace_name = manifest.get("trace_name")
    return Records(parameters, trace_name, program, source)


def _banner_file(path: str) -> bool:
    try:
        with open(path, "rb") as f:
            head = f.read(64)
    except OSError:
        return False
    return head.lstrip(b" \n").startswith(BANNER.encode())


def find_trace(folder: str, parameters, trace_name: str | None) -> str:
    """The trace file of the run folder: the one the records name, else the
    only other file that starts like a trace file.  RunNotFound if none."""
    names = [n for n in (trace_name, parameters and os.path.basename(parameters.trace)) if n]
    for name in names:
        if os.path.lexists(os.path.join(folder, name)):
            return os.path.join(folder, name)
    others = sorted(n for n in os.listdir(folder) if n not in KNOWN_FILES)
    for name in others:
        if os.path.isfile(os.path.join(folder, name)) and _banner_file(os.path.join(folder, name)):
            return os.path.join(folder, name)
    if os.path.exists(os.path.join(folder, SOLUTION)):
        raise RunNotFound(f"{folder}: a point of the exact engine, no program's run: its "
                          f"summary row is in {SOLUTION} (trace.csv with --traces); "
                          "tolvanex-solve ARGS_FILE solves and draws it again")
    raise RunNotFound(f"{folder}: no trace file there; give the trace file itself")
