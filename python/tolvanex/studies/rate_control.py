"""Degree of rate control: which transition states set how fast mercury is
removed, and by how much.

For every step of the mechanism both barriers are lowered by delta
(kcal/mol) and then raised by delta, so that only its transition state
moves and its equilibrium constant stays; each case is one run of a scan
(`tolvanex.scans.scan` with a list of cases), beside the base run.  The degree of
rate control of step i is

    X_i = −[ln m(lowered) − ln m(raised)] / (2 · delta · 4184 / (8.314 · T))

for a time metric m (t50, t90; the rate is 1/m), with the opposite sign for
P@T (the product at time T, itself a rate).  See `tolvanex.studies.rate_metric`.

**Sum rule.** Multiplying every rate constant by one factor only rescales
time, so for the exact rate equations the X_i of a time metric add up to 1,
and those of P@T to the elasticity T·P'(T)/P(T) of the base run.  The sum is
checked against that (within 0.05); the programs' explicit step, the pruning
of `tolvanex`, or a metric read between far-apart rows can spoil it.  In
organomercurial mode the binding of the organomercurial has fixed
constants: its X is what the sum rule leaves (a row marked derived), and
the rule cannot be checked.

The cases are solved by the exact engine (39 solves, about a second) unless
a program is asked for (``tolvanex_unpruned`` agrees to ~1e-4; the default
where the programs' files are wanted: a dry run, Slurm).  ``set`` changes
the base arguments (pKa and temperature too, for the engine); ``steps``
limits the study to some steps.  A step that carries nothing in the mode at
hand (step 21 outside organomercurial mode) is not run: its X is 0.

The study folder is a scan folder (``scan.json`` records the metric, delta,
the values set and the steps under ``rate_control``); beside the runs and
``summary.csv`` it holds ``rate_control.csv`` (`TABLE`) and
``rate_control.png`` (`PICTURE`).  Its tables from the engine's points solve
the cases again (milliseconds each), so that any metric can be collected.

>>> table = rate_control("examples/mera.args", out="studies/mera")  # doctest: +SKIP
>>> table.attrs["sum_X"], table.loc[table["X"].abs().idxmax(), "equation"]  # doctest: +SKIP
(1.0003..., 'A + thiol ⇌ C')
"""

from __future__ import annotations

import math
import os
import sys
import tempfile

import numpy as np
import pandas as pd

from ..atomic import replaced_whole
from ..errors import InvalidValue
from ..model.parameters import CONDITIONS, Parameters
from .rate_metric import Metric, degree_of_rate_control
from .rate_plan import BASE_CASE, chosen_steps, step_plans, study_cases
from ..runs import folder as rf
from ..runs.file_format import FileFormatError
from ..runs.folder import RunNotFound
from ..runs.outcome import NOT_ENDED_STATE, state, stop_without_trace
from ..runs.programs import EXACT, FILES_DEFAULT
from ..runs.run import Run
from ..scans import exact_points
from ..scans.grid import scan_parameter
from ..scans.manifest import NotAScan, read_manifest
from ..scans.scan import collect, scan

RECORD_KEY = "rate_control"
TABLE = "rate_control.csv"
PICTURE = "rate_control.png"
#: The program a study runs where the programs' files are wanted (a dry run,
#: Slurm): the one that follows the rate equations (tolvanex drops backward
#: net fluxes, which changes the degrees without the sum rule showing it;
#: see docs/rate_control.md).  Otherwise the exact engine runs.
DEFAULT_PROGRAM = FILES_DEFAULT

#: How far the sum of the degrees may be from the sum rule's value.
SUM_TOLERANCE = 0.05


def study_record(folder: str, manifest: dict) -> dict:
    """The study's settings in its manifest (metric and delta); NotAScan
    for a scan that is no rate-control study."""
    recorded = manifest.get(RECORD_KEY)
    if not (isinstance(recorded, dict) and isinstance(recorded.get("metric"), str)
            and isinstance(recorded.get("delta"), str)
            and isinstance(manifest.get("base_args"), list)):
        raise NotAScan(f"{folder} holds a scan, not a rate-control study")
    return recorded


