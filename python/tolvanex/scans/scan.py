"""Scans: one solve of the exact engine, or one program run, per point of a
grid of parameter values, each in a run folder of its own under the scan
folder, and their summary.

The scan folder holds ``scan.json`` (the grid it was made for: base
arguments, varied and fixed values, what ran: ``exact`` or the program's
absolute path, this package's path), ``commands.txt`` (the programs' runs:
the shell command of every run, one a line, for a cluster scheduler),
``NNN_name=value_...`` run folders (`tolvanex.runs.folder`; the engine's
points: `tolvanex.scans.exact_points`) and ``summary.csv``
(`tolvanex.scans.summary`).  The exact engine runs unless a program is
asked for, or the programs' files are (a dry run, Slurm: then
``tolvanex_unpruned``); a scan of ``tolvanex`` is told how far its pruning
can take it from the rate equations.

>>> table = scan("examples/glutathione.args", vary={"pH": "6.5:8.5:0.5"},
...              set={"wanted_time": 10}, out="scans/ph")      # doctest: +SKIP
>>> table[["pH", "t50_s", "P_at_wanted_mol_per_L"]]            # doctest: +SKIP
"""

from __future__ import annotations

import os
import signal
import sys
import tempfile
import threading
import time

from . import exact_points, slurm_scan
from .. import __version__
from ..atomic import replaced_whole
from .cases import Cases
from ..errors import InvalidValue, OutputExists, TolvanexError
from .execution import Executor
from .grid import Grid
from .lock import LOCK_NAME, FolderBusy, ScanLock
from .manifest import MANIFEST, read_manifest, write_manifest
from ..model.parameters import Parameters
from .progress import Progress
from ..runs import folder as rf
from ..runs.programs import (EXACT, PACKAGE_DIR, PRUNING_NOTE, find_program, program_name,
                             study_program)
from .slurm_client import SlurmOptions
from .summary import summary, write_summary

COMMANDS = "commands.txt"


class ScanInterrupted(TolvanexError):
    """SIGINT, SIGTERM or SIGHUP stopped the scan; the summary was written."""

    def __init__(self, signum: int, table):
        super().__init__(f"interrupted by {signal.Signals(signum).name}")
        self.signum, self.summary = signum, table


def _base(base) -> tuple[Parameters, str | None]:
    if isinstance(base, Parameters):
        return base, None
    return Parameters.read(base), os.path.abspath(base)


def _manifest(grid, points, program: str, args_file: str | None, record=None) -> dict:
    return {"version": __version__, "program": program, "python": PACKAGE_DIR,
            "args_file": args_file, **(record or {}), **grid.record(),
            "runs": [{"folder": p.folder, "values": p.values, "args": p.parameters.to_args(),
                      **({"conditions": p.parameters.conditions}
                         if p.parameters.conditions else {})}
                     for p in points]}


def _same_grid(recorded: dict, wanted: dict) -> str | None:
    """What differs between the recorded grid and the one asked for, or None."""
    for key, what in (("base_args", "base arguments"), ("varied", "varied values"),
                      ("cases", "cases"), ("set", "fixed values"),
                      ("trace_name", "trace file name")):
        if recorded.get(key, {} if key == "set" else None) != wanted.get(key):
            return what
    return None


def _prepare_new(out: str, manifest: dict, points) -> None:
    if os.path.exists(os.path.join(out, MANIFEST)):
        raise OutputExists(f"{out} already holds a scan; resume it (--resume) or choose"
                              " another folder (the programs append to their files, so a"
                              " run folder is used once)")
    for p in points:
        there = rf.has_output(os.path.join(out, p.folder), manifest["trace_name"])
        if there:
            raise OutputExists(f"{there} exists already; choose another folder")
    for p in points:
        os.makedirs(os.path.join(out, p.folder), exist_ok=True)
        p.parameters.write(os.path.join(out, p.folder, rf.ARGUMENTS))
    write_manifest(out, manifest)
    if manifest["program"] == EXACT:
        return                                  # solved here: no commands
    with replaced_whole(os.path.join(out, COMMANDS), errors="surrogateescape") as f:
        for p in points:
            f.write(rf.command_line(os.path.join(out, p.folder), manifest["program"],
                                    p.parameters.to_args()) + "\n")


def _processes_in(folders) -> dict:
    """Processes whose working folder is one of `folders` (Linux /proc):
    runs left going by a scan that was killed outright."""
    wanted = {os.path.realpath(f) for f in folders}
    found = {}
    for name in os.listdir("/proc") if os.path.isdir("/proc") else []:
        if name.isdigit():
            try:
                cwd = os.readlink(f"/proc/{name}/cwd")
            except OSError:
                continue
            if cwd in wanted:
                found.setdefault(cwd, int(name))
    return found


