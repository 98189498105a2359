"""What an uncertainty study found, put together from its samples: the
record of ``uncertainty.json`` (`record`), the rows of ``samples.csv``
(`samples_frame`) and of ``uncertainty.csv`` (`barrier_table`)."""

from __future__ import annotations

import math

import numpy as np
import pandas as pd

from ...model import mechanism
from ...model.mechanism import BARRIER_CUTOFF, TEMPERATURE
from ...model.parameters import BARRIER_COUNT
from ..rate_metric import PER_KCAL
from .exact_values import CENSORED, FAILED, REACHED
from .spread import linear_estimate, quantiles, spread

STATE_NAMES = {REACHED: "reached", CENSORED: "censored", FAILED: "failed"}
#: How far the linear estimate may lie from the sampled spread before the
#: summary says so (relative).
AGREEMENT = 0.10


def crossings(base_barriers, barriers) -> np.ndarray:
    """Samples × 38: where a sampled barrier lies on the other side of the
    cut-off than the base one (its direction switched off or on)."""
    base = np.asarray(base_barriers, dtype=float) > BARRIER_CUTOFF
    return (np.asarray(barriers, dtype=float) > BARRIER_CUTOFF) != base


def metric_column(metric, suffix: str = "") -> str:
    stem = f"P_at_{metric.time_s:g}s" if metric.is_rate else metric.name
    return f"{stem}{suffix}_{metric.unit}"


def statistics(values, states) -> dict:
    """Counts, quantiles and spread of one set of values."""
    states = np.asarray(states)
    q = quantiles(values, states, log=True)
    return {"samples": int(len(states)),
            "censored": int(np.sum(states == CENSORED)),
            "failed": int(np.sum(states == FAILED)), "quantiles": q,
            "censored_quantiles": [k for k, v in q.items() if v is None],
            **spread(values, states)}


def _shift_note(base, metric, shift_sensitivity: float) -> str:
    """What a common shift does to a time metric: with every barrier + δ,
    every time is multiplied by exactly exp(δ·4184/(8.314·298)), so the
    sensitivities add up to 4184/(8.314·298), except for the fixed
    constants of the organomercurial binding."""
    if metric.is_rate or math.isnan(shift_sensitivity):
        return ""
    kelvin = getattr(base, "temperature", None) or TEMPERATURE
    exact, rule = PER_KCAL * TEMPERATURE / kelvin, f"4184/(8.314·{kelvin:g})"
    text = f"common shift δ: ∂ln {metric.name}/∂δ = {shift_sensitivity:.6g} per kcal/mol"
    if base.is_organomercurial:
        return (text + f", not {exact:.6g}: the organomercurial binding has fixed constants, "
                "which a shift does not move, so time is not rescaled exactly")
    if abs(shift_sensitivity / exact - 1) > 1e-3:
        return (text + f", not the exact {exact:.6g} = {rule}: a barrier at the cut-off, or "
                "the solves are not accurate")
    return text + f"; exactly {exact:.6g} = {rule}, every time × exp({exact:.6g}·δ)"


def _notes(result: dict, metric) -> list[str]:
    notes = []
    sampled, linear = result["sigma_ln"], result["linear_sigma_ln"]
    if result["censored"]:
        notes.append(f"{result['censored']} of {result['samples']} samples do not reach "
                     f"{metric.name} by {result['end_s']:g} s (censored: counted above every "
                     "value)")
    if result["failed"]:
        notes.append(f"{result['failed']} samples failed (no value; left out)")
    if result["crossed_cutoff"]["samples"]:
        c = result["crossed_cutoff"]
        names = ", ".join(f"{k} ({v})" for k, v in c["barriers"].items())
        notes.append(f"{c['samples']} samples have a barrier across the {BARRIER_CUTOFF:g} "
                     f"kcal/mol cut-off, which switches its direction off or on: {names}")
    compared = sampled if sampled is not None else result["sigma_ln_quantiles"]
    if compared and linear is not None and abs(linear / compared - 1) > AGREEMENT:
        why = ("censored samples (beyond the end) count only through the quantiles"
               if result["censored"] else
               "the metric is not linear in the barriers over the errors' range (a step "
               "that limits the rate in one sample and not in another)")
        notes.append(f"the linear estimate (σ_ln {linear:.3g}) is "
                     f"{abs(linear / compared - 1):.0%} {'above' if linear > compared else 'below'}"
                     f" the sampled spread (σ_ln {compared:.3g}): {why}")
    if result["linear_left_out"]:
        notes.append("no derivative for " + ", ".join(result["linear_left_out"])
                     + ": left out of the linear estimate (see uncertainty.csv)")
    return notes