def _say(warn):
    return warn or (lambda message: print(f"tolvanex-rate-control: {message}", file=sys.stderr))


def _study_base(parameters, changes, m: Metric) -> tuple[Parameters, dict]:
    """The base of a study: `parameters` with the values `changes` set;
    and the values set for every case (the wanted time of a P@T study)."""
    base = parameters if isinstance(parameters, Parameters) else Parameters.read(parameters)
    given = {scan_parameter(k, base, "set"): v for k, v in (changes or {}).items()}
    if m.is_rate and "wanted_time" in given:
        raise InvalidValue(f"the metric {m.name} sets the wanted time of every run to "
                           f"{m.time_s:g} s; leave out the wanted_time set")
    try:
        base = base.replace(**given)
    except ValueError as e:
        raise InvalidValue(f"set: {e}") from None
    return base, ({"wanted_time": m.time_s} if m.is_rate else {})


def rate_control(parameters, metric: str = "t50", delta: float = 0.1, jobs: int = 2,
                 program: str | None = None, out: str | None = None,
                 dry_run: bool = False, progress=sys.stderr, warn=None,
                 slurm=None, engine: str | None = None, set=None,
                 steps=None) -> pd.DataFrame | None:
    """Run the study and return its table (one row per step, see
    `rate_control_table`); write ``rate_control.csv`` and ``rate_control.png``
    in `out` (a fresh temporary folder when None; the table's
    ``attrs["folder"]``).

    `parameters` is a `Parameters` or an arguments file, `set` values that
    replace some of them ({name: value}); `metric` is t50, t90 or P@T (for
    P@T the wanted time of every case is set to T); `delta` is in
    kcal/mol; `steps` (numbers, or text "1,9,29") limits the study to those
    steps.  What runs: the exact engine (``engine="exact"``, the default),
    or `program` (`tolvanex.scan`; with `dry_run` or `slurm` the default is
    ``tolvanex_unpruned``).  With `dry_run` the run folders and commands.txt
    are written and nothing runs (returns None).  `warn` gets the warnings,
    among them a failed sum rule (default: standard error).  `slurm`
    (`SlurmOptions`) sends the runs to Slurm as `scan` does: None is
    returned once they are submitted, unless ``slurm.wait``.

    >>> rate_control("examples/glutathione.args", metric="P@10", set={"pH": 9},
    ...              out="studies/gsh-p10")  # doctest: +SKIP
    """
    say = _say(warn)
    m = Metric.parse(metric)
    base, fixed = _study_base(parameters, set, m)
    cases = study_cases(step_plans(base.replace(**fixed), delta, steps))
    chosen = chosen_steps(steps, base.is_organomercurial)
    out = os.path.abspath(out) if out else tempfile.mkdtemp(prefix="tolvanex-rate-control-")
    record = {"metric": m.name, "delta": str(delta),
              **({"set": {k: str(v) for k, v in set.items()}} if set else {}),
              **({"steps": chosen} if chosen else {})}
    args_file = None if isinstance(parameters, Parameters) else os.path.abspath(parameters)
    table = scan(base, set=fixed, jobs=jobs, program=program, engine=engine, out=out,
                 dry_run=dry_run, progress=progress, warn=say, cases=cases,
                 record={RECORD_KEY: record, "args_file": args_file}, slurm=slurm)
    return None if table is None else write_study(out, warn=say)


def resume_rate_control(folder: str, jobs: int = 2, program: str | None = None,
                        progress=sys.stderr, warn=None, slurm=None,
                        engine: str | None = None) -> pd.DataFrame | None:
    """Run again what is not finished in a study folder (with its recorded
    arguments, metric and delta) and return its table (None when `slurm`
    submitted the runs without waiting for them).

    >>> resume_rate_control("studies/mera")                   # doctest: +SKIP
    """
    study_record(folder, read_manifest(folder))
    say = _say(warn)
    done = scan(None, jobs=jobs, program=program, engine=engine, out=folder, resume=True,
                progress=progress, warn=say, slurm=slurm)
    return None if done is None else write_study(folder, warn=say)


