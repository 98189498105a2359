"""What a picture of a run shows, decided before anything is drawn: the file
format (from the name's extension), the resolution, the species chosen and
the title.

>>> output_format("run/mera.PDF"), output_format("fig.svg")
('pdf', 'svg')
"""

from __future__ import annotations

import math
import os

from ..errors import InvalidValue
from ..model.parameters import ACCEPTOR_TYPES
from ..model.species import LABEL_OF_TRACE_COLUMN
from ..runs.trace_file import TraceRun

FORMATS = ("png", "svg", "pdf")
DPI_RANGE = (10, 1200)      # beyond 1200 dpi a PNG of this size takes gigabytes


def output_format(path: str) -> str:
    """The format of the picture `path` names: png, svg or pdf, by its
    extension (case aside); any other name is refused."""
    ext = os.path.splitext(path)[1].lower().lstrip(".")
    if ext not in FORMATS:
        raise InvalidValue(f"{path}: a picture is written as PNG, SVG or PDF; give a name "
                         "ending in .png, .svg or .pdf")
    return ext


def check_output(path: str) -> str:
    """The format of `path`, after checking that its folder exists."""
    fmt = output_format(path)
    folder = os.path.dirname(path)
    if folder and not os.path.isdir(folder):
        raise InvalidValue(f"cannot write {path}: there is no folder {folder}")
    return fmt


def check_dpi(dpi) -> float:
    """The resolution of a PNG in dots per inch, checked (None: 100).

    >>> check_dpi(None), check_dpi(300)
    (100.0, 300.0)
    """
    value = 100.0 if dpi is None else float(dpi)
    if not (math.isfinite(value) and DPI_RANGE[0] <= value <= DPI_RANGE[1]):
        raise InvalidValue(f"dpi {dpi}: give a resolution from {DPI_RANGE[0]} to "
                         f"{DPI_RANGE[1]} dots per inch")
    return value


def chosen_columns(species, columns: list[str]) -> list[str]:
    """The trace-file columns of the species named in `species` (labels of
    `tolvanex.model.species`, case aside, as a list or as "A,P,apoMerB"), in the
    table's order; None or "" chooses every column but Time.

    >>> cols = ["Time", "HgMerB", "Thiol", "Int1", "apoMerB", "Hg(SCH3)2"]
    >>> chosen_columns("p, a", cols)
    ['HgMerB', 'Hg(SCH3)2']
    """
    present = {LABEL_OF_TRACE_COLUMN[c]: c for c in columns[1:] if c in LABEL_OF_TRACE_COLUMN}
    if not species:
        return list(columns[1:])
    names = species.split(",") if isinstance(species, str) else list(species)
    names = [n.strip() for n in names if n.strip()]
    if not names:
        raise InvalidValue("no species named; give labels such as A,P,apoMerB")
    by_lower = {label.lower(): label for label in present}
    chosen = set()
    for name in names:
        label = by_lower.get(name.lower())
        if label is None:
            raise InvalidValue(f"no species {name!r} in this run; its species are "
                             + ", ".join(present))
        chosen.add(present[label])
    return [c for c in columns[1:] if c in chosen]


def acceptor_words(run: TraceRun, acceptor_type=None) -> str:
    """How the acceptor is named in a title: its type (from `acceptor_type`
    when the run's arguments are known, else from the run's note on it).

    >>> acceptor_words(TraceRun(1, 1, None, None), 3)
    'monothiol acceptor'
    >>> acceptor_words(TraceRun(1, 1, None, None), 4)
    'acceptor of no known type (no acceptor chemistry)'
    """
    if acceptor_type is None:
        number = run.acceptor_type
    else:
        number = float(acceptor_type)
        number = int(number) if number in ACCEPTOR_TYPES else None
    if number is None:
        return "acceptor of no known type (no acceptor chemistry)"
    return f"{ACCEPTOR_TYPES[number]} acceptor"


def enzyme_of(run: TraceRun) -> float | None:
    """The enzyme amount a trace-file run records: HgMerB at time 0 (None
    in organomercurial mode, which starts without it)."""
    try:
        a0 = float(run.table.rows[0][run.table.index("HgMerB")])
    except (AttributeError, IndexError, ValueError):
        return None
    return a0 if a0 > 0 else None


def concentration(value: float) -> str:
    """A concentration in mol/L written for a reader, in M, mM, µM, nM or pM.

    >>> concentration(1e-3), concentration(2.5e-6), concentration(0.0)
    ('1 mM', '2.5 µM', '0 M')
    """
    for unit, scale in (("M", 1.0), ("mM", 1e-3), ("µM", 1e-6), ("nM", 1e-9)):
        if abs(value) >= scale or value == 0:
            return f"{value / scale:.3g} {unit}"
    return f"{value / 1e-12:.3g} pM"


def title(trace_path: str, run: TraceRun, runs_in_file: int, program: str | None = None,
          acceptor_type=None) -> str:
    """Two lines: the file, the run and the program that made it ("program
    not recorded" when its run folder does not say); the acceptor's type and
    amount, the enzyme amount and the pH.

    >>> from tolvanex.runs.file_format import RunHeader
    >>> run = TraceRun(2, 60, RunHeader(enzyme=1e-6, substrate=1e-3), None, pH=7.0)
    >>> print(title("run/mera.trace", run, 2, "/opt/bin/tolvanex_unpruned", acceptor_type=1))
    mera.trace, run 2 of 2 — tolvanex_unpruned
    MerA acceptor 1 mM, HgMerB 1 µM, pH 7
    """
    first = os.path.basename(trace_path)
    if runs_in_file > 1:
        first += f", run {run.number} of {runs_in_file}"
    first += " — " + (os.path.basename(program) if program else "program not recorded")
    words = [acceptor_words(run, acceptor_type)]
    if run.header.substrate is not None:
        words[0] += " " + concentration(run.header.substrate)
    if run.organomercurial:
        words.append("organomercurial mode (MerB binds and splits PHMB)")
    elif run.header.enzyme is not None:
        words.append("HgMerB " + concentration(run.header.enzyme))
    if run.pH is not None:
        words.append(f"pH {run.pH:g}")
    return first + "\n" + ", ".join(words)