def _unfinished(out: str, points) -> list:
    """The points whose run has not ended with status 0; their folders are
    emptied (a run is only started in an empty folder).  Refused while a
    process still works in one of them."""
    folders = [os.path.join(out, p.folder) for p in points]
    busy = _processes_in(folders)
    if busy:
        folder, pid = next(iter(busy.items()))
        raise FolderBusy(f"process {pid} still works in {folder} (a run of an earlier scan?);"
                         " wait for it to end")
    pending = []
    for p in points:
        folder = os.path.join(out, p.folder)
        try:
            finished = rf.read_exit_status(folder) == 0
        except rf.UnreadableFile:
            finished = False
        if finished:
            continue
        os.makedirs(folder, exist_ok=True)
        rf.empty(folder)
        p.parameters.write(os.path.join(folder, rf.ARGUMENTS))
        pending.append(p)
    return pending


class _Signals:
    """SIGINT, SIGTERM and SIGHUP (the terminal closed) noted while runs go
    on (a signal ignored at the start stays ignored, as for a scan started
    with nohup); only in the main thread, where Python allows it."""

    def __init__(self):
        self.received = None
        self.previous = {}

    def __enter__(self):
        if threading.current_thread() is threading.main_thread():
            for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                if signal.getsignal(signum) is not signal.SIG_IGN:
                    self.previous[signum] = signal.signal(signum, self._note)
        return self

    def _note(self, signum, frame):
        self.received = signum

    @property
    def for_runs(self) -> int | None:
        """The signal to pass on to the runs: SIGHUP would kill a program
        outright, so they get SIGTERM (they end after their current block)."""
        return signal.SIGTERM if self.received == signal.SIGHUP else self.received

    def __exit__(self, *exc):
        for signum, handler in self.previous.items():
            signal.signal(signum, handler)


STOP_FILE = ".stop"   # in the scan folder while its runs are being stopped


def _carry_out(out: str, points, pending, program: str, jobs: int, sequential: bool,
               progress, say, signals) -> None:
    """Run the pending points until they end or `signals` notes a signal.

    On a signal the stop file is created first, so that a run that has not
    started yet starts nothing; then every run going on is signalled through
    its folder, again at every round until it has ended (its shell may take
    the signal just before it starts the program)."""
    stop_file = os.path.join(out, STOP_FILE)
    folders = [os.path.join(out, p.folder) for p in pending]
    owner = (os.getpid(), os.path.join(out, LOCK_NAME))      # no run starts once the scan is gone
    commands = [rf.command_line(f, program, p.parameters.to_args(), stop_file, owner)
                for f, p in zip(folders, pending)]
    executor = Executor(commands, jobs, sequential, os.path.join(out, ".commands-running.txt"),
                        os.path.join(out, "joblog.txt"), say if progress is not None else None)
    meter = Progress([os.path.join(out, p.folder) for p in points], progress) \
        if progress is not None else None
    forwarded = None
    if os.path.exists(stop_file):           # left by a scan killed while stopping
        os.remove(stop_file)
    if not signals.received:
        executor.start()
    going_on = True
    while going_on:
        going_on = executor.poll()
        if signals.received:
            if forwarded is None:
                with open(stop_file, "w", encoding="ascii"):
                    pass
                executor.stop()
            if signals.for_runs != forwarded:
                forwarded = signals.for_runs
                say(f"{signal.Signals(signals.received).name}: stopping the runs after their "
                    "current block")
            running = [rf.signal_run(f, forwarded) for f in folders]
            going_on = going_on or any(running)
        if meter:
            meter.update()
        if going_on:
            time.sleep(0.2)
    if meter:
        meter.update(final=True)
    for name in (".commands-running.txt", STOP_FILE):
        try:
            os.remove(os.path.join(out, name))
        except OSError:
            pass


def _what_runs(program: str, points, slurm, dry_run: bool, traces: bool, say) -> str:
    """Check that what runs can run every point; the program's path, or EXACT."""
    if program == EXACT:
        if slurm is not None or dry_run:
            raise InvalidValue("the exact engine solves every point here, in milliseconds: "
                               + ("--slurm" if slurm is not None else "a dry run")
                               + " is for the programs' runs (give --program "
                               "tolvanex_unpruned)")
        exact_points.check_points(points)
        return EXACT
    if traces:
        raise InvalidValue("--traces is for the exact engine; a program writes its trace "
                           "file and flux_analysis.txt in every run folder anyway")
    for p in points:
        p.parameters.check_for_programs()
    return rf.check_carried(find_program(program), "program")


