"""Fitting barriers (tolvanex.fit, tools/tolvanex-fit) to synthetic time
courses made from known barriers with known noise: the intervals hold the
true barrier as often as they promise, a pair one pH cannot separate is
reported with the combination it determines, a second pH separates it,
bad input is refused in one line, and the fitted arguments give the
fitted curve back."""

import json
import math
import os
import unittest

import numpy as np

from common import EXAMPLES_DIR, TempDir, program, run_here, require_engine
import tolvanex  # noqa: E402  (found through common)
from tolvanex.cli.fit import main as fit_main  # noqa: E402
from tolvanex.studies.fit import synthetic_data  # noqa: E402
from tolvanex.studies.fit.varied import barriers_at, parse_vary, resolve  # noqa: E402

GSH = os.path.join(EXAMPLES_DIR, "glutathione.args")
BASE = tolvanex.Parameters.read(GSH)
# Both routes of the acceptor's binding fast downstream, so that a time
# course sees mainly their summed rate: thiol (barrier1) and thiolate
# (barrier23), whose shares change with pH.
ROUTES = BASE.replace(barrier9=8.5, barrier29=9.0)
ROUTES_TRUTH = ROUTES.replace(barrier1=15.9, barrier23=11.6)


setUpModule = require_engine


def inside(row, truth):
    return row["ci95_low"] <= truth <= row["ci95_high"]


class Recovery(unittest.TestCase):
    def test_intervals_hold_the_truth_as_often_as_they_promise(self):
        """20 noisy courses from barrier1 = 15.8 for each weighting: the
        95 % intervals hold 15.8 at least 16 times of 20 (a binomial lower
        limit), and the spread of the estimates matches their standard
        errors (too narrow or too wide intervals both fail)."""
        truth, times = 15.8, np.linspace(10, 120, 12)
        for weighted in (True, False):
            hits, values, errors = 0, [], []
            for seed in range(20):
                data = synthetic_data(BASE.replace(barrier1=truth), times, sigma=0.02,
                                      seed=seed, with_sigma=weighted)
                row = tolvanex.fit((BASE, data), "barrier1", confirm=False).table.loc["barrier1"]
                hits += inside(row, truth)
                values.append(row["value"])
                errors.append(row["stderr"])
            with self.subTest(weighted=weighted):
                self.assertGreaterEqual(hits, 16)
                ratio = np.std(values, ddof=1) / np.mean(errors)
                self.assertTrue(0.6 < ratio < 1.5, ratio)
                self.assertLess(abs(np.mean(values) - truth), 3 * np.mean(errors) / math.sqrt(20))

    def test_units_steps_and_shifts(self):
        """The same course in mol/L and as fractions gives the same fit; a
        step's transition state and a common shift are recovered."""
        times = np.linspace(10, 120, 12)
        fraction = synthetic_data(BASE.replace(barrier1=15.8), times, sigma=0.01, seed=4)
        amount = fraction.rename(columns={"P_fraction": "P_HgSR2_mol_per_L"})
        amount[["P_HgSR2_mol_per_L", "sigma"]] *= BASE.enzyme
        a = tolvanex.fit((BASE, fraction), "barrier1", confirm=False).table
        b = tolvanex.fit((BASE, amount), "barrier1", confirm=False).table
        self.assertAlmostEqual(a.loc["barrier1", "value"], b.loc["barrier1", "value"], places=6)
        self.assertAlmostEqual(a.loc["barrier1", "stderr"], b.loc["barrier1", "stderr"], places=6)
        shifted = BASE.replace(**{f"barrier{i}": BASE[f"barrier{i}"] + 0.3 for i in range(1, 39)})
        step = BASE.replace(barrier1=15.2, barrier2=16.3)
        for vary, truth, known in (("shift", shifted, 0.3), ("step1", step, -0.4)):
            data = synthetic_data(truth, times, sigma=0.01, seed=5)
            r = tolvanex.fit((BASE, data), vary, confirm=False)
            with self.subTest(vary=vary):
                self.assertTrue(inside(r.table.loc[vary], known), r.table.loc[vary])
                fitted = r.fitted[0]
                moved = [1, 2] if vary == "step1" else list(range(1, 39))
                for i in moved:
                    self.assertAlmostEqual(fitted[f"barrier{i}"] - BASE[f"barrier{i}"],
                                           r.values[vary], places=8)


