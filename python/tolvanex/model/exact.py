"""The exact solution of a run's rate equations, by a stiff solver.

The rate laws and species balances are derived here from the mechanism
table (`tolvanex.model.mechanism`) and the acceptor speciation
(`tolvanex.model.speciation`), not taken from the programs: every net flux is
mass action, forward constant times its reactants minus reverse constant
times its products, and every species changes by the net fluxes that make
it minus those that use it up.  The acceptor S changes by every thiol or
thiolate it gives or takes, and for a monothiol also by the second thiols
(a second molecule); H+ is buffered.  In organomercurial mode the enzyme
that steps 7, 13 and 31 and the reverse of step 37 release goes straight
back to MerB, so O1, O2, O3 and apoMerB stay 0 there.

The equations are integrated with SciPy's Radau method (implicit, for stiff
systems: the rate constants span twenty and more orders of magnitude) and
its analytic Jacobian.  Nothing is pruned: this is what `tolvanex_unpruned`
approximates with its explicit steps, and `tolvanex` with backward and
negligible net fluxes dropped.

>>> from tolvanex.model.parameters import Parameters
>>> p = Parameters.read("examples/mera.args")
>>> x = solve_exact(p, end=1.0)
>>> f"{x.time_to(0.5):.4g} s"
'0.02921 s'
>>> round(x.at([0.05]).loc[0.05, "P"] / p.enzyme, 4)
0.7023
"""

from __future__ import annotations

import math

import numpy as np
import pandas as pd
from scipy.integrate import solve_ivp
from scipy.optimize import brentq

from . import mechanism
from ..errors import InvalidValue, TolvanexError
from .speciation import acceptor_coefficients, consumes_acceptor

#: The integrated species, in the order of the state vector.
STATE = ("A", "S", "C", "D", "E", "F", "G", "I", "J", "K", "L", "M", "N",
         "O1", "O2", "O3", "P", "Q", "MerB", "ES", "PHMB", "organic")
#: Columns of a solution: a trace file's species, then the console-only ones.
TRACE_SPECIES = ("A", "S", "C", "D", "E", "F", "G", "I", "J", "K", "L", "M", "N",
                 "apoMerB", "P", "Q")
CONSOLE_SPECIES = ("O1", "O2", "O3", "MerB", "ES", "PHMB")
RELEASED_ENZYME = ("O1", "O2", "O3")

#: Default absolute tolerance, as a fraction of the amount each species is
#: measured against (see `absolute_tolerances`).
ATOL_FRACTION = 1e-12
DEFAULT_RTOL = 1e-10

_INDEX = {name: i for i, name in enumerate(STATE)}
_ONE = len(STATE)          # index of a constant 1 appended to the state


class SolverFailed(TolvanexError, RuntimeError):
    """The stiff solver gave up (its message says why)."""