def scan(base, vary=None, set=None, jobs: int = 2, program: str | None = None,
         out: str | None = None, resume: bool = False, sequential: bool = False,
         dry_run: bool = False, progress=sys.stderr, warn=None, cases=None, record=None,
         slurm: SlurmOptions | None = None, engine: str | None = None, traces: bool = False):
    """Solve every point of the grid with the exact engine, or run `program`
    over it, and return the summary (a DataFrame).

    `base` is a `Parameters` or an arguments file; `vary` maps names to a
    list of values or a text ``a,b,c`` / ``start:stop:step``; `set` maps
    names to one value (``pKa`` and ``temperature`` too, for the exact
    engine).  Instead of `vary`, `cases` is an explicit list of
    named cases [(name, {parameter: value})] (`tolvanex.scans.cases`).  Every
    grid point is checked before anything runs (ValueError naming the
    parameter).  `record` adds entries of its own to scan.json (a study's
    settings; they are kept on resume).  `out` is the scan folder (a fresh
    temporary one when None).  With `resume`, `out` must hold a scan made for
    the same grid (`base` None: the recorded one): its finished runs are kept
    and the others emptied and run again.  `progress` is the stream of the
    progress line (None: none).  With `dry_run` the folders and commands.txt
    are written and nothing runs (returns None).  `warn` gets the warnings
    (default: standard error), and, unless `progress` is None, the notes
    on how the runs are carried out.  SIGINT or SIGTERM stops the
    runs after their current block, writes the summary and raises
    ScanInterrupted; so does SIGHUP (the runs get SIGTERM).  A run started
    here checks before it starts that this process is alive and holds the
    folder, so that none starts after the scan was killed outright.

    What runs (`tolvanex.runs.programs.study_program`): the exact engine
    (``engine="exact"``, the default: every point solved here, `jobs` at a
    time, ``traces`` writing each point's trace.csv and fluxes.csv), or
    `program` (a name or path); with `dry_run` or `slurm` the default is
    ``tolvanex_unpruned``.  On resume, what the folder was scanned with.

    With `slurm` (`SlurmOptions`) the runs to do are submitted to Slurm as
    one job array (`tolvanex.scans.slurm_scan`) instead of being run here; the
    call returns None at once, or, with ``slurm.wait``, follows the array
    to its end and returns the summary (a signal cancels the array).  A
    scan folder whose Slurm job is still queued or running is not resumed
    (FolderBusy).

    >>> scan("examples/mera.args", vary={"pH": [6.8, 7.2]}, set={"wanted_time": 1e-3},
    ...      out="scans/mera")[["pH", "ended", "P_at_wanted_mol_per_L"]]  # doctest: +SKIP
        pH         ended  P_at_wanted_mol_per_L
    0  6.8  time reached           3.2...e-08
    1  7.2  time reached           3.1...e-08
    >>> scan("examples/mera.args", vary={"pH": "6:8:0.1"}, out="scans/wide",
    ...      slurm=SlurmOptions(partition="short", max_parallel=50))   # doctest: +SKIP
    """
    say = warn or (lambda message: print(f"tolvanex-scan: {message}", file=sys.stderr))
    tell = say if progress is not None else (lambda message: None)    # how, not what went wrong
    if slurm is not None:
        slurm.check()
        if dry_run:
            raise InvalidValue("a dry run submits nothing: leave out the Slurm options")
    if out:
        rf.check_carried(os.path.abspath(out), "scan folder")
    out = os.path.abspath(out) if out else tempfile.mkdtemp(prefix="tolvanex-scan-")
    if resume:
        recorded = read_manifest(out)
        if base is None:
            base = Parameters.from_args(recorded["base_args"], check=False)
            vary = vary or {n: v for n, v in recorded.get("varied", [])}
            set = set or recorded.get("set", {})
            cases = cases or recorded.get("cases")
        if program is None and engine is None:
            program = recorded.get("program")
            if not program:
                raise InvalidValue(f"{out}: scan.json does not record what ran; give --program "
                                   "or --engine exact")
        traces = traces or bool(recorded.get("traces"))
    program = study_program(program, engine, files=dry_run or slurm is not None)
    base, args_file = _base(base)
    if cases is not None and vary:
        raise InvalidValue("give varied values or a list of cases, not both")
    grid = Cases(base, cases, set) if cases is not None else Grid(base, vary, set)
    points = grid.points()
    program = _what_runs(program, points, slurm, dry_run, traces, say)
    manifest = _manifest(grid, points, program, args_file,
                         {**(record or {}), **({"traces": True} if traces else {})})
    os.makedirs(out, exist_ok=True)
    with _Signals() as signals, ScanLock(out, say):
        if resume:
            recorded = read_manifest(out)
            differs = _same_grid(recorded, manifest)
            if differs:
                raise InvalidValue(f"{out} holds a scan made for other {differs}; resume it with"
                                 " the same grid, or start a new scan in another folder")
            then = recorded.get("program")
            if then and (then if EXACT in (then, program) else os.path.abspath(then)) != program:
                raise InvalidValue(f"{out} was scanned with {then}, not {program}")
            if [r["folder"] for r in recorded["runs"]] != [p.folder for p in points]:
                raise InvalidValue(f"{out}: the recorded run folders are not this grid's")
            slurm_scan.ensure_ended(out, recorded)
            manifest["args_file"] = recorded.get("args_file") or args_file
            manifest = {**recorded, **manifest}
            write_manifest(out, manifest)
            pending = _unfinished(out, points)
            tell(f"resuming {out}: {len(points) - len(pending)} of {len(points)} runs "
                 "finished" + ((", submitting the others" if slurm else
                                ", solving the others" if program == EXACT else
                                ", running the others") if pending else ""))
        else:
            _prepare_new(out, manifest, points)
            pending = points
        pruned = program_name(program) == "tolvanex"
        if dry_run:
            if pruned:
                say(PRUNING_NOTE)
            return None
        lost = None
        if program == EXACT:
            exact_points.carry_out(out, points, pending, jobs, traces, progress, say, signals)
        elif slurm is not None and pending:
            try:
                if not _on_slurm(out, manifest, points, pending, program, slurm, progress,
                                 say, signals):
                    if pruned:
                        say(PRUNING_NOTE)
                    return None
            except slurm_scan.JobNotFollowed as e:
                lost = e                        # the summary so far, then say so
        else:
            _carry_out(out, points, pending, program, jobs, sequential, progress, say, signals)
        table = summary(out)
        write_summary(out, table)
    if pruned:
        say(PRUNING_NOTE)
    if signals.received:
        if lost:
            say(str(lost))
        raise ScanInterrupted(signals.received, table)
    if lost:
        raise lost
    return table