def collect_rate_control(folder: str, metric: str | None = None, warn=None) -> pd.DataFrame:
    """Write summary.csv, rate_control.csv and rate_control.png of a study
    whose runs were carried out elsewhere (a cluster scheduler), or again
    with another metric of the same runs, and return the table.

    >>> collect_rate_control("studies/mera", metric="t90")    # doctest: +SKIP
    """
    so_far = collect(folder, warn)
    table = write_study(folder, metric, warn=_say(warn))
    if so_far.attrs.get("job_in_queue"):        # a Slurm job still works on it
        table.attrs["job_in_queue"] = so_far.attrs["job_in_queue"]
    return table


def write_study(folder: str, metric: str | None = None, warn=None) -> pd.DataFrame:
    """Compute the table of the study in `folder`, write rate_control.csv and
    rate_control.png there, warn when the sum rule fails, return the table.

    >>> write_study("studies/mera", "t90").attrs["sum_X"]        # doctest: +SKIP
    1.000...
    """
    from ..plots.rate_control_chart import plot_rate_control

    table = rate_control_table(folder, metric)
    if "not resolved by the rows" in table.attrs["base_note"]:
        _say(warn)(f"the base run has no {table.attrs['metric']}: {table.attrs['base_note']}; "
                   "choose a time after the runs' first rows")
    with replaced_whole(os.path.join(folder, TABLE)) as f:
        table.to_csv(f, na_rep="", lineterminator="\n")
    plot_rate_control(table, os.path.join(folder, PICTURE))
    if table.attrs["sum_ok"] is False or table.attrs["unchecked"]:
        _say(warn)(table.attrs["sum_message"])
    return table


def _load_values(folder: str, manifest: dict, m: Metric) -> tuple[dict, Run | None, list]:
    """Every case's metric value and, where there is none, why; the base run
    (a `tolvanex.Solution` for the exact engine's points, solved again); the
    cases whose runs have not ended (not run, running or killed)."""
    values, base_run, not_ended = {}, None, []
    exact = manifest.get("program") == EXACT
    for entry in manifest["runs"]:
        case = entry.get("values", {}).get("case")
        path = os.path.join(folder, entry["folder"])
        if exact:
            try:
                run, why = exact_points.point_solution(folder, entry)
            except (rf.UnreadableFile, OSError) as e:
                run, why = None, f"unreadable: {e}"
            values[case] = (math.nan, why) if run is None else m.value(run)
            if run is None and state(why.split(":")[0]) == NOT_ENDED_STATE:
                not_ended.append(case)
            if case == BASE_CASE:
                base_run = run
            continue
        try:
            run = Run.load(path, fluxes=False)
        except RunNotFound:                     # no trace file: not run, or failed at start
            try:
                stop = stop_without_trace(path, rf.read_exit_status(path))
            except rf.UnreadableFile as e:
                values[case] = (math.nan, f"unreadable: {e}")
                continue
            values[case] = (math.nan, m.why_none(stop))
            if state(stop.code) == NOT_ENDED_STATE:
                not_ended.append(case)
            continue
        except (OSError, rf.UnreadableFile, FileFormatError, ValueError, IndexError) as e:
            values[case] = (math.nan, f"unreadable: {e}")
            continue
        values[case] = m.value(run)
        if state(run.stop.code) == NOT_ENDED_STATE:
            not_ended.append(case)
        if case == BASE_CASE:
            base_run = run
    return values, base_run, not_ended


def _row_gap(run: Run | None, time: float) -> float:
    """How far apart in time (a ratio) the base run's rows around `time` are
    (NaN for a solution, which has no rows to read between)."""
    if not isinstance(run, Run) or not math.isfinite(time):
        return math.nan
    t = run.trace.index.to_numpy()
    k = int(np.searchsorted(t, time))
    if 0 < k < len(t) and t[k - 1] > 0:
        return float(t[k] / t[k - 1])
    return math.nan


