"""The engine (tolvanex.engine: CVODE in C++) against the SciPy solution
(tolvanex.model.exact: Radau with a Python right-hand side), the independent
reference: times to 50 % and 90 % product and amounts on the bundled
examples and on random barrier sets; then the module's own behaviour."""

import os
import random
import threading
import time
import unittest

import numpy as np

from common import EXAMPLES_DIR, require_engine
from tolvanex.model import engine
from tolvanex.model.exact import STATE, SolverFailed, solve_exact
from tolvanex.model.parameters import Parameters

EXAMPLES = ("mera", "dithiothreitol", "glutathione", "organomercurial")
# Both solvers run at a relative tolerance of 1e-10; SciPy's Radau, BDF and
# LSODA agree to 1e-9 of the enzyme amount, and the engine with them to
# 7e-10 (measured): times to 1e-7, amounts to 1e-8 of their scale.
TIME_TOLERANCE = 1e-7
AMOUNT_TOLERANCE = 1e-8


setUpModule = require_engine


def example(name):
    return Parameters.read(os.path.join(EXAMPLES_DIR, name + ".args"))


def random_parameters(rng, conditions=False):
    """An example with every barrier moved by up to 1.5 kcal/mol and the pH by
    up to 0.5; with `conditions` also at 280 to 320 K and pKa moved by 1.5."""
    p = example(rng.choice(EXAMPLES))
    for i, b in enumerate(p.barriers, start=1):
        p[f"barrier{i}"] = round(b + rng.uniform(-1.5, 1.5), 3)
    p.pH = round(p.pH + rng.uniform(-0.5, 0.5), 3)
    p.wanted_time = 1e4
    if conditions:
        p.temperature = round(rng.uniform(280, 320), 2)
        p.pKa = round(p.pKa + rng.uniform(-1.5, 1.5), 3)
    return p


def scales(p):
    """The amount each state component is measured against."""
    mercury = p.organomercurial or p.enzyme
    return np.array([p.acceptor if s == "S" else mercury if s in ("PHMB", "organic")
                     else max(p.enzyme, mercury) for s in STATE])


class AgainstSciPy(unittest.TestCase):
    def compare(self, p, amounts_too=False):
        r = engine.solve(p, fractions=[0.5, 0.9])
        t50, t90 = r.fraction_times
        end = 2 * t90 if np.isfinite(t90) else p.wanted_time
        x = solve_exact(p, end=end)
        expected = np.array([x.time_to(0.5), x.time_to(0.9)])
        np.testing.assert_allclose(r.fraction_times, expected, rtol=TIME_TOLERANCE)
        if amounts_too:
            times = np.array([t50 / 10, t50, t90, end])
            at = engine.solve(p, end, times=times)
            difference = np.abs(at.amounts - x._result.sol(times).T) / scales(p)
            self.assertLess(difference.max(), AMOUNT_TOLERANCE)
        return r

    def test_examples(self):
        for name in EXAMPLES:
            with self.subTest(name):
                self.compare(example(name), amounts_too=True)

    def test_random_barrier_sets(self):
        rng = random.Random(24)
        reached = 0
        for draw in range(24):
            p = random_parameters(rng, conditions=draw % 3 == 2)
            with self.subTest(draw=draw, parameters=p):
                reached += np.isfinite(self.compare(p).fraction_times).all()
        self.assertGreater(reached, 20)


class Module(unittest.TestCase):
    def test_layout_and_constants(self):
        module = engine.load()
        self.assertEqual(module.STATE, STATE)
        self.assertEqual(module.FLUX_TOTALS[-1], "total_flux37")
        p = example("glutathione")
        r = engine.solve(p, 1.0, times=[0.0, 1.0], flux_totals=True, temperature=310)
        self.assertEqual(r.amounts.shape, (2, len(STATE)))
        self.assertEqual(r.flux_totals.shape, (2, 19))
        self.assertIsNone(r.step_times)
        self.assertEqual(r.amounts[0, STATE.index("A")], p.enzyme)
        at_298 = engine.solve(p, 1.0).rate_constants
        self.assertTrue(np.all(r.rate_constants[at_298 > 0] > at_298[at_298 > 0]))

    def test_refusals_and_failures(self):
        p = example("mera")
        with self.assertRaisesRegex(ValueError, "^acceptor_type is 4: it must be 1"):
            engine.load().solve(p.barriers, 7.0, 4, 1e-6, 1e-3, 1.0)
        with self.assertRaisesRegex(ValueError, "^barriers: 38 values needed"):
            engine.load().solve(p.barriers[:37], 7.0, 1, 1e-6, 1e-3, 1.0)
        with self.assertRaisesRegex(ValueError, "^an output time is 2"):
            engine.solve(p, 1.0, times=[2.0])
        with self.assertRaisesRegex(SolverFailed, "^CVODE: CV_TOO_MUCH_WORK: 20 steps"):
            engine.solve(p, max_steps=20)
        r = engine.solve(p.replace(enzyme=0), 1.0, fractions=[0.5])
        self.assertTrue(np.isnan(r.fraction_times[0]))
        self.assertIn("no enzyme", r.fraction_notes[0])

    def test_not_built(self):
        saved, engine._module = engine._module, None
        try:
            for value, message in (("", "this build has no engine"), ("/nonexistent", "no file")):
                os.environ[engine.ENVIRONMENT_VARIABLE] = value
                with self.assertRaisesRegex(engine.EngineNotFound, message):
                    engine.load()
        finally:
            os.environ.pop(engine.ENVIRONMENT_VARIABLE)
            engine._module = saved

    def test_solve_lets_other_threads_run(self):
        # While one thread solves (100,000 outputs: some 0.1 s), another one
        # wakes from a 10 ms sleep, which it could not with the GIL held.
        p = example("glutathione")
        times = np.linspace(0, 1e6, 100000)
        seen = {}

        def work():
            seen["started"] = time.perf_counter()
            seen["wall"] = engine.solve(p, times=times).statistics.wall_seconds

        worker = threading.Thread(target=work)
        worker.start()
        time.sleep(0.01)
        woke = time.perf_counter()
        worker.join()
        self.assertLess(seen["started"], woke)
        self.assertLess(woke, seen["started"] + 0.5 * seen["wall"])


if __name__ == "__main__":
    unittest.main()
