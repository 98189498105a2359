"""The Sobol variance shares of ln metric per error factor (or per step),
on the exact engine: `tolvanex.studies.uncertainty.variance_shares` with the
barriers' errors as the model's inputs.

The output is ln metric; a censored sample (not reached by the end) counts
as the end itself there, so the indices are those of ln min(metric, end),
and the record says how many were.  A base row (of A, B and every A_B(i))
with a failed solve is left out of all of them.

Groups: by default every factor is its own group; ``by="step"`` joins the
factors of the two barriers of a step and its transition state into one
group ``stepM`` (half the solves for independent barrier errors), the
common shift staying apart.  Factors that can carry nothing (the barriers
of the organomercurial split outside organomercurial mode) are left out:
their shares are 0.
"""

from __future__ import annotations

import math
import time

import numpy as np
import pandas as pd

from ...model import mechanism
from .exact_values import CENSORED, FAILED, Meter
from .variance_shares import design, shares_table

GROUPINGS = ("factor", "step")


def _carries_nothing(factor, base) -> bool:
    return factor.kind != "shift" and not base.is_organomercurial and all(
        mechanism.step_of_barrier(b).organomercurial_only for b in factor.barriers)


def groups(model, base, by: str = "factor") -> list[tuple[str, list[int], list[str]]]:
    """(name, factor columns, factor names) of every group, in mechanism
    order; the factors that carry nothing left out."""
    found: dict[str, list[int]] = {}
    for k, f in enumerate(model.factors):
        if _carries_nothing(f, base):
            continue
        name = f.name
        if by == "step" and f.kind != "shift":
            name = f"step{mechanism.step_of_barrier(f.barriers[0]).number}"
        found.setdefault(name, []).append(k)
    return [(name, columns, [model.factors[k].name for k in columns])
            for name, columns in found.items()]


def evaluations(model, base, n: int, by: str = "factor") -> int:
    """The solves of the shares: n·(groups + 2)."""
    return n * (len(groups(model, base, by)) + 2)


def barrier_shares(values, model, n: int, by: str = "factor", method: str = "sobol",
                   seed: int = 1, jobs: int = 1, progress=None) -> pd.DataFrame:
    """The first-order and total shares (with 95 % bootstrap intervals) of
    every group, from `n` base points: a table indexed by group name with
    the columns of `variance_shares.shares_table` and ``factors``;
    ``attrs``: samples, evaluations, seconds, censored, failed_rows."""
    started = time.monotonic()
    chosen = groups(model, base=values.base, by=by)
    a, b, mixed = design(len(model.factors), [c for _, c, _ in chosen], n, method, seed)
    unit = np.concatenate([a, b] + mixed)
    barriers = np.asarray(values.base.barriers) + model.changes(unit)
    meter = Meter(len(unit), "variance shares", progress) if progress is not None else None
    out, states, _ = values.many(barriers, jobs, meter)
    if meter:
        meter.show(final=True)
    y = np.where(states == CENSORED, math.log(values.end), np.log(np.where(out > 0, out, 1.0)))
    y = y.reshape(len(chosen) + 2, n)
    bad = (states == FAILED).reshape(len(chosen) + 2, n).any(axis=0)
    y = y[:, ~bad]
    table = shares_table(y[0], y[1], y[2:], [name for name, _, _ in chosen], seed=seed)
    table["factors"] = [" ".join(names) for _, _, names in chosen]
    table.attrs = {"samples": n, "evaluations": len(unit), "groups": len(chosen),
                   "by": by, "seconds": round(time.monotonic() - started, 3),
                   "censored": int(np.sum(states == CENSORED)), "failed_rows": int(bad.sum())}
    return table
