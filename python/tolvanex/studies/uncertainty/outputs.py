"""What an uncertainty study leaves: `Uncertainty` (its findings from
Python), the files of its folder and the summary the command prints."""

from __future__ import annotations

import json
import math
import os

from ...atomic import replaced_whole
from ...model import mechanism
from ...plots.rate_control_chart import _SHORT
from .results import barrier_table

SAMPLES = "samples.csv"
RECORD = "uncertainty.json"
TABLE = "uncertainty.csv"
PICTURE = "uncertainty.png"
#: Factors whose shares are all below this are not listed in the summary.
SHOWN = 0.01


class Uncertainty:
    """The findings of a study: ``result`` (the record of uncertainty.json),
    ``samples`` (samples.csv, a DataFrame), ``table`` (uncertainty.csv),
    ``folder``; ``summary()`` is what the command prints."""

    def __init__(self, result: dict, samples, base, model, why, folder: str):
        self.result, self.samples, self.folder = result, samples, folder
        self.base, self.model = base, model
        self.table = barrier_table(base, model, result, why)

    def summary(self) -> str:
        return summary(self)

    def __repr__(self):
        return (f"<Uncertainty of {self.result['metric']}: {self.result['samples']} samples, "
                f"median {self.result['quantiles']['50']}>")


def _clean(x):
    """JSON has no NaN or infinity: None stands for them."""
    if isinstance(x, dict):
        return {str(k): _clean(v) for k, v in x.items()}
    if isinstance(x, (list, tuple)):
        return [_clean(v) for v in x]
    if isinstance(x, float) and not math.isfinite(x):
        return None
    if hasattr(x, "item") and not isinstance(x, str):       # a NumPy scalar
        return _clean(x.item())
    return x


def write_outputs(found: Uncertainty) -> None:
    """samples.csv, uncertainty.json, uncertainty.csv and uncertainty.png
    in the study's folder, each written whole or not at all."""
    from ...plots.uncertainty_chart import plot_uncertainty

    os.makedirs(found.folder, exist_ok=True)
    with replaced_whole(os.path.join(found.folder, SAMPLES)) as f:
        found.samples.to_csv(f, na_rep="", lineterminator="\n", float_format="%.10g")
    with replaced_whole(os.path.join(found.folder, RECORD)) as f:
        json.dump(_clean(found.result), f, indent=1, ensure_ascii=False, allow_nan=False)
        f.write("\n")
    with replaced_whole(os.path.join(found.folder, TABLE)) as f:
        found.table.to_csv(f, na_rep="", lineterminator="\n", float_format="%.6g")
    plot_uncertainty(found, os.path.join(found.folder, PICTURE))


def factor_label(name: str) -> str:
    """What a factor or group moves, in words.

    >>> factor_label("barrier2"), factor_label("step9"), factor_label("shift")
    ('C → A + thiol', 'K + 2nd thiol ⇌ L', 'every barrier')
    """
    def side(names):
        return " + ".join(_SHORT.get(n, n) for n in names)
    if name == "shift":
        return "every barrier"
    if name.startswith("barrier"):
        i = int(name[7:])
        s = mechanism.step_of_barrier(i)
        ends = (s.reactants, s.products) if s.forward_barrier == i else (s.products, s.reactants)
        return f"{side(ends[0])} → {side(ends[1])}"
    s = mechanism.step(int(name[4:]))
    return f"{side(s.reactants)} ⇌ {side(s.products)}"


def _value(x) -> str:
    return "censored" if x is None else f"{x:.4g}"


def _factor(x: float) -> str:
    return f"{x:.2f}" if x < 100 else f"{x:.3g}"


def _share(x) -> str:
    return "    -" if x is None or not math.isfinite(x) else f"{x:5.2f}"


def _interval(share: dict, key: str) -> str:
    low, high = share.get(f"{key}_interval", [None, None])
    if low is None or high is None:
        return _share(share.get(key)) + " " * 15
    return f"{_share(share.get(key))} [{low:5.2f},{high:5.2f}]"


