"""The claim of a scan folder: a lock file made with an exclusive create.

While a scan runs, or its summary is written, ``scan.lock`` in its folder
records the process and the host.  A second scan, a resume or a collect in
the same folder is refused while that process lives; a lock left by a dead
process on this host is taken over with a warning.  A lock from another host
cannot be checked from here and is only removed by hand.

>>> import tempfile
>>> d = tempfile.mkdtemp()
>>> with ScanLock(d):
...     ScanLock(d).acquire()
Traceback (most recent call last):
...
tolvanex.scans.lock.FolderBusy: ... is in use by process ... on ... (since ...); wait for it to end
"""

from __future__ import annotations

import errno
import os
import socket
import time
from ..errors import NotEnded

LOCK_NAME = "scan.lock"


class FolderBusy(NotEnded, RuntimeError):
    """Another process holds the scan folder."""


def _alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


class ScanLock:
    """``with ScanLock(folder):`` holds the folder; `warn` gets the message
    when a dead process's lock is taken over."""

    def __init__(self, folder: str, warn=None):
        self.path = os.path.join(folder, LOCK_NAME)
        self.warn = warn or (lambda message: None)
        self.held = False

    def _create(self) -> bool:
        try:
            fd = os.open(self.path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        except FileExistsError:
            return False
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write(f"{os.getpid()} {socket.gethostname()} {time.time():.0f}\n")
        return True

    def _holder(self):
        try:
            with open(self.path, encoding="utf-8", errors="replace") as f:
                words = f.read(200).split()
            return int(words[0]), words[1], float(words[2])
        except FileNotFoundError:
            return None
        except (OSError, ValueError, IndexError):
            return "?", "?", 0.0

    def acquire(self) -> "ScanLock":
        for _ in range(3):
            if self._create():
                self.held = True
                return self
            holder = self._holder()
            if holder is None:
                continue                        # released meanwhile: try again
            pid, host, since = holder
            if host == socket.gethostname() and isinstance(pid, int) and not _alive(pid):
                self.warn(f"{self.path} was left by process {pid}, which has ended; "
                          "taking the folder over")
                if self._holder() == holder:    # nobody took it over meanwhile
                    try:
                        os.remove(self.path)
                    except FileNotFoundError:
                        pass
                continue
            when = time.strftime("%Y-%m-%d %H:%M", time.localtime(since)) if since else "?"
            raise FolderBusy(f"{os.path.dirname(self.path)} is in use by process {pid} on "
                             f"{host} (since {when}); wait for it to end"
                             + ("" if host == socket.gethostname() else
                                f", or remove {self.path} if it is no longer running"))
        raise FolderBusy(f"could not claim {os.path.dirname(self.path)}: {self.path} keeps "
                         "coming back")

    def release(self) -> None:
        if self.held:
            self.held = False
            try:
                os.remove(self.path)
            except OSError as e:
                if e.errno != errno.ENOENT:
                    raise

    def __enter__(self):
        return self.acquire()

    def __exit__(self, *exc):
        self.release()
