"""The exact kinetics in milliseconds: the rate equations of a run solved by
SUNDIALS CVODE in C++ (the compiled module ``tolvanex._engine``), in-process.

The engine integrates the model's own rate laws (those of the programs,
from ``src/model``) as continuous-time equations, as `tolvanex.model.exact` does
with SciPy: nothing pruned, S moved by the thiol and thiolate balances, H+
buffered, released enzyme back to MerB at once in organomercurial mode.
BDF with Newton iterations and a dense analytic Jacobian, relative
tolerance 1e-10 and absolute tolerances of 1e-12 of the amount each species
is measured against (`tolvanex.model.exact.absolute_tolerances`); the times at
which the product reaches fractions of the enzyme amount come from CVODE's
root finding, amounts at asked times from its interpolant.  Temperature
(K) and the acceptor's pKa are inputs; at 298 K and the default pKa (6 for
MerA, 10.4 otherwise) the rate constants are the programs' bit for bit.

The module is looked for, in this order: at the path in the environment
variable ``TOLVANEX_ENGINE_MODULE`` when that is set (empty: there is no
engine); beside the package (an installed prefix); in ``build/python/tolvanex``
of the source tree the package lies in.  When it is not there, `load`
raises `EngineNotFound`.

>>> from tolvanex.model.parameters import Parameters
>>> p = Parameters.read("examples/mera.args")
>>> r = solve(p, end=1.0, fractions=[0.5, 0.9])      # doctest: +SKIP
>>> [f"{t:.4g}" for t in r.fraction_times]           # doctest: +SKIP
['0.02921', '0.09367']
"""

from __future__ import annotations

import importlib
import importlib.machinery
import importlib.util
import os
import re
import sys

import numpy as np

from ..errors import InputError, InvalidValue
from ..runs.programs import SOURCE_DIR
from .exact import SolverFailed

MODULE_NAME = "tolvanex._engine"
ENVIRONMENT_VARIABLE = "TOLVANEX_ENGINE_MODULE"
#: Where a build of the source tree puts the module.
BUILD_PLACE = os.path.join(SOURCE_DIR, "build", "python", "tolvanex")
HOW_TO_BUILD = ("install libsundials-dev, pybind11-dev, python3-pybind11 and python3-dev and "
                "build (cmake --workflow --preset test), or install a build (cmake --install)")


class EngineNotFound(InputError, ImportError):
    """The compiled engine (``tolvanex._engine``) is not built or cannot load."""


_module = None


def _load_file(path: str):
    spec = importlib.util.spec_from_file_location(MODULE_NAME, path)
    if spec is None:
        raise EngineNotFound(f"{path} is not a Python extension module")
    module = importlib.util.module_from_spec(spec)
    try:
        spec.loader.exec_module(module)
    except ImportError as e:
        raise EngineNotFound(f"the engine module {path} cannot be loaded: {e}") from None
    sys.modules[MODULE_NAME] = module
    return module


def _in_build() -> str | None:
    for suffix in importlib.machinery.EXTENSION_SUFFIXES:
        path = os.path.join(BUILD_PLACE, "_engine" + suffix)
        if os.path.isfile(path):
            return path
    return None


def load():
    """The compiled engine module; raises EngineNotFound, with the places
    looked in and what to install, when it is not built."""
    global _module
    if _module is not None:
        return _module
    chosen = os.environ.get(ENVIRONMENT_VARIABLE)
    if chosen is not None:
        if not chosen:
            raise EngineNotFound(f"this build has no engine ({ENVIRONMENT_VARIABLE} is empty); "
                                 + HOW_TO_BUILD)
        if not os.path.isfile(chosen):
            raise EngineNotFound(f"{ENVIRONMENT_VARIABLE} names {chosen}, which is no file")
        _module = _load_file(chosen)
        return _module
    try:
        _module = importlib.import_module(MODULE_NAME)
        return _module
    except ModuleNotFoundError as e:
        if e.name != MODULE_NAME:
            raise EngineNotFound(f"the engine module cannot be loaded: {e}") from None
    except ImportError as e:
        raise EngineNotFound(f"the engine module cannot be loaded: {e}") from None
    path = _in_build()
    if path is None:
        raise EngineNotFound("the exact-kinetics engine (tolvanex._engine) is not built "
                             f"(looked beside the package and in {BUILD_PLACE}): " + HOW_TO_BUILD)
    _module = _load_file(path)
    return _module


def solve(parameters, end: float | None = None, *, times=(), fractions=(), pKa=None,
          temperature: float | None = None, **options):
    """Solve the rate equations of a run (`tolvanex.Parameters`) from 0 to
    `end` seconds (default: its wanted time) with the engine; returns the
    module's Result: ``times`` and ``amounts`` (rows: the asked times;
    columns: ``STATE``), ``fraction_times`` and ``fraction_notes`` for the
    asked `fractions` of the enzyme amount, ``statistics`` and more (see
    ``load().solve.__doc__``).  `pKa` and `temperature` (K) stand in for
    those of the parameters (`Parameters.pKa`, `Parameters.temperature`:
    by default the programs').  `options`: rtol, atol_fraction, max_steps,
    flux_totals, every_step, stop_at_last_fraction.

    Raises InvalidValue (a ValueError) for a value that cannot be meant,
    SolverFailed when CVODE gives up (its flag by name in the message and in
    ``flag``), EngineNotFound when the module is not built.
    """
    p = parameters
    end = p.wanted_time if end is None else float(end)
    if pKa is None and "pKa" in p.conditions:
        pKa = p.pKa
    temperature = p.temperature if temperature is None else temperature
    module = load()
    try:
        return module.solve(np.asarray(p.barriers, dtype=float), p.pH, p.acceptor_type,
                            p.enzyme, p.acceptor, end, organomercurial=p.organomercurial,
                            pKa=pKa, temperature=temperature,
                            times=np.asarray(times, dtype=float).ravel(),
                            fractions=np.asarray(fractions, dtype=float).ravel(), **options)
    except module.SolverError as e:
        text = str(e) if str(e).startswith("CVODE") else f"CVODE: {e}"
        failure = SolverFailed(text)
        flag = re.search(r"\bCV_[A-Z_]+", text)
        failure.flag = flag.group(0) if flag else "CVODE error"
        raise failure from None
    except ValueError as e:
        raise InvalidValue(str(e)) from None


def time_to(parameters, fractions, end: float | None = None, **options) -> np.ndarray:
    """The first times (s) at which the product reaches each fraction of the
    enzyme amount, NaN where not by `end` (default: the wanted time); the
    solve ends at the last of them."""
    options.setdefault("stop_at_last_fraction", True)
    return solve(parameters, end, fractions=fractions, **options).fraction_times
