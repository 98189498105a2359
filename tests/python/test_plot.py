"""tools/tolvanex-plot: CSV export of the chosen run, and pictures, checked
for being written, non-empty and of the right kind and size (not pixels)."""

import csv
import os
import shutil
import struct
import subprocess
import xml.etree.ElementTree as ET

from common import (FLUX_LABELS, PLOT, TRACE_LABELS, TempDir, example_words, raw_flux,
                    raw_trace, read_text, run_program, run_tool)


class Plot(TempDir):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        run_program(cls.tmp, example_words("mera", time=1e-5, pH=6.6))
        run_program(cls.tmp, example_words("mera", time=2e-5, pH=7.1))
        cls.trace, cls.flux = cls.path("mera.trace"), cls.path("flux_analysis.txt")

    def read_csv(self, path):
        with open(path, newline="", encoding="utf-8") as f:
            return list(csv.reader(f))

    def test_csv_of_the_chosen_run(self):
        self.assertNotEqual(len(raw_trace(self.trace, 0)[1]), len(raw_trace(self.trace, 1)[1]))
        t, f = self.path("t.csv"), self.path("f.csv")
        for option, run in ((None, 1), ("1", 0), ("2", 1), ("-2", 0), ("0", None), ("3", None)):
            result = run_tool(PLOT, self.trace, "--csv", t, "--flux", self.flux, "--flux-csv", f,
                              *(["--run", option] if option else []))
            with self.subTest(run=option):
                if run is None:                       # no such run
                    self.assertEqual(result.returncode, 1)
                    self.assertIn("holds 2 runs", result.stderr)
                    continue
                self.assertEqual((result.returncode, result.stderr), (0, ""))
                self.assertEqual(self.read_csv(t), [TRACE_LABELS] + raw_trace(self.trace, run)[1])
                self.assertEqual(self.read_csv(f), [FLUX_LABELS] + raw_flux(self.flux, run))

    def test_interrupted_file_loads_with_a_warning(self):
        with open(self.path("cut.trace"), "w", encoding="latin-1", newline="") as f:
            f.write(read_text(self.trace)[:-40])        # cut in the last row
        result = run_tool(PLOT, self.path("cut.trace"), "--csv", "-")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr, r"warning: .*incomplete row")
        self.assertEqual(list(csv.reader(result.stdout.splitlines())),
                         [TRACE_LABELS] + raw_trace(self.trace)[1][:-1])

    def png_size(self, path):
        with open(path, "rb") as f:
            head = f.read(24)
        self.assertEqual((head[:8], head[12:16]), (b"\x89PNG\r\n\x1a\n", b"IHDR"))
        self.assertGreater(os.path.getsize(path), 10000)
        size = struct.unpack(">II", head[16:24])
        if shutil.which("identify"):       # ImageMagick, where installed
            out = subprocess.run(["identify", "-format", "%m %w %h", path],
                                 capture_output=True, text=True).stdout.split()
            self.assertEqual(out, ["PNG"] + [str(n) for n in size])
        return size

    def test_pictures(self):
        result = run_tool(PLOT, self.trace)           # PNG beside the trace file
        self.assertEqual((result.returncode, result.stdout), (0, self.path("mera.png\n")),
                         result.stderr)
        two = self.png_size(self.path("mera.png"))
        three = self.path("3.png")
        result = run_tool(PLOT, self.trace, "--flux", self.flux, "--run", 1, "-o", three)
        self.assertEqual(result.returncode, 0, result.stderr)
        three = self.png_size(three)
        self.assertTrue(three[0] == two[0] and three[1] > two[1], (two, three))   # a third panel
        svg = self.path("a.svg")
        result = run_tool(PLOT, self.trace, "--flux", self.flux, "--normalise", "-o", svg)
        self.assertEqual(result.returncode, 0, result.stderr)
        texts = {" ".join("".join(e.itertext()).split()) for e in ET.parse(svg).iter()
                 if e.tag == "{http://www.w3.org/2000/svg}text"}
        for label in ["time (s)", "concentration (mol/L)"] + TRACE_LABELS[1:] + FLUX_LABELS[1:]:
            name = " ".join(label.split())
            self.assertTrue(any(t == name or t.startswith(name + " (") for t in texts), name)

    def test_flux_run_of_another_run_refused(self):
        run_program(self.path("dtt"), example_words("dithiothreitol", time=1e-5))
        lines = read_text(self.flux).split("\n")
        rows = [k for k, line in enumerate(lines) if line.startswith(" ") and "e" in line
                and line.split()[0][0].isdigit()]
        lines[rows[-1]], lines[rows[-2]] = lines[rows[-2]], lines[rows[-1]]
        with open(self.path("mixed.txt"), "w", encoding="latin-1", newline="") as f:
            f.write("\n".join(lines))
        cases = [(self.flux, "1", "its row 2 is at"),                 # run 1's fluxes for run 2
                 (self.path("dtt", "flux_analysis.txt"), "1", "where the trace run's is at"),
                 (self.path("mixed.txt"), "2", "its time goes backwards")]
        for flux, number, message in cases:
            with self.subTest(flux=flux, run=number):
                result = run_tool(PLOT, self.trace, "--flux", flux, "--flux-run", number,
                                  "-o", self.path("x.png"))
                self.assertEqual(result.returncode, 1)
                self.assertIn("does not belong to run 2", result.stderr)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(self.path("x.png")))

    def test_closed_standard_output(self):
        for option in ("--csv", "--flux-csv"):
            with self.subTest(option=option):
                read_end, write_end = os.pipe()
                os.close(read_end)                    # as `| head` does once it has enough
                extra = ["--flux", self.flux] + (["--csv", self.path("t.csv")]
                                                 if option == "--flux-csv" else [])
                proc = subprocess.run([PLOT, self.trace, option, "-", *extra], stdout=write_end,
                                      stderr=subprocess.PIPE, text=True, timeout=60)
                os.close(write_end)
                self.assertEqual(proc.returncode, 141)
                self.assertEqual(proc.stderr.count("\n"), 1, proc.stderr)
                self.assertIn("standard output closed", proc.stderr)