class Identifiability(TempDir):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.low_pH = synthetic_data(ROUTES_TRUTH, np.linspace(3, 90, 20), sigma=0.01, seed=2)
        cls.high_pH = synthetic_data(ROUTES_TRUTH.replace(pH=8.4), np.linspace(0.8, 15, 20),
                                     sigma=0.01, seed=3)

    def test_one_pH_determines_a_combination_two_determine_both(self):
        one = tolvanex.fit((ROUTES, self.low_pH), "barrier1,barrier23", confirm=False)
        self.assertFalse(one.table["determined"].any(), one.table["note"])
        self.assertIn("correlated with barrier23", one.table.loc["barrier1", "note"])
        (c,) = one.combinations
        self.assertLess(c.stderr, 0.05)
        self.assertTrue((one.table["stderr"] > 0.2).all(), one.table["stderr"])
        # the truth lies in the valley the fit found (within its 95 % region)
        rise = one.problem.objective([15.9, 11.6]) - one.problem.objective(one.optimum.theta)
        self.assertLess(rise, 5.99)
        both = tolvanex.fit([(ROUTES, self.low_pH), (ROUTES.replace(pH=8.4), self.high_pH)],
                            "barrier1,barrier23", confirm=False, out=self.path("global"))
        self.assertTrue(both.table["determined"].all(), both.table["note"])
        self.assertEqual(both.combinations, [])
        for name, truth in (("barrier1", 15.9), ("barrier23", 11.6)):
            self.assertTrue(inside(both.table.loc[name], truth), both.table.loc[name])
        for k, pH in ((1, 7.4), (2, 8.4)):
            args = tolvanex.Parameters.read(self.path("global", f"fitted-{k}.args"))
            self.assertEqual((args.pH, args.barrier23), (pH, round(both.values["barrier23"], 8)))
            self.assertTrue(os.path.getsize(self.path("global", f"fit-{k}.png")) > 10000)

    def test_a_barrier_the_data_do_not_bound_and_the_prior(self):
        """At pH 8.4 the thiol route carries a few per cent: barrier1 is
        bounded below only, which the profile shows as an open side.  With
        a prior, a barrier the data cannot see stays near its calculated
        value and is said to be held by the prior."""
        r = tolvanex.fit((ROUTES.replace(pH=8.4), self.high_pH), "barrier1,barrier23",
                         confirm=False, profile=True)
        self.assertFalse(r.table.loc["barrier1", "determined"])
        self.assertIn("reaches its upper bound", r.table.loc["barrier1", "note"])
        self.assertIsNone(r.profiles["barrier1"].high)
        self.assertLess(r.profiles["barrier1"].low, 15.9)
        self.assertTrue(r.table.loc["barrier23", "determined"])
        prof = r.profiles["barrier23"]
        self.assertTrue(prof.low <= 11.6 <= prof.high, prof)
        for data in (self.low_pH, self.low_pH.drop(columns="sigma")):
            prior = tolvanex.fit((ROUTES, data), "barrier1,barrier23", confirm=False,
                                 prior_sigma=1.0)
            self.assertLess(abs(prior.values["barrier23"] - 14.6), 1.0)
            self.assertIn("the prior (sigma 1) holds it", prior.table.loc["barrier23", "note"])
            self.assertTrue(prior.table.loc["barrier1", "determined"])
        # without sigmas the points are weighed by sigma from a fit without the prior
        self.assertAlmostEqual(prior.sigma_from_first_fit, 0.01, delta=0.004)

    def test_profile_and_posterior_agree_with_the_covariance_when_linear(self):
        data = synthetic_data(BASE.replace(barrier1=15.8), np.linspace(10, 120, 10),
                              sigma=0.02, seed=7)
        r = tolvanex.fit((BASE, data), "barrier1", confirm=False, profile=True, mcmc=True,
                         walkers=8, steps=150, jobs=2)
        row, prof = r.table.loc["barrier1"], r.profiles["barrier1"]
        width = row["ci95_high"] - row["ci95_low"]
        for low, high in ((prof.low, prof.high),
                          (row["mcmc_q2.5"], row["mcmc_q97.5"])):
            self.assertLess(abs(low - row["ci95_low"]), 0.2 * width, (low, row["ci95_low"]))
            self.assertLess(abs(high - row["ci95_high"]), 0.2 * width)
        self.assertTrue(0.2 < r.posterior.acceptance < 0.95)


