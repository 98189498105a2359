"""Writing a file whole or not at all: into ``NAME.part`` beside it, then
renamed over NAME, so that a reader (or a process killed meanwhile) never
sees half a file.

>>> import os, tempfile
>>> path = os.path.join(tempfile.mkdtemp(), "summary.csv")
>>> with replaced_whole(path) as f:
...     _ = f.write("folder,ended\\n")
>>> os.listdir(os.path.dirname(path))
['summary.csv']
"""

from __future__ import annotations

import contextlib
import os
import stat


@contextlib.contextmanager
def replaced_whole(path: str, mode: int | None = None, errors: str = "strict"):
    """``with replaced_whole(path) as f:`` writes text (UTF-8, line ends as
    written) to ``path.part`` and renames it to `path` when the block ends
    without an error; on an error the part file is removed and `path` left
    as it was.  `mode`: the file's permission bits (e.g. 0o755); by default
    those of the file replaced.  `errors`: as for `open` ("surrogateescape"
    writes the bytes of names that are not UTF-8 as they are).

    A link is followed: the file it points to is replaced and the link
    stays.  A path that is no regular file (a device such as /dev/stdout or
    /dev/full, a FIFO) is written into directly and never replaced."""
    target = os.path.realpath(path)
    try:
        status = os.stat(target)
    except FileNotFoundError:
        status = None
    if status is not None and not stat.S_ISREG(status.st_mode):
        with open(target, "w", encoding="utf-8", errors=errors, newline="") as f:
            yield f
        return
    if mode is None and status is not None:
        mode = stat.S_IMODE(status.st_mode)
    part = target + ".part"
    try:
        with open(part, "w", encoding="utf-8", errors=errors, newline="") as f:
            yield f
        if mode is not None:
            os.chmod(part, mode)
        os.replace(part, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.remove(part)
        raise
