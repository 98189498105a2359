"""The exact solution of a run's rate equations, one result whatever the
method: `solve` returns a `Solution`, asked the questions a `tolvanex.Run`
is asked, with the same calls (``time_to``, ``at``, ``trace``, ``fluxes``,
``end_time``, ``initial_rate``).

Two methods solve the same equations (nothing pruned; see
`tolvanex.model.exact`):

- ``"cvode"`` (default): the compiled engine (`tolvanex.model.engine`,
  SUNDIALS CVODE, BDF with Newton iterations and the analytic Jacobian), in
  milliseconds.  The times to fractions of the product come from CVODE's own
  root finding and the amounts at asked times from its solution at those
  times: a question the first solve did not cover (another fraction, other
  times, the fluxes) is answered by a further solve of a few milliseconds,
  never by interpolation between stored rows.
- ``"radau"``: SciPy's Radau with a Python right-hand side, the independent
  reference of the tests (about a hundred times slower), answering from its
  continuous output.

>>> import tolvanex
>>> p = tolvanex.Parameters.read("examples/mera.args")
>>> s = tolvanex.solve(p.replace(wanted_time=1.0))              # doctest: +SKIP
>>> f"{s.time_to(0.5):.4g} s", f"{s.at(0.05)['P'] / p.enzyme:.4f}"   # doctest: +SKIP
('0.02921 s', '0.7023')
"""

from __future__ import annotations

import math
import time as clock

import numpy as np
import pandas as pd

from ..errors import InvalidValue
from ..runs.outcome import Stop
from . import engine
from .exact import (CONSOLE_SPECIES, DEFAULT_RTOL, STATE, TRACE_SPECIES, RateEquations,
                    solve_exact)

METHODS = ("cvode", "radau")
#: The fractions of the enzyme amount whose times the first solve finds.
DEFAULT_FRACTIONS = (0.5, 0.9)
#: The cumulative net fluxes, as a run's flux file has them.
FLUX_TOTALS = tuple(f"total_flux{m}" for m in range(1, 38, 2))
#: What a solution names as the program that made it (summaries, titles).
PROGRAM = "exact"
#: The engine's step limit; a solve that needs more fails with CV_TOO_MUCH_WORK.
DEFAULT_MAX_STEPS = 100000


def _columns(parameters) -> list[str]:
    """A solution's columns: a trace file's species (``organic`` in
    organomercurial mode), then the console-only ones."""
    organic = ["organic"] if parameters.is_organomercurial else []
    return list(TRACE_SPECIES) + organic + list(CONSOLE_SPECIES)


def species_frame(parameters, times, amounts) -> pd.DataFrame:
    """Amounts over `STATE` (rows: `times`) as a solution's DataFrame: index
    ``time_s``, apoMerB = O1 + O2 + O3, columns as `_columns`."""
    a = np.asarray(amounts, dtype=float).reshape(len(times), len(STATE))
    released = sum(a[:, STATE.index(n)] for n in ("O1", "O2", "O3"))
    columns = _columns(parameters)
    data = np.column_stack([released if c == "apoMerB" else a[:, STATE.index(c)]
                            for c in columns])
    return pd.DataFrame(data, columns=columns,
                        index=pd.Index(np.asarray(times, dtype=float), name="time_s"))


def _times(times, end: float) -> np.ndarray:
    q = np.atleast_1d(np.asarray(times, dtype=float)).ravel()
    if not np.all(np.isfinite(q)):
        raise InvalidValue("times must be finite numbers of seconds")
    if q.size and (q.min() < 0 or q.max() > end):
        raise InvalidValue(f"times from {q.min():g} to {q.max():g} s lie outside the "
                           f"solution, 0 to {end:g} s")
    return q


class _Cvode:
    """Solves by the compiled engine; every call is a fresh solve."""

    def __init__(self, parameters, end, rtol, max_steps):
        self.parameters, self.end = parameters, end
        self.options = {"rtol": rtol, "max_steps": max_steps}

    def solve(self, **asked):
        return engine.solve(self.parameters, self.end, **self.options, **asked)


