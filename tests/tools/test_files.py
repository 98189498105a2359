"""The readers of trace files and flux_analysis.txt (tools/tolvanex_files.py),
on files the programs write in the tests and on small hand-written files."""

import math
import os
import re

from common import (CONSOLE_NAMES, FLUX_LABELS, TRACE_LABELS, TempDirTestCase,
                    console_blocks, example_words, raw_table, run_program,
                    tolvanex_unpruned)
from common import tolvanex_files as tf


def read_trace(path):
    warnings = []
    return tf.read_trace(path, warnings.append), warnings


def read_flux(path):
    warnings = []
    return tf.read_flux(path, warnings.append), warnings


class SingleRun(TempDirTestCase):
    """One complete MerA run: the tables agree with what the console
    reported at every block."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.words = example_words("mera")
        cls.console = run_program(cls.tmp, cls.words)
        cls.blocks = console_blocks(cls.console)
        cls.trace_path = os.path.join(cls.tmp, "mera.trace")
        cls.flux_path = os.path.join(cls.tmp, "flux_analysis.txt")
        (cls.runs, cls.trace_warnings) = read_trace(cls.trace_path)
        (cls.flux_runs, cls.flux_warnings) = read_flux(cls.flux_path)

    def test_one_run_without_warnings(self):
        self.assertEqual(len(self.runs), 1)
        self.assertEqual(len(self.flux_runs), 1)
        self.assertEqual(self.trace_warnings, [])
        self.assertEqual(self.flux_warnings, [])
        self.assertGreater(len(self.blocks), 10)

    def test_trace_columns_and_run_parameters(self):
        run = self.runs[0]
        self.assertEqual(run.table.columns, TRACE_LABELS)
        self.assertFalse(run.organomercurial)
        self.assertEqual(run.header.enzyme, float(self.words[-41]))
        self.assertEqual(run.header.substrate, float(self.words[-40]))
        self.assertEqual(run.pH, float(self.words[-44]))
        self.assertEqual(run.pKa_thiol, 6.0)          # MerA
        self.assertEqual(sorted(run.header.barriers), list(range(1, 39)))
        for i in range(1, 39):
            typed = float(self.words[len(self.words) - 40 + i])    # 39th from the end is step 1
            self.assertEqual(run.header.barriers[i], float(f"{typed:.2e}"), f"barrier {i}")
        self.assertIsNone(run.error)

    def test_time_zero_row(self):
        row = self.runs[0].rows[0]
        self.assertEqual(float(row[0]), 0.0)
        self.assertEqual(float(row[1]), float(self.words[-41]))   # HgMerB = enzyme
        self.assertEqual(float(row[2]), float(self.words[-40]))   # Thiol = acceptor
        self.assertTrue(all(float(v) == 0 for v in row[3:]))

    def test_one_row_per_block_matching_the_console(self):
        table = self.runs[0].table
        self.assertEqual(len(table.rows), 1 + len(self.blocks))
        for row, block in zip(table.rows[1:], self.blocks):
            self.assertEqual(row[0], block["time"])
            for label, letter in CONSOLE_NAMES.items():
                self.assertEqual(row[table.index(label)], block[letter], f"{label} at {row[0]}")
        times = table.column("Time")
        self.assertTrue(all(a < b for a, b in zip(times, times[1:])))

    def test_rows_are_the_numbers_as_written(self):
        header, rows = raw_table(self.trace_path)
        self.assertEqual(header, TRACE_LABELS)
        self.assertEqual(self.runs[0].rows, rows)

    def test_flux_table_matches_the_console_and_the_trace(self):
        flux = self.flux_runs[0]
        self.assertEqual(flux.trace_name, "mera.trace")
        self.assertEqual(flux.table.columns, FLUX_LABELS)
        self.assertEqual(flux.flux39_at_time0, "0.00000e+00")
        self.assertEqual(flux.header.enzyme, 1e-6)
        self.assertEqual(flux.header.rate_constants, self.runs[0].header.rate_constants)
        self.assertEqual(flux.rows[0], ["0.0000000000e+00"] + ["0.00000e+00"] * 19)
        self.assertEqual(len(flux.rows), 1 + len(self.blocks))
        self.assertEqual([r[0] for r in flux.rows], [r[0] for r in self.runs[0].rows])
        for row, block in zip(flux.rows[1:], self.blocks):
            for k, label in enumerate(FLUX_LABELS[1:], start=1):
                self.assertEqual(row[k], block[label], f"{label} at {row[0]}")

    def test_first_block_row_continues_the_time_zero_line(self):
        with open(self.flux_path, encoding="latin-1") as f:
            lines = f.read().split("\n")
        head = next(i for i, line in enumerate(lines) if line.strip().startswith("Time"))
        self.assertEqual(len(lines[head + 1].split()), 41)
        self.assertEqual(lines[head + 1].split()[21:], self.flux_runs[0].rows[1])

    def test_flux_run_found_for_the_trace_run(self):
        self.assertIs(tf.matching_flux_run(self.trace_path, self.runs[0], self.runs,
                                           self.flux_runs), self.flux_runs[0])


class AppendedRuns(TempDirTestCase):
    """Several runs in one folder: three into mera.trace (the first with a
    wanted time of 0) and one into other.trace between them."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.consoles = [
            run_program(cls.tmp, example_words("mera", time=0, pH=6.5)),
            run_program(cls.tmp, example_words("mera", time=1e-5, pH=6.8)),
            run_program(cls.tmp, example_words("mera", time=1e-5, pH=7.7, trace="other.trace")),
            run_program(cls.tmp, example_words("mera", time=2e-5, pH=7.2)),
        ]
        cls.trace_path = os.path.join(cls.tmp, "mera.trace")
        cls.runs, cls.warnings = read_trace(cls.trace_path)
        cls.flux_runs, cls.flux_warnings = read_flux(os.path.join(cls.tmp, "flux_analysis.txt"))

    def test_runs_in_the_order_written(self):
        self.assertEqual(self.warnings, [])
        self.assertEqual([r.number for r in self.runs], [1, 2, 3])
        self.assertEqual([r.pH for r in self.runs], [6.5, 6.8, 7.2])
        expected_rows = [1 + len(console_blocks(c)) for c in
                         (self.consoles[0], self.consoles[1], self.consoles[3])]
        self.assertEqual([len(r.rows) for r in self.runs], expected_rows)
        self.assertEqual(expected_rows[0], 1)
        for k in (1, 2):
            self.assertEqual(self.runs[k].rows, raw_table(self.trace_path, k)[1])

    def test_run_selection(self):
        self.assertIs(tf.select_run(self.runs, None), self.runs[2])
        self.assertIs(tf.select_run(self.runs, 1), self.runs[0])
        self.assertIs(tf.select_run(self.runs, -2), self.runs[1])
        for bad in (0, 4, -4):
            with self.assertRaises(IndexError):
                tf.select_run(self.runs, bad)

    def test_flux_file_gathers_every_run_of_the_folder(self):
        self.assertEqual(self.flux_warnings, [])
        self.assertEqual([f.trace_name for f in self.flux_runs],
                         ["mera.trace", "mera.trace", "other.trace", "mera.trace"])
        self.assertEqual([len(f.rows) for f in self.flux_runs],
                         [1 + len(console_blocks(c)) for c in self.consoles])
        # A run with a wanted time of 0 has its time-0 row only, without a
        # line end; the next run line follows it.
        self.assertEqual(self.flux_runs[0].rows, [["0.0000000000e+00"] + ["0.00000e+00"] * 19])

    def test_each_trace_run_finds_its_own_flux_run(self):
        for run, flux_number in zip(self.runs, (1, 2, 4)):
            found = tf.matching_flux_run(self.trace_path, run, self.runs, self.flux_runs)
            self.assertEqual(found.number, flux_number)
            self.assertEqual([r[0] for r in found.rows], [r[0] for r in run.rows])


