"""Which parameters the data determine, said plainly.

A parameter is not determined by the data when its 95 % interval reaches
one of its bounds (by profile likelihood when that was computed, else from
the covariance), or when it correlates with another beyond |r| = 0.95;
with a prior, when the prior holds it more than the data do (its standard
error above S / sqrt 2: the data add less information than the prior).
For a correlated pair the combination the data do determine is the
direction of least variance of the pair's covariance, c1 x1 + c2 x2 with
the larger coefficient 1, given with its value and interval.

>>> cov = np.array([[1.0, 0.99], [0.99, 1.0]])
>>> c = combination(["barrier1", "barrier23"], np.array([15.6, 11.5]), cov, 1.96)
>>> c.text, round(c.value, 2), round(c.stderr, 3)
('barrier1 - barrier23', 4.1, 0.141)
"""

from __future__ import annotations

import math
from typing import NamedTuple

import numpy as np

CORRELATION_LIMIT = 0.95


class Combination(NamedTuple):
    """A combination of two parameters that the data determine."""

    names: tuple[str, str]
    coefficients: tuple[float, float]
    value: float
    stderr: float
    ci95: tuple[float, float]
    correlation: float

    @property
    def text(self) -> str:
        (a, b), (ca, cb) = self.names, self.coefficients
        second = f"{abs(cb):.3g} {b}" if abs(abs(cb) - 1) > 5e-4 else b
        first = f"{ca:.3g} {a}" if abs(ca - 1) > 5e-4 else a
        return f"{first} {'-' if cb < 0 else '+'} {second}"


def combination(names, theta, covariance, quantile, correlation=math.nan) -> Combination:
    """The best-determined combination of two parameters (see the module)."""
    w, v = np.linalg.eigh(covariance)
    c = v[:, 0] / np.abs(v[:, 0]).max()
    if c[np.argmax(np.abs(c))] < 0:
        c = -c
    c = np.round(c, 6)
    value = float(c @ theta)
    stderr = math.sqrt(max(float(c @ covariance @ c), 0.0))
    return Combination(tuple(names), (float(c[0]), float(c[1])), value, stderr,
                       (value - quantile * stderr, value + quantile * stderr),
                       float(correlation))


class Verdict(NamedTuple):
    determined: bool
    note: str


def judge(names, theta, fit, low, high, prior_sigma=None, profile=None):
    """Every parameter's verdict and the combinations of correlated pairs.

    `fit` is the `Curvature` at the optimum; `profile`, when computed, maps
    a name to its profile interval (None for a side that does not close)."""
    k = len(names)
    reasons = [[] for _ in range(k)]
    for j in range(k):
        low_ci, high_ci = fit.ci95[j]
        source = "covariance"
        if profile is not None and names[j] in profile:
            low_ci, high_ci = profile[names[j]]
            source = "profile likelihood"
        at = [side for side, reached in (("lower", low_ci is None or low_ci <= low[j]),
                                         ("upper", high_ci is None or high_ci >= high[j]))
              if reached]
        if at:
            reasons[j].append(f"its 95 % interval ({source}) reaches its {' and '.join(at)} "
                              f"bound{'s' if len(at) > 1 else ''} ({low[j]:g}:{high[j]:g})")
        if prior_sigma is not None and fit.stderr[j] > prior_sigma / math.sqrt(2):
            reasons[j].append(f"the prior (sigma {prior_sigma:g}) holds it more than the data")
    combinations = []
    for i in range(k):
        for m in range(i + 1, k):
            r = fit.correlation[i, m]
            if abs(r) > CORRELATION_LIMIT:
                reasons[i].append(f"correlated with {names[m]} (r = {r:+.3f})")
                reasons[m].append(f"correlated with {names[i]} (r = {r:+.3f})")
                pair = [i, m]
                combinations.append(combination(
                    (names[i], names[m]), np.asarray(theta)[pair],
                    fit.covariance[np.ix_(pair, pair)], fit.quantile, r))
    verdicts = [Verdict(not why, ("not determined by these data: " + "; ".join(why)) if why
                        else "") for why in reasons]
    return verdicts, combinations