def record(base, metric, model, settings: dict, barriers, values, states, sens, why,
           shares=None, engine_name: str = "exact", exact=None) -> dict:
    """The content of uncertainty.json (see docs/uncertainty.md)."""
    crossed = crossings(base.barriers, barriers)
    lin = linear_estimate(sens, model)
    result = {"metric": metric.name, "unit": "mol/L" if metric.is_rate else "s",
              "engine": engine_name, **statistics(values, states),
              "end_s": settings["end"], "base_value": settings["base_value"],
              "linear_sigma_ln": lin["sigma_ln"], "linear_factor": lin["factor"],
              "linear_left_out": lin["left_out"],
              "sensitivities": {f"barrier{i + 1}": (None if math.isnan(s) else float(s))
                                for i, s in enumerate(sens)},
              "linear_shares": lin["shares"],
              "variance_shares": {} if shares is None else {
                  name: {"first": _number(r["first"]), "total": _number(r["total"]),
                         "first_interval": [_number(r["first_low"]), _number(r["first_high"])],
                         "total_interval": [_number(r["total_low"]), _number(r["total_high"])],
                         "factors": r["factors"].split()}
                  for name, r in shares.iterrows()},
              "crossed_cutoff": {"samples": int(crossed.any(axis=1).sum()), "barriers": {
                  f"barrier{i + 1}": int(n) for i, n in enumerate(crossed.sum(axis=0)) if n}},
              "error_model": model.record(), "settings": settings}
    if shares is not None:
        result["shares_cost"] = dict(shares.attrs)
    if exact is not None:
        result["exact"] = exact
    if "shift" in model.names:
        result["shift_note"] = _shift_note(base, metric,
                                           lin["factor_sensitivities"]["shift"])
    result["notes"] = _notes(result, metric)
    return result


def _number(x) -> float | None:
    return None if x is None or not math.isfinite(x) else float(x)


def samples_frame(base, metric, model, unit_values, barriers, values, states, notes,
                  exact=None, folders=None) -> pd.DataFrame:
    """One row per sample: the sampled barriers, each factor's error, the
    metric (empty when censored or failed), its state and note, the
    barriers across the cut-off; with a program, the exact value beside
    and the run folder."""
    frame = pd.DataFrame(np.asarray(barriers), columns=[f"barrier{i}" for i in
                                                        range(1, BARRIER_COUNT + 1)])
    frame.index = pd.RangeIndex(1, len(frame) + 1, name="sample")
    errors = pd.DataFrame(np.asarray(unit_values), index=frame.index,
                          columns=[f"error_{n}" for n in model.names])
    frame = pd.concat([frame, errors], axis=1)
    frame[metric_column(metric)] = np.where(np.asarray(states) == REACHED, values, np.nan)
    frame["state"] = [STATE_NAMES[int(s)] for s in states]
    if exact is not None:
        frame[metric_column(metric, "_exact")] = exact
    if folders is not None:
        frame["run_folder"] = folders
    crossed = crossings(base.barriers, barriers)
    frame["crossed_cutoff"] = [" ".join(f"barrier{i + 1}" for i in np.flatnonzero(row))
                               for row in crossed]
    frame["note"] = notes
    return frame


def barrier_table(base, model, result: dict, why) -> pd.DataFrame:
    """uncertainty.csv: a row per barrier (its base value, its error when
    it is a factor of its own, ∂ln metric/∂barrier, the samples where it
    crossed the cut-off), then a row per other factor or group of the
    variance shares (a step's transition state, the common shift), each
    with its share of the linear variance and its Sobol indices."""
    rows = []
    factors = {f.name: (f, sd) for f, sd in zip(model.factors, model.sd())}
    names = [f"barrier{i}" for i in range(1, BARRIER_COUNT + 1)]
    names += [n for n in model.names if n not in names]
    names += [n for n in result["variance_shares"] if n not in names]
    for name in names:
        factor, sd = factors.get(name, (None, math.nan))
        shares = result["variance_shares"].get(name, {})
        kind = factor.kind if factor else ("barrier" if name.startswith("barrier") else "group")
        moves = ("every barrier" if factor and factor.kind == "shift" else
                 " ".join(f"barrier{b}" for b in factor.barriers) if factor else
                 " ".join(shares.get("factors", [])) if kind == "group" else name)
        row = {"name": name, "kind": kind, "moves": moves, "sd_kcal_per_mol": sd,
               "sensitivity_per_kcal": math.nan,
               "linear_share": result["linear_shares"].get(name, math.nan),
               **{k: _get(shares, k) for k in ("first", "total")},
               "first_low": _get(shares, "first_interval", 0),
               "first_high": _get(shares, "first_interval", 1),
               "total_low": _get(shares, "total_interval", 0),
               "total_high": _get(shares, "total_interval", 1),
               "crossed_cutoff": 0, "note": ""}
        if kind == "barrier":
            i = int(name[len("barrier"):])
            sens = result["sensitivities"][name]
            row.update(base_kcal_per_mol=base.barriers[i - 1],
                       sensitivity_per_kcal=math.nan if sens is None else sens,
                       crossed_cutoff=result["crossed_cutoff"]["barriers"].get(name, 0),
                       step=mechanism.step_of_barrier(i).number, note=why[i - 1])
        elif factor is not None:
            sens = sum(result["sensitivities"][f"barrier{b}"] or 0.0 for b in factor.barriers)
            row.update(sensitivity_per_kcal=sens,
                       **({"step": int(name[4:])} if factor.kind == "step" else {}))
        rows.append(row)
    table = pd.DataFrame(rows).set_index("name")
    table["step"] = table["step"].astype("Int64")
    first = ["kind", "moves", "step", "base_kcal_per_mol", "sd_kcal_per_mol",
             "sensitivity_per_kcal", "linear_share", "first", "first_low", "first_high",
             "total", "total_low", "total_high", "crossed_cutoff", "note"]
    return table[first]


def _get(shares: dict, key: str, index: int | None = None) -> float:
    value = shares.get(key)
    if value is not None and index is not None:
        value = value[index]
    return math.nan if value is None else value