class Organomercurial(TempDirTestCase):
    """47 arguments: an 18th column, 'organic product', and no HgMerB at first."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.words = example_words("organomercurial")
        cls.console = run_program(cls.tmp, cls.words)
        cls.blocks = console_blocks(cls.console)
        cls.runs, cls.warnings = read_trace(os.path.join(cls.tmp, "organomercurial.trace"))
        cls.flux_runs, _ = read_flux(os.path.join(cls.tmp, "flux_analysis.txt"))

    def test_organic_product_column(self):
        self.assertEqual(self.warnings, [])
        run = self.runs[0]
        self.assertTrue(run.organomercurial)
        self.assertEqual(run.table.columns, TRACE_LABELS + ["organic product"])
        self.assertEqual(run.header.enzyme, 0.0)
        self.assertEqual(run.rows[0][1], "0.00000e+00")             # no HgMerB yet
        self.assertEqual(run.rows[0][17], "0.0000000000e+00")       # organic, 10 decimals
        self.assertEqual(len(run.rows), 1 + len(self.blocks))
        for row, block in zip(run.rows[1:], self.blocks):
            self.assertEqual(row[0], block["time"])
            self.assertEqual(row[1], block["A"])
            self.assertEqual(row[15], block["P"])
            # organic: 11 digits in the trace, 6 on the console
            self.assertTrue(math.isclose(float(row[17]), float(block["organic"]), rel_tol=1e-5),
                            (row[17], block["organic"]))
        self.assertGreater(float(run.rows[-1][17]), 0)

    def test_flux_rows(self):
        self.assertEqual(len(self.flux_runs[0].rows), len(self.runs[0].rows))
        for row, block in zip(self.flux_runs[0].rows[1:], self.blocks):
            self.assertEqual(row[FLUX_LABELS.index("flux21")], block["flux21"])


class NegativeTotals(TempDirTestCase):
    """tolvanex_unpruned keeps net fluxes that run backwards, so running
    totals can be negative; they are read with their sign."""

    def test_negative_totals_read_as_written(self):
        console = run_program(self.tmp, example_words("mera", time=2e-5),
                              program=tolvanex_unpruned())
        blocks = console_blocks(console)
        runs, warnings = read_flux(os.path.join(self.tmp, "flux_analysis.txt"))
        self.assertEqual(warnings, [])
        rows = runs[0].rows
        self.assertEqual(len(rows), 1 + len(blocks))
        negative = 0
        for row, block in zip(rows[1:], blocks):
            for k, label in enumerate(FLUX_LABELS[1:], start=1):
                self.assertEqual(row[k], block[label])
                negative += row[k].startswith("-")
        self.assertGreater(negative, 0, "no negative total in this run to read")
        self.assertLess(min(runs[0].table.column("flux23")), 0)


class Interrupted(TempDirTestCase):
    """Files cut off at any byte, as a killed run leaves them: every complete
    row loads, the cut row is dropped with one warning."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.src = os.path.join(cls.tmp, "src")
        run_program(cls.src, example_words("mera", time=1e-5))
        run_program(os.path.join(cls.tmp, "om"), example_words("organomercurial"))
        with open(os.path.join(cls.src, "mera.trace"), encoding="latin-1") as f:
            cls.trace = f.read()
        with open(os.path.join(cls.src, "flux_analysis.txt"), encoding="latin-1") as f:
            cls.flux = f.read()

    def write(self, name, text):
        path = os.path.join(self.tmp, name)
        with open(path, "w", encoding="latin-1", newline="") as f:
            f.write(text)
        return path

    @staticmethod
    def expected(text, cut, ends, first):
        """Complete rows before `cut`, and whether anything but blanks of
        an incomplete row stands after them."""
        done = [e for e in ends if e <= cut]
        last_end = max(done, default=first)
        return len(done), bool(text[last_end:cut].strip())

    def test_trace_cut_anywhere_in_the_last_rows(self):
        # Every row of the table ends with "\t "; a row is complete once the
        # blank after its last number is written.
        offset = self.trace.index(" Time ")
        ends = [offset + m.end() - 2 for m in re.finditer(r"\n[^\n]*\t ", self.trace[offset:])]
        self.assertEqual(ends[-1], len(self.trace) - 2)
        self.assertGreater(len(ends), 5)
        for cut in range(ends[-3] - 2, len(self.trace) + 1):
            path = self.write("cut.trace", self.trace[:cut])
            runs, warnings = read_trace(path)
            complete, partial = self.expected(self.trace, cut, ends, offset)
            with self.subTest(cut=cut):
                self.assertEqual(len(runs[0].rows), complete)
                self.assertEqual(len(warnings), 1 if partial else 0, warnings)
                self.assertEqual(runs[0].dropped_rows, 1 if partial else 0)
        self.assertEqual(complete, len(ends))

    def test_flux_cut_anywhere_in_the_first_and_last_rows(self):
        head_end = self.flux.index("\n", self.flux.index("flux39")) + 1
        numbers = list(re.finditer(r"\S+", self.flux[head_end:]))
        # The time-0 row is complete after its 21st number and the blank
        # after it; every block row once its line feed is written.
        zero_end = head_end + numbers[20].end() + 1
        ends = [zero_end] + [m.end() for m in re.finditer(r"\n", self.flux) if m.end() > zero_end]
        self.assertEqual(ends[-1], len(self.flux) - 1)      # the file ends with "\n "
        cuts = list(range(head_end, ends[1] + 3)) + list(range(ends[-3] - 2, len(self.flux) + 1))
        for cut in cuts:
            path = self.write("cut_flux.txt", self.flux[:cut])
            runs, warnings = read_flux(path)
            complete, partial = self.expected(self.flux, cut, ends, head_end)
            with self.subTest(cut=cut):
                self.assertEqual(len(runs[0].rows), complete)
                self.assertEqual(len(warnings), 1 if partial else 0, warnings)

    def test_organomercurial_row_without_its_organic_value(self):
        with open(os.path.join(self.tmp, "om", "organomercurial.trace"), encoding="latin-1") as f:
            text = f.read()
        whole, _ = read_trace(self.write("om_whole.trace", text))
        n = len(whole[0].rows)
        self.assertGreater(n, 2)
        # Cut after the 17th value's "\t ", before the organic value: the
        # row looks like a complete 17-column row, but this run has 18.
        cut = text.rindex("\t ") + 2
        runs, warnings = read_trace(self.write("om_cut.trace", text[:cut]))
        self.assertEqual(len(runs[0].rows), n - 1)
        self.assertEqual(len(warnings), 1)
        # Cut inside the organic value
        runs, warnings = read_trace(self.write("om_cut2.trace", text[:cut + 5]))
        self.assertEqual(len(runs[0].rows), n - 1)
        self.assertEqual(len(warnings), 1)

    def test_cut_inside_the_header(self):
        cut = self.trace.index("DeltaG*(20 )")
        runs, warnings = read_trace(self.write("head.trace", self.trace[:cut]))
        self.assertEqual(len(runs), 1)
        self.assertIsNone(runs[0].table)
        self.assertEqual(runs[0].rows, [])
        self.assertEqual(len(warnings), 1)
        cut = self.trace.index("Int4 (Asp99")
        runs, warnings = read_trace(self.write("head2.trace", self.trace[:cut]))
        self.assertIsNone(runs[0].table)
        self.assertEqual(len(warnings), 1)

    def test_run_appended_after_an_interrupted_one(self):
        # A killed run, then a new run started in the same folder: the
        # program appends to the cut files.
        folder = os.path.join(self.tmp, "again")
        os.makedirs(folder)
        trace_cut = self.trace.rindex("\t ") - 9
        flux_cut = self.flux.rindex("\t ") - 9
        self.write(os.path.join(folder, "mera.trace"), self.trace[:trace_cut])
        self.write(os.path.join(folder, "flux_analysis.txt"), self.flux[:flux_cut])
        console = run_program(folder, example_words("mera", time=1e-5, pH=7.3))
        runs, warnings = read_trace(os.path.join(folder, "mera.trace"))
        whole, _ = read_trace(os.path.join(self.src, "mera.trace"))
        self.assertEqual(len(runs), 2)
        self.assertEqual(len(warnings), 1)
        self.assertEqual(runs[0].rows, whole[0].rows[:-1])
        self.assertEqual(runs[1].pH, 7.3)
        self.assertEqual(len(runs[1].rows), 1 + len(console_blocks(console)))
        flux_runs, warnings = read_flux(os.path.join(folder, "flux_analysis.txt"))
        whole_flux, _ = read_flux(os.path.join(self.src, "flux_analysis.txt"))
        self.assertEqual(len(flux_runs), 2)
        self.assertEqual(len(warnings), 1)
        self.assertEqual(flux_runs[0].rows, whole_flux[0].rows[:-1])
        self.assertEqual(len(flux_runs[1].rows), len(runs[1].rows))


