"""Carrying out the run commands of a scan: under GNU parallel, ``jobs`` at
a time, or one after the other, and stopping them on a signal.

Every command runs in a session of its own, so that a Ctrl-C at the terminal
reaches only the scan, which passes the signal on to the runs: they end
after their current block with their files complete, as the programs do on
SIGINT or SIGTERM, and no further run is started.

>>> e = Executor(["true"], jobs=1, sequential=True)
>>> e.start(); e.wait()
0
"""

from __future__ import annotations

import os
import shutil
import subprocess


def gnu_parallel() -> str | None:
    """The path of GNU parallel, or None (a missing one, or moreutils' parallel)."""
    exe = shutil.which("parallel")
    if not exe:
        return None
    try:
        v = subprocess.run([exe, "--version"], capture_output=True, text=True, timeout=30,
                           stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return exe if "GNU parallel" in v.stdout else None


class Executor:
    """Run shell command lines, `jobs` at a time under GNU parallel when it
    is there (and `sequential` is false), else one after the other.

    Drive it with `start`, then `poll` (True while runs go on) or `wait`;
    `interrupt(signum)` stops it.  `commands_file` (optional) is where the
    command lines are written for GNU parallel; `joblog` its job log.
    """

    def __init__(self, commands, jobs: int = 2, sequential: bool = False,
                 commands_file: str | None = None, joblog: str | None = None, say=None):
        self.commands = list(commands)
        self.jobs = max(1, int(jobs))
        self.say = say or (lambda message: None)
        self.sequential = sequential
        self.parallel = None if sequential else gnu_parallel()
        self.commands_file, self.joblog = commands_file, joblog
        self.proc = None
        self.next = 0
        self.stopped = False
        self.status = 0

    def start(self) -> None:
        if self.parallel and self.commands:
            if self.commands_file is None:
                import tempfile
                fd, self.commands_file = tempfile.mkstemp(suffix=".txt", prefix="tolvanex-")
                os.close(fd)
            with open(self.commands_file, "w", encoding="utf-8", errors="surrogateescape") as f:
                f.writelines(c + "\n" for c in self.commands)
            cmd = [self.parallel, "--jobs", str(self.jobs), "-a", self.commands_file]
            if self.joblog:
                cmd[1:1] = ["--joblog", self.joblog]
            self.say(f"running {len(self.commands)} runs with GNU parallel, {self.jobs} at a time")
            self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, start_new_session=True,
                                         env=dict(os.environ, PARALLEL_SHELL="/bin/sh"))
        else:
            if not self.sequential and self.jobs > 1 and len(self.commands) > 1:
                self.say("GNU parallel not found; running the runs one after the other")
            self._start_next()

    def _start_next(self) -> None:
        if self.stopped or self.next >= len(self.commands):
            self.proc = None
            return
        line = self.commands[self.next]
        self.next += 1
        self.proc = subprocess.Popen(["/bin/sh", "-c", line], stdin=subprocess.DEVNULL,
                                     start_new_session=True)

    def poll(self) -> bool:
        """Whether runs are still going on (starts the next one in turn)."""
        while self.proc is not None:
            code = self.proc.poll()
            if code is None:
                return True
            if code != 0:
                self.status = code
            if self.parallel:
                self.proc = None
            else:
                self._start_next()
        return False

    def wait(self) -> int:
        """Wait for every run; the last non-zero status seen, else 0."""
        while self.poll():
            try:
                self.proc.wait(timeout=0.2)
            except subprocess.TimeoutExpired:
                pass
        return self.status

    def stop(self) -> None:
        """Start no further run (one after the other); the runs themselves
        are stopped through their folders (`tolvanex.runs.folder.signal_run`), and the
        commands GNU parallel still starts find the scan's stop file."""
        self.stopped = True
