"""tools/tolvanex-check on runs of both programs."""

import json
import os
import re
import shutil
import subprocess

from common import (EXAMPLES_DIR, TOOLS_DIR, TempDir, example_words, run_here, run_program,
                    run_tool)
from tolvanex.cli.check import main as check_main

CHECK = os.path.join(TOOLS_DIR, "tolvanex-check")


class CheckTool(TempDir):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        words = example_words("mera")
        run_program(cls.path("unpruned"), words, "tolvanex_unpruned")
        shutil.copy(os.path.join(EXAMPLES_DIR, "mera.args"), cls.path("unpruned", "arguments.args"))
        # A run of tolvanex as a scan leaves it: no arguments file in the
        # folder, the arguments and the program in the scan's scan.json.
        run_program(cls.path("scan", "001_pH=7.0"), words, "tolvanex")
        with open(cls.path("scan", "scan.json"), "w", encoding="utf-8") as f:
            json.dump({"program": "/somewhere/build/tolvanex",
                       "runs": [{"folder": "001_pH=7.0", "values": {"pH": "7.0"},
                                 "args": words}]}, f)

    def test_unpruned_run_is_within_tolerance(self):
        result = run_tool(CHECK, self.path("unpruned"), "--program", "tolvanex_unpruned")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Every species is within 0.001 of the enzyme amount", result.stdout)
        rows = {line.split()[0]: line.split() for line in result.stdout.splitlines() if line}
        self.assertEqual(rows["P"][-1], "yes")
        self.assertLess(abs(float(rows["t50"][-1])), 1e-3)
        self.assertIn("exact solution: the CVODE engine", result.stdout)
        # Without the engine, SciPy's Radau answers the same, slower.
        env = dict(os.environ, TOLVANEX_ENGINE_MODULE="", PYTHONDONTWRITEBYTECODE="1")
        radau = subprocess.run([CHECK, self.path("unpruned")], capture_output=True, text=True,
                               env=env, timeout=300)
        self.assertIn("exact solution: SciPy's Radau (the engine is not built)", radau.stdout)
        largest = [float(re.search(r"\(largest: \w+, (\S+)", r)[1])
                   for r in (result.stdout, radau.stdout)]
        self.assertAlmostEqual(largest[0], largest[1], delta=1e-9)      # of the enzyme amount

    def test_pruned_run_found_through_its_scan(self):
        # tolvanex never lets D form (its flux23 runs backwards and is
        # dropped), so with MerA the anionic route is lost and t50 is late.
        result = run_tool(CHECK, self.path("scan", "001_pH=7.0"))
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn("includes the effect of that dropping", result.stdout)
        rows = {line.split()[0]: line.split() for line in result.stdout.splitlines() if line}
        self.assertEqual(rows["D"][-1], "NO")
        self.assertGreater(float(rows["t50"][-1]), 0.05)
        looser = run_here(check_main, self.path("scan", "001_pH=7.0", "mera.trace"), "--tol", "0.1")
        self.assertEqual(looser.returncode, 0, looser.stdout)

    def test_usage_errors(self):
        other_args = os.path.join(EXAMPLES_DIR, "glutathione.args")
        cases = {"no arguments": [self.tmp],
                 "arguments of another run": [self.path("unpruned"), "--args", other_args],
                 "tolerance": [self.path("unpruned"), "--tol", "-1"],
                 "program": [self.path("unpruned"), "--program", "gcc"],
                 "missing": [self.path("nothing-here")],
                 "missing arguments file": [self.path("unpruned"), "--args", self.path("no.args")]}
        for what, args in cases.items():
            with self.subTest(what):
                result = run_here(check_main, *args)
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
                self.assertTrue(result.stderr.startswith("tolvanex-check: "), result.stderr)
