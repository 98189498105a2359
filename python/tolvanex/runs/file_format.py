"""What the two output files of a run share: the way numbers are printed,
the run header (enzyme, acceptor, barriers and rate constants) both repeat,
tables kept as text, and the parsing of a file that holds several runs.

Both files are only ever appended to, so one file can hold several runs.
A run that was killed while writing leaves a file cut in the middle of a
row.  Such a row is recognised (too few numbers, a number cut short, or a
row that never got its line end) and dropped with a warning; everything
before it loads as usual.

Numbers are kept as they are written (text), so that a CSV export repeats
them exactly; `Table.column` converts on demand.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from ..errors import InputError, UnreadableInput

BARRIER_LINE = re.compile(
    r"^DeltaG\*\((\d+) ?\) ?= (\S+) \t k(\d+)=(\S+)$")

# printf %e output: d.ddd...e+XX; infinities and NaNs as printf writes them.
_SPECIAL = r"[-+]?(?:inf|nan)"
TIME_NUMBER = re.compile(r"^(?:[-+]?\d\.\d{10}e[-+]\d{2,3}|%s)$" % _SPECIAL)
VALUE_NUMBER = re.compile(r"^(?:[-+]?\d\.\d{5}e[-+]\d{2,3}|%s)$" % _SPECIAL)


class FileFormatError(InputError, ValueError):
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


def read_lines(path: str) -> tuple[list[str], bool]:
    """The file's lines, and whether the last one ended with a line feed."""
    try:
        with open(path, "r", encoding="latin-1", newline="") as f:
            text = f.read()
    except OSError as e:
        raise UnreadableInput.of(e) from None
    lines = text.split("\n")
    terminated = lines[-1] == ""
    if terminated:
        lines.pop()
    return lines, terminated


def header_line(line: str, rh: RunHeader) -> bool:
    s = line.strip()
    if s.startswith("Enzyme="):
        rh.enzyme = float_or_none(s[len("Enzyme="):])
        return True
    if s.startswith("Substrate="):
        rh.substrate = float_or_none(s[len("Substrate="):])
        return True
    m = BARRIER_LINE.match(line)
    if m:
        rh.barriers[int(m.group(1))] = float_or_none(m.group(2))
        rh.rate_constants[int(m.group(3))] = float_or_none(m.group(4))
        return True
    return False


def float_or_none(text: str) -> float | None:
    try:
        return float(text.strip())
    except ValueError:
        return None


def column_labels(line: str) -> list[str]:
    return [c.strip() for c in line.split("\t") if c.strip()]


def parse_runs(path, lines, terminated, starts, warn, parse_run, make_run):
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


class NoSuchRun(InputError, IndexError):
    """A run asked for by a number the file has no run for."""


def select_run(runs: list, number: int | None, path: str = "the file"):
    """Run `number` (1-based; negative counts from the end; None: the last)
    of the runs read from `path`."""
    if number is None:
        number = -1
    if number == 0 or abs(number) > len(runs):
        raise NoSuchRun(f"{path}: run {number} asked for, but it holds "
                        f"{len(runs)} run{'s' if len(runs) != 1 else ''}")
    return runs[number - 1] if number > 0 else runs[number]
