"""What a fit found: the values, intervals and verdicts per parameter, the
statistics of the fit, the fitted arguments and curves, and the
confirmation runs; as tables and as the content of fit.json."""

from __future__ import annotations

import math

import numpy as np
import pandas as pd

from ... import __version__
from .sampling import QUANTILES


def _number(x):
    """A JSON number, or None for NaN and infinities."""
    if x is None:
        return None
    x = float(x)
    return x if math.isfinite(x) else None


class FitResult:
    """The result of `tolvanex.fit`.

    ``table``: one row per varied parameter (kcal/mol); ``correlation``;
    ``statistics`` (chi2, reduced_chi2, aic, bic, points, ...); ``fitted``:
    the arguments of each data set at the fit (`Parameters`); ``curves``:
    each data set's fitted observables at its data times (fractions of the
    enzyme amount); ``combinations``: determined combinations of correlated
    pairs; ``profiles``, ``posterior``, ``confirmations`` when asked;
    ``converged``; ``to_dict()`` (fit.json); ``curve(k, times)``."""

    def __init__(self, problem, prior_sigma):
        self.problem, self.prior_sigma = problem, prior_sigma
        self.sigma_from_first_fit = None
        self.optimum = self.curvature = None
        self.verdicts, self.combinations = [], []
        self.profiles, self.posterior, self.confirmations = {}, None, []
        self.fitted, self.curves, self.program = [], [], ""
        self.statistics = {}
        self.fit_evaluations = self.evaluations = self.solves = 0
        self.wall_s = self.fit_wall_s = 0.0

    # -- numbers -----------------------------------------------------------------
    @property
    def converged(self) -> bool:
        return bool(self.optimum.converged)

    @property
    def values(self) -> dict:
        return dict(zip(self.problem.names, map(float, self.optimum.theta)))

    def set_statistics(self, sigma_estimated: bool) -> None:
        p, theta = self.problem, self.optimum.theta
        r = p.data_residuals(theta)
        chi2, n, k = float(r @ r), p.points, len(theta)
        prior = p.prior_residuals(theta)
        if sigma_estimated:
            # -2 ln L with sigma estimated, up to a constant
            core = n * math.log(chi2 / n) if chi2 > 0 else -math.inf
        else:
            core = chi2
        self.statistics = {
            "chi2": chi2, "prior_chi2": float(prior @ prior) if prior.size else None,
            "reduced_chi2": chi2 / (n - k), "aic": core + 2 * k, "bic": core + k * math.log(n),
            "points": n, "varied": k, "degrees_of_freedom": n - k}

    @property
    def weighting(self) -> str:
        """How the points were weighted, in words."""
        p = self.problem
        if p.weighted:
            return "each point by its sigma from the data"
        if self.sigma_from_first_fit is not None:
            return (f"equal weights; sigma estimated by a fit without the prior: "
                    f"{self.sigma_from_first_fit:.3g} of the enzyme amount")
        sigma = self.curvature.estimated_sigma
        return (f"equal weights (no sigma in the data); sigma estimated from the residuals: "
                f"{sigma:.3g} of the enzyme amount, intervals scaled by the reduced chi2")

    def file_name(self, stem: str, k: int, extension: str = "") -> str:
        """A data set's file in the fit folder: fitted.args with one data
        set, fitted-1.args, fitted-2.args ... with several."""
        several = len(self.problem.data_sets) > 1
        return f"{stem}-{k + 1}{extension}" if several else stem + extension

    def curve(self, k: int, times) -> pd.DataFrame:
        """Data set k's fitted observables at `times` (s), in their units."""
        d = self.problem.data_sets[k]
        fractions = self.problem.model(self.optimum.theta, k, times)
        return pd.DataFrame(fractions * d.scales, columns=[o.column for o in d.observables],
                            index=pd.Index(np.asarray(times, dtype=float), name="time_s"))

    # -- tables ----------------------------------------------------------------
    @property
    def table(self) -> pd.DataFrame:
        """One row per varied parameter (index: name), in kcal/mol."""
        p, c = self.problem, self.curvature
        rows = []
        for j, v in enumerate(p.varied):
            x = float(self.optimum.theta[j])
            row = {"name": v.name, "kind": v.kind,
                   "barriers": " ".join(f"barrier{b}" for b in v.barriers) if v.kind != "shift"
                   else f"{len(v.barriers)} barriers", "calculated": v.start, "value": x,
                   "change": x - v.start, "stderr": float(c.stderr[j]),
                   "ci95_low": float(c.ci95[j, 0]), "ci95_high": float(c.ci95[j, 1]),
                   "lower_bound": v.low, "upper_bound": v.high}
            if self.profiles:
                prof = self.profiles.get(v.name)
                row["profile_ci95_low"] = math.nan if prof is None or prof.low is None \
                    else prof.low
                row["profile_ci95_high"] = math.nan if prof is None or prof.high is None \
                    else prof.high
            if self.posterior is not None:
                for q, value in zip(QUANTILES, self.posterior.quantiles[j]):
                    row[f"mcmc_q{q:g}"] = float(value)
            row["determined"] = self.verdicts[j].determined
            row["note"] = self.verdicts[j].note
            rows.append(row)
        return pd.DataFrame(rows).set_index("name")

    @property
    def correlation(self) -> pd.DataFrame:
        names = self.problem.names
        return pd.DataFrame(self.curvature.correlation, index=names, columns=names)

    # -- fit.json --------------------------------------------------------------
    def _parameter(self, name, row) -> dict:
        entry = {"kind": row["kind"], "barriers": row["barriers"],
                 "calculated": row["calculated"], "value": row["value"],
                 "change": row["change"], "stderr": _number(row["stderr"]),
                 "ci95": [_number(row["ci95_low"]), _number(row["ci95_high"])],
                 "bounds": [row["lower_bound"], row["upper_bound"]],
                 "determined": bool(row["determined"]), "note": row["note"]}
        if name in self.profiles:
            prof = self.profiles[name]
            entry["profile_ci95"] = [_number(prof.low), _number(prof.high)]
            entry["profile"] = [[x, _number(d)] for x, d in prof.points]
        if self.posterior is not None:
            j = self.problem.names.index(name)
            entry["mcmc_quantiles"] = {f"{q:g}": float(v) for q, v in
                                       zip(QUANTILES, self.posterior.quantiles[j])}
            entry["mcmc_autocorrelation_steps"] = _number(self.posterior.autocorrelation[j])
        return entry

    def to_dict(self) -> dict:
        """Everything fit.json holds (kcal/mol; None for a value that is not
        a finite number)."""
        p = self.problem
        out = {"version": __version__, "unit": "kcal/mol",
               "converged": self.converged, "message": self.optimum.message,
               "weighting": self.weighting, "prior_sigma": self.prior_sigma,
               "parameters": {name: self._parameter(name, row)
                              for name, row in self.table.iterrows()},
               **{key: _number(value) if key not in ("points", "varied",
                                                     "degrees_of_freedom") else value
                  for key, value in self.statistics.items()},
               "evaluations": self.evaluations, "fit_evaluations": self.fit_evaluations,
               "solves": self.solves, "fit_wall_s": round(self.fit_wall_s, 3),
               "wall_s": round(self.wall_s, 3),
               "correlation": {"names": p.names,
                               "matrix": [[_number(x) for x in row]
                                          for row in self.curvature.correlation]},
               "combinations": [{"combination": c.text, "names": list(c.names),
                                 "coefficients": list(c.coefficients), "value": c.value,
                                 "stderr": c.stderr, "ci95": list(c.ci95),
                                 "correlation": c.correlation} for c in self.combinations],
               "data_sets": []}
        if self.posterior is not None:
            s = self.posterior
            out["mcmc"] = {"walkers": s.walkers, "steps": s.steps, "discarded": s.discarded,
                           "samples": s.samples, "independent_samples": round(s.independent),
                           "acceptance": s.acceptance,
                           "long_enough": s.long_enough}
        for k, d in enumerate(p.data_sets):
            entry = {"data": d.name, "arguments": d.arguments, "points": d.points,
                     "observables": [o.column for o in d.observables],
                     "weighted": d.weighted,
                     "fitted_args": self.file_name("fitted", k, ".args"),
                     "picture": self.file_name("fit", k, ".png"),
                     "barriers": {f"barrier{b + 1}": x for b, x in enumerate(
                         p.barriers(self.optimum.theta, k)) if x != d.parameters.barriers[b]}}
            if k < len(self.confirmations):
                c = self.confirmations[k]
                entry["confirmation"] = {"program": c.program, "folder": c.folder,
                                         "largest_deviation": _number(c.deviation),
                                         "at_time_s": _number(c.at_time),
                                         "observable": c.observable, "compared": c.compared,
                                         "note": c.note}
            out["data_sets"].append(entry)
        return out