def summary(found: Uncertainty) -> str:
    """The one-screen summary: what was sampled, the quantiles, the spread
    beside its linear estimate, censored and cut-off counts, the factors
    that carry the variance, the notes, the files."""
    r, s = found.result, found.result["settings"]
    name, unit = r["metric"], r["unit"]
    engine = "exact engine" if r["engine"] == "exact" else os.path.basename(r["engine"])
    drawn = (f"the first {r['samples']} of {s['samples']}, " if r["samples"] < s["samples"]
             else "")
    lines = [f"{name} of {r['samples']} samples ({drawn}{s['sampling']}, seed {s['seed']}), "
             f"{engine}"
             + (f", {s['seconds']:g} s" if "seconds" in s else ""),
             s["description"],
             f"base {name} = {r['base_value']:.4g} {unit}", ""]
    q = r["quantiles"]
    counted = r["samples"] - r["failed"]
    label = f"{name} ({unit})"
    lines.append("quantile".ljust(len(label)) + "".join(f"{k + ' %':>11}" for k in q))
    lines.append(label.ljust(8) + "".join(
        f"{_value(v) if counted else '-':>11}" for v in q.values()))
    if r["censored_quantiles"] and counted:
        lines.append("  (censored: " + (f"beyond {r['end_s']:g} s, where the solves end)"
                                        if r["engine"] == "exact" else
                                        "not reached before the runs ended)"))
    lines.append("")
    spread = ("none" if r["factor"] is None else
              f"× {_factor(r['factor'])} ({r['factor_from']})")
    lines.append(f"one standard deviation of ln {name}: {spread}; linear estimate "
                 f"× {_factor(r['linear_factor'])}")
    lines.append(f"censored {r['censored']}, failed {r['failed']}, across the cut-off "
                 f"{r['crossed_cutoff']['samples']}")
    if "exact" in r:
        e = r["exact"]
        lines.append(f"exact engine on the same samples: median {_value(e['quantiles']['50'])}"
                     f", largest |ln(program/exact)| "
                     + ("-" if e["largest_abs_ln_difference"] is None else
                        f"{e['largest_abs_ln_difference']:.2g} (sample "
                        f"{e['largest_at_sample']})"))
    if "shift_note" in r:
        lines.append(r["shift_note"])
    lines += ["", _carriers(r)]
    lines += [f"note: {n}" for n in r["notes"]]
    if not r["variance_shares"]:
        solves = 256 * (len(r["error_model"]["factors"]) + 2)
        pace = (f", about {s['seconds'] / r['samples'] * solves:.0f} s at this study's pace"
                if s.get("seconds") else "")
        lines.append(f"no Sobol shares: --shares 256 would cost up to {solves:,} solves{pace}")
    else:
        c = r["shares_cost"]
        lines.append(f"Sobol shares: {c['samples']} base samples, {c['evaluations']:,} solves, "
                     f"{c['seconds']:g} s")
    lines += ["", *(os.path.join(found.folder, f) for f in (RECORD, TABLE, SAMPLES, PICTURE))]
    return "\n".join(lines)


def _carriers(r: dict) -> str:
    shares, linear = r["variance_shares"], r["linear_shares"]
    names = list(dict.fromkeys(list(linear) + list(shares)))
    def weight(n):
        v = [linear.get(n)] + [shares.get(n, {}).get(k) for k in ("first", "total")]
        return max((x for x in v if x is not None and math.isfinite(x)), default=0.0)
    shown = sorted((n for n in names if weight(n) >= SHOWN), key=weight, reverse=True)
    head = "what carries the variance: linear share"
    lines = [head + ("; Sobol first order, total [95 % interval]" if shares else "")]
    for n in shown:
        line = f"  {n:<10} {_share(linear.get(n))}"
        if shares:
            line += f"   {_interval(shares.get(n, {}), 'first')}   " \
                    f"{_interval(shares.get(n, {}), 'total')}"
        lines.append(f"{line}   {factor_label(n)}")
    rest = len(names) - len(shown)
    if rest:
        lines.append(f"  ({rest} more, each below {SHOWN:.0%})")
    return "\n".join(lines)