class Solution:
    """The solved rate equations of a run from time 0 to `end_time` (see
    the module).  ``trace``: DataFrame indexed ``time_s`` with the species
    (mol/L) at the times asked of `solve`, or at every step of the solver;
    ``stats``: what the first solve did (steps, right-hand-side and
    Jacobian evaluations, wall seconds).  ``parameters`` carry the pKa and
    temperature solved at; ``stop`` (always ``time reached``: a solve that
    fails raises), ``program`` (``exact``) and ``iterations`` (None) answer
    as a `Run`'s do."""

    program = PROGRAM
    iterations = None
    stop = Stop("time reached")

    def __init__(self, parameters, method, end, rtol, times, fractions, max_steps):
        self.parameters, self.method, self.end_time = parameters, method, end
        self._fraction_times: dict[float, tuple[float, str]] = {}
        self._fluxes = None
        started = clock.perf_counter()
        if method == "cvode":
            self._cvode = _Cvode(parameters, end, rtol, max_steps)
            r = self._cvode.solve(times=() if times is None else times, fractions=fractions,
                                  every_step=times is None)
            rows = (r.step_times, r.step_amounts) if times is None else (r.times, r.amounts)
            self.trace = species_frame(parameters, *rows)
            self._remember(r)
            s = r.statistics
            self.stats = {"steps": s.steps, "rhs_evaluations": s.rhs_evaluations,
                          "jacobian_evaluations": s.jacobian_evaluations,
                          "error_test_failures": s.error_test_failures,
                          "nonlinear_failures": s.nonlinear_failures,
                          "wall_s": clock.perf_counter() - started}
        else:
            self._radau = solve_exact(parameters, end, rtol=rtol) if end > 0 else None
            if self._radau is None:
                self.trace = self._at_zero(np.zeros(1) if times is None else times)
            else:
                self.trace = self._radau.at(self._radau.step_times if times is None else times)
            self.stats = {**(self._radau.statistics if self._radau is not None else
                             {"steps": 0, "rhs_evaluations": 0, "jacobian_evaluations": 0}),
                          "wall_s": clock.perf_counter() - started}
        self.trace.attrs["unit"] = "mol/L"

    # -- questions ---------------------------------------------------------------
    @property
    def enzyme(self) -> float:
        """The enzyme amount (mol/L) that fractions are taken of."""
        return self.parameters.enzyme

    @property
    def wanted_time(self) -> float:
        """The simulated time asked for by the parameters (s)."""
        return self.parameters.wanted_time

    def time_to(self, fraction: float, species: str = "P") -> float:
        """The first time (s) at which the product reaches `fraction` of the
        enzyme amount (t50 is ``time_to(0.5)``); NaN when it does not by
        `end_time`, with the reason in ``why_not(fraction)``."""
        return self._fraction(fraction, species)[0]

    def why_not(self, fraction: float) -> str:
        """Why `time_to(fraction)` is NaN ('' when it is not)."""
        return self._fraction(fraction, "P")[1]

    def initial_rate(self, species: str = "P", fraction: float = 0.01) -> float:
        """Product formed per second (mol/L/s) from time 0 until it first
        reaches `fraction` (1 %) of the enzyme amount, as `Run.initial_rate`."""
        t = self.time_to(fraction, species)
        return fraction * self.enzyme / t if t > 0 else math.nan

    def at(self, times):
        """The amounts (mol/L) at the times asked (s, from 0 to `end_time`):
        a Series of every species for one time, a DataFrame indexed
        ``time_s`` for several."""
        q = _times(times, self.end_time)
        if np.isin(q, self.trace.index).all():             # covered by the first solve
            frame = self.trace.loc[q].copy()
        elif self.method == "cvode":
            r = self._cvode.solve(times=q, stop_at_last_fraction=True)
            frame = species_frame(self.parameters, q, r.amounts)
        elif self._radau is None:
            frame = self._at_zero(q)
        else:
            frame = self._radau.at(q)
        frame.attrs["unit"] = "mol/L"
        return frame.iloc[0] if np.ndim(times) == 0 else frame

    def unresolved(self, time: float) -> str:
        """Why a value at `time` is not known, as `Run.unresolved` says it:
        '' (the exact solution knows every time from 0 to `end_time`)."""
        return ""

    def elasticity(self, time: float, species: str = "P") -> float:
        """d ln(species) / d ln(time) at `time` (s), as `Run.elasticity`,
        here from the rate equations themselves: time · dX/dt / X."""
        row = self.at(float(time))
        if species not in STATE or row[species] == 0:
            return math.nan
        y = np.array([float(row.get(name, 0.0)) for name in STATE])
        rate = RateEquations(self.parameters).derivatives(float(time), y)[STATE.index(species)]
        return float(time) * float(rate) / float(row[species])

    @property
    def fluxes(self) -> pd.DataFrame:
        """The cumulative net fluxes ``total_flux1`` ... ``total_flux37``
        (mol/L) at the rows of `trace`, as a run's flux file has them."""
        if self._fluxes is None:
            if self.method != "cvode":
                raise InvalidValue("the cumulative fluxes come from the cvode method")
            r = self._cvode.solve(times=self.trace.index.to_numpy(), flux_totals=True,
                                  stop_at_last_fraction=True)
            self._fluxes = pd.DataFrame(r.flux_totals, columns=list(FLUX_TOTALS),
                                        index=self.trace.index.copy())
            self._fluxes.attrs["unit"] = "mol/L"
        return self._fluxes

    # -- the rest ----------------------------------------------------------------
    def _remember(self, result) -> None:
        for f, t, note in zip(result.fractions, result.fraction_times, result.fraction_notes):
            self._fraction_times[float(f)] = (float(t), note)

    def _fraction(self, fraction: float, species: str) -> tuple[float, str]:
        if species != "P":
            raise InvalidValue(f"the exact solution finds the times of P only, not {species}")
        fraction = float(fraction)
        if not math.isfinite(fraction) or fraction < 0:
            raise InvalidValue(f"fraction {fraction!r}: a number from 0 up")
        if fraction not in self._fraction_times:
            if self.method == "cvode":
                self._remember(self._cvode.solve(fractions=[fraction],
                                                 stop_at_last_fraction=True))
            else:
                t = self._radau.time_to(fraction) if self._radau is not None else (
                    0.0 if fraction == 0 else math.nan)
                note = "" if not math.isnan(t) else \
                    f"P does not reach {fraction:g} of the enzyme amount by {self.end_time:g} s"
                self._fraction_times[fraction] = (t, note)
        return self._fraction_times[fraction]

    def _at_zero(self, times) -> pd.DataFrame:
        initial = np.zeros(len(STATE))
        initial[STATE.index("S")] = self.parameters.acceptor
        if self.parameters.is_organomercurial:
            initial[STATE.index("MerB")] = self.parameters.enzyme
            initial[STATE.index("PHMB")] = self.parameters.organomercurial
        else:
            initial[STATE.index("A")] = self.parameters.enzyme
        return species_frame(self.parameters, np.atleast_1d(times),
                             np.tile(initial, (len(np.atleast_1d(times)), 1)))

    def __repr__(self):
        return (f"<Solution ({self.method}) to {self.end_time:g} s, "
                f"{self.stats['steps']} steps>")


