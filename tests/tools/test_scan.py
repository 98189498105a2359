"""tools/tolvanex-scan: the parameter grid, a 2x2 scan end to end with its
summary checked against the runs' own files, and the dry run whose
commands a cluster scheduler would carry out."""

import csv
import math
import os
import re
import signal
import subprocess
import time

from common import (EXAMPLES_DIR, SCAN, TempDirTestCase, load_script, raw_table,
                    run_tool, tolvanex)

scan = load_script(SCAN, "tolvanex_scan")

MERA = os.path.join(EXAMPLES_DIR, "mera.args")


def read_summary(folder):
    with open(os.path.join(folder, "summary.csv"), newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def last_total_iterations(console):
    """The run's total iteration count as the last block report printed it."""
    return float(re.findall(r"total iterations (\S+)", console)[-1])


class Grid(TempDirTestCase):
    """Value lists, ranges, parameter names and their positions."""

    def test_ranges_include_their_stop(self):
        self.assertEqual(scan.expand_values("6.5:8.5:0.5"), ["6.5", "7", "7.5", "8", "8.5"])
        self.assertEqual(scan.expand_values("0.1:0.3:0.1"), ["0.1", "0.2", "0.3"])
        self.assertEqual(scan.expand_values("8:7:-0.5"), ["8", "7.5", "7"])
        self.assertEqual(scan.expand_values("10:20:4"), ["10", "14", "18"])
        self.assertEqual(scan.expand_values("1e-7:3e-7:1e-7"), ["1e-7", "2e-7", "3e-7"])
        self.assertEqual(scan.expand_values("5:5:1"), ["5"])

    def test_lists_are_taken_as_typed(self):
        self.assertEqual(scan.expand_values("10,12,14"), ["10", "12", "14"])
        self.assertEqual(scan.expand_values("1e-6, 2.0e-6"), ["1e-6", "2.0e-6"])
        self.assertEqual(scan.expand_values("7"), ["7"])

    def test_bad_values_are_refused(self):
        for text in ["1:2:0", "1:2:-1", "2:1:1", "1:2", "a:b:c", "1:nan:1", "1:inf:1", "1,,2", ""]:
            with self.subTest(values=text), self.assertRaises(scan.UsageError):
                scan.expand_values(text)

    def test_names_and_positions(self):
        words46 = [str(k) for k in range(46)]
        self.assertEqual(scan.canonical_name("PH", 46), "pH")
        self.assertEqual(scan.canonical_name("wanted_time", 46), "time")
        self.assertEqual(scan.canonical_name("dg12", 46), "barrier12")
        self.assertEqual(scan.canonical_name("phmb", 47), "PHMB")
        for bad, n in (("phmb", 46), ("barrier39", 46), ("trace", 46), ("colour", 47)):
            with self.subTest(name=bad), self.assertRaises(scan.UsageError):
                scan.canonical_name(bad, n)
        # 46 arguments: target2 is the first, barrier k the (7 + k)th
        expected = {"target2": 0, "timestep": 1, "pH": 2, "type": 3, "time": 4,
                    "enzyme": 5, "acceptor": 6, "barrier1": 7, "barrier38": 44}
        for name, index in expected.items():
            self.assertEqual(len(words46) - scan.position(name), index, name)
        self.assertEqual(47 - scan.position("PHMB"), 0)
        self.assertEqual(47 - scan.position("barrier38"), 45)
        with self.assertRaises(scan.UsageError):
            scan.parse_vary(["pH=7", "ph=8"], 46)

    def test_arguments_file(self):
        words = scan.read_args_file(MERA)
        self.assertEqual(len(words), 46)
        self.assertEqual(words[-1], "mera.trace")
        one_line = os.path.join(self.tmp, "one.args")
        with open(one_line, "w") as f:
            f.write(" ".join(words[:20]) + "\n  # a comment line\n" + " ".join(words[20:]) + "\n")
        self.assertEqual(scan.read_args_file(one_line), words)
        with open(one_line, "w") as f:
            f.write(" ".join(words[:45]) + "\n")
        with self.assertRaises(scan.UsageError):
            scan.read_args_file(one_line)

    def test_atof(self):
        cases = {"1e-6": 1e-6, "  7.5xyz": 7.5, "abc": 0.0, "": 0.0, "-3": -3.0,
                 "1e": 1.0, ".5": 0.5, "0x10": 16.0, "inf": math.inf, "+1.5E+2": 150.0}
        for text, value in cases.items():
            self.assertEqual(scan.atof(text), value, text)


class EndToEnd(TempDirTestCase):
    """A 2x2 scan of the MerA example: pH 6.8 and 7.2, wanted time 2e-5 s
    (reached) and 1000 s (stopped by conversion)."""

    VARY = ["--vary", "pH=6.8:7.2:0.4", "--vary", "time=2e-5,1000"]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.out = os.path.join(cls.tmp, "study")
        cls.result = run_tool(SCAN, MERA, *cls.VARY, "--jobs", "2", "--out", cls.out,
                              "--program", tolvanex(), "--plot")
        cls.rows = read_summary(cls.out) if cls.result.returncode == 0 else []

    def test_summary_has_one_row_per_run(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertEqual([(r["pH"], r["time"]) for r in self.rows],
                         [("6.8", "2e-5"), ("6.8", "1000"), ("7.2", "2e-5"), ("7.2", "1000")])
        self.assertEqual(len({r["folder"] for r in self.rows}), 4)
        if scan.have_gnu_parallel():
            self.assertIn("with GNU parallel, 2 at a time", self.result.stderr)
            with open(os.path.join(self.out, "joblog.txt")) as f:
                self.assertEqual(len(f.read().splitlines()), 1 + 4)
        self.assertEqual(list(self.rows[0].keys()),
                         ["folder", "pH", "time", "ended", "message", "final_time_s",
                          "final_P_mol_per_L", "P_per_A0", "total_iterations", "exit_status"])

    def test_each_run_in_its_own_folder(self):
        for r in self.rows:
            folder = os.path.join(self.out, r["folder"])
            with open(os.path.join(folder, "flux_analysis.txt"), encoding="latin-1") as f:
                flux = f.read()
            with open(os.path.join(folder, "mera.trace"), encoding="latin-1") as f:
                trace = f.read()
            self.assertEqual(flux.count("Flux analysis for run mera.trace"), 1)
            self.assertEqual(trace.count("  tolvanex \n"), 1)
            # the run got the varied pH (the trace's pH line)
            ph = float(re.search(r" pH= (\S+)", trace).group(1))
            self.assertEqual(ph, float(r["pH"]))

    def test_rows_agree_with_the_runs_own_files(self):
        for r in self.rows:
            folder = os.path.join(self.out, r["folder"])
            header, rows = raw_table(os.path.join(folder, "mera.trace"))
            last = rows[-1]
            with open(os.path.join(folder, "console.txt"), encoding="latin-1") as f:
                console = f.read()
            with self.subTest(folder=r["folder"]):
                self.assertEqual(r["exit_status"], "0")
                self.assertEqual(r["final_time_s"], last[0])
                self.assertEqual(r["final_P_mol_per_L"], last[header.index("Hg(SCH3)2")])
                self.assertTrue(math.isclose(float(r["P_per_A0"]), float(last[15]) / 1e-6,
                                             rel_tol=1e-5))
                self.assertTrue(math.isclose(int(r["total_iterations"]),
                                             last_total_iterations(console), rel_tol=1e-5))
                if r["time"] == "2e-5":
                    self.assertEqual(r["ended"], "time reached")
                    self.assertEqual(r["message"], "")
                    self.assertGreaterEqual(float(r["final_time_s"]), 2e-5)
                    self.assertNotIn("computation has therefore been stopped", console)
                else:
                    self.assertEqual(r["ended"], "converted")
                    self.assertIn("Substrate has been almost completely converted", r["message"])
                    self.assertIn(". Substrate has been almost completely converted.  The "
                                  "computation has therefore been stopped", console)
                    self.assertGreater(float(r["P_per_A0"]), 0.99)

    def test_summary_plot(self):
        path = os.path.join(self.out, "summary.png")
        with open(path, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertGreater(os.path.getsize(path), 5000)

    def test_sequential_scan_gives_the_same_summary(self):
        out = os.path.join(self.tmp, "sequential")
        result = run_tool(SCAN, MERA, *self.VARY, "--sequential", "--out", out,
                          "--program", tolvanex())
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("run 4 of 4", result.stderr)
        self.assertEqual(read_summary(out), self.rows)

    def test_a_scan_folder_is_used_once(self):
        result = run_tool(SCAN, MERA, *self.VARY, "--out", self.out, "--program", tolvanex())
        self.assertEqual(result.returncode, 2)
        self.assertIn("already holds a scan", result.stderr)


class DryRun(TempDirTestCase):
    """--dry-run writes the folders and commands.txt; each line, run on its
    own as a cluster's array task would, carries out one run; --collect
    then writes the summary."""

    def test_commands_run_one_by_one_then_collect(self):
        out = os.path.join(self.tmp, "cluster")
        result = run_tool(SCAN, MERA, "--vary", "barrier12=18,19.2", "--vary",
                          "time=1e-5,2e-5", "--out", out, "--program", tolvanex(), "--dry-run")
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(out, "commands.txt")) as f:
            commands = f.read().splitlines()
        self.assertEqual(len(commands), 4)
        folders = sorted(d for d in os.listdir(out) if os.path.isdir(os.path.join(out, d)))
        self.assertEqual(len(folders), 4)
        self.assertEqual(sum(len(os.listdir(os.path.join(out, d))) for d in folders), 0)
        self.assertFalse(os.path.exists(os.path.join(out, "summary.csv")))

        # Array task 3, started from somewhere else.
        task = subprocess.run(["bash", "-c", f'bash -c "$(sed -n 3p {out}/commands.txt)"'],
                              cwd=self.tmp, capture_output=True, text=True)
        self.assertEqual(task.returncode, 0, task.stderr)
        result = run_tool(SCAN, "--collect", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = read_summary(out)
        self.assertEqual([r["ended"] for r in rows],
                         ["not run", "not run", "time reached", "not run"])
        self.assertEqual((rows[2]["barrier12"], rows[2]["time"]), ("19.2", "1e-5"))
        with open(os.path.join(out, rows[2]["folder"], "mera.trace"), encoding="latin-1") as f:
            trace = f.read()
        self.assertIn("DeltaG*(12 )= 1.92e+01", trace)
        self.assertIn("DeltaG*(11 )= 8.00e+00", trace)     # its neighbours unchanged
        self.assertIn("DeltaG*(13 )= 1.02e+01", trace)

        for k in (1, 2, 4):
            subprocess.run(["bash", "-c", commands[k - 1]], cwd="/", check=True)
        result = run_tool(SCAN, "--collect", out)
        rows = read_summary(out)
        self.assertEqual({r["ended"] for r in rows}, {"time reached"})
        for r in rows:
            header, table = raw_table(os.path.join(out, r["folder"], "mera.trace"))
            self.assertEqual(r["final_time_s"], table[-1][0])
            self.assertEqual(r["final_P_mol_per_L"], table[-1][15])
            self.assertGreaterEqual(float(r["final_time_s"]), float(r["time"]))

    def test_failed_and_interrupted_runs(self):
        out = os.path.join(self.tmp, "odd")
        result = run_tool(SCAN, MERA, "--vary", "time=1e-5", "--out", out,
                          "--program", tolvanex(), "--dry-run")
        self.assertEqual(result.returncode, 0, result.stderr)
        run_tool(SCAN, "--collect", out)
        folder = os.path.join(out, read_summary(out)[0]["folder"])
        # What a run the scheduler ended by SIGTERM leaves: its exit status
        with open(os.path.join(folder, "exit-status"), "w") as f:
            f.write("143\n")
        run_tool(SCAN, "--collect", out)
        self.assertEqual(read_summary(out)[0]["ended"], "interrupted (SIGTERM)")
        with open(os.path.join(folder, "exit-status"), "w") as f:
            f.write("1\n")
        with open(os.path.join(folder, "stderr.txt"), "w") as f:
            f.write("tolvanex: cannot open mera.trace: Permission denied\n")
        result = run_tool(SCAN, "--collect", out)
        self.assertEqual(result.returncode, 1)
        row = read_summary(out)[0]
        self.assertEqual(row["ended"], "failed (exit status 1)")
        self.assertIn("Permission denied", row["message"])

    def test_usage_errors(self):
        cases = [([MERA, "--vary", "colour=1,2", "--out", "x"], "unknown parameter"),
                 ([MERA, "--vary", "phmb=1e-6", "--out", "x"], "organomercurial"),
                 ([MERA, "--vary", "pH=7:6:0.5", "--out", "x"], "away from the stop"),
                 ([MERA, "--vary", "pH", "--out", "x"], "NAME=VALUES"),
                 ([MERA], "--out"),
                 (["--collect", self.tmp], "holds no scan")]
        for args, message in cases:
            result = run_tool(SCAN, *args, "--program", tolvanex(), cwd=self.tmp)
            with self.subTest(args=args):
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "x")))


