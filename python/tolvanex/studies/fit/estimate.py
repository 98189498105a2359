"""The best fit and what the curvature at it says: lmfit's bounded least
squares, the Jacobian by finite differences, the covariance, standard
errors, 95 % intervals and correlations.

The engine is exact to a relative 1e-10, so differences of 1e-4 kcal/mol
(during the minimisation, forward) and 1e-3 kcal/mol (at the optimum,
central; one-sided at a bound) are far above its noise and far below any
curvature.  With sigmas from the data the covariance is (J^T J)^-1 and
intervals use the normal quantile; with equal weights sigma is estimated
from the residuals (the covariance scaled by the reduced chi-square) and
intervals use Student's t with N - k degrees of freedom.
"""

from __future__ import annotations

import math
from typing import NamedTuple

import numpy as np

from ...errors import InvalidValue
from .problem import needed

#: Finite-difference steps (kcal/mol): during the minimisation, at the optimum.
SEARCH_STEP = 1e-4
CURVATURE_STEP = 1e-3
#: The normal distribution's 97.5 % quantile.
NORMAL_QUANTILE = 1.959963984540054


class Optimum(NamedTuple):
    theta: np.ndarray
    converged: bool
    message: str
    evaluations: int


def jacobian(problem, theta, step: float, central: bool, low=None, high=None,
             residuals=None) -> np.ndarray:
    """d residuals / d theta by differences of `step`, kept within the
    bounds (one-sided where a central difference would leave them)."""
    low = problem.low if low is None else low
    high = problem.high if high is None else high
    theta = np.asarray(theta, dtype=float)
    f0 = residuals if residuals is not None or central else problem.residuals(theta)
    columns = []
    for j in range(theta.size):
        up, down = theta.copy(), theta.copy()
        up[j] += step
        down[j] -= step
        if central and up[j] <= high[j] and down[j] >= low[j]:
            columns.append((problem.residuals(up) - problem.residuals(down)) / (2 * step))
            continue
        if f0 is None:
            f0 = problem.residuals(theta)
        if up[j] <= high[j]:
            columns.append((problem.residuals(up) - f0) / step)
        else:
            columns.append((f0 - problem.residuals(down)) / step)
    return np.column_stack(columns)


def minimise(problem, start, fixed: dict | None = None, max_evaluations: int = 500) -> Optimum:
    """Minimise the sum of squared residuals from `start` within the bounds
    with lmfit's least_squares (trust region reflective); `fixed` maps
    parameter indices to values held there (a profile)."""
    fixed = fixed or {}
    free = [j for j in range(len(problem.varied)) if j not in fixed]
    full = np.asarray(start, dtype=float).copy()
    for j, x in fixed.items():
        full[j] = x

    def expand(values: dict):
        theta = full.copy()
        theta[free] = [values[problem.names[j]] for j in free]
        return theta

    if not free:
        return Optimum(full, True, "nothing to vary", 0)
    lmfit = needed("lmfit", "python3-lmfit")
    params = lmfit.Parameters()
    for j in free:
        params.add(problem.names[j], value=float(np.clip(full[j], problem.low[j],
                                                          problem.high[j])),
                   min=problem.low[j], max=problem.high[j])
    counted = problem.evaluations

    def residual(values):
        return problem.residuals(expand(values.valuesdict()))

    def jac(x, *args, **kwargs):
        sub = _Reduced(problem, free, full)
        return jacobian(sub, x, SEARCH_STEP, central=False, low=problem.low[free],
                        high=problem.high[free])

    result = lmfit.minimize(residual, params, method="least_squares", jac=jac,
                            max_nfev=max_evaluations)
    theta = expand(result.params.valuesdict())
    status = getattr(result, "status", -1)
    converged = bool(result.success) and status > 0
    message = str(getattr(result, "message", ""))
    return Optimum(theta, converged, message, problem.evaluations - counted)


class _Reduced:
    """The problem seen through the free parameters only."""

    def __init__(self, problem, free, full):
        self.problem, self.free, self.full = problem, free, full

    def residuals(self, x):
        theta = self.full.copy()
        theta[self.free] = x
        return self.problem.residuals(theta)


class Curvature(NamedTuple):
    """What the Jacobian at the optimum says: ``covariance`` (kcal/mol)^2,
    ``stderr``, ``ci95`` (k x 2), ``correlation``, the quantile used, and
    the sigma of one point (a fraction of the enzyme amount) where it was
    estimated (else None)."""

    covariance: np.ndarray
    stderr: np.ndarray
    ci95: np.ndarray
    correlation: np.ndarray
    quantile: float
    estimated_sigma: float | None


def curvature(problem, theta, estimate_sigma: bool) -> Curvature:
    """Covariance, standard errors, 95 % intervals and correlations at the
    optimum `theta` (see the module)."""
    J = jacobian(problem, theta, CURVATURE_STEP, central=True)
    k, n = len(theta), problem.points
    w, v = np.linalg.eigh(J.T @ J)
    # A direction the data do not see has no curvature: give it a variance
    # far beyond any bound instead of none, so that its interval says so.
    w = np.maximum(w, max(float(w.max()), 1e-300) * 1e-12)
    covariance = (v / w) @ v.T
    sigma = None
    if estimate_sigma:
        r = problem.data_residuals(theta)
        sigma = math.sqrt(float(r @ r) / (n - k)) * problem.data_sigma
        covariance = covariance * (sigma / problem.data_sigma) ** 2
        from scipy import stats
        quantile = float(stats.t.ppf(0.975, n - k))
    else:
        quantile = NORMAL_QUANTILE
    stderr = np.sqrt(np.clip(np.diag(covariance), 0.0, None))
    ci95 = np.column_stack([theta - quantile * stderr, theta + quantile * stderr])
    correlation = covariance / np.outer(stderr, stderr)
    np.fill_diagonal(correlation, 1.0)
    return Curvature(covariance, stderr, ci95, correlation, quantile, sigma)


def check_counts(problem) -> None:
    """Refuse a fit with no more points than varied parameters."""
    n, k = problem.points, len(problem.varied)
    if n <= k:
        raise InvalidValue(f"{n} data points cannot determine {k} parameters; give more points")
