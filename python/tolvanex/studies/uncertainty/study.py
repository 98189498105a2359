"""How sure a prediction is: the spread of t50, t90 or P@T that the errors
of the barriers cause, and which barriers carry it (see the package).

Two engines give the metric of a sample:

- the exact engine (default): every sample solved in-process, `jobs`
  threads at a time, to `end` seconds (t50, t90; default 1e10 s or the
  wanted time if later: far beyond any experiment, so that a sample is
  censored only when it practically never gets there) or to T (P@T);
- a program (`program`): the first `confirm` samples (default: all) run
  through the scan machinery, one run folder each (``NNN_sampleK``), so
  that GNU parallel, Slurm, ``--resume`` and ``--collect`` work as for a
  scan.  The runs stop as their arguments say (the wanted time of the
  arguments file; T for P@T).  The metric of the study is then the
  program's; the exact engine solves the same samples beside, for the
  comparison.

The sensitivities (∂ ln metric / ∂ barrier) and the Sobol variance shares
always come from the exact engine.
"""

from __future__ import annotations

import math
import os
import sys
import tempfile
import time

import numpy as np

from ...errors import InvalidValue, OutputExists
from ...model.parameters import Parameters
from ...runs import folder as rf
from ...runs.file_format import FileFormatError
from ...runs.folder import RunNotFound
from ...runs.outcome import ENDED_WELL, NOT_ENDED_STATE, state, stop_without_trace
from ...runs.run import Run
from ...scans.manifest import MANIFEST, NotAScan, read_manifest
from ...scans.scan import collect, scan
from ..rate_metric import Metric
from .barrier_shares import GROUPINGS, barrier_shares, evaluations
from .error_model import ErrorModel, Factor
from .exact_values import (CENSORED, FAILED, REACHED, ExactValues, Meter, reached_at_base,
                           sensitivities)
from .outputs import Uncertainty, write_outputs
from .results import record, samples_frame, statistics
from .variance_shares import unit_points

RECORD_KEY = "uncertainty"
SAMPLINGS = ("sobol", "lhs", "random")
#: The default end of the solves of t50 and t90 (s): about 300 years.
DEFAULT_END = 1e10
#: At most this many samples, program runs, and solves of the shares.
SAMPLE_CAP = 100_000
RUN_CAP = 10_000
SHARES_CAP = 1_000_000


def _say(warn):
    return warn or (lambda message: print(f"tolvanex-uncertainty: {message}", file=sys.stderr))


def _count(value, what: str, low: int, cap: int) -> int:
    try:
        n = int(value)
        if n != float(value):
            raise ValueError
    except (TypeError, ValueError):
        raise InvalidValue(f"{what} {value!r}: give a whole number") from None
    if n < low:
        raise InvalidValue(f"{what} {n}: at least {low}")
    if n > cap:
        raise InvalidValue(f"{what} {n}: at most {cap:,} (the cap of this tool)")
    return n


def settings_of(base, metric, model, samples, sampling, seed, end, shares, shares_by,
                confirm, program) -> dict:
    """Check the study's settings before anything runs (InvalidValue saying
    what is wrong) and return them as recorded."""
    samples = _count(samples, "samples", 2, SAMPLE_CAP)
    if sampling not in SAMPLINGS:
        raise InvalidValue(f"sampling {sampling!r}: sobol, lhs or random")
    seed = _count(seed, "seed", 0, 2 ** 63)
    if shares_by not in GROUPINGS:
        raise InvalidValue(f"shares by {shares_by!r}: factor or step")
    shares = _count(shares, "shares", 0, SHARES_CAP)
    if 0 < shares < 8:
        raise InvalidValue(f"shares {shares}: 0 (none) or at least 8 base samples")
    cost = evaluations(model, base, shares, shares_by)
    if cost > SHARES_CAP:
        raise InvalidValue(f"shares {shares}: {cost:,} solves, more than the cap of "
                           f"{SHARES_CAP:,}; give fewer base samples (or group by step)")
    if metric.is_rate:
        if end is not None:
            raise InvalidValue(f"--end is for t50 and t90; {metric.name} is solved to "
                               f"{metric.time_s:g} s")
        end = metric.time_s
    elif end is None:
        end = max(DEFAULT_END, base.wanted_time)
    else:
        end = float(end)
        if not (end > 0 and math.isfinite(end)):
            raise InvalidValue(f"end {end!r}: a positive number of seconds")
    if program is None and confirm is not None:
        raise InvalidValue("--confirm K runs the first K samples with a program: give --program")
    confirm = samples if confirm is None else _count(confirm, "confirm", 1, samples)
    if program is not None and confirm > RUN_CAP:
        raise InvalidValue(f"{confirm} program runs: at most {RUN_CAP:,}; give --confirm K "
                           "(the first K samples) or fewer --samples")
    return {"metric": metric.name, "samples": samples, "sampling": sampling, "seed": seed,
            "end": end, "shares": shares, "shares_by": shares_by,
            "confirm": confirm if program is not None else None,
            "distribution": model.distribution, "description": model.describe(),
            "factors": [[f.name, f.scale] for f in model.factors]}


