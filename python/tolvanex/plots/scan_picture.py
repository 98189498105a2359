"""The picture of a scan: one metric of the summary against the first varied
parameter, one line per value of the second (and further) ones.

Runs without a value (failed, interrupted, never converted) are left out of
their line, not drawn as 0.  The value axis has no offset label, and when
every value agrees to 4 significant digits the picture says so and the axis
spans ±1 % around them instead of magnifying the last digits; values within
5 % of each other get a note of how far apart they are.

>>> column_of("t50"), column_of("P@wanted")
('t50_s', 'P_at_wanted_mol_per_L')
"""

from __future__ import annotations

import math
import os
import re

from ..errors import InvalidValue
from ..model.parameters import atof

#: The summary columns that --metric names for short, with their axis labels.
NAMED_COLUMNS = {"t50": ("t50_s", "t50: time to 50 % product (s)"),
                 "t90": ("t90_s", "t90: time to 90 % product (s)"),
                 "P@wanted": ("P_at_wanted_mol_per_L", "product at the wanted time (mol/L)")}


def column_of(metric: str) -> str:
    """The summary column of a metric name (t50, t90, P@wanted, or a column)."""
    if metric in NAMED_COLUMNS:
        return NAMED_COLUMNS[metric][0]
    for name, (column, _) in NAMED_COLUMNS.items():
        if metric.lower() == name.lower():
            return column
    return metric


def check_metric(metric: str, columns) -> str:
    """The summary column a picture of `metric` draws, refused
    (InvalidValue) unless it is one of the numeric `columns`.

    >>> check_metric("t90", ["t90_s", "wall_s"])
    't90_s'
    >>> check_metric("folder", ["t90_s", "wall_s"])
    Traceback (most recent call last):
    ...
    tolvanex.errors.InvalidValue: --metric folder: no summary column of numbers; give t50, t90, P@wanted or one of t90_s, wall_s
    """
    column = column_of(metric)
    if column not in columns:
        raise InvalidValue(f"--metric {metric}: no summary column of numbers; give "
                           f"{', '.join(NAMED_COLUMNS)} or one of {', '.join(columns)}")
    return column


def picture_name(metric: str) -> str:
    """The file of a scan's picture of `metric`: summary.png for t50 (the
    default), else named by the metric, so that one does not replace another.

    >>> picture_name("t50"), picture_name("P@wanted"), picture_name("wall_s")
    ('summary.png', 'summary-P_at_wanted.png', 'summary-wall_s.png')
    """
    column = column_of(metric)
    if column == NAMED_COLUMNS["t50"][0]:
        return "summary.png"
    name = next((n for n, (c, _) in NAMED_COLUMNS.items() if c == column), column)
    return "summary-" + re.sub(r"[^A-Za-z0-9_.+-]", "_", name.replace("@", "_at_")) + ".png"


def _label(metric: str, column: str) -> str:
    for name, (c, label) in NAMED_COLUMNS.items():
        if c == column:
            return label
    return column


def _agree(values, digits: int = 4) -> bool:
    return len({f"{v:.{digits - 1}e}" for v in values}) == 1


def plot_summary(table, varied: list[str], path: str, metric: str = "t50",
                 title: str | None = None) -> str:
    """Draw `metric` of the summary DataFrame `table` against varied[0] into
    `path` (PNG); return the path."""
    import matplotlib.pyplot as plt

    fig = summary_figure(table, varied, metric, title)
    fig.savefig(path)
    plt.close(fig)
    return os.path.abspath(path)


def summary_figure(table, varied: list[str], metric: str = "t50", title: str | None = None):
    """The matplotlib Figure of `plot_summary` (closed by the caller)."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    import pandas as pd
    check_metric(metric, [c for c in table.columns if c != "folder" and c not in varied
                          and pd.api.types.is_numeric_dtype(table[c])])
    column = column_of(metric)
    x_name = varied[0] if varied else None
    groups: dict[tuple, list] = {}
    for k, row in table.iterrows():
        key = tuple(row[n] for n in varied[1:])
        groups.setdefault(key, []).append((atof(row[x_name]) if x_name else float(k + 1),
                                           row[column]))
    fig, ax = plt.subplots(figsize=(7, 4.5), dpi=100, constrained_layout=True)
    shown = []
    for key, points in groups.items():
        points = [(x, float(y)) for x, y in points
                  if y is not None and not (isinstance(y, float) and math.isnan(y))]
        if not points:
            continue
        shown += [y for _, y in points]
        label = ", ".join(f"{n}={v}" for n, v in zip(varied[1:], key)) or None
        ax.plot([x for x, _ in points], [y for _, y in points], marker="o", label=label)
    xs = [atof(v) for v in table[x_name]] if x_name else []
    if xs and min(xs) > 0 and max(xs) / min(xs) > 100:
        ax.set_xscale("log")
    ax.ticklabel_format(axis="y", useOffset=False, style="sci", scilimits=(-3, 4))
    if not shown:
        why = ("no run reached that share of the product before it ended;\n"
               "--metric P@wanted draws the product at the wanted time"
               if column in ("t50_s", "t90_s") else "see the summary's ended and note columns")
        ax.text(0.5, 0.5, f"no run has a value of {column}:\n{why}", transform=ax.transAxes,
                ha="center", va="center")
    elif _agree(shown):
        middle = sum(shown) / len(shown)
        ax.set_ylim(middle - 0.01 * abs(middle) or -1, middle + 0.01 * abs(middle) or 1)
        ax.text(0.02, 0.95, f"all values agree to 4 significant digits ({shown[0]:.4g})",
                transform=ax.transAxes, fontsize=9, va="top")
    elif min(shown) > 0 and max(shown) < 1.05 * min(shown):
        # A narrow band fills the axis: say how narrow it is.
        ax.text(0.02, 0.95, f"values span {min(shown):.4g} to {max(shown):.4g} "
                f"({100 * (max(shown) / min(shown) - 1):.2g} %)",
                transform=ax.transAxes, fontsize=9, va="top")
    ax.set_xlabel(x_name if x_name else "run")
    ax.set_ylabel(_label(metric, column))
    ax.set_title(title or column, fontsize=10)
    ax.grid(True, linewidth=0.4, alpha=0.5)
    if ax.get_legend_handles_labels()[1]:
        ax.legend(fontsize=8)
    return fig
