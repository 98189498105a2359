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

import glob
import json
import os
from typing import NamedTuple

from .parameters import Parameters

ARGUMENTS_FILE = "arguments.args"
SCAN_MANIFEST = "scan.json"
PROGRAMS = ("tolvanex", "tolvanex_unpruned")


class RunNotFound(ValueError):
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


def _scan_entry(folder: str):
    """The manifest of the scan the folder belongs to, and its run entry."""
    manifest_path = os.path.join(os.path.dirname(os.path.abspath(folder)), SCAN_MANIFEST)
    if not os.path.isfile(manifest_path):
        return None, None
    try:
        with open(manifest_path, encoding="utf-8") as f:
            manifest = json.load(f)
    except (OSError, ValueError) as e:
        raise RunNotFound(f"{manifest_path}: cannot be read ({e})") from None
    name = os.path.basename(os.path.abspath(folder))
    for run in manifest.get("runs", []) if isinstance(manifest, dict) else []:
        if isinstance(run, dict) and run.get("folder") == name:
            return manifest, run
    return manifest, None


def find_run(path: str, args_file: str | None = None, program: str | None = None) -> FoundRun:
    """The trace file, arguments and program of the run at `path` (a run
    folder or a trace file).  Raises RunNotFound saying what is missing."""
    if os.path.isdir(path):
        folder, trace = path, None
    elif os.path.isfile(path):
        folder, trace = os.path.dirname(path) or ".", path
    else:
        raise RunNotFound(f"{path}: no such run folder or trace file")
    manifest, entry = _scan_entry(folder)
    try:
        if args_file is not None:
            parameters, source = Parameters.read(args_file, check=False), args_file
        elif os.path.isfile(os.path.join(folder, ARGUMENTS_FILE)):
            source = os.path.join(folder, ARGUMENTS_FILE)
            parameters = Parameters.read(source, check=False)
        elif entry is not None:
            source = os.path.join(os.path.dirname(os.path.abspath(folder)), SCAN_MANIFEST)
            parameters = Parameters.from_args(entry.get("args", []), check=False)
        else:
            raise RunNotFound(f"{folder}: no {ARGUMENTS_FILE} there and no {SCAN_MANIFEST} "
                              "of a scan above it; give the arguments with --args FILE")
        parameters.check()
    except OSError as e:
        raise RunNotFound(f"{e.filename}: {e.strerror}") from None
    except RunNotFound:
        raise
    except ValueError as e:
        raise RunNotFound(str(e)) from None
    if trace is None:
        named = os.path.join(folder, os.path.basename(parameters.trace))
        traces = sorted(glob.glob(os.path.join(folder, "*.trace")))
        if os.path.isfile(named):
            trace = named
        elif len(traces) == 1:
            trace = traces[0]
        else:
            raise RunNotFound(f"{folder}: no trace file {os.path.basename(parameters.trace)!r}"
                              " there; give the trace file itself")
    if program is None and manifest is not None:
        program = manifest.get("program")
    return FoundRun(trace, parameters, program_name(program), source)
