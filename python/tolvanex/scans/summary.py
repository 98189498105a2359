"""The summary of a scan: one row per run, read from its folder.

Columns: ``folder``; the varied values as typed (a scan of named cases:
``case``, the case's name); ``program``, what ran (``exact``, the engine;
``tolvanex``, ``tolvanex_unpruned`` or the file name of another build);
``ended`` and ``message`` (how the run ended, `tolvanex.runs.outcome`; a
point of the exact engine ``time reached`` or ``solver failed (FLAG)``);
``end_time_s`` (the time the run reached) and ``wanted_time_s``; ``P_at_wanted_mol_per_L`` (product),
``S_at_wanted_mol_per_L`` (acceptor), ``A_at_wanted_mol_per_L`` (HgMerB)
and ``apoMerB_at_wanted_mol_per_L`` (free enzyme) at exactly the wanted
time, interpolated between rows, when the run got there, otherwise empty
with the reason in ``at_wanted_note``; ``t50_s`` and ``t90_s`` (first time
the product reaches 50 % and 90 % of the enzyme amount; empty when never);
``initial_rate_mol_per_L_per_s`` (`Run.initial_rate`); ``iterations`` (a
program's; empty for the engine); ``wall_s`` (the run's or solve's
wall-clock time); ``exit_status``.  The engine's points are read from what
their solve recorded (`tolvanex.scans.exact_points`), the same columns.  A run folder that
cannot be read costs its row only: ``ended`` is ``unreadable`` and
``message`` says why.

>>> table = summary("scans/ph-study")            # doctest: +SKIP
>>> table[["pH", "t50_s"]]                        # doctest: +SKIP
"""

from __future__ import annotations

import math
import os

import pandas as pd

from ..atomic import replaced_whole
from .cases import CASE_COLUMN
from .manifest import read_manifest
from ..model.parameters import Parameters
from ..runs import folder as rf
from ..runs.file_format import FileFormatError
from ..runs.folder import RunNotFound
from ..runs.outcome import ENDED_WELL, FAILED_STATE, NOT_ENDED_STATE, state, stop_without_trace
from ..runs.programs import EXACT, program_label
from ..runs.run import Run
from . import exact_points

SUMMARY = "summary.csv"
AT_WANTED = {"P": "P_at_wanted_mol_per_L", "S": "S_at_wanted_mol_per_L",
             "A": "A_at_wanted_mol_per_L", "apoMerB": "apoMerB_at_wanted_mol_per_L"}
COLUMNS = (["program", "ended", "message", "end_time_s", "wanted_time_s"]
           + list(AT_WANTED.values())
           + ["at_wanted_note", "t50_s", "t90_s", "initial_rate_mol_per_L_per_s",
              "iterations", "wall_s", "exit_status"])
INTEGERS = ("iterations", "exit_status")
#: The columns of numbers (what a picture of the summary can draw).
NUMBERS = [c for c in COLUMNS if c.endswith(("_s", "_per_L", "_per_s")) or c in INTEGERS]


def _wanted_of(entry: dict) -> float | None:
    try:
        return Parameters.from_args(entry["args"], check=False).wanted_time
    except (KeyError, TypeError, ValueError):
        return None


def metrics(run, row: dict) -> None:
    """The values of a `Run` or a `tolvanex.Solution` into a summary row
    (which holds ``wanted_time_s``): the end time, the amounts at the
    wanted time or why there are none, t50, t90, the initial rate."""
    wanted = row["wanted_time_s"]
    row["end_time_s"] = run.end_time
    if wanted is not None and math.isfinite(wanted) and run.end_time >= wanted:
        row["at_wanted_note"] = run.unresolved(wanted)
        values = run.at(max(wanted, 0.0))
        for label, column in AT_WANTED.items():
            row[column] = float(values[label])      # NaN, an empty cell, when unresolved
    elif wanted is not None:
        row["at_wanted_note"] = (f"stopped at {run.end_time:g} s, before the wanted "
                                 f"{wanted:g} s ({run.stop.code})")
    if run.enzyme is not None and run.enzyme > 0:
        row["t50_s"] = run.time_to(0.5)
        row["t90_s"] = run.time_to(0.9)
        row["initial_rate_mol_per_L_per_s"] = run.initial_rate()