class Interruption(TempDirTestCase):
    """An interrupt (Ctrl-C) reaches the scan and its run: the run ends
    after its current block with its files complete, the scan starts no
    further run and writes the summary of what it has."""

    def test_interrupted_scan(self):
        out = os.path.join(self.tmp, "interrupted")
        glutathione = os.path.join(EXAMPLES_DIR, "glutathione.args")   # runs a second or two
        proc = subprocess.Popen(
            [SCAN, glutathione, "--vary", "pH=7,7.4", "--sequential", "--out", out,
             "--program", tolvanex()],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
            start_new_session=True,
            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        trace = os.path.join(out, "001_pH=7", "glutathione.trace")
        deadline = time.monotonic() + 60
        while not os.path.exists(trace) and time.monotonic() < deadline:
            time.sleep(0.01)
        os.killpg(proc.pid, signal.SIGINT)          # as Ctrl-C does
        _, err = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 130, err)
        self.assertIn("interrupted", err)
        rows = read_summary(out)
        self.assertEqual([r["ended"] for r in rows], ["interrupted (SIGINT)", "not run"])
        self.assertEqual(rows[0]["exit_status"], "130")
        with open(trace, encoding="latin-1") as f:
            self.assertTrue(f.read().endswith("\t "))    # the last row is complete
        header, table = raw_table(trace)
        self.assertEqual(rows[0]["final_time_s"], table[-1][0])
        self.assertLess(float(rows[0]["final_P_mol_per_L"]), 0.99e-6)
        self.assertFalse(os.listdir(os.path.join(out, rows[1]["folder"])))


if __name__ == "__main__":
    import unittest
    unittest.main()
