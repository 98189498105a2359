"""Profile likelihood: each parameter held at values stepping away from the
optimum, the others fitted again at every step, until the sum of squared
residuals has risen by 3.84 (chi-square of one degree of freedom at 95 %)
or the bound is reached.  The crossing is then found by Brent's method to
0.002 kcal/mol.  A side that reaches its bound below 3.84 does not close:
the interval is open there (None), and the data do not bound the parameter
on that side.  With equal weights the rise is measured in units of the
estimated sigma squared.

Cost: per parameter and side some 4 to 12 steps plus 5 to 8 for the
crossing, each a fit of the other parameters (a few evaluations each).
"""

from __future__ import annotations

import math
from typing import NamedTuple

from scipy import optimize

from .estimate import minimise

#: The 95 % quantile of chi-square with one degree of freedom.
THRESHOLD = 3.841458820694124
MAX_STEPS = 30
TOLERANCE = 0.002


class Profile(NamedTuple):
    """One parameter's profile: its 95 % interval (None for an open side)
    and the points computed, (value, rise of chi-square) in order of value."""

    low: float | None
    high: float | None
    points: list


def profile(problem, theta, j: int, stderr: float, scale: float = 1.0) -> Profile:
    """The profile of parameter `j` around the optimum `theta` (see the
    module); `scale` divides the rise (the estimated sigma squared)."""
    best = problem.objective(theta)
    points = [(float(theta[j]), 0.0)]
    cache = {}

    def rise(x):
        key = round(float(x), 12)
        if key not in cache:
            start = cache.get("start", theta)
            o = minimise(problem, start, fixed={j: float(x)})
            cache["start"] = o.theta
            cache[key] = (problem.objective(o.theta) - best) / scale
            points.append((float(x), cache[key]))
        return cache[key]

    ends = []
    for direction, bound in ((-1, problem.low[j]), (1, problem.high[j])):
        cache["start"] = theta
        step = min(max(stderr if math.isfinite(stderr) else 0.5, 0.02), 2.0)
        inner, end = float(theta[j]), None
        for _ in range(MAX_STEPS):
            x = inner + direction * step
            x = max(x, bound) if direction < 0 else min(x, bound)
            if rise(x) >= THRESHOLD:
                end = optimize.brentq(lambda y: rise(y) - THRESHOLD, min(inner, x),
                                      max(inner, x), xtol=TOLERANCE)
                break
            if x == bound:
                break
            inner, step = x, step * 1.6
        ends.append(end)
    return Profile(ends[0], ends[1], sorted(points))
