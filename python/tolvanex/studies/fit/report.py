"""The one-screen report of a fit: the data and weighting, every varied
parameter with its change, standard error and 95 % interval, what the data
do not determine, the statistics, the confirmation runs and the files."""

from __future__ import annotations

import math
import os


def _digits(stderr: float) -> int:
    """Decimals that show a value to a tenth of its standard error (2 to 5)."""
    if not (stderr > 0 and math.isfinite(stderr)):
        return 2
    return int(min(5, max(2, 1 - math.floor(math.log10(stderr)))))


def _interval(low, high, digits: int, bounds=None) -> str:
    """[low, high]; a side beyond its bound shown as the bound, one that
    does not close (a profile) as open."""
    def side(x, k):
        if x is None or not math.isfinite(x):
            return "open"
        if bounds is not None and (x <= bounds[0] if k == 0 else x >= bounds[1]):
            return f"{bounds[k]:.{digits}f} (bound)"
        return f"{x:.{digits}f}"
    return f"[{side(low, 0)}, {side(high, 1)}]"


def report(result, out: str | None = None) -> str:
    p, s = result.problem, result.statistics
    lines = []
    for d in p.data_sets:
        lines.append(f"data: {d.name}: {d.points} points ({', '.join(o.column for o in d.observables)})"
                     f"{'' if d.weighted else ', no sigma'}")
    lines.append(f"weighting: {result.weighting}")
    if result.prior_sigma is not None:
        lines.append(f"prior: Gaussian around the calculated values, sigma "
                     f"{result.prior_sigma:g} kcal/mol (a maximum a posteriori fit)")
    lines.append("")
    wide = max(len(n) for n in p.names + ["parameter"])
    head = f"{'parameter':<{wide}}  {'calc.':>7}  {'fitted':>7}  {'change':>7}  {'stderr':>7}  " \
           "95 % interval (kcal/mol)"
    lines.append(head)
    for name, row in result.table.iterrows():
        n = _digits(row["stderr"])
        ci = _interval(row["ci95_low"], row["ci95_high"], n,
                       (row["lower_bound"], row["upper_bound"]))
        if name in result.profiles:
            prof = result.profiles[name]
            ci += f", profile {_interval(prof.low, prof.high, n)}"
        if result.posterior is not None:
            q = result.posterior.quantiles[p.names.index(name)]
            ci += f", MCMC {_interval(q[0], q[-1], n)}"
        e = row["stderr"]
        stderr = f"{e:7.2g}" if e < 1 else f"{e:7.2f}" if e < 100 else f"{'>100':>7}"
        lines.append(f"{name:<{wide}}  {row['calculated']:7.2f}  {row['value']:7.{n}f}  "
                     f"{row['change']:+7.{n}f}  {stderr}  {ci}")
    undetermined = result.table[~result.table["determined"]]
    if len(undetermined):
        lines.append("")
        for name, row in undetermined.iterrows():
            lines.append(f"{name}: {row['note']}")
    for c in result.combinations:
        lines.append(f"determined: {c.text} = {c.value:.3f} +/- {c.stderr:.3f} kcal/mol, "
                     f"95 % [{c.ci95[0]:.3f}, {c.ci95[1]:.3f}]")
    lines.append("")
    prior = f", prior part {s['prior_chi2']:.4g}" if s.get("prior_chi2") is not None else ""
    lines.append(f"chi2 {s['chi2']:.4g}{prior}; reduced chi2 {s['reduced_chi2']:.4g} "
                 f"({s['points']} points, {s['varied']} varied); AIC {s['aic']:.4g}, "
                 f"BIC {s['bic']:.4g}")
    if p.weighted and s["reduced_chi2"] > 2:
        lines.append("the fit does not explain the data within their sigmas (reduced chi2 "
                     "well above 1): the model or the sigmas are off, and the intervals too "
                     "narrow")
    lines.append(f"{result.fit_evaluations} evaluations, {result.fit_wall_s:.1f} s for the fit; "
                 f"{result.evaluations} evaluations ({result.solves} solves), "
                 f"{result.wall_s:.1f} s in all")
    if result.posterior is not None:
        m = result.posterior
        taus = ", ".join(f"{t:.0f}" for t in m.autocorrelation)
        lines.append(f"MCMC: {m.walkers} walkers x {m.steps} steps, acceptance {m.acceptance:.2f},"
                     f" autocorrelation {taus} steps, {m.discarded} discarded, about "
                     f"{m.independent:.0f} independent samples"
                     + ("" if m.long_enough else "; shorter than 50 autocorrelation times: the "
                        "quantiles are rough (raise --mcmc-steps)"))
    if not result.converged:
        lines.append(f"the fit did not converge: {result.optimum.message}")
    for k, c in enumerate(result.confirmations):
        name = os.path.basename(c.program)
        where = f" for {p.data_sets[k].name}" if len(p.data_sets) > 1 else ""
        if math.isnan(c.deviation):
            lines.append(f"confirmation{where}: {name}: {c.note}")
            continue
        lines.append(f"confirmation{where}: {name} at the fitted barriers is at most "
                     f"{c.deviation:.2g} of the enzyme amount from the fitted curve ({c.observable}"
                     f" at {c.at_time:.4g} s)" + (f"; {c.note}" if c.note else ""))
        if name == "tolvanex":
            lines.append("  (tolvanex drops backward net fluxes; tolvanex_unpruned follows the "
                         "rate equations)")
    if out:
        lines.append("")
        lines.append(f"in {out}: fit.json, fit.csv, "
                     + ", ".join(result.file_name("fitted", k, ".args") + ", "
                                 + result.file_name("fit", k, ".png")
                                 for k in range(len(p.data_sets)))
                     + (", the confirmation runs' folders" if result.confirmations else ""))
    return "\n".join(lines)
