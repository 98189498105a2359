"""tools/tolvanex-plot: CSV export and pictures, on files the programs
write in the tests."""

import csv
import os
import shutil
import struct
import subprocess
import xml.etree.ElementTree as ET

from common import (FLUX_LABELS, PLOT, TRACE_LABELS, TempDirTestCase, example_words,
                    raw_table, run_program, run_tool)


def png_size(path):
    """Width and height from a PNG file's header, or None if it is no PNG."""
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def svg_texts(path):
    """All text of an SVG file (its text elements)."""
    root = ET.parse(path).getroot()
    return {" ".join("".join(el.itertext()).split())
            for el in root.iter() if el.tag.endswith("text")}


class Csv(TempDirTestCase):
    """--csv writes the chosen run's table: the header with the column
    labels, one row per row of the file, numbers exactly as written."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.folder = os.path.join(cls.tmp, "runs")
        run_program(cls.folder, example_words("mera", time=1e-5, pH=6.6))
        run_program(cls.folder, example_words("mera", time=2e-5, pH=7.1))
        cls.trace = os.path.join(cls.folder, "mera.trace")
        cls.flux = os.path.join(cls.folder, "flux_analysis.txt")

    def read_csv(self, path):
        with open(path, newline="", encoding="utf-8") as f:
            return list(csv.reader(f))

    def test_round_trip_of_the_last_and_the_first_run(self):
        for option, run in ((None, -1), ("1", 0), ("-1", -1), ("-2", 0)):
            out = os.path.join(self.tmp, f"run{option}.csv")
            args = [self.trace, "--csv", out] + (["--run", option] if option else [])
            result = run_tool(PLOT, *args)
            with self.subTest(run=option):
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, "")
                table = self.read_csv(out)
                header, rows = raw_table(self.trace, run)
                self.assertEqual(table[0], TRACE_LABELS)
                self.assertEqual(table[0], header)
                self.assertEqual(table[1:], rows)
                self.assertEqual(float(table[1][0]), 0.0)
                # and the numbers read back as the same numbers
                self.assertEqual([float(r[15]) for r in table[1:]],
                                 [float(r[15]) for r in rows])
        first, last = self.read_csv(os.path.join(self.tmp, "run1.csv")), \
            self.read_csv(os.path.join(self.tmp, "runNone.csv"))
        self.assertNotEqual(len(first), len(last))

    def test_flux_csv_of_the_matching_run(self):
        out = os.path.join(self.tmp, "flux.csv")
        trace_out = os.path.join(self.tmp, "trace.csv")
        result = run_tool(PLOT, self.trace, "--flux", self.flux, "--run", "1",
                          "--flux-csv", out, "--csv", trace_out)
        self.assertEqual(result.returncode, 0, result.stderr)
        table = self.read_csv(out)
        self.assertEqual(table[0], FLUX_LABELS)
        with open(self.flux, encoding="latin-1") as f:
            text = f.read()
        first_run = text.split("Flux analysis for run")[1]
        data = first_run[first_run.index("flux39"):].split("\n")[1:]
        numbers = [line.split() for line in data if line.strip()]
        expected = [numbers[0][:20], numbers[0][21:]] + numbers[1:]
        self.assertEqual(table[1:], expected)
        self.assertEqual([r[0] for r in table], [r[0] for r in self.read_csv(trace_out)])

    def test_csv_to_standard_output(self):
        result = run_tool(PLOT, self.trace, "--csv", "-")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(lines[0].split(",")[:3], ["Time", "HgMerB", "Thiol"])
        self.assertEqual(len(lines), 1 + len(raw_table(self.trace)[1]))

    def test_organomercurial_csv_has_the_organic_column(self):
        folder = os.path.join(self.tmp, "om")
        run_program(folder, example_words("organomercurial"))
        out = os.path.join(self.tmp, "om.csv")
        result = run_tool(PLOT, os.path.join(folder, "organomercurial.trace"), "--csv", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        table = self.read_csv(out)
        self.assertEqual(table[0], TRACE_LABELS + ["organic product"])
        self.assertTrue(all(len(r) == 18 for r in table))
        self.assertEqual(table[1][17], "0.0000000000e+00")
        self.assertGreater(float(table[-1][17]), 0)

    def test_interrupted_file_loads_without_its_partial_row(self):
        with open(self.trace, encoding="latin-1") as f:
            text = f.read()
        cut = os.path.join(self.tmp, "cut.trace")
        with open(cut, "w", encoding="latin-1", newline="") as f:
            f.write(text[: len(text) - 40])
        out = os.path.join(self.tmp, "cut.csv")
        result = run_tool(PLOT, cut, "--csv", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("incomplete row", result.stderr)
        self.assertIn("warning", result.stderr)
        self.assertEqual(self.read_csv(out)[1:], raw_table(self.trace)[1][:-1])

    def test_refusals(self):
        cases = [([self.trace, "--run", "3", "--csv", "x.csv"], "holds 2 runs"),
                 ([self.trace, "--run", "0"], "run 0"),
                 ([os.path.join(self.tmp, "missing.trace")], "cannot read"),
                 ([self.flux], "no run found"),
                 ([self.trace, "--flux-csv", "f.csv"], "--flux-csv needs --flux")]
        for args, message in cases:
            result = run_tool(PLOT, *args, cwd=self.tmp)
            with self.subTest(args=args):
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "x.csv")))


class Pictures(TempDirTestCase):
    """PNG and SVG pictures: written where asked, non-empty, with the column
    labels and the axis labels in them (checked on the SVG's text)."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.folder = os.path.join(cls.tmp, "mera")
        run_program(cls.folder, example_words("mera", time=1e-4))
        cls.trace = os.path.join(cls.folder, "mera.trace")
        cls.flux = os.path.join(cls.folder, "flux_analysis.txt")
        cls.om = os.path.join(cls.tmp, "om")
        run_program(cls.om, example_words("organomercurial", time=1e-3))

    def assert_png(self, path):
        self.assertTrue(os.path.isfile(path), path)
        self.assertGreater(os.path.getsize(path), 10000)
        size = png_size(path)
        self.assertIsNotNone(size, f"{path} is no PNG")
        width, height = size
        self.assertTrue(600 <= width <= 2000 and 400 <= height <= 2000, size)
        if shutil.which("identify"):       # ImageMagick, where installed
            out = subprocess.run(["identify", "-format", "%m %w %h", path],
                                 capture_output=True, text=True).stdout.split()
            self.assertEqual(out, ["PNG", str(width), str(height)])
        return size

    def test_default_png_beside_the_trace_file(self):
        result = run_tool(PLOT, self.trace)
        self.assertEqual(result.returncode, 0, result.stderr)
        path = os.path.join(self.folder, "mera.png")
        self.assertEqual(result.stdout.strip(), path)
        two_panels = self.assert_png(path)
        result = run_tool(PLOT, self.trace, "--flux", self.flux, "--run", "1")
        self.assertEqual(result.returncode, 0, result.stderr)
        three_panels = self.assert_png(os.path.join(self.folder, "mera-run1.png"))
        self.assertEqual(three_panels[0], two_panels[0])
        self.assertGreater(three_panels[1], two_panels[1])

    def test_svg_with_labels_units_and_legend(self):
        out = os.path.join(self.tmp, "mera.svg")
        result = run_tool(PLOT, self.trace, "--flux", self.flux, "-o", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, encoding="utf-8") as f:
            self.assertIn("<svg", f.read(2000))
        texts = svg_texts(out)
        for label in ["time (s)", "concentration (mol/L)", "(mol/L)"]:
            self.assertTrue(any(label in t for t in texts), label)
        for label in TRACE_LABELS[1:] + FLUX_LABELS[1:]:
            name = " ".join(label.split())
            self.assertTrue(any(t == name or t.startswith(name + " (") for t in texts),
                            f"legend lacks {name!r}")
        # log time axis: tick labels are powers of ten
        self.assertTrue(any("10" in t and "−" in t for t in texts))

    def test_normalised_organomercurial_run_needs_the_enzyme_amount(self):
        trace = os.path.join(self.om, "organomercurial.trace")
        out = os.path.join(self.tmp, "om.png")
        result = run_tool(PLOT, trace, "--normalise", "-o", out)
        self.assertEqual(result.returncode, 1)
        self.assertIn("--enzyme", result.stderr)
        self.assertFalse(os.path.exists(out))
        svg = os.path.join(self.tmp, "om.svg")
        result = run_tool(PLOT, trace, "--normalise", "--enzyme", "1e-6", "-o", svg,
                          "--flux", os.path.join(self.om, "flux_analysis.txt"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("organic product", svg_texts(svg))
        self.assertTrue(any("fraction of starting amount" in t for t in svg_texts(svg)))

    def test_interrupted_file_is_drawn_with_a_warning(self):
        with open(self.trace, encoding="latin-1") as f:
            text = f.read()
        cut = os.path.join(self.tmp, "cut.trace")
        with open(cut, "w", encoding="latin-1", newline="") as f:
            f.write(text[: len(text) - 100])
        result = run_tool(PLOT, cut, "--normalise")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("incomplete row", result.stderr)
        self.assert_png(os.path.join(self.tmp, "cut.png"))

    def test_run_with_time_zero_only_cannot_be_drawn(self):
        folder = os.path.join(self.tmp, "zero")
        run_program(folder, example_words("mera", time=0))
        result = run_tool(PLOT, os.path.join(folder, "mera.trace"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("no rows after time 0", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(folder, "mera.png")))


if __name__ == "__main__":
    import unittest
    unittest.main()
