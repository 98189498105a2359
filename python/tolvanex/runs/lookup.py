"""Finding what belongs to a run: its trace file, its arguments and the
program that made it, from a run folder or a trace file.

A run folder holds the trace file and ``flux_analysis.txt`` of one run.
Its arguments are read from, in this order: a file given by the caller;
``arguments.args`` in the folder; the ``scan.json`` of a scan made by
``tolvanex-scan`` in the folder above, whose entry for this folder lists the
arguments and whose ``program`` names the program.

>>> import json, os, tempfile
>>> scan = tempfile.mkdtemp()
>>> os.mkdir(os.path.join(scan, "001_pH=7"))
>>> words = open("examples/mera.args").read().split("\\n")[-2].split()
>>> with open(os.path.join(scan, "scan.json"), "w") as f:
...     json.dump({"program": "/x/build/tolvanex_unpruned",
...                "runs": [{"folder": "001_pH=7", "args": words}]}, f)
>>> open(os.path.join(scan, "001_pH=7", "mera.trace"), "w").close()
>>> found = find_run(os.path.join(scan, "001_pH=7"))
>>> found.parameters.pH, found.program, os.path.basename(found.trace)
(7.0, 'tolvanex_unpruned', 'mera.trace')
"""

from __future__ import annotations

import os
from typing import NamedTuple

from . import folder as rf
from ..model.parameters import Parameters
from ..errors import InputError

PROGRAMS = ("tolvanex", "tolvanex_unpruned")


class RunNotFound(InputError, ValueError):
    """What the run needs cannot be found; the message says what to give."""


class FoundRun(NamedTuple):
    trace: str                  # path of the trace file
    parameters: Parameters
    program: str | None         # "tolvanex", "tolvanex_unpruned", or None if unknown
    arguments_from: str         # where the arguments were read


def program_name(path_or_name: str | None) -> str | None:
    """Which of the two programs a path or name is; None when neither.

    >>> program_name("/opt/build/tolvanex_unpruned"), program_name("tolvanex"), program_name("x")
    ('tolvanex_unpruned', 'tolvanex', None)
    """
    if not path_or_name:
        return None
    base = os.path.basename(str(path_or_name))
    return base if base in PROGRAMS else None


def find_run(path: str, args_file: str | None = None, program: str | None = None) -> FoundRun:
    """The trace file, arguments and program of the run at `path` (a run
    folder or a trace file), from what the folder records (see
    `run_folder.recorded_arguments`) unless given.  Raises RunNotFound
    saying what is missing."""
    if os.path.isdir(path):
        folder, trace = path, None
    elif os.path.isfile(path):
        folder, trace = os.path.dirname(path) or ".", path
    else:
        raise RunNotFound(f"{path}: no such run folder or trace file")
    try:
        if args_file is not None:
            parameters, trace_name, source = Parameters.read(args_file, check=False), None, \
                args_file
        else:
            parameters, trace_name = rf.recorded_arguments(folder)
            if parameters is None:
                raise RunNotFound(f"{folder}: no {rf.ARGUMENTS} there and no {rf.MANIFEST} "
                                  "of a scan above it that lists it; give the arguments with "
                                  "--args FILE")
            source = os.path.join(folder, rf.ARGUMENTS) \
                if os.path.isfile(os.path.join(folder, rf.ARGUMENTS)) \
                else os.path.join(os.path.dirname(os.path.abspath(folder)), rf.MANIFEST)
        parameters.check()
        if trace is None:
            trace = rf.find_trace(folder, parameters, trace_name)
    except FileNotFoundError:
        raise RunNotFound(f"{folder}: no trace file {os.path.basename(parameters.trace)!r}"
                          " there; give the trace file itself") from None
    except OSError as e:
        raise RunNotFound(f"{e.filename}: {e.strerror}") from None
    except RunNotFound:
        raise
    except ValueError as e:
        raise RunNotFound(str(e)) from None
    return FoundRun(trace, parameters, program_name(program or rf.recorded_program(folder)),
                    source)