def trace_text(rows, organic=None, errors_before_last=False, enzyme=1e-6, substrate=1e-3):
    """A trace-file run written with the program's formats."""
    text = " \n  tolvanex \n"
    text += " \n  \n  \n Run parameters \n Enzyme=%5.2e \n Substrate=%5.2e \n" % (enzyme, substrate)
    for i in range(1, 39):
        text += "DeltaG*(%d )= %3.2e \t k%d=%6.5e\n" % (i, 10 + i / 10, i, 1e3 * i)
    text += " pH= %3.2e \t pKa_thiol= %3.2e \n" % (7.25, 10.4)
    text += " \n  \n  \n Time    \t HgMerB  " + "".join(
        "\t   %s  " % label for label in TRACE_LABELS[2:]) + "\t "
    if organic is not None:
        text += "organic product \n"
    for k, row in enumerate(rows):
        if errors_before_last and k == len(rows) - 1:
            text += " \n  \n  \n  Error: computations yield negative concentrations of " \
                    "intermediates or free amounts of substrate larger than the inicial ones\n "
            text += "elapsed time is %12.9e  \n " % row[0]
        fmt = "\n %12.10e \t " if k == 0 else "\n%12.10e \t "
        text += fmt % row[0] + "".join("%6.5e \t " % v for v in row[1:])
        if organic is not None:
            text += "%12.10e " % organic[k]
    return text


