"""The picture of one data set of a fit: above, the data with error bars,
the fitted curve and the curve of the calculated barriers (dashed); below,
the residuals in sigmas, (model - data) / sigma.  Observables are drawn in
their own unit, or all as fractions of the enzyme amount when a data set
mixes units.  Without sigmas in the data the bars show the estimated sigma."""

from __future__ import annotations

import numpy as np

from .run_picture import TAB20

CURVE_POINTS = 200


def draw_fit(result, k: int, path: str, dpi: int = 100) -> str:
    """Draw data set k of `result` (a `FitResult`) to `path` (PNG, SVG or PDF)."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    p = result.problem
    d = p.data_sets[k]
    same_unit = len({o.fraction for o in d.observables}) == 1
    scales = d.scales if same_unit else np.ones(len(d.observables))
    unit = d.observables[0].unit if same_unit else "fraction of the enzyme amount"
    sigma = (d.sigmas / d.scales) if d.weighted else np.full(d.values.shape, p.data_sigma)
    dense = np.linspace(0.0, float(d.times[-1]), CURVE_POINTS)
    fitted = p.model(result.optimum.theta, k, dense) * scales
    calculated = p.model(p.start, k, dense) * scales
    residuals = (result.curves[k] - d.values / d.scales) / sigma

    fig, (top, bottom) = plt.subplots(2, 1, figsize=(8, 6.5), sharex=True,
                                      gridspec_kw={"height_ratios": [3, 1]})
    bars = "sigma from the data" if d.weighted else "estimated sigma"
    for j, o in enumerate(d.observables):
        colour = TAB20[0][j % len(TAB20[0])]
        top.errorbar(d.times, d.values[:, j] / d.scales[j] * scales[j],
                     yerr=sigma[:, j] * scales[j], fmt="o", ms=4, color=colour, capsize=2,
                     label=f"{o.column} (bars: {bars})")
        top.plot(dense, fitted[:, j], "-", color=colour, label=f"{o.label}, fitted")
        top.plot(dense, calculated[:, j], "--", color=colour, alpha=0.6,
                 label=f"{o.label}, calculated barriers")
        bottom.plot(d.times, residuals[:, j], "o", ms=4, color=colour)
    for level, style in ((0, "-"), (-2, ":"), (2, ":")):
        bottom.axhline(level, color="grey", lw=0.8, ls=style)
    top.set_ylabel(unit)
    bottom.set_ylabel("(model − data) / σ")
    bottom.set_xlabel("time (s)")
    shown = ", ".join(f"{n} = {x:.2f}" for n, x in zip(p.names, result.optimum.theta))
    top.set_title(f"{d.name}: fit of {shown} kcal/mol (exact engine)", fontsize=10)
    top.legend(fontsize=8)
    fig.tight_layout()
    try:
        fig.savefig(path, dpi=dpi)
    finally:
        plt.close(fig)
    return path