def rate_control_table(folder: str, metric: str | None = None) -> pd.DataFrame:
    """The table of the study in `folder` from its runs, without writing.

    Index ``step`` (1, 3, ..., 37; 39 the derived binding).  Columns:
    ``equation`` (reactants ⇌ products, the positive direction left to
    right), ``species`` (the species it joins), ``forward_barrier`` and
    ``reverse_barrier`` (barrier numbers, 1-38),
    ``forward_barrier_kcal_per_mol`` and ``reverse_barrier_kcal_per_mol``,
    ``X`` (the degree of rate control; empty when there is none, with the
    reason in ``note``), ``derived``, the metric in the base, lowered and
    raised case with its unit (e.g. ``t50_base_s``, ``P_at_10s_raised_mol_per_L``),
    ``lowered_folder``, ``raised_folder`` and ``note``.  ``attrs`` hold the
    metric, delta, program, base value, ``sum_X``, ``expected_sum``,
    ``sum_ok`` (None when it cannot be checked), ``missing`` (steps that may
    carry flux but have no X), ``failed`` (steps whose runs give no X),
    ``unchecked`` (why the rule cannot be
    checked, "" when it can or when a derived row takes what it leaves),
    ``sum_message``, ``not_ended`` (the cases whose runs have not ended:
    not run, or running or killed) and ``base_note`` (why the base run has
    no metric, "" when it has one).

    >>> t = rate_control_table("studies/mera")                  # doctest: +SKIP
    >>> t.loc[[1, 23], ["equation", "X"]]                        # doctest: +SKIP
                  equation         X
    step
    1        A + thiol ⇌ C  0.849...
    23    D ⇌ A + thiolate  0.096...
    """
    manifest = read_manifest(folder)
    recorded = study_record(folder, manifest)
    m = Metric.parse(metric or recorded["metric"])
    delta = float(recorded["delta"])
    base = Parameters.from_args(manifest["base_args"], check=False).replace(
        **{k: v for k, v in manifest.get("set", {}).items() if k in CONDITIONS})
    plans = step_plans(base, recorded["delta"], recorded.get("steps"))
    values, base_run, not_ended = _load_values(folder, manifest, m)
    run_folders = {e.get("values", {}).get("case"): e["folder"] for e in manifest["runs"]}
    base_value, base_reason = values.get(BASE_CASE, (math.nan, "no base run"))
    rows = []
    for p in plans:
        s = p.step
        row = {"step": s.number, "equation": s.equation, "species": " ".join(s.species),
               "forward_barrier": s.forward_barrier, "reverse_barrier": s.reverse_barrier,
               "forward_barrier_kcal_per_mol": p.forward_kcal,
               "reverse_barrier_kcal_per_mol": p.reverse_kcal, "X": math.nan,
               "derived": p.derived, m.column("base"): base_value,
               m.column("lowered"): math.nan, m.column("raised"): math.nan,
               "lowered_folder": "", "raised_folder": "", "note": p.note}
        if p.inert:
            row["X"] = 0.0
        if p.differentiated:
            (lo, lo_why), (hi, hi_why) = (values.get(p.case(w), (math.nan, "no such run"))
                                          for w in ("lowered", "raised"))
            row.update({m.column("lowered"): lo, m.column("raised"): hi,
                        "lowered_folder": run_folders.get(p.case("lowered"), ""),
                        "raised_folder": run_folders.get(p.case("raised"), "")})
            row["X"] = degree_of_rate_control(lo, hi, delta, m.is_rate, base.temperature)
            if math.isnan(row["X"]):
                why = "; ".join(f"{w}: {r}" for w, r in (("lowered", lo_why), ("raised", hi_why))
                                if r) or "a metric value is not positive"
                row["note"] = "; ".join(n for n in (p.note, f"no X ({why})") if n)
        rows.append(row)
    table = pd.DataFrame(rows).set_index("step")
    for column in ("forward_barrier", "reverse_barrier"):    # numbers, empty for the binding
        table[column] = table[column].astype("Int64")
    expected = m.expected_sum(base_run) if base_run is not None and not base_reason \
        else math.nan
    _sum_rule(table, plans, m, expected, base_reason, _row_gap(
        base_run, m.time_s if m.is_rate else base_value), manifest.get("program") or "",
        getattr(base_run, "folder", None) or "")
    table.attrs.update(metric=m.name, delta_kcal_per_mol=delta,
                       program=manifest.get("program"), base_value=base_value,
                       base_note=base_reason,
                       not_ended=not_ended,
                       folder=os.path.abspath(folder),
                       args_file=manifest.get("args_file"))
    return table