class HandWritten(TempDirTestCase):
    """Small files with known values."""

    def write(self, name, text):
        path = os.path.join(self.tmp, name)
        with open(path, "w", encoding="latin-1", newline="") as f:
            f.write(text)
        return path

    def test_known_values_and_special_numbers(self):
        rows = [[0.0, 1e-6, 1e-3] + [0.0] * 14,
                [1.5e-6, 9.9e-7, 9.99e-4] + [1e-120, -2.5e-30, math.inf] + [3.0] * 11,
                [2.25e-6, 9.8e-7, 9.98e-4] + [math.nan] + [4.0] * 13]
        path = self.write("known.trace", trace_text(rows))
        runs, warnings = read_trace(path)
        self.assertEqual(warnings, [])
        run = runs[0]
        self.assertEqual(len(run.rows), 3)
        self.assertEqual(run.table.columns[1:3], ["HgMerB", "Thiol"])
        self.assertEqual(len(run.table.columns), 17)
        self.assertEqual(run.pH, 7.25)
        self.assertEqual(run.header.barriers[38], 13.8)
        self.assertEqual(run.header.rate_constants[5], 5000.0)
        self.assertEqual(run.rows[1][3:6], ["1.00000e-120", "-2.50000e-30", "inf"])
        self.assertEqual(run.table.column("Time"), [0.0, 1.5e-6, 2.25e-6])
        self.assertEqual(run.table.column("Int1")[1], 1e-120)
        self.assertEqual(run.table.column("Anionic  Int1")[1], -2.5e-30)
        self.assertTrue(math.isinf(run.table.column("Anionic  Int2 C159-bound")[1]))
        self.assertTrue(math.isnan(run.table.column("Int1")[2]))
        self.assertEqual(run.table.last("Anionic  Int2 C96-bound"), 4.0)

    def test_error_lines_before_the_last_row(self):
        rows = [[0.0, 1e-6, 1e-3] + [0.0] * 14,
                [1e-5, 5e-7, 1e-3] + [1e-9] * 14,
                [2e-5, 4e-7, 1e-3] + [-1e-12] + [1e-9] * 13]
        path = self.write("error.trace", trace_text(rows, errors_before_last=True))
        runs, warnings = read_trace(path)
        self.assertEqual(warnings, [])
        self.assertEqual(len(runs[0].rows), 3)
        self.assertIn("negative concentrations", runs[0].error)
        self.assertEqual(runs[0].error_time, 2e-5)
        self.assertEqual(runs[0].rows[2][3], "-1.00000e-12")

    def test_two_runs_and_organic_values(self):
        first = [[0.0, 1e-6, 1e-3] + [0.0] * 14, [1e-5, 1e-7, 1e-3] + [2e-9] * 14]
        second = [[0.0, 0.0, 2e-3] + [0.0] * 14, [3e-5, 1e-7, 2e-3] + [5e-9] * 14]
        text = trace_text(first) + trace_text(second, organic=[0.0, 1.25e-7], enzyme=0.0)
        runs, warnings = read_trace(self.write("two.trace", "stray text\n" + text))
        self.assertEqual(len(warnings), 1)        # the stray text before the banner
        self.assertEqual(len(runs), 2)
        self.assertFalse(runs[0].organomercurial)
        self.assertTrue(runs[1].organomercurial)
        self.assertEqual(runs[1].first_line, text.count("\n", 0, len(trace_text(first))) + 3)
        self.assertEqual(runs[1].table.column("organic product"), [0.0, 1.25e-7])
        self.assertEqual(runs[1].table.column("Thiol"), [2e-3, 2e-3])
        self.assertEqual(runs[0].table.column("Int1"), [0.0, 2e-9])

    def test_not_a_trace_file(self):
        path = self.write("nothing.trace", "Time\t1\t2\n")
        with self.assertRaises(tf.FileFormatError):
            tf.read_trace(path)
        with self.assertRaises(tf.FileFormatError):
            tf.read_flux(path)

    def test_flux_file_with_known_totals(self):
        def run_text(name, block_rows):
            text = "\n\n Flux analysis for run %s \n" % name
            text += " \n  \n  \n Run parameters \n Enzyme=%5.2e \n Substrate=%5.2e \n" % (1e-6, 1e-3)
            text += "".join("DeltaG*(%d) = %3.2e \t k%d=%6.5e\n" % (i, 12.0, i, 1.0) for i in range(1, 39))
            text += " \n  \n  \n Time  \t" + "".join("  flux%d  \t" % n for n in range(1, 38, 2)) + "  flux39 \n     "
            text += "%12.10e \t " % 0 + "%6.5e \t " % 0 * 20
            for row in block_rows:
                text += "%12.10e \t " % row[0] + " \t ".join("%6.5e" % v for v in row[1:]) + "\n "
            return text
        a = [[1e-6] + [1e-12 * k for k in range(1, 20)], [2e-6] + [-2e-12 * k for k in range(1, 20)]]
        text = run_text("runs/a b.trace", a) + run_text("b.trace", [])
        runs, warnings = read_flux(self.write("flux_analysis.txt", text))
        self.assertEqual(warnings, [])
        self.assertEqual([r.trace_name for r in runs], ["runs/a b.trace", "b.trace"])
        self.assertEqual(runs[0].table.column("Time"), [0.0, 1e-6, 2e-6])
        self.assertEqual(runs[0].table.column("flux37"), [0.0, 19e-12, -38e-12])
        self.assertEqual(runs[0].table.column("flux1")[2], -2e-12)
        self.assertEqual(len(runs[1].rows), 1)
        self.assertEqual(runs[1].flux39_at_time0, "0.00000e+00")


if __name__ == "__main__":
    import unittest
    unittest.main()
