"""The fit as a least-squares problem: residuals of every data point from
the exact kinetics at the varied parameters, and of the prior.

Every evaluation solves each data set's rate equations once with the
compiled engine (`tolvanex.model.engine`), to its last time, with output at
its data times.  A point's residual is (model - data) / sigma; the model
and data are taken as fractions of the enzyme amount, so that data sets in
mol/L and in fractions weigh alike.  Without sigmas every point has sigma
``data_sigma`` (a fraction of the enzyme amount; 1 until estimated).  With
a prior sigma S each varied parameter adds (value - calculated) / S.
"""

from __future__ import annotations

import importlib
import time as clock
from typing import NamedTuple

import numpy as np

from ...errors import InputError, TolvanexError
from ...model import engine
from ...model.exact import STATE, SolverFailed
from .varied import barriers_at

_INDEX = {label: i for i, label in enumerate(STATE)}


class FitFailed(TolvanexError, RuntimeError):
    """The kinetics could not be solved at a point the fit asked for, or the
    fit did not converge."""


class MissingPackage(InputError, ImportError):
    """A Python package the fit needs is not installed."""


def needed(module: str, package: str):
    """Import `module` (lmfit, emcee: loaded only when a fit needs them), or
    raise MissingPackage naming the Debian package."""
    try:
        return importlib.import_module(module)
    except ImportError:
        raise MissingPackage(f"the fit needs {module}: install the Debian package "
                             f"{package}") from None


class _Conditions(NamedTuple):
    """What the engine reads of a run's parameters, with other barriers."""

    barriers: list
    pH: float
    acceptor_type: float
    enzyme: float
    acceptor: float
    organomercurial: float | None
    wanted_time: float


def amounts_by_label(amounts: np.ndarray) -> dict:
    """The engine's amounts (times x STATE) by species label, apoMerB too."""
    out = {label: amounts[:, i] for label, i in _INDEX.items()}
    out["apoMerB"] = out["O1"] + out["O2"] + out["O3"]
    return out


class Problem:
    """Data sets, varied parameters and the prior: `residuals(theta)` for
    the minimiser, `model(theta, k, times)` for pictures and checks.
    ``evaluations`` counts residual vectors, ``solves`` engine solves."""

    def __init__(self, data_sets, varied, prior_sigma: float | None = None,
                 rtol: float = 1e-10):
        self.data_sets, self.varied = list(data_sets), list(varied)
        self.prior_sigma, self.rtol = prior_sigma, rtol
        self.data_sigma = 1.0
        self._last = (None, None)        # the last point and its residuals
        self.evaluations = self.solves = 0
        self.solve_seconds = 0.0
        self.start = np.array([v.start for v in self.varied])
        self.low = np.array([v.low for v in self.varied])
        self.high = np.array([v.high for v in self.varied])
        self._data = [d.values / d.scales for d in self.data_sets]
        self._sigma = [None if d.sigmas is None else d.sigmas / d.scales for d in self.data_sets]

    @property
    def names(self) -> list[str]:
        return [v.name for v in self.varied]

    @property
    def points(self) -> int:
        return sum(d.points for d in self.data_sets)

    @property
    def weighted(self) -> bool:
        return all(d.weighted for d in self.data_sets)

    def barriers(self, theta, k: int) -> list[float]:
        """The 38 barriers of data set k at `theta`."""
        return barriers_at(self.varied, theta, self.data_sets[k].parameters.barriers)

    def model(self, theta, k: int, times=None) -> np.ndarray:
        """Data set k's observables at `times` (default: its data times) as
        fractions of the enzyme amount (rows: times)."""
        d = self.data_sets[k]
        times = d.times if times is None else np.asarray(times, dtype=float)
        p = d.parameters
        conditions = _Conditions(self.barriers(theta, k), p.pH, p.acceptor_type, p.enzyme,
                                 p.acceptor, p.organomercurial, p.wanted_time)
        started = clock.perf_counter()
        try:
            r = engine.solve(conditions, float(times[-1]), times=times, rtol=self.rtol,
                             stop_at_last_fraction=True, pKa=getattr(p, "pKa", None),
                             temperature=getattr(p, "temperature", None) or 298.0)
        except SolverFailed as e:
            shown = ", ".join(f"{n} = {x:.6g}" for n, x in zip(self.names, theta))
            raise FitFailed(f"the kinetics of {d.name} cannot be solved at {shown}: {e}") \
                from None
        finally:
            self.solves += 1
            self.solve_seconds += clock.perf_counter() - started
        return d.in_fractions(amounts_by_label(np.asarray(r.amounts)))

    def data_residuals(self, theta) -> np.ndarray:
        """(model - data) / sigma of every point, data set after data set."""
        parts = []
        for k, d in enumerate(self.data_sets):
            sigma = self._sigma[k] if self._sigma[k] is not None else self.data_sigma
            parts.append(((self.model(theta, k) - self._data[k]) / sigma).ravel())
        return np.concatenate(parts)

    def prior_residuals(self, theta) -> np.ndarray:
        if self.prior_sigma is None:
            return np.zeros(0)
        return (np.asarray(theta, dtype=float) - self.start) / self.prior_sigma

    def residuals(self, theta) -> np.ndarray:
        """The residual vector: the data points, then the prior (the last
        point's again without a solve: a Jacobian starts from it)."""
        theta = np.asarray(theta, dtype=float)
        key = (theta.tobytes(), self.data_sigma, self.prior_sigma)
        last = self._last
        if last[0] == key:
            return last[1].copy()
        self.evaluations += 1
        r = np.concatenate([self.data_residuals(theta), self.prior_residuals(theta)])
        self._last = (key, r)
        return r.copy()

    def objective(self, theta) -> float:
        """The sum of squared residuals (chi-square with the prior's part)."""
        r = self.residuals(theta)
        return float(r @ r)