def _sum_rule(table, plans, m: Metric, expected: float, base_reason: str, gap: float,
              program: str, base_folder: str) -> None:
    """Add the sum of the degrees, the derived row's X and the verdict of
    the sum rule to the table (attrs)."""
    measured = table[~table["derived"]]
    total = float(measured["X"].sum(skipna=True))
    left_out = [p.step.number for p in plans if p.left_out]
    missing = [p.step.number for p in plans if not p.derived and not p.left_out
               and p.may_carry_flux and math.isnan(table.loc[p.step.number, "X"])]
    failed = [p.step.number for p in plans
              if p.differentiated and math.isnan(table.loc[p.step.number, "X"])]
    rule = ("1" if not m.is_rate else
            f"T·P'(T)/P(T) of the base run at T = {m.time_s:g} s"
            + (f", {expected:.4g}" if math.isfinite(expected) else ""))
    derived = [p.step.number for p in plans if p.derived]
    ok, message, unchecked = None, "", ""
    if left_out:
        asked = [p.step.number for p in plans if not p.left_out]
        unchecked = (f"the sum rule (it says {rule}) needs every step; this study has step"
                     f"{'s' if len(asked) > 1 else ''} {', '.join(map(str, asked))} only")
    elif missing:
        unchecked = (f"the sum rule (it says {rule}) cannot be checked: step"
                     f"{'s' if len(missing) > 1 else ''} {', '.join(map(str, missing))} may "
                     f"carry flux but ha{'ve' if len(missing) > 1 else 's'} no X (see the note)")
    elif math.isnan(expected):
        unchecked = (f"the sum rule cannot be checked: the base run has no {m.name} "
                     f"({base_reason or 'its value is not positive'})")
    if unchecked:
        message = f"sum of X over the steps that have one = {total:.4f}; {unchecked}"
    for number in derived:
        if unchecked:
            table.loc[number, "note"] += f"; no X: {unchecked}"
            continue
        table.loc[number, "X"] = expected - total
        message = (f"sum of X over the 19 steps with barriers = {total:.4f}; the "
                   f"organomercurial binding (fixed constants) takes what the sum rule "
                   f"(which says {rule}) leaves, X = {expected - total:.4f}, so the rule "
                   "itself cannot be checked")
    if not message:
        off = total - expected
        ok = abs(off) <= SUM_TOLERANCE
        message = f"sum of X = {total:.4f}; the sum rule says {rule}: off by {off:+.4f}"
        if ok:
            message += f", within {SUM_TOLERANCE:g}"
        else:
            message += f", more than {SUM_TOLERANCE:g}. " + _causes(m, gap, program, base_folder)
    table.attrs.update(sum_X=total, expected_sum=expected, sum_ok=ok, missing=missing,
                       failed=failed, unchecked=unchecked, sum_message=message)


def _causes(m: Metric, gap: float, program: str, base_folder: str) -> str:
    where = f"T = {m.time_s:g} s" if m.is_rate else m.name
    if program == EXACT:
        return ("The exact solution leaves only the central difference over ±delta as a "
                "cause: a smaller --delta shows whether the degrees change that fast.")
    causes = []
    if os.path.basename(program) == "tolvanex":
        causes.append("the pruning of tolvanex, which drops backward and negligible net "
                      "fluxes and so changes the mechanism (use --program tolvanex_unpruned)")
    causes.append("the programs' explicit step (compare the base run with the exact "
                  f"solution: tolvanex-check {base_folder})")
    if math.isfinite(gap):
        causes.append(f"a metric read between far-apart rows (the base run's rows around "
                      f"{where} are {gap:.3g} times apart in time)")
    else:
        causes.append("a metric read between far-apart rows")
    return "Causes that can do this: " + "; ".join(causes) + "."
