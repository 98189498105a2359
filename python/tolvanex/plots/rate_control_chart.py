"""The bar chart of a degree-of-rate-control study, readable on a slide.

One horizontal bar per step, in mechanism order from the top (so that the
charts of two conditions, two pH values or two acceptors, compare bar by
bar), labelled by what the step does: its reaction and its two barrier
numbers, e.g. ``C ⇌ K (3/4)``.  The degree is written beside every bar of
0.005 or more; a step without a degree says why in place of its bar; the
derived organomercurial binding is hatched.  The title holds the base
run's metric and the sum of the degrees.

>>> step_label(mechanism.step(5))
'K + 2nd thiolate ⇌ N (5/6)'
"""

from __future__ import annotations

import math
import os

from ..model import mechanism

_SHORT = {"thiol factor": "2nd thiol", "thiolate factor": "2nd thiolate"}


def reaction(step: mechanism.Step) -> str:
    """A step's reaction, for a chart or a legend.

    >>> reaction(mechanism.step(9))
    'K + 2nd thiol ⇌ L'
    """
    def side(names):
        return " + ".join(_SHORT.get(n, n) for n in names)
    return f"{side(step.reactants)} ⇌ {side(step.products)}"


def step_label(step: mechanism.Step) -> str:
    """What a step does, for a chart: reaction and barrier numbers."""
    numbers = f"({step.number}/{step.number + 1})" if step.barriers else "(fixed, derived)"
    return f"{reaction(step)} {numbers}"


def _why_empty(note: str) -> str:
    if note.startswith("not differentiated"):
        return "not differentiated: barrier at the 60 kcal/mol cut-off"
    if note.startswith("switched off"):
        return "switched off (both barriers above 60)"
    if "no X (" in note:       # "no X (lowered: run time stood still: message...)"
        return "no value: " + ": ".join(note.split("no X (", 1)[1].split(": ")[:2]).rstrip(")")
    return "no value: see rate_control.csv"


def _title(table) -> str:
    a = table.attrs
    name = os.path.basename(a.get("args_file") or "") or "study"
    program = os.path.basename(a.get("program") or "")
    metric = a.get("metric", "")
    unit = "mol/L" if metric.startswith("P@") else "s"
    base = a.get("base_value", math.nan)
    shown = f"{base:.4g} {unit}" if isinstance(base, float) and math.isfinite(base) else "none"
    first = f"{name}: degree of rate control on {metric}" + (f" ({program})" if program else "")
    total = a.get("sum_X", math.nan)
    if table["derived"].any():
        rule = "binding: 1 − ΣX" if not metric.startswith("P@") else "binding: the rest"
        total_text = f"ΣX of 19 steps = {total:.3f}"
    else:
        expected = a.get("expected_sum", math.nan)
        rule = ("sum rule: 1" if not metric.startswith("P@") else f"sum rule: {expected:.3f}")
        missing = a.get("missing") or []
        total_text = f"ΣX = {total:.3f}" + (
            f" without step {', '.join(map(str, missing))}" if missing else "")
    second = (f"base {metric} = {shown}, δ = {a.get('delta_kcal_per_mol', math.nan):g} "
              f"kcal/mol, {total_text} ({rule})")
    return first + "\n" + second


def rate_control_figure(table):
    """The matplotlib Figure of the study's table (closed by the caller).

    >>> fig = rate_control_figure(rate_control_table("studies/mera"))   # doctest: +SKIP
    """
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    labels = [step_label(mechanism.step(n)) for n in table.index]
    x = [float(v) for v in table["X"]]
    n = len(table)
    fig, ax = plt.subplots(figsize=(10, 0.36 * n + 1.6), dpi=110, constrained_layout=True)
    positions = list(range(n))
    finite = [v for v in x if math.isfinite(v)]
    span = max([abs(v) for v in finite] + [0.1])
    for y, value, derived, note in zip(positions, x, table["derived"], table["note"]):
        if not math.isfinite(value):
            ax.text(0.01 * span, y, _why_empty(note), va="center", ha="left", fontsize=9,
                    color="0.4", style="italic")
            continue
        color = "0.6" if derived else ("tab:blue" if value >= 0 else "tab:red")
        ax.barh(y, value, color=color, hatch="//" if derived else None,
                edgecolor="0.3" if derived else color, height=0.7)
        if abs(value) >= 0.005:
            ax.text(value + (0.01 if value >= 0 else -0.01) * span, y, f"{value:.2f}",
                    va="center", ha="left" if value >= 0 else "right", fontsize=10)
    ax.set_yticks(positions, labels, fontsize=11)
    ax.invert_yaxis()
    low = min(finite + [0.0])
    ax.set_xlim(low - 0.15 * span if low <= -0.005 else -0.03 * span,
                max(finite + [0.0]) + 0.18 * span)
    ax.axvline(0, color="0.2", linewidth=0.8)
    ax.set_xlabel("degree of rate control X", fontsize=11)
    ax.grid(True, axis="x", linewidth=0.4, alpha=0.5)
    ax.set_title(_title(table), fontsize=11)
    return fig


def plot_rate_control(table, path: str) -> str:
    """Draw the study's table into `path` (PNG); return the path.

    >>> plot_rate_control(rate_control_table("studies/mera"), "mera.png")  # doctest: +SKIP
    '/home/me/mera.png'
    """
    import matplotlib.pyplot as plt

    fig = rate_control_figure(table)
    fig.savefig(path)
    plt.close(fig)
    return os.path.abspath(path)
