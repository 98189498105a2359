"""The spread of a sampled metric, with censored samples, and its linear
estimate from the sensitivities.

A censored sample (a time never reached by the end of its solve or run)
counts as +∞: it lies above every value, it is not dropped.  A quantile
that falls among the censored samples is itself censored (None: beyond the
end), not a number made up.  Quantiles interpolate between neighbouring
order statistics (position (n − 1)·q, as NumPy's default), in the log of
the metric.

>>> import numpy as np
>>> values = np.arange(1.0, 101.0)
>>> states = np.where(values > 90, 1, 0)          # the 10 largest censored
>>> q = quantiles(values, states)
>>> round(q["50"], 3), q["95"]             # √(50 · 51): between 50 and 51 in log
(50.498, None)
"""

from __future__ import annotations

import math

import numpy as np

from .exact_values import CENSORED, REACHED

#: The quantiles reported (percent).
LEVELS = (5, 16, 50, 84, 95)


def quantiles(values, states, log: bool = True) -> dict:
    """{"5": ..., "95": ...} over the reached and censored samples (failed
    ones left out); None for a quantile among the censored or when there is
    no sample."""
    values, states = np.asarray(values, dtype=float), np.asarray(states)
    x = np.sort(np.concatenate([values[states == REACHED],
                                np.full(int(np.sum(states == CENSORED)), math.inf)]))
    result = {}
    for level in LEVELS:
        if not len(x):
            result[str(level)] = None
            continue
        h = (len(x) - 1) * level / 100.0
        lo = int(math.floor(h))
        frac = h - lo
        a, b = x[lo], x[min(lo + 1, len(x) - 1)]
        if math.isinf(a) or (frac > 0 and math.isinf(b)):
            result[str(level)] = None
        elif frac == 0 or a == b:
            result[str(level)] = float(a)
        elif log and a > 0:
            result[str(level)] = float(math.exp(math.log(a) + frac * (math.log(b) - math.log(a))))
        else:
            result[str(level)] = float(a + frac * (b - a))
    return result


def spread(values, states) -> dict:
    """The standard deviation of ln metric: ``sigma_ln`` from the samples
    (None when a sample is censored, or a value is not positive),
    ``sigma_ln_quantiles`` = (ln q84 − ln q16) / 2 (what it is for a
    log-normal metric; None when q84 is censored), and ``factor``, e to the
    first of them there is (with ``factor_from`` saying which)."""
    values, states = np.asarray(values, dtype=float), np.asarray(states)
    reached = values[states == REACHED]
    sigma = None
    if np.all(states != CENSORED) and len(reached) > 1 and np.all(reached > 0):
        sigma = float(np.std(np.log(reached), ddof=1))
    q = quantiles(values, states)
    from_q = None
    if q["16"] is not None and q["84"] is not None and q["16"] > 0:
        from_q = 0.5 * (math.log(q["84"]) - math.log(q["16"]))
    chosen, source = (sigma, "sd of ln") if sigma is not None else (from_q, "quantiles 16-84")
    return {"sigma_ln": sigma, "sigma_ln_quantiles": from_q,
            "factor": None if chosen is None else math.exp(chosen),
            "factor_from": source if chosen is not None else None}


def linear_estimate(sensitivities, model) -> dict:
    """The spread the sensitivities predict for independent factors:
    σ_ln² ≈ Σ_f (Σ_{i moved by f} ∂ln m/∂b_i)² · sd_f² (a common shift's
    sensitivity is the sum over every barrier).  Barriers without a
    derivative (NaN) are left out and named.  Returns ``sigma_ln``,
    ``factor``, ``factor_sensitivities`` and ``shares`` (factor name →
    share of the linear variance), ``left_out``."""
    s = np.asarray(sensitivities, dtype=float)
    missing = np.isnan(s)
    per_factor = model.matrix() @ np.where(missing, 0.0, s)
    parts = (per_factor * model.sd()) ** 2
    total = float(np.sum(parts))
    sigma = math.sqrt(total)
    used = model.matrix()[:, missing].any(axis=1) if missing.any() else np.zeros(len(parts), bool)
    return {"sigma_ln": sigma, "factor": math.exp(sigma),
            "factor_sensitivities": dict(zip(model.names, map(float, per_factor))),
            "shares": {n: (float(p / total) if total > 0 else None)
                       for n, p in zip(model.names, parts)},
            "left_out": [f"barrier{i + 1}" for i in np.flatnonzero(missing)],
            "incomplete": [n for n, u in zip(model.names, used) if u]}
