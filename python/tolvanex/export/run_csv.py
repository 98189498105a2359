"""CSV of a run's tables: one header line naming each column with its unit,
then the rows with every number exactly as the file has it.

Trace tables get ``time_s`` and one column per species by the programs'
labels with ``_mol_per_L`` (`tolvanex.model.species.column_name`), the product
named by what it is for the run's acceptor type (``P_HgMerA_mol_per_L``).
Flux tables get ``time_s`` and ``total_flux1_mol_per_L`` ...
``total_flux37_mol_per_L``, the cumulative net fluxes.  ``raw_labels``
keeps the files' own column labels instead (``Time``, ``HgMerB``,
``Anionic  Int1`` with its two blanks, ``flux1`` ...), as earlier versions
wrote them.

>>> from tolvanex.runs.file_format import Table
>>> trace_header(Table(["Time", "HgMerB", "Anionic  Int1", "Hg(SCH3)2"]), acceptor_type=2)
['time_s', 'A_mol_per_L', 'D_mol_per_L', 'P_Hg_dithiol_mol_per_L']
>>> flux_header(Table(["Time", "flux1", "flux37"]))
['time_s', 'total_flux1_mol_per_L', 'total_flux37_mol_per_L']
"""

from __future__ import annotations

import csv
import re
import sys

from ..atomic import replaced_whole
from ..model.species import LABEL_OF_TRACE_COLUMN, column_name
from ..runs.file_format import Table
from ..runs.flux_file import FluxRun
from ..runs.trace_file import TraceRun

TIME_COLUMN = "time_s"


def _plain(label: str) -> str:
    """A label the tables do not know, as a column name: words joined by _."""
    return "_".join(w for w in re.split(r"[^A-Za-z0-9]+", label) if w)


def trace_header(table: Table, acceptor_type=None) -> list[str]:
    """The CSV header of a concentration table (columns as the trace file
    labels them, "Time" first)."""
    return [TIME_COLUMN] + [
        column_name(LABEL_OF_TRACE_COLUMN[c], acceptor_type) if c in LABEL_OF_TRACE_COLUMN
        else _plain(c) + "_mol_per_L" for c in table.columns[1:]]


def flux_header(table: Table) -> list[str]:
    """The CSV header of a flux table (Time, flux1, flux3 ... flux37)."""
    return [TIME_COLUMN] + [f"total_{_plain(c)}_mol_per_L" for c in table.columns[1:]]


def write_csv(header: list[str], rows: list[list[str]], out: str) -> None:
    """The header line, then the rows; `out` "-" is standard output, a file
    is written whole or not at all (`tolvanex.atomic`)."""
    def write(f):
        w = csv.writer(f, lineterminator="\n")
        w.writerow(header)
        w.writerows(rows)
    if out == "-":
        write(sys.stdout)
        return
    with replaced_whole(out) as f:
        write(f)


def write_trace_csv(run: TraceRun, out: str, raw_labels: bool = False,
                    acceptor_type=None) -> None:
    """The concentration table of a trace-file run as CSV.  The product is
    named for `acceptor_type`, by default the type the run's note names.

    >>> from tolvanex.runs.trace_file import read_trace
    >>> run = read_trace("run/mera/mera.trace")[-1]       # doctest: +SKIP
    >>> write_trace_csv(run, "-")                                # doctest: +SKIP
    time_s,A_mol_per_L,S_mol_per_L,C_mol_per_L,...,P_HgMerA_mol_per_L,Q_mol_per_L
    0.0000000000e+00,1.00000e-06,1.00000e-03,0.00000e+00,...
    """
    if acceptor_type is None:
        acceptor_type = run.acceptor_type
    header = run.table.columns if raw_labels else trace_header(run.table, acceptor_type)
    write_csv(header, run.rows, out)


def write_flux_csv(run: FluxRun, out: str, raw_labels: bool = False) -> None:
    """The cumulative net fluxes of a flux-file run as CSV (flux39, which has
    a value in the time-0 row only, is left out).

    >>> write_flux_csv(read_flux("run/mera/flux_analysis.txt")[-1], "-")  # doctest: +SKIP
    time_s,total_flux1_mol_per_L,total_flux3_mol_per_L,...,total_flux37_mol_per_L
    0.0000000000e+00,0.00000e+00,...
    """
    header = run.table.columns if raw_labels else flux_header(run.table)
    write_csv(header, run.rows, out)


def solution_frame(solution, fluxes: bool = False):
    """A `tolvanex.Solution`'s table with a CSV's column names: the species
    of a trace file (``A_mol_per_L`` ..., the product named for the acceptor
    type; apoMerB for O1 + O2 + O3), or with `fluxes` the cumulative net
    fluxes (``total_flux1_mol_per_L`` ...); index ``time_s``.

    >>> import tolvanex
    >>> s = tolvanex.solve(tolvanex.Parameters.read("examples/mera.args"), end=0.1)  # doctest: +SKIP
    >>> list(solution_frame(s).columns[:2]), solution_frame(s).index.name   # doctest: +SKIP
    (['A_mol_per_L', 'S_mol_per_L'], 'time_s')
    """
    if fluxes:
        frame = solution.fluxes.copy()
        frame.columns = [f"{c}_mol_per_L" for c in frame.columns]
        return frame
    kept = [c for c in solution.trace.columns if c in LABEL_OF_TRACE_COLUMN.values()]
    frame = solution.trace[kept].copy()
    frame.columns = [column_name(c, solution.parameters.acceptor_type) for c in kept]
    return frame


def write_frame_csv(frame, out) -> None:
    """A table with its index (``time_s``) as CSV, numbers to 12 digits;
    `out` a path, an open file, or "-" for standard output."""
    if out == "-":
        out = sys.stdout
    frame.to_csv(out, index_label=TIME_COLUMN, lineterminator="\n", float_format="%.12g")
