"""The reader of a trace file (named by a run's last argument).

A trace-file run starts with its banner line "  tolvanex ", then the run
parameters, the rate constants, the pH line, the column header and the
concentration table (one row at time 0 and one per block).  Every row
starts with its own line feed and ends with a tab and a blank, so the last
row of a file has no line end.  Organomercurial runs have an 18th column,
"organic product".  The error lines of a run that met a negative
concentration stand in the table just before its last row.  A file can
hold several runs, and a killed run's last row can be cut short
(`tolvanex.runs.file_format`).
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field

from .file_format import (TIME_NUMBER, VALUE_NUMBER, FileFormatError, RunHeader, Table,
                          column_labels, float_or_none, header_line, parse_runs, read_lines)

BANNER = "tolvanex"
PH_LINE = re.compile(r"^ pH= (\S+) \t pKa_thiol= (\S+) ?$")
ERROR_LINE = "Error: computations yield negative concentrations"
ELAPSED_LINE = re.compile(r"elapsed time is\s+(\S+)")
ROW_START = re.compile(r"^\s*[-+]?(?:\d|inf|nan)")

#: The start of the note the trace file holds for each acceptor type.
ACCEPTOR_NOTES = {1: "This run assumes that the Hg-coordinating molecule is MerA",
                  2: "This run assumes that the Hg-coordinating molecule is a dithiol",
                  3: "This run assumes that the Hg-coordinating molecule is a monothiol"}

TRACE_COLUMNS = 17           # Time and 16 species
ORGANIC_LABEL = "organic product"


@dataclass
class TraceRun:
    number: int                        # 1 for the first run in the file
    first_line: int                    # line number of the banner (1-based)
    header: RunHeader
    table: Table | None                # None if the run stops before its header
    notes: list[str] = field(default_factory=list)   # molecule-type notes
    pH: float | None = None
    pKa_thiol: float | None = None
    error: str | None = None           # the negative-concentration error line
    error_time: float | None = None
    dropped_rows: int = 0              # incomplete rows left out

    @property
    def organomercurial(self) -> bool:
        return self.table is not None and ORGANIC_LABEL in self.table.columns

    @property
    def rows(self) -> list[list[str]]:
        return self.table.rows if self.table else []

    @property
    def acceptor_type(self) -> int | None:
        """1 (MerA), 2 (dithiol) or 3 (monothiol), by the run's note on the
        acceptor; None when it has none, as for a type with no acceptor
        chemistry (the programs write a note for these three only)."""
        for note in self.notes:
            for number, words in ACCEPTOR_NOTES.items():
                if note.startswith(words):
                    return number
        return None


def _trace_row_ok(tokens: list[str], ncols: int) -> bool:
    if len(tokens) != ncols:
        return False
    if not TIME_NUMBER.match(tokens[0]):
        return False
    for i, t in enumerate(tokens[1:], start=1):
        pattern = TIME_NUMBER if i == TRACE_COLUMNS else VALUE_NUMBER
        if not pattern.match(t):
            return False
    return True


def read_trace(path: str, warn=None) -> list[TraceRun]:
    """All runs of a trace file, in the order they were written.

    `warn` is called with a message for every incomplete row dropped and
    every line that does not belong to the format."""
    warn = warn or (lambda message: None)
    lines, terminated = read_lines(path)
    starts = [i for i, line in enumerate(lines) if line.strip() == BANNER]
    if not starts:
        raise FileFormatError(f"{path}: no run found (no '{BANNER}' banner line)")
    if any(line.strip() for line in lines[:starts[0]]):
        warn(f"{path}: text before the first run's banner ignored")
    return parse_runs(path, lines, terminated, starts, warn, _parse_trace_run,
                       lambda number, start: TraceRun(number=number, first_line=start + 1,
                                                      header=RunHeader(), table=None))


def _parse_trace_run(path, lines, begin, end, last_is_open, run, warn):
    i = begin
    while i < end and run.table is None:
        line = lines[i]
        s = line.strip()
        if header_line(line, run.header):
            pass
        elif s.startswith("This run assumes"):
            run.notes.append(s)
        elif s.startswith("The bimolecular steps"):
            run.notes.append(s)
        elif PH_LINE.match(line):
            m = PH_LINE.match(line)
            run.pH, run.pKa_thiol = float_or_none(m.group(1)), float_or_none(m.group(2))
        elif s.startswith("Time") and "\t" in line:
            labels = column_labels(line)
            complete = (len(labels) == TRACE_COLUMNS
                        and (i + 1 < end or not last_is_open)) or \
                       (len(labels) == TRACE_COLUMNS + 1 and labels[-1] == ORGANIC_LABEL)
            if not complete:
                warn(f"{path}: run {run.number} ends inside its column header"
                     " (interrupted run?)")
                return
            run.table = Table(columns=labels)
        i += 1
    if run.table is None:
        if end > begin:
            warn(f"{path}: run {run.number} has no concentration table"
                 " (interrupted run?)")
        return
    ncols = len(run.table.columns)
    for j in range(i, end):
        line = lines[j]
        s = line.strip()
        if not s:
            continue
        if ROW_START.match(line):
            tokens = line.split()
            # A row is complete once the blank after its last number is
            # written; a row cut short lacks it, or has too few numbers, or
            # a number cut short.
            if _trace_row_ok(tokens, ncols) and line[-1] in " \t":
                run.table.rows.append(tokens)
            else:
                run.dropped_rows += 1
                warn(f"{path}: run {run.number}: incomplete row at line {j + 1}"
                     " dropped (interrupted run?)")
            continue
        if ERROR_LINE in line:
            run.error = s
            continue
        m = ELAPSED_LINE.search(line)
        if m and run.error is not None:
            run.error_time = float_or_none(m.group(1))
            continue
        warn(f"{path}: run {run.number}: line {j + 1} is not part of the table,"
             " ignored")
