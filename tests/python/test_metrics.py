"""Values between rows (tolvanex.metrics, Run.at/time_to): rows returned as
they are, monotone where the rows are, none before the first row after
time 0, times outside the rows refused, and t50 of a bundled example
against a check made here from the raw rows."""

import math
import unittest

import numpy as np

from common import TempDir, example_words, raw_trace, run_program
from tolvanex import Run
from tolvanex.runs.values import initial_rate, time_to, values_at


class Synthetic(unittest.TestCase):
    T = [0.0, 1e-4, 3e-4, 1e-2, 0.5, 2.0, 2.0, 7.5]     # a repeated time, as printed
    P = [0.0, 1e-12, 5e-9, 1e-8, 4e-7, 7e-7, 7.1e-7, 9.9e-7]

    def test_nothing_before_the_first_row_and_refusals(self):
        # Between time 0 and the first row no row tells a value (a straight
        # line from 0 would say 5e-13 here, whatever the chemistry).
        self.assertEqual(values_at(self.T, self.P, [0.0])[0], 0.0)
        self.assertTrue(math.isnan(values_at(self.T, self.P, [5e-5])[0]))
        self.assertEqual(values_at(self.T, self.P, [2.0])[0], 7.1e-7)   # the later row
        for bad in (7.5000001, -1e-9, math.nan, math.inf):
            with self.subTest(time=bad), self.assertRaisesRegex(ValueError, "time"):
                values_at(self.T, self.P, [bad])
        with self.assertRaisesRegex(ValueError, "go backwards"):
            values_at([0, 2, 1], [0, 1, 2], [0.5])

    def test_time_to(self):
        self.assertTrue(math.isnan(time_to(self.T, self.P, 0.995, 1e-6)))
        self.assertEqual(time_to(self.T, self.P, 0.0, 1e-6), 0.0)
        self.assertEqual(time_to(self.T, self.P, 0.4, 1e-6), 0.5)      # exactly on a row
        # Reached by the first row after 0: when is not resolved.
        self.assertTrue(math.isnan(time_to([0, 2, 4], [0, 1, 3], 0.25, 2.0)))
        t = time_to(self.T, self.P, 0.9, 1e-6)
        self.assertTrue(2.0 < t < 7.5)
        self.assertAlmostEqual(values_at(self.T, self.P, [t])[0], 9e-7, delta=1e-18)
        self.assertTrue(math.isnan(initial_rate([0, 1, 2], [0, 0.02, 0.04], 1.0)))
        with self.assertRaisesRegex(ValueError, "positive"):
            time_to(self.T, self.P, 0.5, 0.0)


class OnARun(TempDir):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        run_program(cls.tmp, example_words("mera"))
        cls.mera = Run.load(cls.path("mera.trace"))
        labels, rows = raw_trace(cls.path("mera.trace"))
        cls.rows = np.array(rows, dtype=float)
        cls.p = cls.rows[:, labels.index("Hg(SCH3)2")]

    def test_rows_at_their_times_and_monotone_between(self):
        times = self.rows[:, 0]
        at_rows = self.mera.at(times)
        np.testing.assert_array_equal(at_rows["P"].to_numpy(), self.p)
        np.testing.assert_array_equal(at_rows["A"].to_numpy(), self.rows[:, 1])
        # P only rises from row to row here; ten points inside every gap must too.
        self.assertTrue(np.all(np.diff(self.p) >= 0))
        inside = np.concatenate([np.geomspace(a, b, 12)[1:-1] for a, b in
                                 zip(times[1:-1], times[2:])])
        dense = self.mera.at(np.sort(np.concatenate([times, inside])))["P"].to_numpy()
        self.assertTrue(np.all(np.diff(dense) >= 0))
        with self.assertRaisesRegex(ValueError, "beyond the last row"):
            self.mera.at([times[-1] * 1.001])

    def test_t50_against_a_straight_line_between_the_two_rows(self):
        """The two rows around half conversion of the MerA example are 1.7 %
        apart in time; a straight line between them and the interpolant in
        log time must agree to 1e-4 of t50 and both lie between the rows."""
        half = 0.5e-6                         # the enzyme amount is 1e-6 mol/L
        k = int(np.argmax(self.p >= half))
        (t0, t1), (p0, p1) = self.rows[k - 1:k + 1, 0], self.p[k - 1:k + 1]
        line = t0 + (t1 - t0) * (half - p0) / (p1 - p0)
        t50 = self.mera.time_to(0.5)
        self.assertTrue(t0 < t50 < t1)
        self.assertLess(abs(t50 - line) / line, 1e-4)
        self.assertTrue(math.isnan(self.mera.time_to(0.999)))
        self.assertAlmostEqual(self.mera.initial_rate(), 0.01e-6 / self.mera.time_to(0.01))


if __name__ == "__main__":
    unittest.main()