class Command(TempDir):
    def write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8") as f:
            f.write(text)
        return self.path(name)

    def test_bad_input_gets_one_line_and_status_2(self):
        good = "time_s,P_fraction\n10,0.1\n20,0.2\n"
        cases = [
            ("count,P\n1,0.1\n", "barrier1", "no column time_s"),
            ("time_s,X\n1,0.1\n", "barrier1", "unknown column 'X'"),
            ("time_s,P_HgMerA_mol_per_L\n1,1e-7\n", "barrier1", "unknown column"),
            ("time_s,P\n2,1e-7\n1,2e-7\n", "barrier1", "times do not increase"),
            ("time_s,P\n1,-1e-7\n2,2e-7\n", "barrier1", "is negative"),
            ("time_s,P\n1,abc\n2,2e-7\n", "barrier1", "'abc' is not a number"),
            ("time_s,P\n1,nan\n2,2e-7\n", "barrier1", "NaN"),
            ("time_s,P,sigma\n1,1e-7,0\n2,2e-7,1e-8\n", "barrier1", "a sigma must be positive"),
            ("time_s,P,A,P_sigma\n1,1e-7,9e-7,1e-8\n", "barrier1", "A has no sigma"),
            ("time_s,P\n1,1e-7\n2e6,2e-7\n", "barrier1", "beyond the wanted time"),
            (good, "barrier40", "no barrier40"),
            (good, "step2", "no step2"),
            (good, "foo", "no parameter 'foo'"),
            (good, "barrier9=12:20", "exclude its start"),
            (good, "barrier9=5:65", "cut-off"),
            (good, "step1,barrier2", "moved by both"),
        ]
        for k, (text, vary, message) in enumerate(cases):
            data = self.write(f"bad{k}.csv", text)
            with self.subTest(text=text, vary=vary):
                r = run_here(fit_main, GSH, data, "--vary", vary, "--out", self.path(f"o{k}"),
                             "--no-confirm")
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                self.assertIn(message, r.stderr)
                self.assertFalse(os.path.exists(self.path(f"o{k}")))
        os.makedirs(self.path("full"))
        self.write(os.path.join("full", "x"), "")
        r = run_here(fit_main, GSH, self.write("ok.csv", good), "--vary", "barrier1",
                     "--out", self.path("full"))
        self.assertEqual((r.returncode, len(r.stderr.splitlines())), (2, 1), r.stderr)

    def test_fit_folder_round_trip_and_confirmation(self):
        """The tool on a course of P in mol/L with sigmas: fit.json and
        fit.csv hold what the report says, fitted.args solved again gives
        the fitted curve, and tolvanex_unpruned at it lies on that curve."""
        truth = BASE.replace(barrier1=15.9, barrier9=10.2)
        times = np.linspace(5, 60, 12)
        data = synthetic_data(truth, times, sigma=0.01e-6, seed=1, fraction=False)
        data.to_csv(self.path("gsh.csv"), index=False)
        out = self.path("fit")
        r = run_here(fit_main, GSH, self.path("gsh.csv"), "--vary", "barrier1,barrier9",
                     "--out", out, "--program", program("tolvanex_unpruned"))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(out, "fit.json"), encoding="utf-8") as f:
            fit = json.load(f)
        self.assertEqual(sorted(fit["parameters"]), ["barrier1", "barrier9"])
        self.assertEqual(fit["points"], 12)
        for name, truth_value in (("barrier1", 15.9), ("barrier9", 10.2)):
            entry = fit["parameters"][name]
            self.assertTrue(entry["ci95"][0] <= truth_value <= entry["ci95"][1], entry)
        self.assertEqual(len(fit["correlation"]["matrix"]), 2)
        with open(os.path.join(out, "fit.csv"), encoding="utf-8") as f:
            self.assertEqual(len(f.read().splitlines()), 3)
        fitted = tolvanex.Parameters.read(os.path.join(out, "fitted.args"))
        self.assertAlmostEqual(fitted.barrier1, fit["parameters"]["barrier1"]["value"], places=8)
        again = tolvanex.solve(fitted, times=times, end=times[-1]).trace["P"].to_numpy()
        chi2 = float((((again - data["P"]) / data["sigma"]) ** 2).sum())
        self.assertAlmostEqual(chi2 / fit["chi2"], 1.0, places=6)
        confirmation = fit["data_sets"][0]["confirmation"]
        self.assertLess(confirmation["largest_deviation"], 1e-4)
        self.assertIn("confirmation: tolvanex_unpruned", r.stdout)

    def test_a_fit_that_does_not_converge_says_so(self):
        data = synthetic_data(BASE.replace(barrier1=16.5), np.linspace(10, 120, 8),
                              sigma=0.01, seed=1)
        data.to_csv(self.path("far.csv"), index=False)
        r = run_here(fit_main, GSH, self.path("far.csv"), "--vary", "barrier1",
                     "--max-evaluations", "2", "--out", self.path("far"), "--no-confirm")
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("did not converge", r.stdout)


class Bounds(unittest.TestCase):
    def test_defaults_keep_barriers_within_zero_and_the_cut_off(self):
        barriers = BASE.replace(barrier2=58.0, barrier4=65.0).barriers
        v = {x.name: x for x in resolve(parse_vary("barrier2,step3,shift=-1:"), [barriers])}
        self.assertEqual((v["barrier2"].low, v["barrier2"].high), (48.0, 60.0))
        # step3 moves barrier3 (10.7) and barrier4 (65, off): it stays above 60
        self.assertAlmostEqual(v["step3"].low, -5.0, places=5)
        self.assertEqual((v["shift"].low, v["shift"].high), (-1.0, 10.0))
        self.assertNotIn(2, v["shift"].barriers)
        moved = barriers_at(list(v.values()), [50.0, -1.0, 0.5], barriers)
        np.testing.assert_allclose(moved[:5], [16.1, 50.0, 9.7, 64.0, 15.8])
        with self.assertRaisesRegex(ValueError, "cut-off"):       # 23.9 + 40 > 60
            resolve(parse_vary("shift=:40"), [barriers])
