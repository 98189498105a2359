"""The progress line of a scan, from its run folders alone.

A run is done once its folder holds ``exit-status`` and failed when that is
not 0, so the same code follows runs carried out by this process, by GNU
parallel or by a cluster scheduler on another machine.

>>> p = Progress(["/no/such/run"], stream=None)
>>> p.line()
'0/1 runs done, 0 failed, 0:00:00 elapsed, time left not known yet'
"""

from __future__ import annotations

import os
import sys
import time

from ..runs.folder import EXIT_STATUS, UnreadableFile, read_exit_status


def _clock(seconds: float) -> str:
    seconds = int(round(seconds))
    return f"{seconds // 3600}:{seconds // 60 % 60:02d}:{seconds % 60:02d}"


class Progress:
    """Runs done / total, failed, elapsed time and an estimate of the time
    left (from the pace of the runs finished since it started), printed to
    `stream`: rewritten in place on a terminal, else a line every
    `interval` seconds."""

    def __init__(self, folders, stream=sys.stderr, interval: float = 5.0, prefix: str = ""):
        self.folders = list(folders)
        self.stream, self.interval, self.prefix = stream, interval, prefix
        self.status: dict[str, object] = {}
        self.start = time.monotonic()
        self.last_print = None
        self.poll()
        self.done_at_start = len(self.status)

    def poll(self) -> None:
        for folder in self.folders:
            if folder in self.status or not os.path.exists(os.path.join(folder, EXIT_STATUS)):
                continue
            try:
                self.status[folder] = read_exit_status(folder)
            except UnreadableFile:
                self.status[folder] = "unreadable"

    @property
    def done(self) -> int:
        return len(self.status)

    @property
    def failed(self) -> int:
        return sum(1 for s in self.status.values() if s != 0)

    def line(self) -> str:
        elapsed = time.monotonic() - self.start
        total, done = len(self.folders), self.done
        new = done - self.done_at_start
        if done == total:
            left = "all done"
        elif new > 0:
            left = f"about {_clock(elapsed / new * (total - done))} left"
        else:
            left = "time left not known yet"
        return (f"{self.prefix}{done}/{total} runs done, {self.failed} failed, "
                f"{_clock(elapsed)} elapsed, {left}")

    def update(self, final: bool = False) -> None:
        """Poll the folders and print the line when it is due."""
        self.poll()
        if self.stream is None:
            return
        now = time.monotonic()
        tty = hasattr(self.stream, "isatty") and self.stream.isatty()
        line = self.line()
        if tty:
            if line == getattr(self, "_shown", None) and not final:
                return
            self._shown = line
            self.stream.write("\r" + line + "\033[K" + ("\n" if final else ""))
        elif final or self.last_print is None or now - self.last_print >= self.interval:
            self.stream.write(line + "\n")
        else:
            return
        self.stream.flush()
        self.last_print = now
