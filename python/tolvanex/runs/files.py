"""Readers for the two files a tolvanex run leaves behind.

The trace file (named by the run's last argument) and flux_analysis.txt are
only ever appended to, so one file can hold several runs:

* a trace-file run starts with its banner line "  tolvanex ", then the run
  parameters, the rate constants, the pH line, the column header and the
  concentration table (one row at time 0 and one per block).  Every row
  starts with its own line feed and ends with a tab and a blank, so the last
  row of a file has no line end.  Organomercurial runs have an 18th column,
  "organic product".  The error lines of a run that met a negative
  concentration stand in the table just before its last row.
* a flux-file run starts with " Flux analysis for run NAME ", then the run
  parameters, the rate constants, a 21-column header (Time, flux1 ... flux39)
  and the table of cumulative net fluxes.  The time-0 row has 21 numbers and
  no line end, so the first block row (20 numbers: time and the totals of
  flux1 ... flux37) continues the time-0 line; every later row stands on its
  own line, which starts with a blank.

A run that was killed while writing leaves a file cut in the middle of a
row.  Such a row is recognised (too few numbers, a number cut short, or a
row that never got its line end) and dropped with a warning; everything
before it loads as usual.

Numbers are kept as they are written (text), so that a CSV export repeats
them exactly; `Table.column` converts on demand.
"""

from __future__ import annotations

import os
import re
from dataclasses import dataclass, field

BANNER = "tolvanex"
FLUX_RUN_LINE = re.compile(r"^ ?Flux analysis for run (.*?) ?$")
BARRIER_LINE = re.compile(
    r"^DeltaG\*\((\d+) ?\) ?= (\S+) \t k(\d+)=(\S+)$")
PH_LINE = re.compile(r"^ pH= (\S+) \t pKa_thiol= (\S+) ?$")
ERROR_LINE = "Error: computations yield negative concentrations"
ELAPSED_LINE = re.compile(r"elapsed time is\s+(\S+)")

# printf %e output: d.ddd...e+XX; infinities and NaNs as printf writes them.
_SPECIAL = r"[-+]?(?:inf|nan)"
TIME_NUMBER = re.compile(r"^(?:[-+]?\d\.\d{10}e[-+]\d{2,3}|%s)$" % _SPECIAL)
VALUE_NUMBER = re.compile(r"^(?:[-+]?\d\.\d{5}e[-+]\d{2,3}|%s)$" % _SPECIAL)
ROW_START = re.compile(r"^\s*[-+]?(?:\d|inf|nan)")

#: The start of the note the trace file holds for each acceptor type.
ACCEPTOR_NOTES = {1: "This run assumes that the Hg-coordinating molecule is MerA",
                  2: "This run assumes that the Hg-coordinating molecule is a dithiol",
                  3: "This run assumes that the Hg-coordinating molecule is a monothiol"}

TRACE_COLUMNS = 17           # Time and 16 species
ORGANIC_LABEL = "organic product"
FLUX_HEADER_COLUMNS = 21     # Time, flux1 ... flux39
FLUX_ROW_COLUMNS = 20        # Time, total_flux1 ... total_flux37


class FileFormatError(Exception):
    """The file holds no run that can be read."""


@dataclass
class Table:
    """A table of numbers as written, one list of strings per row."""

    columns: list[str]
    rows: list[list[str]] = field(default_factory=list)

    def index(self, label: str) -> int:
        try:
            return self.columns.index(label)
        except ValueError:
            raise KeyError(f"no column {label!r}; columns are "
                           + ", ".join(repr(c) for c in self.columns)) from None

    def column(self, label: str) -> list[float]:
        i = self.index(label)
        return [float(row[i]) for row in self.rows]

    def last(self, label: str) -> float:
        return float(self.rows[-1][self.index(label)])


@dataclass
class RunHeader:
    """What both files record about a run before its table."""

    enzyme: float | None = None        # "Enzyme=" (0 in organomercurial mode)
    substrate: float | None = None     # "Substrate=": the acceptor
    barriers: dict[int, float] = field(default_factory=dict)   # kcal/mol
    rate_constants: dict[int, float] = field(default_factory=dict)


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


def _read_lines(path: str) -> tuple[list[str], bool]:
    """The file's lines, and whether the last one ended with a line feed."""
    with open(path, "r", encoding="latin-1", newline="") as f:
        text = f.read()
    lines = text.split("\n")
    terminated = lines[-1] == ""
    if terminated:
        lines.pop()
    return lines, terminated


