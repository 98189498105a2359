"""tools/tolvanex-plot and Run.plot: CSV export of the chosen run, and
pictures, checked for being written, non-empty and of the right kind and
size (not pixels), and a user's mistakes told on one line."""

import csv
import os
import re
import shutil
import struct
import subprocess
import xml.etree.ElementTree as ET

from common import (EXAMPLES_DIR, FLUX_LABELS, PLOT, SOURCE_DIR, TRACE_LABELS, TempDir,
                    example_words, program, raw_flux, raw_trace, read_text, run_here, run_program)
import tolvanex  # noqa: E402  (found through common)
from tolvanex.cli.plot import main as plot_main
from tolvanex.plots.run_picture import many_line_styles
from tolvanex.studies.comparison import compare_with_exact

# The trace file's columns in its order, as species labels (Time first); the
# product of MerA is Hg(II) on MerA.
UNIT_HEADER = ["time_s"] + [f"{label}_mol_per_L" for label in
                            "A S C D E F G I J K L M N apoMerB P_HgMerA Q".split()]
FLUX_HEADER = ["time_s"] + [f"total_flux{n}_mol_per_L" for n in range(1, 38, 2)]
SVG_TEXT = "{http://www.w3.org/2000/svg}text"


def svg_texts(path):
    return [" ".join("".join(e.itertext()).split()) for e in ET.parse(path).iter()
            if e.tag == SVG_TEXT]


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
            result = run_here(plot_main, self.trace, "--csv", t, "--flux", self.flux,
                              "--flux-csv", f,
                              *(["--run", option] if option else []))
            with self.subTest(run=option):
                if run is None:                       # no such run
                    self.assertEqual(result.returncode, 2)
                    self.assertIn("holds 2 runs", result.stderr)
                    continue
                self.assertEqual((result.returncode, result.stderr), (0, ""))
                self.assertEqual(self.read_csv(t), [UNIT_HEADER] + raw_trace(self.trace, run)[1])
                self.assertEqual(self.read_csv(f), [FLUX_HEADER] + raw_flux(self.flux, run))
        # The files' own labels, as earlier versions wrote them.
        result = run_here(plot_main, self.trace, "--csv", t, "--flux", self.flux,
                          "--flux-csv", f,
                          "--raw-labels")
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(self.read_csv(t), [TRACE_LABELS] + raw_trace(self.trace)[1])
        self.assertEqual(self.read_csv(f), [FLUX_LABELS] + raw_flux(self.flux))

    def test_product_named_for_the_acceptor(self):
        for example, product in (("glutathione", "P_HgSR2"), ("dithiothreitol", "P_Hg_dithiol")):
            with self.subTest(example=example):
                run_program(self.path(example), example_words(example, time=1e-6))
                result = run_here(plot_main, self.path(example, example + ".trace"), "--csv", "-")
                header = result.stdout.split("\n")[0].split(",")
                self.assertEqual(header[15], product + "_mol_per_L")
                self.assertEqual(header[:15] + header[16:], UNIT_HEADER[:15] + UNIT_HEADER[16:])

    def test_interrupted_file_loads_with_a_warning(self):
        with open(self.path("cut.trace"), "w", encoding="latin-1", newline="") as f:
            f.write(read_text(self.trace)[:-40])        # cut in the last row
        result = run_here(plot_main, self.path("cut.trace"), "--csv", "-")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr, r"warning: .*incomplete row")
        self.assertEqual(list(csv.reader(result.stdout.splitlines())),
                         [UNIT_HEADER] + raw_trace(self.trace)[1][:-1])

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
        result = run_here(plot_main, self.trace)           # PNG beside the trace file
        self.assertEqual((result.returncode, result.stdout), (0, self.path("mera.png\n")),
                         result.stderr)
        two = self.png_size(self.path("mera.png"))
        self.assertEqual(two[0], 1100)                # 11 inches at 100 dpi
        three = self.path("3.png")
        result = run_here(plot_main, self.trace, "--flux", self.flux, "--run", 1, "-o", three,
                          "--dpi", 200)
        self.assertEqual(result.returncode, 0, result.stderr)
        three = self.png_size(three)
        self.assertTrue(three[0] == 2 * two[0] and three[1] > 2 * two[1], (two, three))
        svg = self.path("a.svg")
        result = run_here(plot_main, self.trace, "--flux", self.flux, "--normalise", "-o", svg)
        self.assertEqual(result.returncode, 0, result.stderr)
        texts = svg_texts(svg)
        for label in (["time (s)", "concentration (mol/L)", "HgMerA (P)"]
                      + [c for c in TRACE_LABELS[1:] if c != "Hg(SCH3)2"]):
            name = " ".join(label.split())
            self.assertTrue(any(t == name or t.startswith(name + " (") for t in texts), name)
        # Fluxes by their step's reaction (docs/mechanism.md), "2nd thiol" for the thiol factor.
        for label in ("flux1: A + thiol ⇌ C", "flux9: K + 2nd thiol ⇌ L",
                      "flux37: O3 + P ⇌ J (0 throughout)", "flux21: ES ⇌ A + organic (0 throughout)"):
            self.assertIn(label, texts)
        self.assertIn("MerA acceptor 1 mM, HgMerB 1 µM, pH 7.1", texts)
        self.assertIn("mera.trace, run 2 of 2 — program not recorded", texts)
        # Panels of 19 lines: every line a colour of its own.
        self.assertEqual(len({s["color"] for s in many_line_styles()[:19]}), 19)
        # --run -2 of a file of two runs is run 1, and its picture is named so.
        result = run_here(plot_main, self.trace, "--run", "-2")
        self.assertEqual((result.returncode, result.stdout), (0, self.path("mera-run1.png\n")))

    def test_formats_species_and_time_axis(self):
        pdf, svg = self.path("m.pdf"), self.path("p.svg")
        result = run_here(plot_main, self.trace, "--flux", self.flux, "-o", pdf)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(pdf, "rb") as f:
            self.assertEqual(f.read(5), b"%PDF-")
        result = run_here(plot_main, self.trace, "--species", "a,P", "--linear-time", "-o", svg)
        self.assertEqual(result.returncode, 0, result.stderr)
        texts = svg_texts(svg)
        self.assertIn("0.0", texts)                   # time 0 on a linear axis
        self.assertEqual([t for t in texts if t.endswith(("(A)", "(P)", "(C)", "(S)"))],
                         ["HgMerB (A)", "HgMerA (P)"])
        self.assertNotIn("Intermediates", texts)

    def test_mistakes_told_on_one_line(self):
        """One line and status 2, nothing written: among the mistakes an output
        that would write over an input (by any path, link or redirection) or
        over the other output."""
        png = os.path.join(SOURCE_DIR, "docs", "mera.png")
        cases = [([png], "no run found"),                               # not a trace file
                 ([self.trace, "-o", self.path("x.jpg")], "PNG, SVG or PDF"),
                 ([self.trace, "-o", self.path("none", "x.png")], "there is no folder"),
                 ([self.trace, "--species", "A,O1"], "no species 'O1' in this run; its "
                  "species are A, S, C, D, E, F, G, I, J, K, L, M, N, apoMerB, P, Q"),
                 ([self.trace, "--dpi", "0"], "dpi 0.0"),
                 ([self.trace, "--dpi", "high"], "--dpi: invalid float value"),
                 ([self.path("none.trace")], "no such run folder or trace file")]
        # An output that is an input (by any path or link) or the other output.
        os.symlink(self.trace, self.path("link.csv"))
        flux, x = [self.trace, "--flux", self.flux], self.path("x.csv")
        cases += [([self.trace, "--csv", self.trace], "--csv .* is the trace file"),
                  ([*flux, "--flux-csv", self.path(".", "flux_analysis.txt")], "is the flux file"),
                  ([*flux, "--csv", x, "--flux-csv", x], "x.csv is --csv"),
                  ([self.trace, "--csv", self.path("link.csv")], "link.csv is the trace file"),
                  ([*flux, "--csv", "-", "--flux-csv", "-"], "--flux-csv - is --csv")]
        before = {p: read_text(p) for p in (self.trace, self.flux)}
        for args, message in cases:                    # in this process: faster
            with self.subTest(args=args[1:]):
                result = run_here(plot_main, *args)
                self.assertEqual((result.returncode, result.stderr.count("\n")), (2, 1))
                self.assertRegex(result.stderr, message)
        self.assertFalse(os.path.exists(self.path("x.jpg")) or os.path.exists(x))
        with open(self.trace, "a") as appended:          # tolvanex-plot T --csv - >> T
            result = subprocess.run([PLOT, self.trace, "--csv", "-"], stdout=appended,
                                    stderr=subprocess.PIPE, text=True, timeout=60)
        self.assertEqual((result.returncode, "--csv - is the trace file" in result.stderr),
                         (2, True))
        self.assertEqual({p: read_text(p) for p in before}, before)

    def test_run_plot_names_the_program(self):
        p = tolvanex.Parameters.read(os.path.join(EXAMPLES_DIR, "glutathione.args"))
        r = tolvanex.run(p.replace(wanted_time=1e-6), program("tolvanex_unpruned"),
                         self.path("unpruned"))
        svg = r.plot(self.path("unpruned.svg"), species=["S"])
        self.assertEqual(svg_texts(svg)[-2:], ["glutathione.trace — tolvanex_unpruned",
                                               "monothiol acceptor 1 mM, HgMerB 1 µM, pH 7.4"])
        with self.assertRaisesRegex(ValueError, "give a name ending in .png, .svg or .pdf"):
            r.plot(self.path("unpruned.eps"))

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
                result = run_here(plot_main, self.trace, "--flux", flux, "--flux-run", number,
                                  "-o", self.path("x.png"))
                self.assertEqual(result.returncode, 2)
                self.assertIn("does not belong to run 2", result.stderr)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(self.path("x.png")))

    def test_floor_and_the_runs_difference_from_the_exact_solution(self):
        """The log axes of amounts start at the floor; the amounts within the
        run's difference from the exact solution are shaded, its size told
        (here checked against the independent Radau solver)."""
        p = tolvanex.Parameters.read(os.path.join(EXAMPLES_DIR, "mera.args"))
        r = tolvanex.run(p.replace(wanted_time=1e-3), program("tolvanex_unpruned"))
        lowest = {}
        for floor in (None, 1e-9):
            texts = svg_texts(r.plot(self.path(f"floor-{floor}.svg"), floor=floor))
            lowest[floor] = max(int(t[4:]) for t in texts if re.fullmatch(r"10 −\d+", t))
        self.assertEqual((lowest[1e-9], lowest[None] > 15), (15, True))   # 1e-9 of 1e-6 mol/L
        shaded = [t for t in texts if t.startswith("solution (")]     # in both panels of amounts
        told = float(re.match(r"solution \((\S+) of the enzyme", shaded[1]).group(1))
        radau = compare_with_exact(r.trace, r.parameters).species.drop(index="S")
        self.assertAlmostEqual(told / radau["beyond_rounding_of_enzyme"].max(), 1, delta=0.1)
        with self.assertRaisesRegex(ValueError, "floor 2: give a fraction"):
            r.plot(self.path("x.svg"), floor=2)

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