def summarise_run(out: str, entry: dict, program: str | None = None) -> dict:
    """The summary row of one run of a scan made with `program` (never
    raises for a bad folder)."""
    folder = os.path.join(out, entry["folder"])
    row = {"folder": entry["folder"], **entry.get("values", {}),
           "program": program_label(program), "wanted_time_s": _wanted_of(entry),
           "at_wanted_note": ""}
    try:
        if program == EXACT:
            row.update(exact_points.point_row(out, entry))
            return row
        status = rf.read_exit_status(folder)
        row["exit_status"] = status
        row["wall_s"] = rf.read_wall_seconds(folder)
        try:
            run = Run.load(folder, fluxes=False)
        except RunNotFound:                     # no trace file: not run, or failed at start
            stop = stop_without_trace(folder, status, row["wanted_time_s"])
            row.update(ended=stop.code, message=stop.message, at_wanted_note=stop.code)
            return row
        row.update(ended=run.stop.code, message=run.stop.message, iterations=run.iterations)
        metrics(run, row)
    except (rf.UnreadableFile, FileFormatError, OSError, ValueError, IndexError) as e:
        row.update(ended="unreadable", message=str(e), at_wanted_note="unreadable")
        for key in COLUMNS[3:]:
            if key not in ("wanted_time_s", "at_wanted_note", "exit_status"):
                row.pop(key, None)
    return row


def summary(folder: str) -> pd.DataFrame:
    """The summary of the scan in `folder`, one row per run (see the module).

    >>> summary("scans/ph-study")[["pH", "t50_s", "t90_s"]]     # doctest: +SKIP
    """
    manifest = read_manifest(folder)
    names = [n for n, _ in manifest.get("varied", [])]
    if "cases" in manifest:
        names.append(CASE_COLUMN)
    rows = [summarise_run(folder, entry, manifest.get("program")) for entry in manifest["runs"]]
    table = pd.DataFrame(rows, columns=["folder"] + names + COLUMNS)
    for column in INTEGERS:
        table[column] = pd.to_numeric(table[column], errors="coerce").astype("Int64")
    for column in COLUMNS:
        if column.endswith("_s") or column.endswith("_per_L") or column.endswith("_per_s"):
            table[column] = pd.to_numeric(table[column], errors="coerce")
    text = ["program", "ended", "message", "at_wanted_note"]
    table[text] = table[text].fillna("")
    return table


def run_states(table: pd.DataFrame) -> pd.Series:
    """Every row's state (`tolvanex.runs.outcome.state`): ``ended well``,
    ``failed`` (so is a row whose exit status is not 0) or ``not ended``."""
    states = table["ended"].map(state)
    states[states.eq(ENDED_WELL) & table["exit_status"].fillna(0).ne(0)] = FAILED_STATE
    return states


def verdict(table: pd.DataFrame) -> tuple[int, list[str]]:
    """The exit status a summary calls for (0 every run ended well, 1 one
    failed, 3 one has not ended, which comes first: its failure may yet
    be run again) and the lines that say why.

    >>> t = pd.DataFrame({"ended": ["converted", "not run"], "exit_status": [0, None]})
    >>> verdict(t)
    (3, ['1 of 2 runs has not ended (not run, or running or killed)'])
    """
    states = run_states(table)
    lines = []
    not_ended, failed = int(states.eq(NOT_ENDED_STATE).sum()), int(states.eq(FAILED_STATE).sum())
    if not_ended:
        lines.append(f"{not_ended} of {len(table)} runs ha{'s' if not_ended == 1 else 've'} "
                     "not ended (not run, or running or killed)")
    if failed:
        lines.append(f"{failed} of {len(table)} runs failed (see the columns ended and "
                     "message of summary.csv)")
    return (3 if not_ended else 1 if failed else 0), lines


def write_summary(folder: str, table: pd.DataFrame | None = None) -> str:
    """Write summary.csv (empty cells where there is no value); its path."""
    if table is None:
        table = summary(folder)
    path = os.path.join(folder, SUMMARY)
    with replaced_whole(path) as f:
        table.to_csv(f, index=False, na_rep="", lineterminator="\n")
    return path
