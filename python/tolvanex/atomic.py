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
import sys

from .errors import InvalidValue


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


def _identity(path: str):
    """(device, inode) of the file a path names ("-": standard output, when
    that is a file), or None when there is no such file (yet)."""
    try:
        status = os.fstat(sys.stdout.fileno()) if path == "-" else os.stat(path)
    except (OSError, ValueError, AttributeError):   # no file yet; a stream without a descriptor
        return None
    return status.st_dev, status.st_ino


def refuse_same_files(outputs: dict, inputs: dict) -> None:
    """Refuse (InvalidValue) an output that is one of the inputs or another
    output: the same device and inode (by any path or link; "-", standard
    output, when that is an input file), or, for files not there yet, the
    same real path.  `outputs` and `inputs` map what a
    file is (e.g. "--csv") to its path; None is left out.

    >>> refuse_same_files({"--csv": "README.md"}, {"the trace file": "./README.md"})
    Traceback (most recent call last):
    ...
    tolvanex.errors.InvalidValue: --csv README.md is the trace file (./README.md): it would be written over; choose another name
    """
    seen = [(what, path, _identity(path), None if path == "-" else os.path.realpath(path))
            for what, path in inputs.items() if path is not None]
    for what, path in outputs.items():
        if path is None:
            continue
        identity = _identity(path)
        real = None if path == "-" else os.path.realpath(path)
        for other, other_path, other_identity, other_real in seen:
            if (identity is not None and identity == other_identity) or \
                    (real is not None and real == other_real) or path == other_path == "-":
                raise InvalidValue(f"{what} {path} is {other} ({other_path}): it would be "
                                   "written over; choose another name")
        seen.append((what, path, identity, real))
