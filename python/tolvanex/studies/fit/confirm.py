"""The confirmation run: the chosen program at the fitted barriers of a data
set, its observables at the data times set against the fitted curve.

The run's wanted time is the data's last time (the fitted arguments keep
their own); a run that stops earlier (converted, P stable) is compared up
to where it got.  Its values between rows come from `Run.at`.  The
deviation is the largest |program - fitted curve| as a fraction of the
enzyme amount; ``tolvanex_unpruned`` follows the rate equations to about
1e-5 of it at its rows and 3e-5 to 5e-5 between rows (2e-4 early in the
organomercurial example), ``tolvanex``, which drops backward net fluxes,
can be far off (docs/accuracy.md).
"""

from __future__ import annotations

import math
from typing import NamedTuple

import numpy as np

from ...runs.run import RunError, run

#: Above this deviation (of the enzyme amount) the report points it out.
NOTED = 1e-3
#: Species a run's trace has no column for.
CONSOLE_ONLY = ("O1", "O2", "O3", "MerB", "ES", "PHMB")


class Confirmation(NamedTuple):
    program: str
    folder: str
    deviation: float          # fraction of the enzyme amount; NaN when nothing compared
    at_time: float
    observable: str
    compared: int             # points compared
    note: str
    failed: bool = False      # the run ended with a non-zero status


def confirm(parameters, data_set, fitted_curve, program: str, folder: str) -> Confirmation:
    """Run `program` on `parameters` (the fitted arguments) in `folder` and
    compare with `fitted_curve` (data times x observables, fractions)."""
    last = float(data_set.times[-1])
    try:
        r = run(parameters.replace(wanted_time=repr(last)), program=program, folder=folder)
    except RunError as e:
        return Confirmation(program, folder, math.nan, math.nan, "", 0, f"the run failed: {e}",
                            failed=True)
    notes = []
    inside = data_set.times <= r.end_time
    if not inside.all():
        notes.append(f"the run stopped at {r.end_time:.6g} s ({r.stop.code}); "
                     f"{int((~inside).sum())} later time(s) not compared")
    worst, at, which, compared = 0.0, math.nan, "", 0
    times = data_set.times[inside]
    values = r.at(times) if times.size else None
    for k, o in enumerate(data_set.observables):
        if o.label in CONSOLE_ONLY:
            notes.append(f"{o.column}: the trace file has no column for {o.label}")
            continue
        if values is None:
            continue
        program_values = values[o.label].to_numpy() / parameters.enzyme
        gap = np.abs(program_values - fitted_curve[inside, k])
        compared += gap.size
        j = int(np.argmax(gap))
        if gap[j] >= worst:
            worst, at, which = float(gap[j]), float(times[j]), o.column
    if compared == 0:
        worst = math.nan
    elif worst > NOTED:
        notes.append(f"the program is {worst:.2g} of the enzyme amount from the exact curve, "
                     "more than its usual error (docs/accuracy.md)")
    return Confirmation(program, folder, worst, at, which, compared, "; ".join(notes))
