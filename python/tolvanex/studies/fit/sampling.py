"""Posterior sampling with emcee's affine-invariant ensemble sampler.

The log posterior is -chi2 / 2 (the prior's part included) inside the
bounds and nothing outside (a flat prior on the bounds otherwise); with
equal weights sigma is held at the value the fit estimated.  The walkers
start in a small ball around the optimum, from a seeded generator, and are
evaluated `jobs` at a time in threads (the engine releases the GIL).  The
first two autocorrelation times are discarded; the quantiles come from the
rest.  A chain shorter than 50 autocorrelation times is said to be so.

Cost: walkers x steps evaluations, each a solve of every data set
(defaults 4 walkers per parameter, at least 8, and 2000 steps: 16,000
evaluations for two parameters, about a minute on one glutathione data
set of 30 points).
"""

from __future__ import annotations

import logging
import math
from contextlib import nullcontext
from multiprocessing.pool import ThreadPool
from typing import NamedTuple

import numpy as np

from .problem import needed

DEFAULT_STEPS = 2000
QUANTILES = (2.5, 16.0, 50.0, 84.0, 97.5)


def default_walkers(k: int) -> int:
    return max(8, 4 * k)


class Posterior(NamedTuple):
    """Quantiles (rows: parameters; columns: QUANTILES), the mean
    acceptance fraction, autocorrelation times (steps), the steps
    discarded, the samples kept, whether the chain is 50 autocorrelation
    times long (emcee's rule for a reliable estimate of them), and the
    number of independent samples (walkers x steps kept / the longest
    autocorrelation time)."""

    quantiles: np.ndarray
    acceptance: float
    autocorrelation: np.ndarray
    discarded: int
    samples: int
    long_enough: bool
    walkers: int
    steps: int
    independent: float


def sample(problem, theta, stderr, walkers: int | None = None, steps: int = DEFAULT_STEPS,
           seed: int = 1, jobs: int = 1) -> Posterior:
    emcee = needed("emcee", "python3-emcee")
    k = len(theta)
    walkers = walkers or default_walkers(k)
    rng = np.random.default_rng(seed)
    width = np.where(np.isfinite(stderr), np.minimum(stderr, 0.1), 0.1) * 0.1 + 1e-4
    start = theta + rng.standard_normal((walkers, k)) * width
    start = np.clip(start, problem.low + 1e-9, problem.high - 1e-9)

    def log_posterior(x):
        if np.any(x < problem.low) or np.any(x > problem.high):
            return -math.inf
        return -0.5 * problem.objective(x)

    with ThreadPool(jobs) if jobs > 1 else nullcontext() as pool:
        sampler = emcee.EnsembleSampler(walkers, k, log_posterior, pool=pool)
        sampler.random_state = np.random.RandomState(seed).get_state()
        sampler.run_mcmc(start, steps, progress=False)
    quiet = logging.getLogger("emcee")
    level = quiet.level
    quiet.setLevel(logging.ERROR)           # the report says it instead
    try:
        tau = np.asarray(sampler.get_autocorr_time(quiet=True), dtype=float)
    finally:
        quiet.setLevel(level)
    worst = float(np.nanmax(tau)) if np.any(np.isfinite(tau)) else steps / 4
    discard = min(int(math.ceil(2 * worst)), steps // 2)
    chain = sampler.get_chain(discard=discard, flat=True)
    return Posterior(np.percentile(chain, QUANTILES, axis=0).T,
                     float(np.mean(sampler.acceptance_fraction)), tau, discard, len(chain),
                     bool(steps >= 50 * worst), walkers, steps,
                     walkers * (steps - discard) / max(worst, 1.0))
