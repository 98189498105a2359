"""Synthetic time courses from known barriers, with Gaussian noise: the
data of tests, benchmarks and the worked example, and a way to ask before
measuring what a planned experiment would determine.

>>> from tolvanex.model.parameters import Parameters
>>> p = Parameters.read("examples/glutathione.args")
>>> frame = synthetic_data(p, [20, 40, 80], sigma=0.01, seed=3)   # doctest: +SKIP
>>> list(frame.columns)                                              # doctest: +SKIP
['time_s', 'P_fraction', 'sigma']
"""

from __future__ import annotations

import numpy as np
import pandas as pd

from ...model import engine
from .problem import amounts_by_label


def synthetic_data(parameters, times, observables=("P",), sigma: float = 0.01,
                   seed: int = 1, fraction: bool = True, with_sigma: bool = True) -> pd.DataFrame:
    """The exact amounts of `observables` (species labels) at `times`, as
    fractions of the enzyme amount (or in mol/L), with independent Gaussian
    noise of standard deviation `sigma` (in the same unit) from a seeded
    generator; a ``sigma`` column unless `with_sigma` is False."""
    times = np.asarray(times, dtype=float)
    r = engine.solve(parameters, float(times[-1]), times=times, stop_at_last_fraction=True)
    amounts = amounts_by_label(np.asarray(r.amounts))
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame({"time_s": times})
    for label in observables:
        exact = amounts[label] / (parameters.enzyme if fraction else 1.0)
        frame[f"{label}_fraction" if fraction else label] = \
            exact + rng.normal(0.0, sigma, times.size)
    if with_sigma:
        frame["sigma"] = sigma
    return frame
