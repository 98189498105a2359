"""tools/tolvanex-scan: a 2x2 scan end to end with its summary checked
against the runs' own trace files and console output, the dry run whose
commands.txt a cluster scheduler carries out, and an interrupted scan."""

import csv
import math
import os
import re
import signal
import subprocess
import time

from common import EXAMPLES_DIR, SCAN, TempDir, program, raw_trace, read_text, run_tool

MERA, OM = (os.path.join(EXAMPLES_DIR, name) for name in ("mera.args", "organomercurial.args"))


def read_summary(folder):
    with open(os.path.join(folder, "summary.csv"), newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


class Scan(TempDir):
    def assert_row_matches_run(self, row, out, trace="mera.trace"):
        """A summary row against its run's trace file and console output
        (both examples have an enzyme amount A0 of 1e-6 mol/L)."""
        folder = os.path.join(out, row["folder"])
        labels, table = raw_trace(os.path.join(folder, trace))
        console = read_text(os.path.join(folder, "console.txt"))
        self.assertEqual(row["final_time_s"], table[-1][0])
        self.assertEqual(row["final_P_mol_per_L"], table[-1][labels.index("Hg(SCH3)2")])
        self.assertTrue(math.isclose(float(row["P_per_A0"]), float(table[-1][15]) / 1e-6,
                                     rel_tol=1e-5))
        self.assertTrue(math.isclose(int(row["total_iterations"]), float(
            re.findall(r"total iterations (\S+)", console)[-1]), rel_tol=1e-5))
        self.assertEqual(row["exit_status"], "0")
        flux = read_text(os.path.join(folder, "flux_analysis.txt"))
        self.assertEqual(flux.count("Flux analysis"), 1)       # a folder of its own
        if row["ended"] == "converted":
            self.assertIn(". Substrate has been almost completely converted.", console)
            self.assertGreater(float(row["P_per_A0"]), 0.99)
        else:
            self.assertEqual(row["ended"], "time reached")
            self.assertGreaterEqual(float(row["final_time_s"]), float(row["time"]))

    def test_two_by_two_scan(self):
        # In binary floating point (7.2 - 6.9) / 0.3 is just below 1: 7.2 must still be in.
        vary = ["--vary", "pH=6.9:7.2:0.3", "--vary", "time=2e-5,1000"]
        result = run_tool(SCAN, MERA, *vary, "--jobs", 2, "--out", self.path("study"),
                          "--program", program(), "--plot")
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = read_summary(self.path("study"))
        self.assertEqual([(r["pH"], r["time"], r["ended"]) for r in rows],
                         [("6.9", "2e-5", "time reached"), ("6.9", "1000", "converted"),
                          ("7.2", "2e-5", "time reached"), ("7.2", "1000", "converted")])
        for row in rows:
            with self.subTest(folder=row["folder"]):
                self.assert_row_matches_run(row, self.path("study"))
                trace = read_text(self.path("study", row["folder"], "mera.trace"))
                self.assertEqual(float(re.search(r" pH= (\S+)", trace).group(1)), float(row["pH"]))
        with open(self.path("study", "summary.png"), "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        result = run_tool(SCAN, MERA, *vary, "--out", self.path("study"), "--program", program())
        self.assertEqual(result.returncode, 2)                 # a scan folder is used once
        self.assertIn("already holds a scan", result.stderr)

    def test_dry_run_commands_then_collect(self):
        # Organomercurial (47 arguments), where apoMerB and the product differ.
        out = self.path("cluster")
        result = run_tool(SCAN, OM, "--vary", "barrier12=17,18", "--vary", "time=1e-5,2e-5",
                          "--out", out, "--program", program(), "--dry-run")
        self.assertEqual(result.returncode, 0, result.stderr)
        commands = read_text(os.path.join(out, "commands.txt")).splitlines()
        folders = [d for d in os.listdir(out) if os.path.isdir(os.path.join(out, d))]
        self.assertEqual((len(commands), len(folders)), (4, 4))
        self.assertEqual([os.listdir(os.path.join(out, d)) for d in folders], [[]] * 4)
        # Array task 2 (barrier12=17, time=2e-5), as a scheduler would start it.
        subprocess.run(["bash", "-c", 'bash -c "$(sed -n 2p commands.txt)"'], cwd=out, check=True)
        self.assertEqual(run_tool(SCAN, "--collect", out).returncode, 0)
        rows = read_summary(out)
        self.assertEqual([r["ended"] for r in rows], ["not run", "time reached"] + ["not run"] * 2)
        trace = read_text(os.path.join(out, rows[1]["folder"], "organomercurial.trace"))
        for barrier in ("(11 )= 1.20e+01", "(12 )= 1.70e+01", "(13 )= 1.20e+01"):   # 12 varied
            self.assertIn("DeltaG*" + barrier, trace)
        for k in (0, 2, 3):
            subprocess.run(["bash", "-c", commands[k]], cwd="/", check=True)
        self.assertEqual(run_tool(SCAN, "--collect", out).returncode, 0)
        for row in read_summary(out):
            with self.subTest(folder=row["folder"]):
                self.assert_row_matches_run(row, out, "organomercurial.trace")

    def test_interrupted_scan(self):
        """Ctrl-C reaches the scan and its run: the run ends after its current
        block, the scan starts no further run and summarises what it has."""
        out = self.path("interrupted")
        proc = subprocess.Popen(
            [SCAN, os.path.join(EXAMPLES_DIR, "glutathione.args"), "--vary", "pH=7,7.4",
             "--sequential", "--out", out, "--program", program()],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True,
            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        trace = os.path.join(out, "001_pH=7", "glutathione.trace")
        deadline = time.monotonic() + 60
        while not os.path.exists(trace) and time.monotonic() < deadline:
            time.sleep(0.01)
        os.killpg(proc.pid, signal.SIGINT)          # to the whole group, as Ctrl-C does
        _, err = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 130, err)
        rows = read_summary(out)
        self.assertEqual([(r["ended"], r["exit_status"]) for r in rows],
                         [("interrupted (SIGINT)", "130"), ("not run", "")])
        self.assertEqual(rows[0]["final_time_s"], raw_trace(trace)[1][-1][0])
        self.assertLess(float(rows[0]["final_P_mol_per_L"]), 0.99e-6)
        self.assertEqual(os.listdir(os.path.join(out, rows[1]["folder"])), [])