def _on_slurm(out: str, manifest: dict, points, pending, program: str, options: SlurmOptions,
              progress, say, signals) -> bool:
    """Submit the pending runs as one job array; with ``options.wait``
    follow it to its end.  Whether the runs have ended here."""
    stop_file = os.path.join(out, STOP_FILE)
    if os.path.exists(stop_file):           # left by a scan killed while stopping
        os.remove(stop_file)
    folders = [os.path.join(out, p.folder) for p in pending]
    commands = [rf.command_line(f, program, p.parameters.to_args(), stop_file)
                for f, p in zip(folders, pending)]
    slurm_scan.submit_runs(out, manifest, [p.folder for p in pending], commands, options,
                           say if progress is not None else (lambda message: None))
    if not options.wait:
        return False
    try:
        slurm_scan.wait_for(out, manifest, [os.path.join(out, p.folder) for p in points],
                            stop_file, options, progress, signals, say)
    except slurm_scan.JobNotFollowed:
        raise                   # the stop file stays: a task of the job starts no further run
    except BaseException:
        if os.path.exists(stop_file):
            os.remove(stop_file)
        raise
    if os.path.exists(stop_file):
        os.remove(stop_file)
    return True


def collect(folder: str, warn=None):
    """Write summary.csv of an existing scan folder (its runs carried out
    elsewhere, e.g. by a cluster scheduler) and return the summary.
    While the scan's Slurm job is still queued or running, the summary is
    that of the runs so far, `warn` is told, and ``attrs["job_in_queue"]``
    of the summary names the job.

    >>> collect("scans/ph-study")["ended"].value_counts()      # doctest: +SKIP
    """
    folder = os.path.abspath(folder)
    read_manifest(folder)
    say = warn or (lambda message: None)
    with ScanLock(folder, say):
        manifest = read_manifest(folder)
        going = _processes_in([os.path.join(folder, r["folder"]) for r in manifest["runs"]])
        if going:
            where, pid = next(iter(going.items()))
            say(f"{len(going)} run{'s' if len(going) != 1 else ''} still going on without "
                f"this folder's scan (process {pid} in {where}): shown as running or killed "
                "until they end")
        busy = slurm_scan.job_in_queue(folder, manifest)
        table = summary(folder)
        write_summary(folder, table)
    if busy:
        table.attrs["job_in_queue"] = busy
        (warn or (lambda message: None))(
            f"{busy}: the summary shows the runs ended so far; collect again once it has ended")
    return table