class RateEquations:
    """The rate equations of one run: dy/dt and its Jacobian for the state
    vector `STATE`, built from the mechanism table.

    Every rate term is a constant times at most two state amounts; the terms
    are held as arrays, so that a call costs a few vector operations.

    >>> from tolvanex.model.parameters import Parameters
    >>> eq = RateEquations(Parameters.read("examples/mera.args"))
    >>> y = eq.initial_state()
    >>> dy = eq.derivatives(0.0, y)
    >>> bool(dy[STATE.index("A")] < 0), float(dy[STATE.index("P")])
    (True, 0.0)
    """

    def __init__(self, parameters):
        self.parameters = parameters
        self.organomercurial = parameters.is_organomercurial
        acceptor_type = parameters.acceptor_type
        coefficients = acceptor_coefficients(parameters.pH, acceptor_type, parameters.pKa)
        hydrogen_ion = 10.0 ** (-parameters.pH)
        constants = mechanism.step_constants(parameters)
        steps = mechanism.STEPS
        n = len(STATE)
        # One row per rate term: forward terms of every step, then reverse.
        self._constant = np.zeros(2 * len(steps))
        self._factors = np.full((2 * len(steps), 2), _ONE)
        self._stoichiometry = np.zeros((n, len(steps)))
        for j, s in enumerate(steps):
            for row, side, k in ((j, s.reactants, constants.loc[s.number, "forward"]),
                                 (len(steps) + j, s.products,
                                  constants.loc[s.number, "reverse"])):
                value, factors = k, []
                for name in side:
                    if name == mechanism.HYDROGEN_ION:
                        value *= hydrogen_ion
                    elif name in mechanism.ACCEPTOR_FORMS:
                        value *= coefficients[name].value
                        if coefficients[name].per_S:
                            factors.append(_INDEX["S"])
                    else:
                        factors.append(_INDEX[name])
                if len(factors) > 2:
                    raise AssertionError(f"step {s.number}: a term of third order")
                self._constant[row] = value
                self._factors[row, :len(factors)] = factors
            for sign, side in ((-1, s.reactants), (1, s.products)):
                for name in side:
                    if name in mechanism.ACCEPTOR_FORMS:
                        if consumes_acceptor(name, acceptor_type):
                            self._stoichiometry[_INDEX["S"], j] += sign
                    elif name != mechanism.HYDROGEN_ION:
                        self._stoichiometry[_INDEX[name], j] += sign
        if self.organomercurial:
            # Released enzyme is MerB again at once.
            for name in RELEASED_ENZYME:
                self._stoichiometry[_INDEX["MerB"]] += self._stoichiometry[_INDEX[name]]
                self._stoichiometry[_INDEX[name]] = 0
        self._signs = np.concatenate([np.eye(len(steps)), -np.eye(len(steps))], axis=1)

    def initial_state(self) -> np.ndarray:
        """The amounts at time 0 (mol/L)."""
        p = self.parameters
        y = np.zeros(len(STATE))
        y[_INDEX["S"]] = p.acceptor
        if self.organomercurial:
            y[_INDEX["MerB"]] = p.enzyme
            y[_INDEX["PHMB"]] = p.organomercurial
        else:
            y[_INDEX["A"]] = p.enzyme
        return y

    def _terms(self, y):
        extended = np.append(y, 1.0)
        return extended, self._constant * extended[self._factors[:, 0]] \
            * extended[self._factors[:, 1]]

    def rate_terms(self, y) -> tuple[np.ndarray, np.ndarray]:
        """The forward and the reverse term of every step (mol/L/s), in the
        order of `mechanism.STEPS`."""
        terms = self._terms(y)[1]
        return terms[:len(mechanism.STEPS)], terms[len(mechanism.STEPS):]

    def net_fluxes(self, y) -> np.ndarray:
        """The net flux of every step (mol/L/s), in the order of
        `mechanism.STEPS`: forward minus reverse term."""
        return self._signs @ self._terms(y)[1]

    def derivatives(self, t, y) -> np.ndarray:
        """dy/dt (mol/L/s)."""
        return self._stoichiometry @ self.net_fluxes(y)

    def jacobian(self, t, y) -> np.ndarray:
        """d(dy/dt)/dy, from the terms' derivatives."""
        extended = np.append(y, 1.0)
        rows = np.arange(len(self._constant))
        d_terms = np.zeros((len(self._constant), len(STATE) + 1))
        np.add.at(d_terms, (rows, self._factors[:, 0]),
                  self._constant * extended[self._factors[:, 1]])
        np.add.at(d_terms, (rows, self._factors[:, 1]),
                  self._constant * extended[self._factors[:, 0]])
        return self._stoichiometry @ (self._signs @ d_terms[:, :-1])


def absolute_tolerances(parameters, fraction: float = ATOL_FRACTION) -> np.ndarray:
    """The absolute tolerance of every state species: `fraction` of the
    amount it is measured against.  The acceptor S against the acceptor
    amount; the organomercurial and its organic product against the
    organomercurial amount; everything else (enzyme forms, intermediates,
    the product) against the larger of the enzyme and the mercury amount.

    Concentrations are ~1e-6 mol/L, so SciPy's default atol of 1e-6 would
    accept any answer; an atol of 1e-12 of the enzyme amount is far below
    what the comparisons resolve (1e-3 of the enzyme), yet not below
    rounding: a sum of amounts of order 1e-3 mol/L has rounding errors of
    ~1e-19 mol/L.  An amount of 0 is replaced by the largest other.

    >>> from tolvanex.model.parameters import Parameters
    >>> atol = absolute_tolerances(Parameters.read("examples/mera.args"))
    >>> round(float(atol[STATE.index("S")] / atol[STATE.index("A")]))
    1000
    """
    p = parameters
    organo = p.organomercurial or 0.0
    scales = {"enzyme": max(p.enzyme, organo), "acceptor": p.acceptor,
              "organomercurial": organo}
    largest = max(scales.values()) or 1e-30
    scales = {k: v if v > 0 else largest for k, v in scales.items()}
    amount_of = {"S": "acceptor", "PHMB": "organomercurial", "organic": "organomercurial"}
    return np.array([fraction * scales[amount_of.get(name, "enzyme")] for name in STATE])


