"""A run compared with the exact solution of its rate equations.

The programs integrate with explicit steps whose length adapts to the
fastest-changing species; `tolvanex` moreover drops backward and negligible
net fluxes.  `compare_with_exact` measures how far a run's rows are from the
exact solution at the same times (`tolvanex.solve`: the CVODE engine in
milliseconds, or SciPy's Radau where the engine is not built): the largest
difference of every species as a fraction of the enzyme amount, and the
times to half and 90 % removal.

>>> import pandas as pd
>>> from tolvanex.model.parameters import Parameters
>>> p = Parameters.read("examples/mera.args")
>>> trace = solve_exact(p, end=0.05).at([0.0, 0.01, 0.02, 0.05])[["A", "P"]]
>>> c = compare_with_exact(trace, p)
>>> c.ok, bool(c.species["difference_of_enzyme"].max() < 1e-9)
(True, True)
"""

from __future__ import annotations

import math
import time

import numpy as np
import pandas as pd

from ..errors import InvalidValue
from ..model import engine
from ..model.exact import DEFAULT_RTOL, solve_exact
from ..model.solution import solve
from ..runs.values import time_to

#: The programs print every amount with six significant digits (%6.5e), so a
#: printed value may be off by half a unit of the sixth: 5e-6 of itself.
PRINT_RESOLUTION = 5e-6
DEFAULT_TOLERANCE = 1e-3
FRACTIONS = {"t50": 0.5, "t90": 0.9}


class Comparison:
    """The result of `compare_with_exact`.

    * ``species``: one row per species of the run, columns
      ``difference_of_enzyme`` (largest |run − exact| over the rows, as a
      fraction of the enzyme amount), ``at_time_s`` (where),
      ``beyond_rounding_of_enzyme`` (the largest difference less the
      rounding of the printed value at its row) and ``within`` (that is
      at most the tolerance);
    * ``times``: rows t50 and t90, columns ``run_s``, ``exact_s``,
      ``relative_difference``;
    * ``ok``: every species within;
    * ``method``: what solved the rate equations (cvode or radau), and
      ``wall_s`` how long that took.
    """

    def __init__(self, species: pd.DataFrame, times: pd.DataFrame, tolerance: float,
                 enzyme: float, end: float, rows: int, method: str = "radau",
                 wall_s: float = math.nan):
        self.species, self.times = species, times
        self.tolerance, self.enzyme, self.end, self.rows = tolerance, enzyme, end, rows
        self.method, self.wall_s = method, wall_s

    @property
    def ok(self) -> bool:
        return bool(self.species["within"].all())

    @property
    def worst(self) -> str:
        """The species farthest from the exact solution, beyond rounding."""
        return str(self.species["beyond_rounding_of_enzyme"].idxmax())


def _exact_method(method: str | None, atol) -> str:
    if method is not None:
        return method
    if atol is not None:
        return "radau"                  # an absolute tolerance of its own: SciPy's
    try:
        engine.load()
    except engine.EngineNotFound:
        return "radau"
    return "cvode"


def compare_with_exact(trace: pd.DataFrame, parameters, tolerance: float = DEFAULT_TOLERANCE,
                       rtol: float = DEFAULT_RTOL, atol=None,
                       method: str | None = None) -> Comparison:
    """Compare a run's rows (`trace`: index time in s, species labels as
    columns, mol/L) with the exact solution of its rate equations at the
    same times.  A species is within when at every row its difference is at
    most `tolerance` × enzyme plus the rounding of a printed value (5e-6 of
    it: the acceptor S, ~1e-3 mol/L, is printed to ~5e-9 mol/L).  t50 and t90
    of both are compared as well (not part of the verdict).  `method`:
    ``cvode`` (the default where the engine is built) or ``radau`` (the
    default otherwise, and with `atol`, an array over the state or a
    number)."""
    enzyme = parameters.enzyme
    if not enzyme > 0:
        raise InvalidValue("the enzyme amount is 0: nothing to measure differences against")
    times = trace.index.to_numpy(dtype=float)
    end = float(times.max())
    if not end > 0:
        raise InvalidValue("the run has no row after time 0")
    method = _exact_method(method, atol)
    started = time.perf_counter()
    if method == "radau":
        solution = solve_exact(parameters, end, rtol=rtol, atol=atol)
    else:
        solution = solve(parameters, times=np.unique(times), end=end, rtol=rtol)
    exact = solution.at(times)
    columns = [c for c in trace.columns if c in exact.columns]
    rows = {}
    for name in columns:
        run_values = trace[name].to_numpy(dtype=float)
        exact_values = exact[name].to_numpy()
        difference = np.abs(run_values - exact_values) / enzyme
        beyond = difference - PRINT_RESOLUTION * np.abs(exact_values) / enzyme
        worst = int(np.argmax(difference))
        rows[name] = {"difference_of_enzyme": float(difference[worst]),
                      "at_time_s": float(times[worst]),
                      "beyond_rounding_of_enzyme": float(max(beyond.max(), 0.0)),
                      "within": bool(beyond.max() <= tolerance)}
    species = pd.DataFrame.from_dict(rows, orient="index")
    species.index.name = "species"
    t = {}
    for label, fraction in FRACTIONS.items():
        run_t = time_to(times, trace["P"].to_numpy(dtype=float), fraction, enzyme)
        exact_t = solution.time_to(fraction)
        t[label] = {"run_s": run_t, "exact_s": exact_t,
                    "relative_difference": (run_t - exact_t) / exact_t
                    if exact_t > 0 else math.nan}
    times_frame = pd.DataFrame.from_dict(t, orient="index")
    return Comparison(species, times_frame, tolerance, enzyme, end, len(trace), method,
                      time.perf_counter() - started)


def run_difference(trace: pd.DataFrame, parameters) -> float:
    """How far a run is from the exact solution of its rate equations, as
    one number for a picture's axis: the largest |run − exact| over its rows
    of every species but the acceptor (whose amount, a thousand times the
    enzyme's, is printed to coarser digits), less the rounding of the
    printed value, as a fraction of the enzyme amount.  Solved by the
    compiled engine (CVODE, milliseconds); raises EngineNotFound where it is
    not built and SolverFailed when it gives up.

    >>> from tolvanex.model.parameters import Parameters
    >>> p = Parameters.read("examples/mera.args")
    >>> exact = solve(p, times=[0.0, 0.01, 0.02], end=0.02).trace        # doctest: +SKIP
    >>> run_difference(exact, p) < 1e-9                                   # doctest: +SKIP
    True
    """
    from ..model.solution import solve

    times = trace.index.to_numpy(dtype=float)
    enzyme = parameters.enzyme
    if not (enzyme > 0 and len(times) and times.max() > 0):
        raise InvalidValue("no enzyme amount or no row after time 0 to compare")
    exact = solve(parameters, times=times, end=float(times.max())).trace
    columns = [c for c in trace.columns if c in exact.columns and c != "S"]
    run_values = trace[columns].to_numpy(dtype=float)
    exact_values = exact[columns].to_numpy(dtype=float)
    beyond = np.abs(run_values - exact_values) - PRINT_RESOLUTION * np.abs(exact_values)
    return float(max(beyond.max(), 0.0) / enzyme)
