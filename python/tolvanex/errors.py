"""The errors this package raises on purpose, under one root.

Every exception class of the package derives from `TolvanexError` and
keeps the builtin base that says what kind of error it is (a `ValueError`
for a value that cannot be meant, a `FileNotFoundError` for something
missing, a `RuntimeError` for a program or solver that failed), so that
``except tolvanex.TolvanexError`` catches them all and ``except
ValueError`` catches what it always did.

Two marker classes sort them for the tools' exit statuses
(`tolvanex.cli.command`): an `InputError` is an input that cannot be read
or cannot be meant, refused before anything runs (2); a `NotEnded` says
that runs are still going on (3).  `tolvanex.ScanInterrupted` is a signal
(128 + its number); any other `TolvanexError` is work that ran and failed
(1).  Classes that belong to one part of the package are defined there:

>>> from tolvanex.runs.programs import ProgramNotFound
>>> issubclass(ProgramNotFound, (TolvanexError, FileNotFoundError, InputError))
True
"""

from __future__ import annotations


class TolvanexError(Exception):
    """The root of every error this package raises on purpose."""


class InputError(TolvanexError):
    """An input that cannot be read or cannot be meant: nothing was run."""


class NotEnded(TolvanexError):
    """Runs that the work needs have not ended (a Slurm job still queued or
    running, or another process working in the folder)."""


class InvalidValue(InputError, ValueError):
    """A value that cannot be meant: a parameter, an option, a time, a name.

    >>> raise InvalidValue("pH (pH) is 'seven': not a number")
    Traceback (most recent call last):
    ...
    tolvanex.errors.InvalidValue: pH (pH) is 'seven': not a number
    """


class UnreadableInput(InputError, OSError):
    """An input file that cannot be opened or read (missing, no permission).

    Raised from the OSError that said so: ``errno``, ``strerror`` and
    ``filename`` are that error's."""

    @classmethod
    def of(cls, error: OSError) -> "UnreadableInput":
        return cls(error.errno, error.strerror, error.filename)

    def __str__(self):
        return f"cannot read {self.filename}: {self.strerror}"


class OutputExists(InputError, FileExistsError):
    """A file that a run would append to is there already (the programs
    append, so a run folder or scan folder is used once)."""
