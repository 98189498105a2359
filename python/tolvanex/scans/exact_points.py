"""The points of a scan solved by the exact engine (`tolvanex.solve`), in
this process, `jobs` at a time on threads (a solve releases the GIL).

Each point keeps the run folder a program's run would have, with other
files: ``arguments.args``; ``solution.json``, its summary row as the solve
left it (how it ended, the values at the wanted time, t50, t90, the initial
rate; the solver's statistics, the pKa and temperature solved at); and
``exit-status`` (0 solved, 1 the solver failed), written last, so that the
progress line, ``--resume`` (solve again every point without status 0) and
``--collect`` (read the rows again) work as for the programs' runs.  With
``traces``, ``trace.csv`` and ``fluxes.csv`` too: the amounts and the
cumulative net fluxes at every step of the solver.  Nothing is written in
the programs' formats.

>>> point_row("/no/such/scan", {"folder": "001_pH=7", "args": []})["ended"]
'not run'
"""

from __future__ import annotations

import concurrent.futures
import json
import math
import os
import signal
import time

from .. import __version__
from ..atomic import replaced_whole
from ..model import engine
from ..model.exact import SolverFailed
from ..model.parameters import Parameters
from ..model.solution import solve
from ..export.run_csv import solution_frame, write_frame_csv
from ..runs import folder as rf
from .progress import Progress

RESULT = rf.SOLUTION
TRACE_CSV = "trace.csv"
FLUX_CSV = "fluxes.csv"
#: The fractions of the enzyme amount every point's solve finds the times of:
#: 1 % for the initial rate, t50, t90.
FRACTIONS = (0.01, 0.5, 0.9)


def entry_parameters(entry: dict) -> Parameters:
    """A point's parameters from its entry in scan.json (arguments and the
    conditions pKa and temperature, when given)."""
    p = Parameters.from_args(entry["args"], check=False)
    return p.replace(**entry.get("conditions", {})) if entry.get("conditions") else p


def check_points(points) -> None:
    """Refuse, before anything is solved, a point the engine refuses (the
    engine's own checks, e.g. a pH whose hydrogen ion is no finite number),
    naming its folder; EngineNotFound when the engine is not built."""
    try:
        engine.load()
    except engine.EngineNotFound as e:
        raise engine.EngineNotFound(f"{e}; or run a program instead (--program "
                                    "tolvanex_unpruned)") from None
    for point in points:
        try:
            engine.solve(point.parameters, 0.0)
        except ValueError as e:
            raise type(e)(f"{point.folder}: {e}") from None


def _write_tables(folder: str, solution) -> None:
    for name, fluxes in ((TRACE_CSV, False), (FLUX_CSV, True)):
        with replaced_whole(os.path.join(folder, name)) as f:
            write_frame_csv(solution_frame(solution, fluxes), f)


def solve_point(folder: str, parameters: Parameters, traces: bool = False) -> int:
    """Solve one point to its wanted time and write its folder's files;
    its status (0 solved, 1 the solver failed)."""
    from .summary import metrics          # the summary's one reading of a run

    started = time.time()
    wanted = parameters.wanted_time
    row = {"wanted_time_s": wanted, "at_wanted_note": ""}
    record = {"version": __version__, "conditions": {"pKa": parameters.pKa,
                                                     "temperature": parameters.temperature}}
    try:
        solution = solve(parameters, times=None if traces else sorted({0.0, wanted}),
                         fractions=FRACTIONS)
    except SolverFailed as e:
        status = 1
        row.update(ended=f"solver failed ({getattr(e, 'flag', 'error')})", message=str(e),
                   at_wanted_note="solver failed")
    else:
        status = 0
        row.update(ended=solution.stop.code, message="")
        metrics(solution, row)
        record["statistics"] = {k: v for k, v in solution.stats.items() if k != "wall_s"}
        if traces:
            _write_tables(folder, solution)
    row["wall_s"] = time.time() - started
    record["row"] = {k: (None if isinstance(v, float) and math.isnan(v) else v)
                     for k, v in row.items()}
    with replaced_whole(os.path.join(folder, RESULT)) as f:
        json.dump(record, f, indent=1)
        f.write("\n")
    with replaced_whole(os.path.join(folder, rf.EXIT_STATUS)) as f:
        f.write(f"{status}\n")
    return status


def point_row(out: str, entry: dict) -> dict:
    """What a point's folder records for its summary row: the stored row
    and its exit status, or ``not run``.  Raises UnreadableFile (a
    ValueError) for a folder no solve left so."""
    folder = os.path.join(out, entry["folder"])
    status = rf.read_exit_status(folder)
    if status is None:
        return {"ended": "not run", "message": "", "at_wanted_note": "not run"}
    path = os.path.join(folder, RESULT)
    try:
        with open(path, encoding="utf-8") as f:
            stored = json.load(f)["row"]
    except (OSError, UnicodeDecodeError, ValueError, KeyError, TypeError) as e:
        raise rf.UnreadableFile(f"{path} cannot be read: {e}") from None
    if not isinstance(stored, dict):
        raise rf.UnreadableFile(f"{path} holds no summary row")
    return {**stored, "exit_status": status}


def point_solution(out: str, entry: dict, fractions=(0.5, 0.9)):
    """The point solved again (a few milliseconds) from its recorded
    arguments, for a question its stored row does not answer; or, when it
    has no solution, None and why."""
    row = point_row(out, entry)
    if row.get("exit_status") != 0:
        why = row["ended"] + (f": {row['message']}" if row.get("message") else "")
        return None, why
    return solve(entry_parameters(entry), times=[0.0], fractions=fractions), ""


def carry_out(out: str, points, pending, jobs: int, traces: bool, progress, say,
              signals) -> None:
    """Solve the pending points, `jobs` at a time, until they are done or
    `signals` notes a signal (then no further one starts; those going on,
    milliseconds each, end)."""
    meter = Progress([os.path.join(out, p.folder) for p in points], progress) \
        if progress is not None else None
    todo = list(pending)
    told = False
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
        going = set()
        while todo or going:
            while todo and len(going) < max(1, jobs) and not signals.received:
                p = todo.pop(0)
                going.add(pool.submit(solve_point, os.path.join(out, p.folder),
                                      p.parameters, traces))
            if signals.received and not told:
                told = True
                say(f"{signal.Signals(signals.received).name}: no further point is solved")
                todo = []
            done, going = concurrent.futures.wait(going, timeout=0.2,
                                                  return_when=concurrent.futures.FIRST_COMPLETED)
            for future in done:
                future.result()                 # an error writing a folder ends the scan
            if meter:
                meter.update()
    if meter:
        meter.update(final=True)


__all__ = ["carry_out", "check_points", "point_row", "point_solution", "solve_point"]
