"""The claim of a scan folder: the lock file ``scan.lock``.

While a scan runs, or its summary is written, ``scan.lock`` in its folder
records the process and the host.  A second scan, a resume or a collect in
the same folder is refused while that process lives; a lock left by a dead
process on this host is taken over with a warning.  A lock from another host
cannot be checked from here and is only removed by hand.

The holder keeps an exclusive ``flock`` on the lock file as long as it
holds it, and the file is put in place whole (written and locked under
another name, then linked to ``scan.lock``, which fails if one is there).
So a takeover is atomic: of the processes that find a dead owner's lock at
the same moment, only the one that gets the flock on that very file (and
finds it still in place) rewrites it as its own; the others find it held.

>>> import tempfile
>>> d = tempfile.mkdtemp()
>>> with ScanLock(d):
...     ScanLock(d).acquire()
Traceback (most recent call last):
...
tolvanex.scans.lock.FolderBusy: ... is in use by process ... on ... (since ...); wait for it to end
"""

from __future__ import annotations

import fcntl
import os
import socket
import tempfile
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


def _claim() -> bytes:
    return f"{os.getpid()} {socket.gethostname()} {time.time():.0f}\n".encode()


def _holder_of(data: bytes):
    try:
        words = data.decode("utf-8", "replace").split()
        return int(words[0]), words[1], float(words[2])
    except (ValueError, IndexError):
        return "?", "?", 0.0


def _locked(fd: int) -> bool:
    """Take the flock on `fd` without waiting; whether it was free."""
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        return False
    except OSError:             # a file system without flock: the pid decides alone
        return True
    return True


class ScanLock:
    """``with ScanLock(folder):`` holds the folder; `warn` gets the message
    when a dead process's lock is taken over."""

    def __init__(self, folder: str, warn=None):
        self.path = os.path.join(folder, LOCK_NAME)
        self.warn = warn or (lambda message: None)
        self.fd = None

    @property
    def held(self) -> bool:
        return self.fd is not None

    def _create(self) -> bool:
        """Put a lock of ours in place; False when one is there."""
        fd, part = tempfile.mkstemp(prefix=LOCK_NAME + ".", suffix=".part",
                                    dir=os.path.dirname(self.path))
        try:
            os.fchmod(fd, 0o644)
            _locked(fd)
            os.write(fd, _claim())
            os.link(part, self.path)
        except FileExistsError:
            os.close(fd)
            return False
        except BaseException:
            os.close(fd)
            raise
        finally:
            os.unlink(part)
        self.fd = fd
        return True

    def _take_over(self, holder) -> bool:
        """Make the lock in place ours if it is still `holder`'s (whose
        process has ended) and nobody else has it: the flock on the file
        decides between processes that try at the same time."""
        try:
            fd = os.open(self.path, os.O_RDWR)
        except FileNotFoundError:
            return False
        try:
            if (_locked(fd) and os.fstat(fd).st_ino == os.stat(self.path).st_ino
                    and _holder_of(os.pread(fd, 200, 0)) == holder):
                os.ftruncate(fd, 0)
                os.pwrite(fd, _claim(), 0)
                self.fd, fd = fd, None
                return True
        except FileNotFoundError:           # released meanwhile
            pass
        finally:
            if fd is not None:
                os.close(fd)
        return False

    def _holder(self):
        try:
            with open(self.path, "rb") as f:
                return _holder_of(f.read(200))
        except FileNotFoundError:
            return None
        except OSError:
            return "?", "?", 0.0

    def acquire(self) -> "ScanLock":
        for _ in range(5):
            if self._create():
                return self
            holder = self._holder()
            if holder is None:
                continue                        # released meanwhile: try again
            pid, host, since = holder
            if host == socket.gethostname() and isinstance(pid, int) and not _alive(pid):
                if self._take_over(holder):
                    self.warn(f"{self.path} was left by process {pid}, which has ended; "
                              "taking the folder over")
                    return self
                continue                        # another process took it: see who
            when = time.strftime("%Y-%m-%d %H:%M", time.localtime(since)) if since else "?"
            raise FolderBusy(f"{os.path.dirname(self.path)} is in use by process {pid} on "
                             f"{host} (since {when}); wait for it to end"
                             + ("" if host == socket.gethostname() else
                                f", or remove {self.path} if it is no longer running"))
        raise FolderBusy(f"could not claim {os.path.dirname(self.path)}: {self.path} keeps "
                         "coming back")

    def release(self) -> None:
        """Remove the lock file, then let go of its flock (in that order, so
        that a process that finds the file finds it held)."""
        if self.fd is not None:
            fd, self.fd = self.fd, None
            try:
                if os.fstat(fd).st_ino == os.stat(self.path).st_ino:
                    os.remove(self.path)
            except FileNotFoundError:
                pass
            finally:
                os.close(fd)

    def __enter__(self):
        return self.acquire()

    def __exit__(self, *exc):
        self.release()
