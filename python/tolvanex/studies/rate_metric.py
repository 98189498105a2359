"""The metric of a degree-of-rate-control study, and the degree itself.

A metric is ``t50`` or ``t90`` (the first time the product reaches 50 % or
90 % of the enzyme amount, `Run.time_to`; the rate is 1/metric) or ``P@T``
(the product at time T seconds, interpolated between rows; the metric is
itself the rate, since a faster mechanism has made more product by T).

Lowering both barriers of a step by delta multiplies both its constants by
exp(delta · 4184 / (R · T)) (T = 298 K but for an exact study at another
temperature); the degree of rate control is the central difference of
ln(rate) over ln(constants):

    X = −[ln m(lowered) − ln m(raised)] / (2 · delta · 4184 / (8.314 · T))

for a time metric, with the opposite sign for P@T.

>>> m = Metric.parse("P@10")
>>> m.time_s, m.column("base"), m.is_rate
(10.0, 'P_at_10s_base_mol_per_L', True)
>>> round(degree_of_rate_control(0.9, 1.1, 0.1), 4)
0.5941
"""

from __future__ import annotations

import math
import re

from ..errors import InvalidValue
from ..model.mechanism import CALORIES_TO_JOULES, GAS_CONSTANT, TEMPERATURE
from ..model.parameters import is_whole_number, atof
from ..runs.outcome import ENDED_WELL, state

#: ln k per kcal/mol of barrier at 298 K: 4184 / (8.314 · 298), about 1.6887.
PER_KCAL = CALORIES_TO_JOULES / (GAS_CONSTANT * TEMPERATURE)



def degree_of_rate_control(lowered: float, raised: float, delta: float,
                           metric_is_rate: bool = False,
                           temperature: float = TEMPERATURE) -> float:
    """X from the metric with both barriers of a step lowered and raised by
    `delta` kcal/mol at `temperature` (K); NaN when either value is missing
    or not positive."""
    if not (delta > 0 and math.isfinite(delta)):
        raise InvalidValue(f"delta is {delta!r} kcal/mol: it must be a positive number")
    if not (lowered > 0 and raised > 0 and math.isfinite(lowered) and math.isfinite(raised)):
        return math.nan
    per_kcal = PER_KCAL if temperature == TEMPERATURE else \
        CALORIES_TO_JOULES / (GAS_CONSTANT * temperature)
    x = (math.log(lowered) - math.log(raised)) / (2.0 * delta * per_kcal)
    return (x if metric_is_rate else -x) + 0.0    # + 0.0: no -0.0 for equal values


class Metric:
    """What a study measures in each run: `parse` a name such as ``t50``,
    ``t90`` or ``P@10``.

    >>> m = Metric.parse("t50")
    >>> m.is_rate, m.unit, m.column("lowered"), m.describe()
    (False, 's', 't50_lowered_s', 't50, time to 50% product (s)')
    """

    def __init__(self, name: str, fraction: float | None = None, time_s: float | None = None):
        self.name, self.fraction, self.time_s = name, fraction, time_s

    @classmethod
    def parse(cls, text: str) -> "Metric":
        """A metric from its name; ValueError for anything else.

        >>> Metric.parse("t90").fraction, Metric.parse("P@1e-3").time_s
        (0.9, 0.001)
        >>> Metric.parse("P@-1")
        Traceback (most recent call last):
        ...
        tolvanex.errors.InvalidValue: metric 'P@-1': the time after P@ must be a positive number of seconds
        """
        name = str(text).strip()
        if name.lower() in ("t50", "t90"):
            return cls(name.lower(), fraction=int(name[1:]) / 100)
        m = re.fullmatch(r"[Pp]@(.*)", name)
        if m:
            t = m.group(1).strip()
            if not is_whole_number(t) or not (0 < atof(t) < math.inf):
                raise InvalidValue(f"metric {name!r}: the time after P@ must be a positive "
                                 "number of seconds")
            return cls(f"P@{t}", time_s=atof(t))
        raise InvalidValue(f"metric {name!r}: give t50, t90 or P@T (T in seconds, e.g. P@10)")

    @property
    def is_rate(self) -> bool:
        """Whether the metric grows with the rate (P@T) rather than shrinks."""
        return self.time_s is not None

    @property
    def unit(self) -> str:
        return "mol_per_L" if self.is_rate else "s"

    def column(self, which: str) -> str:
        """The table column of its value in one case (base, lowered, raised)."""
        stem = f"P_at_{self.time_s:g}s" if self.is_rate else self.name
        return f"{stem}_{which}_{self.unit}"

    def describe(self) -> str:
        """A short text for titles: what it is, with its unit."""
        if self.is_rate:
            return f"P at {self.time_s:g} s (mol/L)"
        return f"{self.name}, time to {self.fraction:.0%} product (s)"

    def value(self, run) -> tuple[float, str]:
        """The metric of a `Run` (or a `tolvanex.Solution`), or NaN and why
        there is none.

        >>> Metric.parse("t90").value(Run.load("studies/mera/001_base"))   # doctest: +SKIP
        (0.09366601405849977, '')
        """
        if state(run.stop.code) != ENDED_WELL:
            return math.nan, self.why_none(run.stop)
        if self.is_rate:
            if run.end_time < self.time_s:
                return math.nan, (f"P@{self.time_s:g} s not available: the run ended "
                                  f"({run.stop.code}) at {run.end_time:.4g} s")
            if run.unresolved(self.time_s):
                return math.nan, f"P@{run.unresolved(self.time_s)}"
            return float(run.at(self.time_s)["P"]), ""
        t = run.time_to(self.fraction)
        if math.isnan(t) and run.trace["P"].iloc[-1] >= self.fraction * run.enzyme:
            return math.nan, (f"{self.name} reached before the run's first row after time 0 "
                              f"({run.first_row_time:.4g} s): not resolved by the rows")
        if math.isnan(t):
            share = float(run.trace["P"].iloc[-1]) / run.enzyme
            return math.nan, (f"{self.name} not reached: the run ended ({run.stop.code}) at "
                              f"{run.end_time:.4g} s with P at {share:.1%} of the enzyme")
        return t, ""

    @staticmethod
    def why_none(stop) -> str:
        """Why a run that ended this way (a `tolvanex.runs.outcome.Stop`)
        gives no value.

        >>> from tolvanex.runs.outcome import Stop
        >>> Metric.why_none(Stop("failed (exit status 1)", "cannot open x")), Metric.why_none(Stop("not run"))
        ('run failed (exit status 1): cannot open x', 'not run')
        """
        if stop.code == "not run":
            return "not run"
        return f"run {stop.code}" + (f": {stop.message}" if stop.message else "")

    def expected_sum(self, base_run) -> float:
        """What the degrees of all steps add up to for the exact rate
        equations: 1 for a time metric (multiplying every constant by one
        factor divides every time by it); for P@T the elasticity
        T·P'(T)/P(T) of the base run, on its interpolant.

        >>> Metric.parse("t90").expected_sum(None)
        1.0
        """
        if not self.is_rate:
            return 1.0
        return base_run.elasticity(self.time_s)

    def __repr__(self):
        return f"Metric({self.name!r})"
