"""`fit`: the whole fit, from data files and what to vary to the result.

>>> import tolvanex
>>> r = tolvanex.fit(("examples/glutathione.args", "data.csv"), "barrier1,barrier9",
...                  out="fits/gsh")                                     # doctest: +SKIP
>>> r.table[["value", "stderr", "determined"]]                          # doctest: +SKIP
"""

from __future__ import annotations

import math
import os
import tempfile
import time as clock

from ...errors import InvalidValue, OutputExists
from ...model.parameters import Parameters
from ...runs.programs import find_program
from . import estimate, identifiability, profile as profiling, sampling
from .confirm import confirm as confirm_run
from .data import read_data
from .problem import Problem
from .result import FitResult
from .varied import parse_vary, resolve

DEFAULT_PROGRAM = "tolvanex_unpruned"


def _pairs(data) -> list[tuple]:
    if isinstance(data, tuple) and len(data) == 2 and not isinstance(data[0], tuple):
        data = [data]
    pairs = list(data)
    if not pairs:
        raise InvalidValue("no data to fit")
    return pairs


def load(data) -> list:
    """The data sets of (arguments, data) pairs: an arguments file or
    `Parameters`, and a data file or DataFrame."""
    sets = []
    for arguments, source in _pairs(data):
        p = arguments if isinstance(arguments, Parameters) else Parameters.read(arguments)
        name = source if isinstance(source, str) else f"data set {len(sets) + 1}"
        d = read_data(source, p, name=name)
        d.arguments = arguments if isinstance(arguments, str) else None
        sets.append(d)
    return sets


def _fresh_folder(out: str) -> str:
    out = os.path.abspath(out)
    if os.path.isdir(out) and os.listdir(out):
        raise OutputExists(f"{out} is not empty; a fit writes into a folder of its own")
    if os.path.exists(out) and not os.path.isdir(out):
        raise OutputExists(f"{out} exists and is not a folder")
    return out


def fit(data, vary, *, prior_sigma: float | None = None, profile: bool = False,
        mcmc: bool = False, walkers: int | None = None, steps: int = sampling.DEFAULT_STEPS,
        seed: int = 1, jobs: int = 1, program: str = DEFAULT_PROGRAM, confirm: bool = True,
        out: str | None = None, max_evaluations: int = 500, say=None) -> FitResult:
    """Fit barriers to measured time courses (see `tolvanex.studies.fit`).

    `data`: one (arguments, data) pair or a list of them (an arguments file
    or `Parameters`; a CSV file or DataFrame); several make one global fit
    with the varied parameters shared.  `vary`: ``"barrier1,step9=-3:3"``
    or a list of such items.  `prior_sigma` (kcal/mol): a Gaussian prior
    around the calculated values.  `profile`: profile-likelihood intervals;
    `mcmc`: posterior sampling (`walkers`, `steps`, `seed`, `jobs`
    threads).  `confirm`: run `program` at the fitted barriers of each data
    set (in `out`, or a temporary folder).  `out`: a folder, empty or new,
    for fit.json, fit.csv, the fitted arguments and pictures (nothing is
    written when None).  `say`: called with a line before each long phase.

    Raises InvalidValue for input that cannot be meant, FitFailed when the
    kinetics cannot be solved where the fit goes.
    """
    say = say or (lambda line: None)
    if prior_sigma is not None and not (prior_sigma > 0 and math.isfinite(prior_sigma)):
        raise InvalidValue(f"prior sigma {prior_sigma!r}: a positive number of kcal/mol")
    for value, what in ((max_evaluations, "max evaluations"), (steps, "MCMC steps"),
                        (jobs, "jobs")):
        if value < 1:
            raise InvalidValue(f"{what} {value}: at least 1")
    if walkers is not None and walkers < 2:
        raise InvalidValue(f"walkers {walkers}: at least 2")
    out = _fresh_folder(out) if out is not None else None
    if confirm:
        find_program(program)
    started = clock.perf_counter()
    data_sets = load(data)
    varied = resolve(parse_vary(vary), [d.parameters.barriers for d in data_sets])
    if mcmc and walkers is not None and walkers < 2 * len(varied):
        raise InvalidValue(f"walkers {walkers}: at least twice the {len(varied)} varied "
                           "parameters")
    problem = Problem(data_sets, varied, prior_sigma)
    estimate.check_counts(problem)
    if out is not None:
        os.makedirs(out, exist_ok=True)         # an output that cannot be: before the work
    result = FitResult(problem, prior_sigma)

    weighted = problem.weighted
    if not weighted and prior_sigma is not None:
        # The prior needs the data's sigma: estimate it by a fit without the prior.
        problem.prior_sigma = None
        first = estimate.minimise(problem, problem.start, max_evaluations=max_evaluations)
        r = problem.data_residuals(first.theta)
        problem.data_sigma = math.sqrt(float(r @ r) / (problem.points - len(varied)))
        problem.prior_sigma = prior_sigma
        result.sigma_from_first_fit = problem.data_sigma
    optimum = estimate.minimise(problem, problem.start, max_evaluations=max_evaluations)
    result.optimum = optimum
    estimated = not weighted and prior_sigma is None
    result.curvature = estimate.curvature(problem, optimum.theta, estimate_sigma=estimated)
    result.set_statistics(estimated)
    if estimated:
        problem.data_sigma = result.curvature.estimated_sigma
    result.fit_evaluations = problem.evaluations
    result.fit_wall_s = clock.perf_counter() - started
    if profile and optimum.converged:
        for j, name in enumerate(problem.names):
            say(f"profile likelihood of {name}")
            result.profiles[name] = profiling.profile(problem, optimum.theta, j,
                                                      float(result.curvature.stderr[j]))
    result.verdicts, result.combinations = identifiability.judge(
        problem.names, optimum.theta, result.curvature, problem.low, problem.high, prior_sigma,
        {n: (p.low, p.high) for n, p in result.profiles.items()} or None)
    if mcmc and optimum.converged:
        w = walkers or sampling.default_walkers(len(varied))
        say(f"sampling the posterior: {w} walkers x {steps} steps = {w * steps} evaluations")
        result.posterior = sampling.sample(problem, optimum.theta, result.curvature.stderr, w,
                                           steps, seed, jobs)
    result.fitted = [d.parameters.replace(**{f"barrier{b + 1}": f"{x:.10g}" for b, x in
                                             enumerate(problem.barriers(optimum.theta, k))
                                             if x != d.parameters.barriers[b]})
                     for k, d in enumerate(data_sets)]
    result.curves = [problem.model(optimum.theta, k) for k in range(len(data_sets))]
    result.program = program
    if confirm and optimum.converged:
        place = out or tempfile.mkdtemp(prefix="tolvanex-fit-")
        for k, d in enumerate(data_sets):
            say(f"confirmation run of {program} for {d.name}")
            result.confirmations.append(confirm_run(
                result.fitted[k], d, result.curves[k], program,
                os.path.join(place, result.file_name("confirm", k))))
    result.evaluations, result.solves = problem.evaluations, problem.solves
    result.wall_s = clock.perf_counter() - started
    if out is not None:
        from .outputs import write_outputs
        write_outputs(result, out)
    return result
