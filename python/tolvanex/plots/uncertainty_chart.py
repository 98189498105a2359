"""The picture of an uncertainty study: on the left the histogram of the
metric over its samples on a log axis, with the log-normal of the linear
estimate (centred on the base value) drawn over it, the 5, 50 and 95 %
quantiles marked and the censored samples counted; on the right the
variance shares of the factors that carry the most, as bars (linear share,
Sobol first-order and total with their 95 % intervals)."""

from __future__ import annotations

import math
import os

import numpy as np

#: Factors shown on the right, at most.
BARS = 12


def _histogram(ax, found) -> None:
    from ..studies.rate_metric import Metric
    from ..studies.uncertainty.results import metric_column

    r = found.result
    x = found.samples[metric_column(Metric.parse(r["metric"]))].dropna().to_numpy()
    x = x[x > 0]
    if len(x):
        lo, hi = np.log10(x.min()), np.log10(x.max())
        edges = np.logspace(lo - 0.05, hi + 0.05, max(10, min(60, int(len(x) ** 0.5) + 1)))
        ax.hist(x, bins=edges, color="#9ecae1", edgecolor="#3182bd", linewidth=0.5,
                label=f"{len(x)} samples")
        width = math.log(edges[1] / edges[0])
        sigma, centre = r["linear_sigma_ln"], r["base_value"]
        if sigma and sigma > 0 and centre and centre > 0:
            grid = np.logspace(lo - 0.3, hi + 0.3, 400)
            z = (np.log(grid) - math.log(centre)) / sigma
            counts = len(x) * width * np.exp(-0.5 * z * z) / (sigma * math.sqrt(2 * math.pi))
            ax.plot(grid, counts, color="#d62728",
                    label=f"linear estimate, × {r['linear_factor']:.3g} per σ")
    for level, style in (("5", ":"), ("50", "--"), ("95", ":")):
        q = r["quantiles"][level]
        if q is not None:
            ax.axvline(q, color="black", linestyle=style, linewidth=0.8)
    ax.set_xscale("log")
    unit = r["unit"]
    ax.set_xlabel(f"{r['metric']} ({unit}); dashed: median, dotted: 5 and 95 %")
    ax.set_ylabel("samples")
    if r["censored"]:
        ax.text(0.98, 0.95, f"{r['censored']} censored\n(beyond {r['end_s']:g} s)",
                transform=ax.transAxes, ha="right", va="top", fontsize=9)
    if ax.get_legend_handles_labels()[0]:
        ax.legend(loc="upper left", fontsize=8, frameon=False)
    else:
        ax.text(0.5, 0.5, "no sample has a value", transform=ax.transAxes, ha="center")


def _bars(ax, found) -> None:
    from ..studies.uncertainty.outputs import factor_label

    r = found.result
    linear, shares = r["linear_shares"], r["variance_shares"]

    def weight(n):
        v = [linear.get(n)] + [shares.get(n, {}).get(k) for k in ("first", "total")]
        return max((x for x in v if x is not None and math.isfinite(x)), default=0.0)

    names = sorted((n for n in dict.fromkeys(list(linear) + list(shares)) if weight(n) >= 0.001),
                   key=weight, reverse=True)[:BARS]
    names = names[::-1]                                   # the largest at the top
    y = np.arange(len(names))
    rows = [("linear", lambda n: linear.get(n), None, "#bdbdbd")]
    if shares:
        rows += [("Sobol first order", lambda n: shares.get(n, {}).get("first"),
                  "first_interval", "#3182bd"),
                 ("Sobol total", lambda n: shares.get(n, {}).get("total"),
                  "total_interval", "#fd8d3c")]
    height = 0.8 / len(rows)
    for k, (label, get, interval, colour) in enumerate(rows):
        values = np.array([get(n) if get(n) is not None else np.nan for n in names], float)
        errors = None
        if interval:
            iv = np.array([shares.get(n, {}).get(interval) or [np.nan, np.nan] for n in names],
                          dtype=float)
            errors = np.abs(np.vstack([values - iv[:, 0], iv[:, 1] - values]))
        ax.barh(y + (k - (len(rows) - 1) / 2) * height, values, height, color=colour,
                xerr=errors, ecolor="black", error_kw={"linewidth": 0.6}, label=label)
    ax.set_yticks(y, [f"{n}: {factor_label(n)}" for n in names], fontsize=8)
    ax.set_xlabel(f"share of the variance of ln {r['metric']}")
    ax.set_xlim(0, 1.05)
    ax.legend(loc="lower right", fontsize=8, frameon=False)


def plot_uncertainty(found, path: str, dpi: int = 100) -> None:
    """Draw the study `found` (a `tolvanex.studies.uncertainty.Uncertainty`)
    into `path` (PNG, SVG or PDF by its extension)."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    r = found.result
    figure, (left, right) = plt.subplots(1, 2, figsize=(12, 4.8),
                                         gridspec_kw={"width_ratios": [1, 1.1]})
    try:
        _histogram(left, found)
        _bars(right, found)
        spread = "" if r["factor"] is None else f", × {r['factor']:.3g} per σ"
        engine = "exact engine" if r["engine"] == "exact" else os.path.basename(r["engine"])
        figure.suptitle(f"{r['metric']} ({engine}): {r['samples']} samples{spread} — "
                        f"{r['settings']['description']}", fontsize=10)
        figure.tight_layout()
        figure.savefig(path, dpi=dpi)
    finally:
        plt.close(figure)