def model_of(settings: dict) -> ErrorModel:
    """The error model a study recorded."""
    factors = []
    for name, scale in settings["factors"]:
        if name == "shift":
            factors.append(Factor(name, tuple(range(1, 39)), "shift", float(scale)))
        elif name.startswith("step"):
            m = int(name[4:])
            factors.append(Factor(name, (m, m + 1), "step", float(scale)))
        else:
            factors.append(Factor(name, (int(name[7:]),), "barrier", float(scale)))
    return ErrorModel(factors, settings["distribution"], settings["description"])


def drawn(base, model, settings: dict):
    """The samples: the factors' values (samples × factors) and the
    barriers (samples × 38)."""
    unit = unit_points(len(model.factors), settings["samples"], settings["sampling"],
                       settings["seed"])
    errors = model.values(unit)
    return errors, np.asarray(base.barriers) + errors @ model.matrix()


def uncertainty(parameters, *, sigma=None, samples: int = 1000, sigma_step=None, shift=None,
                sigma_file=None, distribution: str = "normal", sampling: str = "sobol",
                seed: int = 1, metric: str = "t50", end: float | None = None, shares: int = 0,
                shares_by: str = "factor", program: str | None = None,
                confirm: int | None = None, jobs: int | None = None, out: str | None = None,
                dry_run: bool = False, progress=sys.stderr, warn=None,
                slurm=None) -> Uncertainty | None:
    """Sample the barriers' errors and return what the metric does
    (`Uncertainty`: ``result``, the record of uncertainty.json;
    ``samples``; ``table``), writing samples.csv, uncertainty.json,
    uncertainty.csv and uncertainty.png in `out` (a fresh temporary folder
    when None).

    `parameters`: a `Parameters` or an arguments file.  The errors
    (kcal/mol; see `error_model`): `sigma` for every barrier alone (a
    number, ``NAME=VALUE`` words or a mapping with ``"all"``), `sigma_step`
    for the transition state of every step (both its barriers together),
    `shift` for one common shift, `sigma_file` a file of them;
    `distribution` normal (σ) or uniform (the half-width).  `samples` drawn
    by `sampling` (sobol, lhs, random) from `seed`: the same call gives the
    same numbers.  `metric`: t50, t90 or P@T.  `end`: how far t50 and t90
    are looked for (s).  `shares`: base samples of the Sobol variance
    shares (0: none; they cost shares·(groups + 2) solves), grouped by
    `shares_by` (factor or step).  `program`: run the first `confirm`
    samples (default all) with a program through the scan machinery
    (`dry_run`, `slurm` as for `tolvanex.scan`; None is returned when
    nothing was run here).  `jobs`: solves or runs at a time.

    >>> u = uncertainty("examples/glutathione.args", sigma=1, samples=1000)   # doctest: +SKIP
    >>> u.result["quantiles"]["50"], u.result["factor"]                      # doctest: +SKIP
    """
    say = _say(warn)
    base = parameters if isinstance(parameters, Parameters) else Parameters.read(parameters)
    m = Metric.parse(metric)
    model = ErrorModel.build(sigma, sigma_step, shift, sigma_file, distribution)
    settings = settings_of(base, m, model, samples, sampling, seed, end, shares, shares_by,
                           confirm, program)
    jobs = _count(jobs or os.cpu_count() or 1, "jobs", 1, 1024)
    out = os.path.abspath(out) if out else tempfile.mkdtemp(prefix="tolvanex-uncertainty-")
    if program is not None:
        return _with_program(base, m, model, settings, program, jobs, out, dry_run, progress,
                             say, slurm)
    if dry_run or slurm is not None:
        raise InvalidValue("--dry-run and --slurm go with --program: the exact engine runs here")
    if os.path.exists(os.path.join(out, MANIFEST)):
        raise OutputExists(f"{out} holds a scan; choose another folder")
    values = ExactValues(base, m, settings["end"])
    settings["base_value"] = reached_at_base(values)
    errors, barriers = drawn(base, model, settings)
    started = time.monotonic()
    meter = Meter(len(barriers), "samples", progress) if progress is not None else None
    v, states, notes = values.many(barriers, jobs, meter)
    if meter:
        meter.show(final=True)
    settings["seconds"] = round(time.monotonic() - started, 3)
    return _finish(out, base, m, model, settings, errors, barriers, v, states, notes, values,
                   jobs, progress, "exact")


