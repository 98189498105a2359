"""How accurate values between rows are: leave every other row out,
interpolate the left-out rows from the others, and compare.

Interpolating across two blocks instead of one doubles the gaps, so the
errors found this way are an upper estimate of those between real rows.

    /usr/bin/python3 -m tolvanex.studies.accuracy [examples/*.args]   (from the project root)

prints the table of ``docs/accuracy.md``.

>>> import pandas as pd
>>> trace = pd.DataFrame({"P": [0.0, 0.1, 0.2, 0.3, 0.4]}, index=[0.0, 1.0, 2.0, 4.0, 8.0])
>>> round(leave_every_other_out(trace, 1.0)["P_error"], 12)
0.0
"""

from __future__ import annotations

import math

import numpy as np

from ..runs.values import Interpolant, time_to


def leave_every_other_out(trace, enzyme: float) -> dict:
    """Errors of the interpolant built on rows 0, 2, 4, ... (and the last) at
    the rows left out, as fractions of `enzyme`: the largest for P
    (``P_error``, at ``P_error_time``) and for any species (``any_error``,
    ``any_species``); t50 and t90 from all rows and from half of them."""
    t = trace.index.to_numpy(dtype=float)
    values = trace.to_numpy(dtype=float)
    keep = list(range(0, len(t), 2))
    if keep[-1] != len(t) - 1:
        keep.append(len(t) - 1)
    left = [k for k in range(len(t)) if k not in set(keep)]
    out = {"rows": len(t), "P_error": 0.0, "P_error_time": math.nan, "any_error": 0.0,
           "any_species": ""}
    guess = Interpolant(t[keep], values[keep])(t[left]) if left else np.empty((0, 1))
    resolved = np.isfinite(guess).all(axis=1)     # none before the first row kept
    guess, left = guess[resolved], [k for k, r in zip(left, resolved) if r]
    if left:
        errors = np.abs(guess - values[left]) / enzyme
        p = list(trace.columns).index("P")
        worst = int(np.argmax(errors[:, p]))
        out.update(P_error=float(errors[worst, p]), P_error_time=float(t[left][worst]))
        flat = int(np.argmax(errors.max(axis=0)))
        out.update(any_error=float(errors[:, flat].max()), any_species=trace.columns[flat])
    product = trace["P"].to_numpy(dtype=float)
    for fraction in (0.5, 0.9):
        name = f"t{int(fraction * 100)}"
        out[name] = time_to(t, product, fraction, enzyme)
        out[name + "_half"] = time_to(t[keep], product[keep], fraction, enzyme)
    late = t[t > 0]
    ratios = late[1:] / late[:-1] if len(late) > 1 else np.array([1.0])
    out["largest_step_ratio"] = float(ratios.max())
    out["largest_step_at"] = float(late[1:][int(np.argmax(ratios))]) if len(late) > 1 else math.nan
    return out


def against_exact(run) -> dict:
    """The largest difference of P from the exact solution of the rate
    equations (`tolvanex.model.exact`), as a fraction of the enzyme amount: at the
    rows (``P_rows``: the program's own error) and halfway between them in
    log time (``P_between``: that and the interpolation's)."""
    from ..model.exact import solve_exact

    t = run.trace.index.to_numpy(dtype=float)
    late = t[t > 0]
    middle = np.sqrt(late[1:] * late[:-1])
    exact = solve_exact(run.parameters, float(t[-1]))
    rows = np.abs(run.trace["P"].to_numpy() - exact.at(t)["P"].to_numpy()).max()
    between = np.abs(run.at(middle)["P"].to_numpy() - exact.at(middle)["P"].to_numpy()).max()
    return {"P_rows": float(rows / run.enzyme), "P_between": float(between / run.enzyme)}
