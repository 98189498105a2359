"""The metric of many barrier sets by the exact engine (`tolvanex.model.engine`,
CVODE in-process), on threads: the engine releases the GIL, so `jobs`
threads solve `jobs` barrier sets at a time.

A time metric (t50, t90) not reached by the end of the solve is
*censored*: the sample lies beyond the end, above every value that was
reached.  A solve the engine gives up on is *failed*.

>>> from tolvanex.model.parameters import Parameters
>>> from tolvanex.studies.rate_metric import Metric
>>> p = Parameters.read("examples/glutathione.args")
>>> v = ExactValues(p, Metric.parse("t50"), end=1e10)
>>> f"{v.solve(p.barriers)[0]:.5g} s"                      # doctest: +SKIP
'38.391 s'
"""

from __future__ import annotations

import math
import re
import sys
import time
from concurrent.futures import ThreadPoolExecutor, wait, FIRST_COMPLETED

import numpy as np

from ...errors import InvalidValue, TolvanexError
from ...model import engine
from ...model.exact import STATE
from ...model.mechanism import BARRIER_CUTOFF
from ...model.parameters import BARRIER_COUNT
from ...scans.progress import _clock

#: How a value came out.
REACHED, CENSORED, FAILED = 0, 1, 2
#: Barrier sets solved per task of a thread.
CHUNK = 8
#: The step of the central differences (kcal/mol).
DERIVATIVE_STEP = 0.01
_P = STATE.index("P")


class SampledParameters:
    """A run's parameters with other barriers: what the engine reads of a
    `Parameters`, without building one (that costs as much as a solve)."""

    def __init__(self, base, barriers):
        self._base, self.barriers = base, [float(b) for b in barriers]

    def __getattr__(self, name):
        m = re.fullmatch(r"barrier(\d+)", name)
        if m:
            return self.barriers[int(m.group(1)) - 1]
        return getattr(self._base, name)

    def __getitem__(self, name):
        return getattr(self, name)


class ExactValues:
    """The metric of `base` with other barriers, solved to `end` seconds
    (for P@T, to T)."""

    def __init__(self, base, metric, end: float):
        self.base, self.metric, self.end = base, metric, float(end)

    def solve(self, barriers) -> tuple[float, int, str]:
        """(value, REACHED/CENSORED/FAILED, note) for one barrier set."""
        p = SampledParameters(self.base, barriers)
        try:
            if self.metric.is_rate:
                r = engine.solve(p, self.metric.time_s, times=[self.metric.time_s])
                return float(r.amounts[0][_P]), REACHED, ""
            r = engine.solve(p, self.end, fractions=[self.metric.fraction],
                             stop_at_last_fraction=True)
        except engine.EngineNotFound:
            raise
        except (TolvanexError, ValueError) as e:
            return math.nan, FAILED, str(e)
        t = float(r.fraction_times[0])
        if math.isnan(t):
            return math.nan, CENSORED, r.fraction_notes[0]
        return t, REACHED, ""

    def many(self, barriers, jobs: int = 1, meter=None):
        """Values, states and notes of every row of `barriers` (rows × 38),
        `jobs` at a time; `meter` (a `Meter`) is told as rows are done."""
        barriers = np.asarray(barriers, dtype=float)
        n = len(barriers)
        values, states, notes = np.full(n, math.nan), np.zeros(n, dtype=int), [""] * n

        def chunk(start):
            return start, [self.solve(row) for row in barriers[start:start + CHUNK]]

        with ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
            pending = {pool.submit(chunk, s) for s in range(0, n, CHUNK)}
            try:
                while pending:
                    done, pending = wait(pending, timeout=1.0, return_when=FIRST_COMPLETED)
                    for future in done:
                        start, results = future.result()
                        for k, (v, s, note) in enumerate(results, start=start):
                            values[k], states[k], notes[k] = v, s, note
                        if meter:
                            meter.add(len(results), sum(s == CENSORED for _, s, _ in results))
                    if meter:
                        meter.show()
            except BaseException:                   # Ctrl-C: start nothing more
                for future in pending:
                    future.cancel()
                raise
        return values, states, notes


def sensitivities(values: ExactValues, jobs: int = 1, step: float = DERIVATIVE_STEP):
    """∂ ln metric / ∂ barrier (per kcal/mol) of the 38 barriers at the base
    by central differences of ±`step`; NaN where there is none, with the
    reason: a barrier within `step` of the cut-off (its constant jumps
    there), or a case whose metric is not reached."""
    base = np.asarray(values.base.barriers, dtype=float)
    rows = []
    for i in range(BARRIER_COUNT):
        for sign in (-1.0, 1.0):
            row = base.copy()
            row[i] += sign * step
            rows.append(row)
    v, states, notes = values.many(np.array(rows), jobs)
    result, why = np.full(BARRIER_COUNT, math.nan), [""] * BARRIER_COUNT
    for i in range(BARRIER_COUNT):
        lo, hi = v[2 * i], v[2 * i + 1]
        if abs(base[i] - BARRIER_CUTOFF) <= step:
            why[i] = (f"within {step:g} kcal/mol of the {BARRIER_CUTOFF:g} kcal/mol cut-off, "
                      "where its constant jumps")
        elif lo > 0 and hi > 0 and states[2 * i] == states[2 * i + 1] == REACHED:
            result[i] = (math.log(hi) - math.log(lo)) / (2.0 * step)
        else:
            why[i] = notes[2 * i] or notes[2 * i + 1] or "the metric is not positive"
    return result, why


class Meter:
    """The progress line of the solves: done / total, censored, elapsed time
    and the time left, on `stream` (rewritten in place on a terminal, else a
    line every `interval` seconds)."""

    def __init__(self, total: int, what: str, stream=sys.stderr, interval: float = 5.0):
        self.total, self.what, self.stream, self.interval = total, what, stream, interval
        self.done = self.censored = 0
        self.start = time.monotonic()
        self.last = None

    def add(self, done: int, censored: int) -> None:
        self.done += done
        self.censored += censored

    def line(self) -> str:
        elapsed = time.monotonic() - self.start
        left = ("all done" if self.done >= self.total else
                f"about {_clock(elapsed / self.done * (self.total - self.done))} left"
                if self.done else "time left not known yet")
        return (f"{self.what}: {self.done}/{self.total} solved, {self.censored} censored, "
                f"{_clock(elapsed)} elapsed, {left}")

    def show(self, final: bool = False) -> None:
        if self.stream is None:
            return
        now = time.monotonic()
        if hasattr(self.stream, "isatty") and self.stream.isatty():
            self.stream.write("\r" + self.line() + "\033[K" + ("\n" if final else ""))
        elif final or self.last is None or now - self.last >= self.interval:
            self.stream.write(self.line() + "\n")
        else:
            return
        self.stream.flush()
        self.last = now

    @property
    def seconds(self) -> float:
        return time.monotonic() - self.start


def reached_at_base(values: ExactValues) -> float:
    """The metric of the base barriers; InvalidValue, saying why, when the
    engine cannot give it (nothing would be learnt from the samples)."""
    value, state, note = values.solve(values.base.barriers)
    if state == REACHED and value > 0:
        return value
    m = values.metric
    if state == CENSORED:
        raise InvalidValue(f"{m.name} is not reached with the base barriers ({note}): "
                           "give a later --end, or another --metric")
    raise InvalidValue(f"the exact engine gives no {m.name} with the base barriers: "
                       f"{note or 'the product is 0'}")
