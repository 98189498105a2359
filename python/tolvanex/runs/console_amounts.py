"""The amounts of every species at the end of every block, as the console
report prints them: the trace file has no column for O1, O2, O3, MerB, ES
and PHMB, the console has each in a change line ``dX= ... \\t X= VALUE``
after the block's ``time = T`` line (six significant digits, mol/L).

>>> text = ("\\n time = 1.0000000000e-05 \\n dMerB= -1.0e-12 \\t MerB= 9.90000e-07 \\n "
...         "dA= 1.0e-12 \\t A= 1.00000e-08 \\n flux1= 0.0 \\t total_flux1=0.0\\n ")
>>> block_amounts(text).to_dict("index")
{1e-05: {'MerB': 9.9e-07, 'A': 1e-08}}
"""

from __future__ import annotations

import re

import pandas as pd

BLOCK_START = re.compile(r"\n time = (\S+) \n ")
CHANGE_LINE = re.compile(r"\bd(\w+)= \S+ \t (\w+)= (\S+) \n ")


def block_amounts(text: str) -> pd.DataFrame:
    """One row per block report (index ``time_s``), one column per species
    the reports print (mol/L); empty when there is none."""
    starts = list(BLOCK_START.finditer(text))
    rows, times = [], []
    for k, start in enumerate(starts):
        end = starts[k + 1].start() if k + 1 < len(starts) else len(text)
        chunk = text[start.end():end]
        stop = chunk.find("flux1=")
        row = {}
        for m in CHANGE_LINE.finditer(chunk, 0, stop if stop >= 0 else len(chunk)):
            if m.group(1) == m.group(2):
                row[m.group(1)] = float(m.group(3))
        if row:
            rows.append(row)
            times.append(float(start.group(1)))
    return pd.DataFrame(rows, index=pd.Index(times, name="time_s"))
