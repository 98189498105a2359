"""Variance shares (Sobol indices) of a model's output, first order and
total, per group of input factors, with bootstrap intervals.

The design (Saltelli 2002; 2010): two independent matrices A and B of N
points in the unit cube (the first and second half of the columns of one
quasi-random or random sample of 2d dimensions), and for every group i the
matrix A_B(i): A with the group's columns taken from B.  The model is
evaluated on A, B and each A_B(i): N·(g + 2) evaluations for g groups.
With f the outputs, centred on the mean of f(A) and f(B), and V the
variance of f(A) and f(B) together:

- first order (Saltelli et al. 2010, Comput. Phys. Commun. 181, 259-270,
  table 2, estimator (b)):   S_i  = mean(f(B) · (f(A_B(i)) − f(A))) / V
- total (Jansen 1999, Comput. Phys. Commun. 117, 35-43; Saltelli et al.
  2010, table 2, (f)):        ST_i = mean((f(A) − f(A_B(i)))²) / (2 V)

S_i is the share of the variance that the group carries alone; ST_i adds
its interactions with the others (ST_i ≥ S_i; Σ S_i ≤ 1 ≤ Σ ST_i).  The
intervals are percentiles of the estimates over bootstrap resamples of the
N rows (the same rows for A, B and every A_B(i), as in Archer, Saltelli and
Sobol 1997).  A group of several factors is moved together: its indices
are those of the group as one factor.

>>> import numpy as np
>>> model = lambda u: u[:, 0] + 2 * u[:, 1]      # variances 1/12 and 4/12
>>> shares = variance_shares(model, [[0], [1]], 1024, seed=1)
>>> [round(x, 2) for x in shares["first"]], [round(x, 2) for x in shares["total"]]
([0.2, 0.8], [0.2, 0.8])
"""

from __future__ import annotations

import warnings

import numpy as np
import pandas as pd
from scipy.stats import qmc

from ...errors import InvalidValue

#: Bootstrap resamples of the intervals, and the interval's coverage.
BOOTSTRAP = 500
COVERAGE = 0.95


def unit_points(dimension: int, n: int, method: str = "sobol", seed: int = 1) -> np.ndarray:
    """`n` points of the unit cube in `dimension` dimensions: scrambled
    Sobol (``sobol``), Latin hypercube (``lhs``) or independent uniform
    (``random``), reproducible by `seed`; never exactly 0 or 1."""
    if method == "sobol":
        with warnings.catch_warnings():         # balance is best for powers of 2
            warnings.simplefilter("ignore", UserWarning)
            u = qmc.Sobol(dimension, scramble=True, seed=seed).random(n)
    elif method == "lhs":
        u = qmc.LatinHypercube(dimension, seed=seed).random(n)
    elif method == "random":
        u = np.random.default_rng(seed).random((n, dimension))
    else:
        raise InvalidValue(f"sampling {method!r}: sobol, lhs or random")
    return np.clip(u, 1e-12, 1.0 - 1e-12)


def design(dimension: int, groups, n: int, method: str = "sobol", seed: int = 1):
    """The matrices A and B (n × dimension) and, per group, A_B(i)."""
    both = unit_points(2 * dimension, n, method, seed)
    a, b = both[:, :dimension], both[:, dimension:]
    mixed = []
    for columns in groups:
        ab = a.copy()
        ab[:, list(columns)] = b[:, list(columns)]
        mixed.append(ab)
    return a, b, mixed