def _header_line(line: str, rh: RunHeader) -> bool:
    s = line.strip()
    if s.startswith("Enzyme="):
        rh.enzyme = _float_or_none(s[len("Enzyme="):])
        return True
    if s.startswith("Substrate="):
        rh.substrate = _float_or_none(s[len("Substrate="):])
        return True
    m = BARRIER_LINE.match(line)
    if m:
        rh.barriers[int(m.group(1))] = _float_or_none(m.group(2))
        rh.rate_constants[int(m.group(3))] = _float_or_none(m.group(4))
        return True
    return False


def _float_or_none(text: str) -> float | None:
    try:
        return float(text.strip())
    except ValueError:
        return None


def _labels(line: str) -> list[str]:
    return [c.strip() for c in line.split("\t") if c.strip()]


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


def _flux_row_ok(tokens: list[str], ncols: int) -> bool:
    return (len(tokens) == ncols and TIME_NUMBER.match(tokens[0]) is not None
            and all(VALUE_NUMBER.match(t) for t in tokens[1:]))


def _parse_runs(path, lines, terminated, starts, warn, parse_run, make_run):
    """The runs that begin at the line numbers in `starts`, each parsed up to
    the next; only the last one can be cut off by an interrupted write."""
    runs = []
    for number, start in enumerate(starts, start=1):
        end = starts[number] if number < len(starts) else len(lines)
        run = make_run(number, start)
        parse_run(path, lines, start + 1, end,
                  last_is_open=(end == len(lines) and not terminated), run=run, warn=warn)
        runs.append(run)
    return runs


def read_trace(path: str, warn=None) -> list[TraceRun]:
    """All runs of a trace file, in the order they were written.

    `warn` is called with a message for every incomplete row dropped and
    every line that does not belong to the format."""
    warn = warn or (lambda message: None)
    lines, terminated = _read_lines(path)
    starts = [i for i, line in enumerate(lines) if line.strip() == BANNER]
    if not starts:
        raise FileFormatError(f"{path}: no run found (no '{BANNER}' banner line)")
    if any(line.strip() for line in lines[:starts[0]]):
        warn(f"{path}: text before the first run's banner ignored")
    return _parse_runs(path, lines, terminated, starts, warn, _parse_trace_run,
                       lambda number, start: TraceRun(number=number, first_line=start + 1,
                                                      header=RunHeader(), table=None))


def _parse_trace_run(path, lines, begin, end, last_is_open, run, warn):
    i = begin
    while i < end and run.table is None:
        line = lines[i]
        s = line.strip()
        if _header_line(line, run.header):
            pass
        elif s.startswith("This run assumes"):
            run.notes.append(s)
        elif s.startswith("The bimolecular steps"):
            run.notes.append(s)
        elif PH_LINE.match(line):
            m = PH_LINE.match(line)
            run.pH, run.pKa_thiol = _float_or_none(m.group(1)), _float_or_none(m.group(2))
        elif s.startswith("Time") and "\t" in line:
            labels = _labels(line)
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
            run.error_time = _float_or_none(m.group(1))
            continue
        warn(f"{path}: run {run.number}: line {j + 1} is not part of the table,"
             " ignored")


def read_flux(path: str, warn=None) -> list[FluxRun]:
    """All runs of a flux file (flux_analysis.txt), in the order written."""
    warn = warn or (lambda message: None)
    lines, terminated = _read_lines(path)
    starts = [i for i, line in enumerate(lines) if FLUX_RUN_LINE.match(line)]
    if not starts:
        raise FileFormatError(f"{path}: no run found (no 'Flux analysis for run' line)")
    if any(line.strip() for line in lines[:starts[0]]):
        warn(f"{path}: text before the first 'Flux analysis for run' line ignored")
    return _parse_runs(path, lines, terminated, starts, warn, _parse_flux_run,
                       lambda number, start: FluxRun(
                           number=number, first_line=start + 1,
                           trace_name=FLUX_RUN_LINE.match(lines[start]).group(1),
                           header=RunHeader(), table=None))


def _parse_flux_run(path, lines, begin, end, last_is_open, run, warn):
    i = begin
    while i < end and run.table is None:
        line = lines[i]
        s = line.strip()
        if _header_line(line, run.header):
            pass
        elif s.startswith("Time") and "flux1" in line:
            labels = _labels(line)
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


def select_run(runs: list, number: int | None):
    """Run `number` (1-based; negative counts from the end; None: the last)."""
    if number is None:
        number = -1
    if number == 0 or abs(number) > len(runs):
        raise IndexError(f"run {number} asked for, but the file holds "
                         f"{len(runs)} run{'s' if len(runs) != 1 else ''}")
    return runs[number - 1] if number > 0 else runs[number]


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