def _finish(out, base, m, model, settings, errors, barriers, v, states, notes, values, jobs,
            progress, engine_name, exact=None, folders=None) -> Uncertainty:
    """Sensitivities and shares by the exact engine, then the outputs."""
    sens, why = sensitivities(values, jobs)
    shares = None
    if settings["shares"]:
        shares = barrier_shares(values, model, settings["shares"], settings["shares_by"],
                                settings["sampling"], settings["seed"] + 1, jobs, progress)
    exact_stats = None
    if exact is not None:
        exact_stats = _comparison(v, states, *exact)
    result = record(base, m, model, settings, barriers, v, states, sens, why, shares,
                    engine_name, exact_stats)
    frame = samples_frame(base, m, model, errors, barriers, v, states, notes,
                          None if exact is None else
                          np.where(exact[1] == REACHED, exact[0], np.nan), folders)
    found = Uncertainty(result, frame, base, model, why, out)
    write_outputs(found)
    return found


def _comparison(v, states, exact_values, exact_states) -> dict:
    """The exact engine's statistics of the samples a program ran, and how
    far the program's values are from them."""
    stats = statistics(exact_values, exact_states)
    both = (states == REACHED) & (exact_states == REACHED) & (v > 0) & (exact_values > 0)
    ratio = np.abs(np.log(v[both] / exact_values[both])) if both.any() else np.array([])
    stats.update({
        "compared": int(both.sum()),
        "median_abs_ln_difference": float(np.median(ratio)) if len(ratio) else None,
        "largest_abs_ln_difference": float(ratio.max()) if len(ratio) else None,
        "largest_at_sample": int(np.flatnonzero(both)[ratio.argmax()] + 1) if len(ratio)
        else None,
        "censored_differently": int(np.sum((states == CENSORED) != (exact_states == CENSORED)))})
    return stats


# -- through a program ---------------------------------------------------------------------
def study_record(folder: str, manifest: dict) -> dict:
    """The settings of an uncertainty study in its scan.json; NotAScan for
    another scan."""
    recorded = manifest.get(RECORD_KEY)
    if not (isinstance(recorded, dict) and isinstance(recorded.get("factors"), list)
            and isinstance(manifest.get("cases"), list)):
        raise NotAScan(f"{folder} holds a scan, not an uncertainty study")
    return recorded


def _with_program(base, m, model, settings, program, jobs, out, dry_run, progress, say,
                  slurm):
    values = ExactValues(base, m, settings["end"])
    settings["base_value"] = reached_at_base(values)
    if not m.is_rate and settings["base_value"] > base.wanted_time:
        raise InvalidValue(f"{m.name} of the base barriers is {settings['base_value']:.4g} s, "
                           f"after the wanted time {base.wanted_time:g} s at which the runs "
                           "stop: give a later wanted_time (--set wanted_time=...)")
    _, barriers = drawn(base, model, settings)
    width = len(str(settings["samples"]))
    cases = [(f"sample{k:0{width}d}", {f"barrier{i}": repr(float(b))
                                       for i, b in enumerate(row, start=1)})
             for k, row in enumerate(barriers[:settings["confirm"]], start=1)]
    fixed = {"wanted_time": m.time_s} if m.is_rate else {}
    table = scan(base, set=fixed, jobs=jobs, program=program, out=out, dry_run=dry_run,
                 progress=progress, warn=say, cases=cases, record={RECORD_KEY: settings},
                 slurm=slurm)
    return None if table is None else write_study(out, jobs, progress, say)


