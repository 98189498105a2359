"""Values of a run between its rows, and the times at which the product
reaches a share of the enzyme.

The programs write one row at time 0 and one per block, at whatever time
the block ended.  Between the rows a value is taken from a monotone
piecewise-cubic interpolant (SciPy's PCHIP) in log time.  PCHIP keeps a
value between its neighbouring rows' values where those rise or fall
monotonically and makes no overshoot; at a row's own time it gives the
row's own value.  How far it can be off between rows is measured in
``docs/accuracy.md``.

Between time 0 and the first row after it there is no value: log time has
no 0, and the first block spans many orders of magnitude of the product
(which forms with a lag), so a straight line from time 0 would invent one
(for P it would give an elasticity of exactly 1 whatever the chemistry).
Such a time gives NaN, and so does a time to a fraction first reached there.

>>> t = [0.0, 1.0, 10.0, 100.0]
>>> p = [0.0, 0.1, 0.6, 0.9]
>>> [round(v, 3) for v in values_at(t, p, [0.0, 0.5, 1.0, 10.0, 31.6])]
[0.0, nan, 0.1, 0.6, 0.772]
>>> round(time_to(t, p, 0.5, 1.0), 3), time_to(t, p, 0.95, 1.0), time_to(t, p, 0.05, 1.0)
(5.704, nan, nan)
"""

from __future__ import annotations

import math

import numpy as np
from scipy.interpolate import PchipInterpolator
from scipy.optimize import brentq
from ..errors import InvalidValue


def _rows(times, values):
    t = np.asarray(times, dtype=float)
    v = np.asarray(values, dtype=float)
    if t.ndim != 1 or len(t) == 0:
        raise InvalidValue("no rows to interpolate between")
    if v.shape[0] != len(t):
        raise InvalidValue(f"{len(t)} times but {v.shape[0]} rows of values")
    if not np.all(np.isfinite(t)) or np.any(np.diff(t) < 0) or t[0] < 0:
        raise InvalidValue("the row times must be finite, not negative and never go backwards")
    # Two rows printed with the same time (a block shorter than the time's
    # 11 printed digits): the later row stands for that time.
    keep = np.append(t[1:] != t[:-1], True)
    return t[keep], v[keep]