def _weighted(weights, f_a, f_b, f_mixed):
    """The indices under row weights (resamples × N, each row summing to
    1): the estimators above written as weighted means of per-row terms, so
    that every bootstrap resample is one matrix product."""
    shift = 0.5 * (f_a.mean() + f_b.mean())    # for precision only
    f_a, f_b, f_mixed = f_a - shift, f_b - shift, f_mixed - shift
    centre = 0.5 * (weights @ f_a + weights @ f_b)
    variance = 0.5 * (weights @ f_a ** 2 + weights @ f_b ** 2) - centre ** 2
    change = f_mixed - f_a                      # groups × N
    with np.errstate(invalid="ignore", divide="ignore"):
        first = (weights @ (f_b * change).T - centre[:, None] * (weights @ change.T)) \
            / variance[:, None]
        total = 0.5 * (weights @ (change ** 2).T) / variance[:, None]
    return first, total


def _outputs(f_a, f_b, f_mixed):
    f_a, f_b = np.asarray(f_a, dtype=float), np.asarray(f_b, dtype=float)
    return f_a, f_b, np.atleast_2d(np.asarray(f_mixed, dtype=float))


def indices(f_a, f_b, f_mixed) -> tuple[np.ndarray, np.ndarray]:
    """First-order and total indices of every group from the outputs on A,
    B and the A_B(i) (rows of `f_mixed`); NaN when the output does not vary."""
    f_a, f_b, f_mixed = _outputs(f_a, f_b, f_mixed)
    first, total = _weighted(np.full((1, len(f_a)), 1.0 / len(f_a)), f_a, f_b, f_mixed)
    return first[0], total[0]


def bootstrap_intervals(f_a, f_b, f_mixed, resamples: int = BOOTSTRAP, seed: int = 1,
                        coverage: float = COVERAGE):
    """Percentile intervals of the first-order and total indices over
    bootstrap resamples of the rows: arrays (groups × 2) of low and high."""
    f_a, f_b, f_mixed = _outputs(f_a, f_b, f_mixed)
    n = len(f_a)
    rows = np.random.default_rng(seed).integers(0, n, size=(resamples, n))
    weights = np.stack([np.bincount(r, minlength=n) for r in rows]) / n
    first, total = _weighted(weights, f_a, f_b, f_mixed)
    tails = [50 * (1 - coverage), 100 - 50 * (1 - coverage)]
    with warnings.catch_warnings():             # an output that never varies: NaN
        warnings.simplefilter("ignore", RuntimeWarning)
        return (np.nanpercentile(first, tails, axis=0).T,
                np.nanpercentile(total, tails, axis=0).T)


def variance_shares(model, groups, n: int, method: str = "sobol", seed: int = 1,
                    names=None, resamples: int = BOOTSTRAP) -> pd.DataFrame:
    """The indices of `groups` (lists of column numbers of the unit cube;
    their union the model's inputs) for ``model(u)`` (u: rows × dimension
    in the unit cube, returns one output per row), from `n` base points.

    Returns a DataFrame indexed by `names` (default 0, 1, ...) with
    ``first``, ``first_low``, ``first_high``, ``total``, ``total_low``,
    ``total_high``; ``attrs["evaluations"]`` is n·(groups + 2).
    """
    groups = [list(g) for g in groups]
    dimension = 1 + max(c for g in groups for c in g)
    a, b, mixed = design(dimension, groups, n, method, seed)
    f_a, f_b = model(a), model(b)
    f_mixed = np.array([model(ab) for ab in mixed])
    return shares_table(f_a, f_b, f_mixed, names, resamples, seed)


def shares_table(f_a, f_b, f_mixed, names=None, resamples: int = BOOTSTRAP,
                 seed: int = 1) -> pd.DataFrame:
    """The table of `variance_shares` from the outputs already computed."""
    first, total = indices(f_a, f_b, f_mixed)
    first_ci, total_ci = bootstrap_intervals(f_a, f_b, f_mixed, resamples, seed)
    table = pd.DataFrame({"first": first, "first_low": first_ci[:, 0],
                          "first_high": first_ci[:, 1], "total": total,
                          "total_low": total_ci[:, 0], "total_high": total_ci[:, 1]},
                         index=list(names) if names is not None else None)
    table.attrs["evaluations"] = len(f_a) * (len(f_mixed) + 2)
    return table