def resume_uncertainty(folder: str, jobs: int | None = None, program: str | None = None,
                       progress=sys.stderr, warn=None, slurm=None) -> Uncertainty | None:
    """Run again what is not finished in a study folder made with a
    program, then write its outputs (None when `slurm` submitted the runs
    without waiting)."""
    study_record(folder, read_manifest(folder))
    say = _say(warn)
    done = scan(None, jobs=jobs or os.cpu_count() or 1, program=program, out=folder,
                resume=True, progress=progress, warn=say, slurm=slurm)
    return None if done is None else write_study(folder, jobs, progress, say)


def collect_uncertainty(folder: str, jobs: int | None = None, progress=sys.stderr,
                        warn=None) -> Uncertainty:
    """The outputs of a study whose runs were carried out elsewhere (a
    cluster scheduler); ``result["job_in_queue"]`` names a Slurm job still
    working on it."""
    study_record(folder, read_manifest(folder))
    so_far = collect(folder, warn)
    found = write_study(folder, jobs, progress, _say(warn))
    if so_far.attrs.get("job_in_queue"):
        found.result["job_in_queue"] = so_far.attrs["job_in_queue"]
    return found


def _run_value(path: str, m: Metric) -> tuple[float, int, str]:
    """The metric of one run folder, as the rate-control study reads it."""
    try:
        run = Run.load(path, fluxes=False)
    except RunNotFound:                 # not run, or failed at its start
        try:
            stop = stop_without_trace(path, rf.read_exit_status(path))
        except rf.UnreadableFile as e:
            return math.nan, FAILED, f"unreadable: {e}"
        return math.nan, FAILED, m.why_none(stop)
    except (OSError, rf.UnreadableFile, FileFormatError, ValueError, IndexError) as e:
        return math.nan, FAILED, f"unreadable: {e}"
    value, why = m.value(run)
    if not math.isnan(value):
        return value, REACHED, ""
    failed = m.is_rate or state(run.stop.code) != ENDED_WELL
    return math.nan, FAILED if failed else CENSORED, why


def write_study(folder: str, jobs: int | None = None, progress=sys.stderr,
                warn=None) -> Uncertainty:
    """The outputs of a study made with a program, from its runs (and the
    exact engine for the same samples)."""
    folder = os.path.abspath(folder)
    manifest = read_manifest(folder)
    settings = dict(study_record(folder, manifest))
    m = Metric.parse(settings["metric"])
    base = Parameters.from_args(manifest["base_args"], check=False).replace(
        **manifest.get("set", {}))
    model = model_of(settings)
    errors, _ = drawn(base, model, settings)
    entries = manifest["runs"]
    barriers = np.array([[float(changes[f"barrier{i}"]) for i in range(1, 39)]
                         for _, changes in manifest["cases"]])
    errors = errors[:len(barriers)]
    found = [_run_value(os.path.join(folder, e["folder"]), m) for e in entries]
    v = np.array([f[0] for f in found])
    states = np.array([f[1] for f in found])
    values = ExactValues(base, m, settings["end"])
    jobs = jobs or os.cpu_count() or 1
    exact_v, exact_states, _ = values.many(barriers, jobs)
    program = manifest.get("program") or ""
    found_study = _finish(folder, base, m, model, settings, errors, barriers, v, states,
                          [f[2] for f in found], values, jobs, progress, program,
                          (exact_v, exact_states), [e["folder"] for e in entries])
    found_study.result["not_ended"] = sum(_not_ended(os.path.join(folder, e["folder"]))
                                          for e in entries)
    return found_study


def _not_ended(path: str) -> bool:
    """Whether the run in `path` has not ended: never run, or running or
    killed before it recorded its exit status."""
    try:
        return state(stop_without_trace(path, rf.read_exit_status(path)).code) == NOT_ENDED_STATE
    except rf.UnreadableFile:
        return False
