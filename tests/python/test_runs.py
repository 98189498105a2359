"""tolvanex.run and Run.load: a run in a folder of its own, its tables and
stop read back against the files split here, a failing program, parameters
checked before anything runs, one of several runs appended to a file, and
the README's lines "From Python" as they stand."""

import contextlib
import gc
import io
import os
import re
import stat

import numpy as np

from common import (EXAMPLES_DIR, SOURCE_DIR, TempDir, example_words, program, raw_flux,
                    raw_trace, read_text, run_program)
import tolvanex  # noqa: E402  (found through common)

MERA = os.path.join(EXAMPLES_DIR, "mera.args")


class Runs(TempDir):
    def test_run_in_a_folder_of_its_own(self):
        folder = self.path("mera")
        r = tolvanex.run(tolvanex.Parameters.read(MERA).replace(trace="sub/mera.trace"),
                         program(), folder)
        self.assertEqual(sorted(os.listdir(folder)),
                         ["arguments.args", "console.txt", "exit-status", "flux_analysis.txt",
                          "mera.trace", "stderr.txt", "times.txt"])
        labels, rows = raw_trace(os.path.join(folder, "mera.trace"))
        np.testing.assert_array_equal(r.trace.to_numpy(), np.array(rows, float)[:, 1:])
        self.assertEqual(list(r.trace.columns[:3]) + [r.trace.columns[14]], ["A", "S", "C", "P"])
        self.assertEqual(labels[15], "Hg(SCH3)2")
        flux = np.array(raw_flux(os.path.join(folder, "flux_analysis.txt")), float)
        np.testing.assert_array_equal(r.fluxes.to_numpy(), flux[:, 1:])
        self.assertEqual(r.fluxes.columns[-1], "total_flux37")
        console = read_text(os.path.join(folder, "console.txt"))
        self.assertEqual((r.stop.code, r.exit_status), ("converted", 0))
        self.assertIn(r.stop.message.split(".")[1].strip(), console)
        self.assertGreater(float(rows[-1][15]), 0.99e-6)     # P above 99 % of the enzyme
        total = float(re.findall(r"total iterations (\S+)", console)[-1])
        self.assertAlmostEqual(r.iterations / total, 1, delta=1e-5)
        self.assertEqual((r.end_time, r.parameters.pH, r.units["P"]), (float(rows[-1][0]), 7.0, "mol/L"))
        self.assertEqual((r.program, r.wall_s > 0), (program(), True))
        again = tolvanex.Run.load(folder)                   # the same folder read back
        self.assertEqual((again.stop, again.iterations), (r.stop, r.iterations))
        with self.assertRaisesRegex(FileExistsError, "mera.trace exists already"):
            tolvanex.run(tolvanex.Parameters.read(MERA), program(), folder)

    def test_temporary_folder_goes_with_its_run(self):
        """A run given no folder keeps its files as long as its Run (or its
        RunError) lives, and no longer."""
        p = tolvanex.Parameters.read(MERA).replace(wanted_time=1e-5)
        r = tolvanex.run(p, program())
        with self.assertRaises(tolvanex.RunError) as caught:
            tolvanex.run(p, "/bin/false")
        folders = [r.folder, caught.exception.folder]
        self.assertTrue(all(os.path.isfile(os.path.join(f, "arguments.args")) for f in folders))
        del r, caught
        gc.collect()
        self.assertFalse(any(os.path.exists(f) for f in folders))

    def test_organomercurial_run_started_by_hand(self):
        """Its trace file records no enzyme amount; the console output beside
        it does, and tells how it stopped, when it is this run's."""
        folder = self.path("by-hand")
        console = run_program(folder, example_words("organomercurial"))
        with open(os.path.join(folder, "console.txt"), "w", encoding="latin-1") as f:
            f.write(console)                    # tolvanex ... > console.txt
        r = tolvanex.Run.load(os.path.join(folder, "organomercurial.trace"))
        # MerB as the arguments give it; t50 near 0.0547 s (docs/rate_control.md)
        self.assertEqual((r.stop.code, r.enzyme, round(r.time_to(0.5), 3)), ("converted", 1e-6, 0.055))
        run_program(folder, example_words("organomercurial", time=1e-5, trace="other.trace"))
        other = tolvanex.Run.load(os.path.join(folder, "other.trace"))    # not its console
        self.assertEqual((other.stop.code, other.enzyme), ("unknown", None))

    def test_checked_before_anything_runs(self):
        p = tolvanex.Parameters.read(MERA)
        p._texts["acceptor"] = "-1e-3"                       # as a hand-edited file could
        with self.assertRaisesRegex(ValueError, "acceptor .* cannot be negative"):
            tolvanex.run(p, program(), self.path("bad"))
        self.assertFalse(os.path.exists(self.path("bad")))

    def test_failing_program(self):
        fake = self.path("fails.sh")
        with open(fake, "w") as f:
            f.write("#!/bin/sh\necho 'tolvanex: cannot open x: No space left' >&2\nexit 3\n")
        os.chmod(fake, stat.S_IRWXU)
        with self.assertRaises(tolvanex.RunError) as caught:
            tolvanex.run(MERA, fake, self.path("failing"))
        self.assertIsInstance(caught.exception, RuntimeError)
        self.assertEqual(caught.exception.exit_status, 3)
        self.assertIn("No space left", caught.exception.stderr)
        self.assertEqual(read_text(self.path("failing", "exit-status")), "3\n")

    def test_one_of_several_runs_in_a_file(self):
        for changes in ({"time": 1e-5, "pH": 6.6}, {"time": 2e-5, "pH": 7.1}):
            run_program(self.path("two"), example_words("mera", **changes))
        first = tolvanex.Run.load(self.path("two", "mera.trace"), run=1)
        last = tolvanex.Run.load(self.path("two", "mera.trace"))
        self.assertEqual((first.recorded["pH"], last.recorded["pH"]), (6.6, 7.1))
        self.assertEqual(first.fluxes.index.tolist(), first.trace.index.tolist())
        self.assertEqual((first.runs_in_file, first.stop.code), (2, "unknown"))
        self.assertIsNone(first.parameters)
        self.assertAlmostEqual(first.enzyme, 1e-6)           # HgMerB of the time-0 row

    def test_readme_from_python(self):
        """The lines a reader copies, run from a folder that has the
        project's python/ and examples/ as the project root has them."""
        readme = read_text(os.path.join(SOURCE_DIR, "README.md"))
        block = readme.split("From the project root, with `/usr/bin/python3`:\n\n", 1)[1]
        lines = []
        for line in block.splitlines():
            if not line.startswith("    "):
                break
            lines.append(line[4:])
        self.assertIn("tolvanex.run(", "\n".join(lines))
        root = self.path("readme")
        os.makedirs(root)
        for name in ("python", "examples"):
            os.symlink(os.path.join(SOURCE_DIR, name), os.path.join(root, name))
        here = os.getcwd()
        out = io.StringIO()
        try:
            os.chdir(root)
            with contextlib.redirect_stdout(out):
                exec("\n".join(lines), {})
        finally:
            os.chdir(here)
        t50, product = out.getvalue().split(" ", 1)
        self.assertTrue(30 < float(t50) < 50, out.getvalue())     # glutathione at pH 7
        self.assertIn("10.0", product)
        self.assertGreater(os.path.getsize(os.path.join(root, "glutathione-ph7.png")), 10000)
