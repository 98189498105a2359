"""The tables of a trace file and a flux file as pandas DataFrames.

Time in seconds is the index (``time_s``); a trace table has one column per
species under the programs' labels (`tolvanex.model.species`: A, S, C ... apoMerB,
P, Q and, in organomercurial mode, organic), a flux table the cumulative net
fluxes ``total_flux1`` ... ``total_flux37``.  Every value is in mol/L.

>>> from tolvanex.runs.file_format import Table
>>> trace_frame(Table(["Time", "HgMerB", "Hg(SCH3)2"], [["0.0", "1e-6", "0"], ["2.5", "4e-7", "6e-7"]]))
                   A             P
time_s
0.0     1.000000e-06  0.000000e+00
2.5     4.000000e-07  6.000000e-07
"""

from __future__ import annotations

import numpy as np
import pandas as pd

from .file_format import Table
from ..model.species import LABEL_OF_TRACE_COLUMN

#: The unit of every column of the trace and flux DataFrames.
UNITS = {"time_s": "s", "concentrations": "mol/L", "total_flux": "mol/L"}


def _numbers(table: Table) -> np.ndarray:
    return np.array([[float(x) for x in row] for row in table.rows], dtype=float).reshape(
        len(table.rows), len(table.columns))


def trace_frame(table: Table) -> pd.DataFrame:
    """The concentration table, columns named by the species' labels."""
    values = _numbers(table)
    columns = [LABEL_OF_TRACE_COLUMN.get(c, c) for c in table.columns[1:]]
    return pd.DataFrame(values[:, 1:], columns=columns,
                        index=pd.Index(values[:, 0], name="time_s"))


def flux_frame(table: Table) -> pd.DataFrame:
    """The cumulative net fluxes, columns total_flux1 ... total_flux37."""
    values = _numbers(table)
    columns = ["total_" + c for c in table.columns[1:]]
    return pd.DataFrame(values[:, 1:], columns=columns,
                        index=pd.Index(values[:, 0], name="time_s"))