class ExactSolution:
    """The solved rate equations of a run from time 0 to `end`, with the
    solver's continuous (dense) output.

    >>> from tolvanex.model.parameters import Parameters
    >>> x = solve_exact(Parameters.read("examples/mera.args"), end=0.1)
    >>> x.at([0.0, 0.05]).columns[:4].tolist(), math.isnan(x.time_to(0.9999))
    (['A', 'S', 'C', 'D'], True)
    """

    def __init__(self, parameters, result, end):
        self.parameters = parameters
        self.end = float(end)
        self._result = result
        self._P = STATE.index("P")

    @property
    def step_times(self) -> np.ndarray:
        """Time 0 and the end of every step of the solver (s)."""
        return self._result.t

    @property
    def statistics(self) -> dict:
        """What the solver did: steps, right-hand-side and Jacobian
        evaluations."""
        r = self._result
        return {"steps": len(r.t) - 1, "rhs_evaluations": r.nfev, "jacobian_evaluations": r.njev}

    def at(self, times) -> pd.DataFrame:
        """The amounts (mol/L) at the given times (s, from 0 to `end`):
        index ``time_s``, columns the species labels as a run's trace
        (`TRACE_SPECIES`, ``organic`` in organomercurial mode), then O1, O2,
        O3, MerB, ES, PHMB."""
        times = np.asarray(times, dtype=float).ravel()
        if times.size and (times.min() < 0 or times.max() > self.end * (1 + 1e-12)):
            raise InvalidValue(f"times from {times.min():g} to {times.max():g} s lie outside "
                             f"the solution, 0 to {self.end:g} s")
        y = self._result.sol(np.clip(times, 0.0, self.end)) if times.size else \
            np.zeros((len(STATE), 0))
        frame = pd.DataFrame(y.T, columns=list(STATE), index=pd.Index(times, name="time_s"))
        frame["apoMerB"] = frame["O1"] + frame["O2"] + frame["O3"]
        columns = list(TRACE_SPECIES)
        if self.parameters.is_organomercurial:
            columns.append("organic")
        frame = frame[columns + list(CONSOLE_SPECIES)]
        frame.attrs["unit"] = "mol/L"
        return frame

    def time_to(self, fraction: float) -> float:
        """The first time (s) at which P reaches `fraction` of the enzyme
        amount, located on the continuous solution between the solver's
        steps (`tolvanex.runs.values.time_to`); NaN when it is not reached
        by `end`."""
        from ..runs.values import time_to        # the one search, here on the solver's steps

        def solve(t0, t1, target):
            return brentq(lambda s: self._result.sol(s)[self._P] - target, t0, t1,
                          xtol=1e-15 * t1, rtol=1e-13)
        return time_to(self._result.t, self._result.y[self._P], fraction,
                       self.parameters.enzyme, solve)


def solve_exact(parameters, end: float | None = None, rtol: float = DEFAULT_RTOL,
                atol=None, method: str = "Radau") -> ExactSolution:
    """Integrate the rate equations of a run from 0 to `end` seconds
    (default: the run's wanted time).  `atol`: an array over `STATE`, a
    number, or None for `absolute_tolerances`.

    >>> from tolvanex.model.parameters import Parameters
    >>> p = Parameters.read("examples/organomercurial.args")
    >>> x = solve_exact(p, end=0.5)
    >>> row = x.at([0.5]).iloc[0]
    >>> round(row["P"] / p.enzyme, 3), row["apoMerB"], round(row["organic"] / p.enzyme, 3)
    (1.986, 0.0, 2.0)
    """
    if not rtol <= 1e-8:
        raise InvalidValue(f"rtol {rtol:g}: the solution is meant to be exact; use 1e-8 or less")
    end = parameters.wanted_time if end is None else float(end)
    if not end > 0 or not math.isfinite(end):
        raise InvalidValue(f"end time {end!r}: it must be a positive number of seconds")
    equations = RateEquations(parameters)
    if atol is None:
        atol = absolute_tolerances(parameters)
    result = solve_ivp(equations.derivatives, (0.0, end), equations.initial_state(),
                       method=method, rtol=rtol, atol=atol, dense_output=True,
                       jac=equations.jacobian if method in ("Radau", "BDF", "LSODA") else None)
    if not result.success:
        raise SolverFailed(f"the stiff solver failed: {result.message}")
    return ExactSolution(parameters, result, end)


def exact_solution(parameters, times, rtol: float = DEFAULT_RTOL, atol=None) -> pd.DataFrame:
    """A convenience over `solve_exact`: the exact amounts (mol/L) at the
    given times (s), solved up to the latest, as `ExactSolution.at` gives
    them.

    >>> from tolvanex.model.parameters import Parameters
    >>> p = Parameters.read("examples/dithiothreitol.args")
    >>> df = exact_solution(p, [0.0, 0.1, 1.0])
    >>> (df["P"] / p.enzyme).round(3).tolist()
    [0.0, 0.071, 0.815]
    """
    times = np.asarray(times, dtype=float).ravel()
    end = float(times.max()) if times.size and times.max() > 0 else parameters.wanted_time
    return solve_exact(parameters, end, rtol=rtol, atol=atol).at(times)


def exact_time_to(parameters, fraction: float, end: float | None = None,
                  rtol: float = DEFAULT_RTOL, atol=None) -> float:
    """A convenience over `solve_exact`: ``solve_exact(parameters, end).time_to(fraction)``,
    the first time (s) the product reaches `fraction` of the enzyme amount.

    >>> from tolvanex.model.parameters import Parameters
    >>> f"{exact_time_to(Parameters.read('examples/mera.args'), 0.9, end=1.0):.4g}"
    '0.09367'
    """
    return solve_exact(parameters, end, rtol=rtol, atol=atol).time_to(fraction)