def solve(parameters, *, times=None, end: float | None = None, fractions=DEFAULT_FRACTIONS,
          rtol: float = DEFAULT_RTOL, method: str = "cvode", pKa: float | None = None,
          temperature: float | None = None, max_steps: int = DEFAULT_MAX_STEPS) -> Solution:
    """Solve the rate equations of a run (`tolvanex.Parameters`) exactly
    from time 0 to `end` (default: its wanted time).

    `times`: the rows of ``Solution.trace`` (default: every step of the
    solver); `fractions`: the fractions of the enzyme amount whose first
    times the first solve finds (others cost a further solve); `rtol`: the
    relative tolerance (1e-8 or less); `method`: ``"cvode"`` or
    ``"radau"`` (see the module); `pKa`, `temperature` (K): the acceptor's
    pKa and the temperature, by default those of the parameters
    (`Parameters.pKa`, `Parameters.temperature`: unless given there, the
    programs', 6 for MerA and 10.4 otherwise, 298 K); `max_steps`: the
    cvode method's step limit.

    Raises InvalidValue (a ValueError) for a value that cannot be meant,
    SolverFailed when the solver gives up, EngineNotFound when the cvode
    method is asked of a build without the engine.
    """
    if method not in METHODS:
        raise InvalidValue(f"method {method!r}: one of {', '.join(METHODS)}")
    if not rtol <= 1e-8 or not rtol > 0:
        raise InvalidValue(f"rtol {rtol!r}: the solution is meant to be exact; use a "
                           "positive number up to 1e-8")
    end = parameters.wanted_time if end is None else float(end)
    if not math.isfinite(end) or end < 0:
        raise InvalidValue(f"end time {end!r}: a number of seconds from 0 up")
    if times is not None:
        times = _times(times, end)
    conditions = {n: v for n, v in (("pKa", pKa), ("temperature", temperature))
                  if v is not None}
    if conditions:
        parameters = parameters.replace(**conditions)
    parameters.check()
    return Solution(parameters, method, end, rtol, times,
                    np.asarray(fractions, dtype=float).ravel(), max_steps)
