"""Finding the simulation programs, ``tolvanex`` and ``tolvanex_unpruned``,
and choosing what a study runs: the exact engine or a program.

A program given by name is looked for, in this order, in ``build/`` of the
source tree the package lies in, in the folder of the running command (an
installed ``bin/`` holds programs and tools together), in the ``bin/`` of
the prefix the package is installed in (``PREFIX/lib/tolvanex/python``:
``PREFIX/bin``, for a script that imports the installed package), then on
``PATH``.  A name with a slash in it is a path.

>>> import os
>>> os.path.basename(find_program("tolvanex"))    # doctest: +SKIP
'tolvanex'
>>> find_program("no-such-program")
Traceback (most recent call last):
...
tolvanex.runs.programs.ProgramNotFound: cannot find the program 'no-such-program' (looked in ...); give its path
"""

from __future__ import annotations

import os
import shutil
import sys
from ..errors import InputError

#: The two programs built from the source tree.
PROGRAM_NAMES = ("tolvanex", "tolvanex_unpruned")
#: The exact-kinetics engine, named where a program would be (scan.json, the
#: ``program`` column of a summary, titles).
EXACT = "exact"
#: What a study runs by default where the programs' files are wanted (a
#: dry run's commands, Slurm): the program that follows the rate equations.
FILES_DEFAULT = "tolvanex_unpruned"
#: Told whenever a study runs tolvanex (figures: docs/mechanism.md).
PRUNING_NOTE = ("note: tolvanex drops backward and negligible net fluxes, which closes "
                "the anionic route and changes the mechanism, not only the precision: on "
                "the bundled examples its t50 and t90 are off by up to +23 % and +28 % "
                "(MerA +11 % and +15 %), and with glutathione at pH 9 its t90 by -11 % "
                "(docs/mechanism.md); --engine exact (the default) or --program "
                "tolvanex_unpruned follow the rate equations")

#: The folder of the package `tolvanex` (recorded in a scan's manifest).
PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE_DIR = os.path.dirname(os.path.dirname(PACKAGE_DIR))


class ProgramNotFound(InputError, FileNotFoundError):
    """No executable program under the name or path given."""


def installed_bin(package_dir: str = PACKAGE_DIR) -> str | None:
    """``PREFIX/bin`` when the package is installed as
    ``PREFIX/lib/tolvanex/python/tolvanex``, else None.

    >>> installed_bin("/opt/tv/lib/tolvanex/python/tolvanex"), installed_bin("/src/python/tolvanex")
    ('/opt/tv/bin', None)
    """
    python = os.path.dirname(package_dir)
    lib = os.path.dirname(os.path.dirname(python))
    if (os.path.basename(python), os.path.basename(os.path.dirname(python)),
            os.path.basename(lib)) != ("python", "tolvanex", "lib"):
        return None
    return os.path.join(os.path.dirname(lib), "bin")


def _places() -> list[str]:
    places = [os.path.join(SOURCE_DIR, "build")]
    command = os.path.realpath(sys.argv[0]) if sys.argv and sys.argv[0] else ""
    if command and os.path.isfile(command):
        places.append(os.path.dirname(command))
    if installed_bin():
        places.append(installed_bin())
    return places


def find_program(name_or_path: str | None = None) -> str:
    """The absolute path of a program, by name (default ``tolvanex``) or path.

    Raises ProgramNotFound naming every place looked in.
    """
    choice = name_or_path or "tolvanex"
    if "/" in choice:
        path = os.path.abspath(choice)
        if not (os.path.isfile(path) and os.access(path, os.X_OK)):
            raise ProgramNotFound(f"{path} is not an executable program")
        return path
    places = _places()
    for place in places:
        path = os.path.join(place, choice)
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return os.path.abspath(path)
    found = shutil.which(choice)
    if found:
        return os.path.abspath(found)
    raise ProgramNotFound(f"cannot find the program {choice!r} (looked in "
                          + ", ".join(places) + " and on PATH); give its path")


def program_name(path_or_name: str | None) -> str | None:
    """Which of the two programs a path or name is; None when neither.

    >>> program_name("/opt/build/tolvanex_unpruned"), program_name("tolvanex"), program_name("x")
    ('tolvanex_unpruned', 'tolvanex', None)
    """
    if not path_or_name:
        return None
    base = os.path.basename(str(path_or_name))
    return base if base in PROGRAM_NAMES else None


def program_label(program: str | None) -> str:
    """How a summary row, a title or a console line names what ran: ``exact``,
    a program's name, or the file name of another build.

    >>> program_label("exact"), program_label("/opt/b/tolvanex_unpruned"), program_label(None)
    ('exact', 'tolvanex_unpruned', '')
    """
    if not program:
        return ""
    return EXACT if program == EXACT else os.path.basename(str(program))


def study_program(program: str | None = None, engine: str | None = None,
                  files: bool = False) -> str:
    """What a study runs: `EXACT` (the default) or a program's name or path.
    `engine` ``"exact"`` asks for the engine, `program` for a program (not
    both); `files`: the programs' files are wanted (a dry run, Slurm), so by
    default `FILES_DEFAULT` runs instead of the engine.

    >>> study_program(), study_program(files=True), study_program("tolvanex")
    ('exact', 'tolvanex_unpruned', 'tolvanex')
    >>> study_program("tolvanex", "exact")
    Traceback (most recent call last):
    ...
    tolvanex.errors.InvalidValue: give the exact engine or a program, not both
    """
    from ..errors import InvalidValue
    if engine is not None and engine != EXACT:
        raise InvalidValue(f"engine {engine!r}: the engine is {EXACT!r}; a program is "
                           "chosen by its name or path instead")
    if engine is not None and program is not None:
        raise InvalidValue("give the exact engine or a program, not both")
    if program == EXACT or engine == EXACT:
        return EXACT
    return program or (FILES_DEFAULT if files else EXACT)
