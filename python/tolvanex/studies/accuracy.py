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

import glob
import math
import os
import sys
import tempfile

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
    if left:
        guess = Interpolant(t[keep], values[keep])(t[left])
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


def _relative(a: float, b: float) -> float:
    return abs(a - b) / abs(a) if a and math.isfinite(a) and math.isfinite(b) else math.nan


def table(args_files, programs=("tolvanex", "tolvanex_unpruned")) -> list[str]:
    """The accuracy table (Markdown lines) of runs of the arguments files."""
    from ..model.parameters import Parameters
    from ..runs.run import run

    lines = ["| example | program | rows | P error | at | worst species error | "
             "t50 change | t90 change | largest gap | P vs exact: rows | between rows |",
             "|---|---|---|---|---|---|---|---|---|---|---|"]
    for path in args_files:
        for program in programs:
            with tempfile.TemporaryDirectory() as folder:
                r = run(Parameters.read(path), program, folder)
                a = leave_every_other_out(r.trace, r.enzyme)
                x = against_exact(r)
            lines.append(
                f"| {os.path.basename(path)} | {program} | {a['rows']} | {a['P_error']:.1e} | "
                f"{a['P_error_time']:.3g} s | {a['any_error']:.1e} ({a['any_species']}) | "
                f"{_relative(a['t50'], a['t50_half']):.1e} | "
                f"{_relative(a['t90'], a['t90_half']):.1e} | "
                f"x{a['largest_step_ratio']:.2f} at {a['largest_step_at']:.3g} s | "
                f"{x['P_rows']:.1e} | {x['P_between']:.1e} |")
    return lines


def main(argv=None) -> int:
    files = (argv if argv is not None else sys.argv[1:]) or sorted(glob.glob("examples/*.args"))
    print("\n".join(table(files)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
