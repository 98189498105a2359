"""The reader of flux_analysis.txt, and the pairing of its runs with those of
a trace file.

A flux-file run starts with " Flux analysis for run NAME ", then the run
parameters, the rate constants, a 21-column header (Time, flux1 ... flux39)
and the table of cumulative net fluxes.  The time-0 row has 21 numbers and
no line end, so the first block row (20 numbers: time and the totals of
flux1 ... flux37) continues the time-0 line; every later row stands on its
own line, which starts with a blank.  A file can hold several runs, and a
killed run's last row can be cut short (`tolvanex.runs.file_format`).
"""

from __future__ import annotations

import os
import re
from dataclasses import dataclass

from .file_format import (TIME_NUMBER, VALUE_NUMBER, FileFormatError, RunHeader, Table,
                          column_labels, header_line, parse_runs, read_lines)
from .trace_file import TraceRun

FLUX_RUN_LINE = re.compile(r"^ ?Flux analysis for run (.*?) ?$")
FLUX_HEADER_COLUMNS = 21     # Time, flux1 ... flux39
FLUX_ROW_COLUMNS = 20        # Time, total_flux1 ... total_flux37


@dataclass
class FluxRun:
    number: int
    first_line: int
    trace_name: str                    # the trace file named by the run line
    header: RunHeader
    table: Table | None                # Time and flux1 ... flux37
    flux39_at_time0: str | None = None
    dropped_rows: int = 0

    @property
    def rows(self) -> list[list[str]]:
        return self.table.rows if self.table else []


def _flux_row_ok(tokens: list[str], ncols: int) -> bool:
    return (len(tokens) == ncols and TIME_NUMBER.match(tokens[0]) is not None
            and all(VALUE_NUMBER.match(t) for t in tokens[1:]))


def read_flux(path: str, warn=None) -> list[FluxRun]:
    """All runs of a flux file (flux_analysis.txt), in the order written."""
    warn = warn or (lambda message: None)
    lines, terminated = read_lines(path)
    starts = [i for i, line in enumerate(lines) if FLUX_RUN_LINE.match(line)]
    if not starts:
        raise FileFormatError(f"{path}: no run found (no 'Flux analysis for run' line)")
    if any(line.strip() for line in lines[:starts[0]]):
        warn(f"{path}: text before the first 'Flux analysis for run' line ignored")
    return parse_runs(path, lines, terminated, starts, warn, _parse_flux_run,
                       lambda number, start: FluxRun(
                           number=number, first_line=start + 1,
                           trace_name=FLUX_RUN_LINE.match(lines[start]).group(1),
                           header=RunHeader(), table=None))


def _parse_flux_run(path, lines, begin, end, last_is_open, run, warn):
    i = begin
    while i < end and run.table is None:
        line = lines[i]
        s = line.strip()
        if header_line(line, run.header):
            pass
        elif s.startswith("Time") and "flux1" in line:
            labels = column_labels(line)
            if len(labels) != FLUX_HEADER_COLUMNS or (i + 1 >= end and last_is_open):
                warn(f"{path}: run {run.number} ends inside its column header"
                     " (interrupted run?)")
                return
            run.table = Table(columns=labels[:FLUX_ROW_COLUMNS])
        i += 1
    if run.table is None:
        if end > begin:
            warn(f"{path}: run {run.number} has no flux table (interrupted run?)")
        return
    first = True
    for j in range(i, end):
        line = lines[j]
        if not line.strip():
            continue
        tokens = line.split()
        is_open_end = (j == end - 1 and last_is_open)
        if first:
            first = False
            zero, tokens = tokens[:FLUX_HEADER_COLUMNS], tokens[FLUX_HEADER_COLUMNS:]
            # The time-0 row has no line end of its own; it is complete once
            # its 21 numbers and the blank after the last one are there.
            zero_complete = _flux_row_ok(zero, FLUX_HEADER_COLUMNS) and (
                bool(tokens) or line[-1] in " \t" or not is_open_end)
            if not zero_complete:
                run.dropped_rows += 1
                warn(f"{path}: run {run.number}: incomplete time-0 row at line"
                     f" {j + 1} dropped (interrupted run?)")
                continue
            run.table.rows.append(zero[:FLUX_ROW_COLUMNS])
            run.flux39_at_time0 = zero[FLUX_ROW_COLUMNS]
            if not tokens:
                continue
        # A block row is complete once its line feed has been written.
        if _flux_row_ok(tokens, FLUX_ROW_COLUMNS) and not is_open_end:
            run.table.rows.append(tokens)
        else:
            run.dropped_rows += 1
            warn(f"{path}: run {run.number}: incomplete row at line {j + 1}"
                 " dropped (interrupted run?)")


def matching_flux_run(trace_path: str, trace_run: TraceRun,
                      trace_runs: list[TraceRun], flux_runs: list[FluxRun],
                      warn=None) -> FluxRun | None:
    """The flux-file run that belongs to a trace-file run.

    Flux runs whose run line names the trace file (by its name as typed or
    its base name) are paired with the trace file's runs in order; a pair is
    accepted when the times of their rows agree (both files print them the
    same way).  Failing that, any flux run whose times agree is taken."""
    warn = warn or (lambda message: None)
    base = os.path.basename(trace_path)
    named = [f for f in flux_runs
             if f.trace_name == trace_path or os.path.basename(f.trace_name) == base]

    def times_agree(f: FluxRun) -> bool:
        a = [r[0] for r in trace_run.rows]
        b = [r[0] for r in f.rows]
        n = min(len(a), len(b))
        return n > 0 and a[:n] == b[:n]

    position = trace_run.number - 1
    if len(named) == len(trace_runs) and times_agree(named[position]):
        return named[position]
    for f in reversed(named):
        if times_agree(f):
            return f
    for f in reversed(flux_runs):
        if times_agree(f):
            warn(f"flux run {f.number} names {f.trace_name!r}, not {base!r}, "
                 "but its times match; using it")
            return f
    return None



def flux_mismatch(trace_run: TraceRun, flux_run: FluxRun) -> str | None:
    """Why a flux-file run cannot belong to a trace-file run, or None.

    Both files get one row per block with the time printed the same way, so
    the flux run's times must be the trace run's (the shorter table a start
    of the longer, for a file cut short), and never go backwards.

    >>> t = TraceRun(1, 1, RunHeader(), Table(["Time"], [["0.0"], ["1.0"], ["2.0"]]))
    >>> f = FluxRun(1, 1, "x", RunHeader(), Table(["Time"], [["0.0"], ["1.0"], ["0.5"]]))
    >>> flux_mismatch(t, f)
    'its time goes backwards at row 3 (1.0 s, then 0.5 s)'
    """
    times = [float(r[0]) for r in flux_run.rows]
    for k in range(1, len(times)):
        if times[k] < times[k - 1]:
            return (f"its time goes backwards at row {k + 1} ({flux_run.rows[k - 1][0]} s,"
                    f" then {flux_run.rows[k][0]} s)")
    for k, (a, b) in enumerate(zip(trace_run.rows, flux_run.rows)):
        if a[0] != b[0]:
            return (f"its row {k + 1} is at {b[0]} s where the trace run's is at {a[0]} s")
    return None