class Interpolant:
    """Values between rows: PCHIP in log time from the first row after time
    0 on; NaN between time 0 and that row (not resolved by the rows).
    `values` is one value per row, or a 2-D array with one column per series.

    >>> f = Interpolant([0, 2, 4], [[0, 10], [2, 6], [3, 5]])
    >>> f([0, 1, 2]).tolist()
    [[0.0, 10.0], [nan, nan], [2.0, 6.0]]
    """

    def __init__(self, times, values):
        self.t, self.v = _rows(times, values)
        positive = self.t > 0
        self.first = int(np.argmax(positive)) if positive.any() else len(self.t)
        tail = self.t[self.first:]
        self.pchip = (PchipInterpolator(np.log(tail), self.v[self.first:], axis=0)
                      if len(tail) >= 2 else None)

    @property
    def last_time(self) -> float:
        return float(self.t[-1])

    @property
    def first_time(self) -> float:
        """The time of the first row after time 0 (NaN when there is none):
        before it, the rows resolve nothing."""
        return float(self.t[self.first]) if self.first < len(self.t) else math.nan

    def __call__(self, times) -> np.ndarray:
        q = np.atleast_1d(np.asarray(times, dtype=float))
        if q.ndim != 1:
            raise InvalidValue("times must be a number or a list of numbers")
        bad = q[~np.isfinite(q) | (q < 0)]
        if len(bad):
            raise InvalidValue(f"time {bad[0]!r} s: times must be finite and not negative")
        late = q[q > self.t[-1]]
        if len(late):
            raise InvalidValue(f"time {late.max():g} s is beyond the last row "
                             f"({self.t[-1]:g} s): the run has no values there")
        out = np.empty((len(q),) + self.v.shape[1:])
        for k, tq in enumerate(q):
            out[k] = self._one(tq)
        return out

    def _one(self, tq):
        i = int(np.searchsorted(self.t, tq))
        if i < len(self.t) and self.t[i] == tq:
            return self.v[i]                       # a row's own value
        if i <= self.first:                        # between time 0 and the first row
            return np.full(self.v.shape[1:], math.nan)
        return self.pchip(math.log(tq))

    def log_slope(self, tq: float):
        """The derivative of the interpolant in log time, t · dV/dt, at time
        `tq` (0 < tq <= the last row's time).

        >>> f = Interpolant([0, 1, 10, 100], [0, 1, 2, 3])
        >>> round(float(f.log_slope(10.0)) * math.log(10), 6), float(f.log_slope(0.5))
        (1.0, nan)
        """
        if not (0 < tq <= self.t[-1]):
            raise InvalidValue(f"time {tq!r} s: a slope needs a time after 0 and not beyond "
                             f"the last row ({self.t[-1]:g} s)")
        i = int(np.searchsorted(self.t, tq))
        if i <= self.first and not (i == self.first and self.t[i] == tq and self.pchip):
            return np.full(self.v.shape[1:], math.nan)  # not resolved before the first row
        return self.pchip(math.log(tq), 1)

    def crossing(self, k: int, target: float, column=None) -> float:
        """The time between rows k-1 and k (k after the first row after
        time 0) at which the interpolated series (one column) equals
        `target`, given that it lies between their values."""
        def f(tq):
            value = self._one(tq)
            return (value if column is None else value[column]) - target
        a, b = self.t[k - 1], self.t[k]
        fb = f(b)
        if fb == 0:
            return float(b)
        x = brentq(lambda x: f(math.exp(x)), math.log(a), math.log(b), xtol=1e-13, rtol=1e-13)
        return float(math.exp(x))


def values_at(times, values, at) -> np.ndarray:
    """The values at the times `at`, interpolated between the rows (see the
    module).  Raises ValueError for a time beyond the last row or negative."""
    return Interpolant(times, values)(at)


def time_to(times, values, fraction: float, amount: float, solve=None) -> float:
    """The first time at which `values` reaches `fraction` of `amount`,
    solved on the interpolant between the two rows that bracket the first
    crossing; NaN when no row reaches it, or when the first row after time
    0 already has (the rows do not resolve when).  `solve(t0, t1, target)`,
    when given, finds the time between the two rows instead (a solution
    that knows its values between its points, `tolvanex.model.exact`).
    """
    if not (math.isfinite(fraction) and math.isfinite(amount)):
        raise InvalidValue("the fraction and the amount must be finite numbers")
    if not amount > 0:
        raise InvalidValue(f"the amount to take a fraction of is {amount!r}: it must be positive")
    f = Interpolant(times, values)
    target = fraction * amount
    reached = np.nonzero(f.v >= target)[0]
    if len(reached) == 0:
        return math.nan
    k = int(reached[0])
    if k == 0:
        return float(f.t[0])
    if solve is not None:
        return float(solve(f.t[k - 1], f.t[k], target))
    if k <= f.first:
        return math.nan                     # somewhere between time 0 and the first row
    return f.crossing(k, target)


def initial_rate(times, values, amount: float, fraction: float = 0.01) -> float:
    """The mean rate of formation (per second) from time 0 to the time at
    which `values` first reaches `fraction` (1 %) of `amount`: the secant
    slope fraction x amount / `time_to`.  NaN when it never gets there.

    The product of this mechanism forms with a lag (intermediates come
    first), so no straight line fits its first rows; the secant over the
    first per cent of conversion is a rate that does not depend on where
    the blocks happened to end.
    """
    t = time_to(times, values, fraction, amount)
    if math.isnan(t) or t == 0:
        return math.nan
    return fraction * amount / t
