"""The readers of trace files and flux_analysis.txt (tolvanex.runs.trace_file and flux_file)
on files the programs write here: every table must equal the file split at
white space, with one row per block the console reported."""

import os
import re

from common import (FLUX_LABELS, TRACE_LABELS, TempDir, example_words, raw_flux, raw_trace,
                    read_text, run_program)
from tolvanex.runs.flux_file import matching_flux_run, read_flux
from tolvanex.runs.trace_file import read_trace


def load(reader, path):
    warnings = []
    return reader(path, warnings.append), warnings


class Readers(TempDir):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.console = run_program(cls.path("one"), example_words("mera"))
        # Four runs in one folder, one of them into another trace file; the
        # first, with a wanted time of 0, writes its time-0 rows only.
        cls.appended = [run_program(cls.path("app"), example_words("mera", **changes))
                        for changes in ({"time": 0, "pH": 6.5}, {"time": 1e-5, "pH": 6.8},
                                        {"time": 1e-5, "pH": 7.7, "trace": "other.trace"},
                                        {"time": 2e-5, "pH": 7.2})]
        cls.om_console = run_program(cls.path("om"), example_words("organomercurial", time=1e-3))
        # tolvanex_unpruned keeps net fluxes that run backwards: negative totals.
        run_program(cls.path("neg"), example_words("mera", time=2e-5), "tolvanex_unpruned")

    def assert_table(self, run, path, index, console):
        labels, rows = raw_trace(path, index)
        self.assertEqual(run.table.columns, labels)
        self.assertEqual(run.rows, rows)
        self.assertEqual([row[0] for row in rows[1:]], re.findall(r"\n time = (\S+)", console))

    def test_single_run(self):
        runs, warnings = load(read_trace, self.path("one", "mera.trace"))
        flux_runs, flux_warnings = load(read_flux, self.path("one", "flux_analysis.txt"))
        self.assertEqual((len(runs), len(flux_runs), warnings, flux_warnings), (1, 1, [], []))
        run, flux = runs[0], flux_runs[0]
        self.assertEqual(run.table.columns, TRACE_LABELS)
        self.assertFalse(run.organomercurial)
        self.assert_table(run, self.path("one", "mera.trace"), 0, self.console)
        self.assertGreater(len(run.rows), 100)
        self.assertEqual((flux.trace_name, flux.table.columns), ("mera.trace", FLUX_LABELS))
        self.assertEqual(flux.rows, raw_flux(self.path("one", "flux_analysis.txt")))

    def test_appended_runs(self):
        path = self.path("app", "mera.trace")
        runs, warnings = load(read_trace, path)
        self.assertEqual((warnings, [r.pH for r in runs]), ([], [6.5, 6.8, 7.2]))
        for k, console in enumerate(self.appended[:2] + self.appended[3:]):
            self.assert_table(runs[k], path, k, console)
        self.assertEqual(len(runs[0].rows), 1)
        flux_path = self.path("app", "flux_analysis.txt")
        flux_runs, warnings = load(read_flux, flux_path)
        self.assertEqual((warnings, [f.trace_name for f in flux_runs]),
                         ([], ["mera.trace", "mera.trace", "other.trace", "mera.trace"]))
        self.assertEqual([f.rows for f in flux_runs], [raw_flux(flux_path, k) for k in range(4)])
        self.assertEqual([matching_flux_run(path, r, runs, flux_runs).number for r in runs],
                         [1, 2, 4])

    def test_organomercurial_column(self):
        path = self.path("om", "organomercurial.trace")
        runs, warnings = load(read_trace, path)
        self.assertEqual(warnings, [])
        self.assertTrue(runs[0].organomercurial)
        self.assertEqual(runs[0].table.columns, TRACE_LABELS + ["organic product"])
        self.assert_table(runs[0], path, 0, self.om_console)

    def write(self, text):
        # Overwritten in place: a file emptied first (O_TRUNC) and written
        # again is flushed to disk every time on ext4, which is slow.
        with open(os.open(self.path("cut"), os.O_RDWR | os.O_CREAT), "w",
                  encoding="latin-1", newline="") as f:
            f.write(text)
            f.truncate()
        return self.path("cut")

    def test_interrupted_files(self):
        """A killed run leaves its files cut at any byte, and a run started
        again in the folder appends to them.  Every complete row loads; the
        cut one is dropped with a warning.  (The flux totals of "neg" include
        negative ones.)"""
        om, neg, flux = (self.path("om", "organomercurial.trace"), self.path("neg", "mera.trace"),
                         self.path("neg", "flux_analysis.txt"))
        self.assertRegex(read_text(flux), r"\t -\d")
        for path, reader, whole, first, size in ((neg, read_trace, raw_trace(neg)[1], 17, 17),
                                                 (om, read_trace, raw_trace(om)[1], 18, 18),
                                                 (flux, read_flux, raw_flux(flux), 21, 20)):
            text = read_text(path)
            start = text.index("\n", text.index(" Time ")) + 1
            numbers = list(re.finditer(r"\S+", text[start:]))
            self.assertEqual((len(numbers) - first) % size, 0)
            # where the last number of each row ends (the time-0 row has `first`)
            ends = [start + numbers[k].end() for k in range(first - 1, len(numbers), size)]
            self.assertEqual(len(ends), len(whole))
            for cut in list(range(start, ends[1] + 2)) + list(range(ends[-2] - 2, len(text) + 1)):
                # At the end of the file a row is complete once the blank or
                # line feed after its last number is there; with a run after
                # it, once its last number is.
                for body, slack in ((text[:cut], 1), (text[:cut] + text, 0)):
                    done = [e for e in ends if e + slack <= cut]
                    partial = text[done[-1] + slack if done else start:cut].strip() != ""
                    runs, warnings = load(reader, self.write(body))
                    with self.subTest(file=path, cut=cut, appended=not slack):
                        self.assertEqual(runs[0].rows, whole[:len(done)])
                        self.assertEqual(len(warnings), int(partial), warnings)
                        self.assertEqual(runs[-1].rows, whole[:len(done)] if slack else whole)

    def test_error_lines_before_the_last_row(self):
        path = self.path("neg", "mera.trace")
        text = read_text(path)
        last = text.rindex("\n")                # where the last row starts
        error = (" \n  \n  \n  Error: computations yield negative concentrations of intermediates"
                 " or free amounts of substrate larger than the inicial ones\n elapsed time is"
                 " 1.234567890e-05  \n ")
        runs, warnings = load(read_trace, self.write(text[:last] + error + text[last:]))
        self.assertEqual((warnings, runs[0].rows), ([], raw_trace(path)[1]))
        self.assertIn("negative concentrations", runs[0].error)
        self.assertEqual(runs[0].error_time, 1.23456789e-05)
