"""Scans (tolvanex.scan and tools/tolvanex-scan): of the exact engine, the
default, against tolvanex.solve; of a program, summaries checked against
the runs' own files, values at exactly the wanted time, a dry run carried
out by hand and collected (also from a folder of the earlier layout), an
interrupted scan resumed to the summary of an uninterrupted one, the lock
on a scan folder, unreadable run folders, and input refused before
anything runs."""

import contextlib
import csv
import io
import json
import math
import multiprocessing
import os
import re
import signal
import socket
import subprocess
import time

import numpy as np
import pandas as pd

from common import (EXAMPLES_DIR, SCAN, TempDir, example_words, program, raw_trace, read_text,
                    run_here, run_program, run_tool)
import tolvanex  # noqa: E402  (found through common)
from tolvanex.cli.scan import main as scan_main  # noqa: E402
from tolvanex.scans.lock import FolderBusy, ScanLock  # noqa: E402
from tolvanex.scans.manifest import NotAScan  # noqa: E402
from tolvanex.plots.scan_picture import summary_figure  # noqa: E402
from tolvanex.scans.summary import AT_WANTED, COLUMNS  # noqa: E402

MERA, GLU, OM, DTT = (os.path.join(EXAMPLES_DIR, n + ".args")
                      for n in ("mera", "glutathione", "organomercurial", "dithiothreitol"))


def read_summary(folder):
    with open(os.path.join(folder, "summary.csv"), newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def bracket(rows, column, t):
    """The values of a column in the two rows around time t."""
    times = [float(r[0]) for r in rows]
    k = next(i for i, x in enumerate(times) if x >= t)
    return float(rows[k - 1][column]), float(rows[k][column])


class Scan(TempDir):
    def check_row(self, row, out, trace):
        """A summary row against its run's trace file and console output
        (every example has an enzyme amount of 1e-6 mol/L)."""
        folder = os.path.join(out, row["folder"])
        labels, rows = raw_trace(os.path.join(folder, trace))
        p = labels.index("Hg(SCH3)2")
        console = read_text(os.path.join(folder, "console.txt"))
        self.assertEqual(float(row["end_time_s"]), float(rows[-1][0]))
        self.assertEqual((row["exit_status"], read_text(os.path.join(folder, "exit-status"))),
                         ("0", "0\n"))
        self.assertAlmostEqual(int(row["iterations"]) / float(
            re.findall(r"total iterations (\S+)", console)[-1]), 1, delta=1e-5)
        self.assertGreater(float(row["wall_s"]), 0)
        wanted = float(row["wanted_time_s"])
        if float(rows[-1][0]) >= wanted:
            low, high = bracket(rows, p, wanted)
            self.assertTrue(low <= float(row["P_at_wanted_mol_per_L"]) <= high, row)
            self.assertEqual(row["at_wanted_note"], "")
        else:
            self.assertEqual(row["P_at_wanted_mol_per_L"], "")
            self.assertIn(f"before the wanted {wanted:g} s ({row['ended']})", row["at_wanted_note"])
        if float(rows[-1][p]) < 0.5e-6:
            self.assertEqual(row["t50_s"], "")
        else:
            self.assertEqual(bracket(rows, 0, float(row["t50_s"]))[1] >= float(row["t50_s"]), True)

    def test_two_by_two_scan(self):
        # In binary floating point (7.2 - 6.9) / 0.3 is just below 1: 7.2 must still be in.
        vary = ["--vary", "pH=6.9:7.2:0.3", "--vary", "time=2e-5,1000"]
        out = self.path("study")
        result = run_tool(SCAN, MERA, *vary, "--jobs", 2, "--out", out, "--program", program(),
                          "--plot", "--metric", "t90")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("4/4 runs done, 0 failed", result.stderr)
        self.assertIn("note: tolvanex drops backward and negligible net fluxes", result.stderr)
        self.assertIn("tolvanex: 4 runs, 4 ended well", result.stdout)
        rows = read_summary(out)
        self.assertEqual({r["program"] for r in rows}, {"tolvanex"})
        self.assertEqual([(r["pH"], r["wanted_time"], r["ended"]) for r in rows],
                         [("6.9", "2e-5", "time reached"), ("6.9", "1000", "converted"),
                          ("7.2", "2e-5", "time reached"), ("7.2", "1000", "converted")])
        for row in rows:
            with self.subTest(folder=row["folder"]):
                self.check_row(row, out, "mera.trace")
                trace = read_text(os.path.join(out, row["folder"], "mera.trace"))
                self.assertEqual(float(re.search(r" pH= (\S+)", trace).group(1)), float(row["pH"]))
        self.assertEqual(run_here(scan_main, "--collect", out, "--plot").returncode, 0)
        for picture in ("summary-t90.png", "summary.png"):     # t90's is not t50's
            with open(os.path.join(out, picture), "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        manifest = json.loads(read_text(os.path.join(out, "scan.json")))
        self.assertEqual((manifest["program"], manifest["python"]),
                         (program(), os.path.dirname(tolvanex.__file__)))
        self.assertEqual(tolvanex.Run.load(os.path.join(out, rows[0]["folder"])).program,
                         program())

    def test_values_at_exactly_the_wanted_time(self):
        """Runs to 5 s end their last block anywhere up to 5.1 s: the product
        of the last row makes a V across pH, the product at 5 s falls."""
        out = self.path("overshoot")
        said = io.StringIO()
        with contextlib.redirect_stderr(said):
            table = tolvanex.scan(GLU, vary={"pH": "7:8:0.5"}, set={"time": 5}, program=program(),
                                  out=out, progress=None)
        # progress=None: no progress and no notes on how the runs go; the one
        # warning is that tolvanex gives other numbers than the rate equations.
        self.assertEqual(said.getvalue().count("\n"), 1)
        self.assertIn("note: tolvanex drops backward and negligible net fluxes", said.getvalue())
        last_p = []
        for k, row in table.iterrows():
            labels, rows = raw_trace(os.path.join(out, row["folder"], "glutathione.trace"))
            p = labels.index("Hg(SCH3)2")
            last_p.append(float(rows[-1][p]))
            self.assertGreater(row["end_time_s"], 5.0)
            self.assertNotEqual(row["P_at_wanted_mol_per_L"], last_p[-1])
            low, high = bracket(rows, p, 5.0)
            self.assertTrue(low < row["P_at_wanted_mol_per_L"] < high)
        at_wanted = table["P_at_wanted_mol_per_L"].tolist()
        self.assertEqual(at_wanted, sorted(at_wanted, reverse=True))
        # A wanted time before the first row after time 0: no row tells it.
        early = tolvanex.scan(MERA, vary={"pH": "7"}, set={"time": 1e-7}, program=program(),
                              out=self.path("early"), progress=None)
        self.assertTrue(early[list(AT_WANTED.values())].isna().all(axis=None))
        self.assertRegex(early.loc[0, "at_wanted_note"], r"^1e-07 s is before the run's first row")
        run = tolvanex.Run.load(self.path("early", early.loc[0, "folder"]))
        self.assertTrue(np.isnan(run.at(1e-7)["P"]) and np.isnan(run.elasticity(1e-7)))
        self.assertNotEqual(last_p, sorted(last_p, reverse=True))
        self.assertEqual(table["folder"].tolist(), ["001_pH=7", "002_pH=7.5", "003_pH=8"])

    def test_dry_run_carried_out_by_hand_then_collected(self):
        out = self.path("cluster")
        result = run_here(scan_main, OM, "--vary", "barrier12=17,18", "--vary", "time=3e-5,5e-5",
                          "--out", out, "--program", program(), "--dry-run")
        self.assertEqual(result.returncode, 0, result.stderr)
        commands = read_text(os.path.join(out, "commands.txt")).splitlines()
        self.assertEqual(len(commands), 4)
        # Array task 2 (barrier12=17, time=5e-5), as a scheduler would start it.
        subprocess.run(["bash", "-c", 'bash -c "$(sed -n 2p commands.txt)"'], cwd=out, check=True)
        self.assertEqual(run_here(scan_main, "--collect", out).returncode, 3)    # 3 not run
        rows = read_summary(out)
        self.assertEqual([r["ended"] for r in rows], ["not run", "time reached"] + ["not run"] * 2)
        self.assertEqual(rows[0]["at_wanted_note"], "not run")
        trace = read_text(os.path.join(out, rows[1]["folder"], "organomercurial.trace"))
        for barrier in ("(11 )= 1.20e+01", "(12 )= 1.70e+01", "(13 )= 1.20e+01"):   # 12 varied
            self.assertIn("DeltaG*" + barrier, trace)
        for k in (0, 2, 3):
            subprocess.run(["bash", "-c", commands[k]], cwd="/", check=True)
        self.assertEqual(run_here(scan_main, "--collect", out).returncode, 0)
        rows = read_summary(out)
        for row in rows:
            with self.subTest(folder=row["folder"]):
                self.check_row(row, out, "organomercurial.trace")
        # The same folder as the earlier scan tool left it: no arguments
        # files, no times, a scan.json without the grid's new fields.
        manifest = json.loads(read_text(os.path.join(out, "scan.json")))
        old = {k: manifest[k] for k in ("program", "args_file", "base_args", "varied",
                                        "trace_name", "runs")}
        with open(os.path.join(out, "scan.json"), "w") as f:
            json.dump(old, f)
        for row in rows:
            for name in ("arguments.args", "times.txt"):
                os.remove(os.path.join(out, row["folder"], name))
        self.assertEqual(run_here(scan_main, "--collect", out).returncode, 0)
        for before, after in zip(rows, read_summary(out)):
            self.assertEqual({k: v for k, v in before.items() if k != "wall_s"},
                             {k: v for k, v in after.items() if k != "wall_s"})

    def test_exit_status_says_whether_every_run_ended(self):
        """0 only when every run ended well: 3 while a run has not ended (not
        run, or killed before its exit status), whatever else failed; 1 once
        every run has ended and one failed (here: time stood still)."""
        out = self.path("verdict")
        grid = [DTT, "--vary", "barrier17=8.0,8.1", "--set", "barrier18=17.6",
                "--set", "time=1e-3", "--out", out, "--program", program()]
        self.assertEqual(run_here(scan_main, *grid, "--dry-run").returncode, 0)
        commands = read_text(os.path.join(out, "commands.txt")).splitlines()
        steps = [(None, 3, ["not run", "not run"]),
                 (1, 3, ["not run", "time reached"]),
                 (0, 1, ["time stood still", "time reached"]),
                 ("kill", 3, ["time stood still", "running or killed"])]
        for step, status, ended in steps:
            if step == "kill":                 # as a run killed with its scan leaves it
                os.remove(os.path.join(out, "002_barrier17=8.1", "exit-status"))
            elif step is not None:
                subprocess.run(["/bin/sh", "-c", commands[step]], check=True)
            result = run_here(scan_main, "--collect", out)
            self.assertEqual((result.returncode, [r["ended"] for r in read_summary(out)]),
                             (status, ended), result.stderr)
            told = result.stderr.splitlines()
            self.assertEqual(len(told), len(set(ended) - {"time reached"}), told)
            self.assertEqual(status == 3, f"tolvanex-scan --resume {out} runs them" in told[0])

    def test_interrupted_scans_then_resumed(self):
        """SIGTERM or SIGINT to the scan's own process (not its group) stops
        its runs after their current block, the summary tells each run's
        state, and --resume ends with the summary of an uninterrupted scan;
        while the scan runs its folder is refused to another."""
        grid = ["--vary", "pH=7,7.4"]
        reference = self.path("reference")
        result = run_here(scan_main, GLU, *grid, "--out", reference, "--program", program())
        self.assertEqual(result.returncode, 0, result.stderr)
        for signum, mode in ((signal.SIGTERM, "--sequential"), (signal.SIGINT, "--jobs=2"),
                             (signal.SIGHUP, "--jobs=2")):   # the terminal closed
            stopped = signal.SIGTERM if signum == signal.SIGHUP else signum     # the runs
            with self.subTest(signal=signum.name):
                out = self.path(f"interrupted-{signum.name}")
                proc = subprocess.Popen([SCAN, GLU, *grid, mode, "--out", out,
                                         "--program", program()], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True,
                                        start_new_session=True)
                trace = os.path.join(out, "001_pH=7", "glutathione.trace")
                deadline = time.monotonic() + 60
                while not os.path.exists(trace) and time.monotonic() < deadline:
                    time.sleep(0.01)
                for other in (lambda: tolvanex.collect(out),
                              lambda: tolvanex.scan(GLU, {"pH": "7"}, out=out, progress=None),
                              lambda: tolvanex.scan(None, out=out, resume=True, progress=None)):
                    with self.assertRaisesRegex(FolderBusy, f"in use by process {proc.pid} "
                                                f"on {socket.gethostname()}"):
                        other()
                proc.send_signal(signum)
                _, err = proc.communicate(timeout=120)
                self.assertEqual(proc.returncode, 128 + signum, err)
                self.assertNotIn("Traceback", err)
                rows = read_summary(out)
                self.assertEqual((rows[0]["ended"], rows[0]["exit_status"]),
                                 (f"interrupted ({stopped.name})", str(128 + stopped)))
                self.assertIn(rows[1]["ended"], ("not run", f"interrupted ({stopped.name})"))
                self.assertEqual(float(rows[0]["end_time_s"]), float(raw_trace(trace)[1][-1][0]))
                self.assertFalse(os.path.exists(os.path.join(out, "scan.lock")))
        result = run_here(scan_main, "--resume", out, "--program", program())
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.summary_without_wall(out), self.summary_without_wall(reference))
        for row in read_summary(out):                          # emptied before the rerun
            trace = read_text(os.path.join(out, row["folder"], "glutathione.trace"))
            self.assertEqual(trace.count("  tolvanex \n"), 1)
        result = run_here(scan_main, GLU, "--vary", "pH=7,7.5", "--resume", out)
        self.assertEqual(result.returncode, 2)
        self.assertIn("made for other varied values", result.stderr)

    def summary_without_wall(self, out):
        return [{k: v for k, v in r.items() if k != "wall_s"} for r in read_summary(out)]

    def test_engine_by_default(self):
        # The exact engine, the default: the summary columns of a program's
        # scan with program = exact, each point's values those of
        # tolvanex.solve, no files in the programs' formats.
        out = self.path("exact")
        r = run_here(scan_main, GLU, "--vary", "pH=8,9", "--vary", "pKa=9.5,10.4", "--out", out,
                     "--no-progress", "--plot")
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertEqual(r.stdout.splitlines()[0], "exact (the CVODE engine): 4 points, 4 ended well")
        rows = read_summary(out)
        self.assertEqual(list(rows[0]), ["folder", "pH", "pKa"] + COLUMNS)
        base = tolvanex.Parameters.read(GLU)
        for row in rows:
            with self.subTest(folder=row["folder"]):
                s = tolvanex.solve(base.replace(pH=row["pH"], pKa=row["pKa"]))
                self.assertEqual([row[c] for c in ("program", "ended", "exit_status",
                                                   "iterations")], ["exact", "time reached", "0", ""])
                for column, value in (("t50_s", s.time_to(0.5)), ("t90_s", s.time_to(0.9)),
                                      ("P_at_wanted_mol_per_L", s.at(base.wanted_time)["P"])):
                    self.assertAlmostEqual(float(row[column]) / value, 1, delta=1e-9, msg=column)
                self.assertEqual(sorted(os.listdir(os.path.join(out, row["folder"]))),
                                 ["arguments.args", "exit-status", "solution.json"])
        # The figure: t90 at pH 9 is 128.5 s, where tolvanex gives 114.5 s.
        self.assertAlmostEqual(float(rows[3]["t90_s"]), 128.5, delta=0.05)
        os.remove(os.path.join(out, rows[1]["folder"], "exit-status"))
        self.assertEqual(tolvanex.collect(out)["ended"][1], "not run")
        resumed = run_here(scan_main, "--resume", out)
        self.assertEqual(resumed.returncode, 0, resumed.stderr)
        self.assertIn("3 of 4 runs finished, solving the others", resumed.stderr)
        self.assertEqual(self.summary_without_wall(out),
                         [{k: v for k, v in x.items() if k != "wall_s"} for x in rows])

    def test_traces_and_refusals(self):
        out = self.path("traces")
        r = run_here(scan_main, OM, "--vary", "temperature=290,310", "--set", "time=0.05",
                     "--engine", "exact", "--traces", "--out", out, "--no-progress")
        self.assertEqual(r.returncode, 0, r.stderr)
        for row in read_summary(out):
            with open(os.path.join(out, row["folder"], "trace.csv"), encoding="utf-8") as f:
                table = list(csv.reader(f))
            self.assertEqual((table[0][-3], float(table[-1][0])), ("P_Hg_dithiol_mol_per_L", 0.05))
            self.assertAlmostEqual(float(table[-1][-3]) / float(row["P_at_wanted_mol_per_L"]), 1,
                                   delta=1e-9)
            self.assertTrue(os.path.exists(os.path.join(out, row["folder"], "fluxes.csv")))
        cases = [(["--engine", "exact", "--program", program()], "not both"),
                 (["--engine", "exact", "--dry-run"], "a dry run is for the programs' runs"),
                 (["--engine", "exact", "--slurm"], "--slurm is for the programs' runs"),
                 (["--program", program(), "--traces"], "--traces is for the exact engine"),
                 (["--program", program(), "--set", "pKa=9"], "pKa 9 (the programs: 6) needs"),
                 (["--vary", "pH=7,-400"], "002_pH=-400: pH is -400")]
        for args, message in cases:
            with self.subTest(args=args):
                out = self.path("refused")
                r = run_here(scan_main, MERA, *args, "--out", out, "--no-progress")
                self.assertEqual((r.returncode, r.stdout), (2, ""), r.stderr)
                self.assertEqual(r.stderr.count("\n"), 1, r.stderr)
                self.assertIn(message, r.stderr)
                self.assertFalse(os.path.exists(out))

    def test_unreadable_run_folders(self):
        out = self.path("damaged")
        result = run_here(scan_main, MERA, "--vary", "pH=6.9,7,7.1", "--set", "time=1e-4",
                          "--out", out, "--program", program())
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = read_summary(out)
        trace = os.path.join(out, rows[0]["folder"], "mera.trace")
        os.remove(trace)
        os.mkdir(trace)
        with open(os.path.join(out, rows[1]["folder"], "exit-status"), "wb") as f:
            f.write(b"\x00\xff\x13")
        result = run_here(scan_main, "--collect", out)
        self.assertEqual(result.returncode, 1, result.stderr)      # unreadable runs count as failed
        self.assertNotIn("Traceback", result.stderr)
        after = read_summary(out)
        self.assertEqual([r["ended"] for r in after], ["unreadable", "unreadable", "time reached"])
        self.assertIn("is a folder", after[0]["message"])
        self.assertIn("not a text file", after[1]["message"])
        self.assertEqual(after[2], rows[2])

    def test_damaged_manifest(self):
        """scan.json is read strictly: a scan whose manifest lists runs
        without folders is refused; a run folder under it still loads, its
        scan records left out with a warning."""
        out = self.path("damaged-manifest")
        run_program(os.path.join(out, "001_pH=7"), example_words("mera", time=1e-5))
        with open(os.path.join(out, "scan.json"), "w") as f:
            json.dump({"program": "/x/tolvanex", "runs": [{"args": []}]}, f)
        with self.assertRaisesRegex(NotAScan, "is not the record of a scan"):
            tolvanex.summary(out)
        warned = []
        run = tolvanex.Run.load(os.path.join(out, "001_pH=7"), warn=warned.append)
        self.assertEqual((run.parameters, run.program, run.stop.code), (None, None, "unknown"))
        self.assertIn("scan records are left out", warned[0])

    def test_refused_before_anything_runs(self):
        bad = self.path("latin1.args")
        with open(bad, "wb") as f:
            f.write(read_text(MERA).replace("# MerA", "# M\xe9rA").encode("latin-1"))
        cases = [([bad], "not a text file"),
                 ([MERA, "--vary", "pH=1e999999999:1e999999999:1"], "usable size"),
                 ([MERA, "--vary", "pH=7,seven"], "pH (pH) is 'seven': not a number"),
                 ([MERA, "--vary", "pH=0:999:1", "--vary", "barrier1=0:999:1"],
                  "the grid has 1000000 runs (1000 x 1000), more than 100000"),
                 ([MERA, "--vary", "pH=7,1e999"], "not a finite number"),
                 ([MERA, "--vary", "barrier1=-3"], "an activation free energy cannot be negative"),
                 ([MERA, "--vary", "ph_value=7"], "unknown parameter 'ph_value'"),
                 ([MERA, "--set", "trace=x.trace"], "the trace file cannot be set"),
                 ([MERA, "--vary", "phmb=1e-6"], "organomercurial argument list"),
                 ([MERA, "--plot", "--metric", "folder"], "--metric folder: no summary column"),
                 # A line end would split a run's line of a job list in two.
                 ([MERA, "--out", self.path("a\ntouch INJ #")], "a line end cannot be part"),
                 ([MERA, "--out", self.path("a\rb")], "a line end cannot be part")]
        for name in ("times.txt", "console.txt", "exit-status", "arguments.args"):
            tolvanex.Parameters.read(MERA).replace(trace=name).write(self.path(name + ".args"))
            cases.append(([self.path(name + ".args")], f"trace file '{name}': a run folder keeps"))
        out = self.path("refused")
        for args, message in cases:                    # in this process: faster
            with self.subTest(args=args[1:]):
                err = run_here(scan_main, "--out", out, *args, "--program", program()).stderr
                self.assertEqual((err.count("\n"), message in err), (1, True), err)
                self.assertFalse(os.path.exists(out) or "--out" in args and os.path.exists(args[-1]))
        with self.assertRaisesRegex(ValueError, "a run folder keeps its own records"):
            tolvanex.run(tolvanex.Parameters.read(MERA).replace(trace="pid"), program(), out)
        helptext = run_here(scan_main, "--help").stdout
        for name in ("barrier1 ... barrier38", "wanted_time", "time", "timestep", "type",
                     "phmb", "organomercurial", "target2", "--set", "--resume", "--metric"):
            self.assertIn(name, helptext)

    def test_hostile_names_carried_quoted(self):
        """Shell syntax, quotes, a leading dash, blanks and bytes that are not
        UTF-8 in the scan folder's name reach the runs quoted: nothing runs."""
        hostile = self.path(os.fsdecode(b"-x; touch INJ $(touch INJ2) `touch INJ3` 'q\" \xff"))
        result = subprocess.run([SCAN, MERA, "--vary", "pH=7,7.1", "--set", "time=1e-5",
                                 f"--out={hostile}", "--program", program(), "--no-progress"],
                                capture_output=True, cwd=self.tmp, timeout=120)
        self.assertEqual((result.returncode, result.stdout),
                         (0, b"tolvanex: 2 runs, 2 ended well\n"
                          + os.fsencode(os.path.join(hostile, "summary.csv")) + b"\n"))
        self.assertEqual([r["ended"] for r in read_summary(hostile)], ["time reached"] * 2)
        self.assertEqual([n for n in os.listdir(self.tmp) + os.listdir(hostile)
                          if n.startswith("INJ")], [])

    def test_metric_picture(self):
        """Failed runs are left out of their line; values that agree to 4
        digits are noted, not magnified; no offset on the value axis."""
        table = pd.DataFrame({"pH": ["7", "7.5", "8", "7", "7.5", "8"],
                              "barrier12": ["16.6"] * 3 + ["18"] * 3,
                              "t50_s": [38.35, math.nan, 38.352, 38.351, 38.352, 38.353]})
        fig = summary_figure(table, ["pH", "barrier12"], "t50")
        ax = fig.axes[0]
        self.assertEqual([len(line.get_xdata()) for line in ax.get_lines()], [2, 3])
        self.assertTrue(all(np.isfinite(line.get_ydata()).all() for line in ax.get_lines()))
        fig.canvas.draw()
        self.assertEqual(ax.yaxis.get_offset_text().get_text(), "")
        low, high = ax.get_ylim()
        self.assertLess(low, 38.35 * 0.995)
        self.assertIn("agree to 4 significant digits", " ".join(t.get_text() for t in ax.texts))


class StoppingRuns(TempDir):
    """How a scan stops its runs without a race: a run that has not started
    its program when the stop file appears starts nothing, and a run that
    is going on is found through its folder and signalled, as often as
    needed, until its exit status is written."""

    def test_stop_file_and_signal_through_the_folder(self):
        from tolvanex.runs import folder as rf
        stop = self.path("stop")
        folder = self.path("late")
        os.makedirs(folder)
        open(stop, "w").close()
        line = rf.command_line(folder, "/bin/touch", ["started"], stop)
        self.assertEqual(subprocess.run(["/bin/sh", "-c", line]).returncode, 0)
        self.assertEqual(os.listdir(folder), [])              # nothing ran, nothing left
        os.remove(stop)
        folder = self.path("going")
        os.makedirs(folder)
        # A "program" that ends on its second SIGINT only (the real ones end
        # after their current block on the first; one started just after the
        # first signal needs a second).
        script = self.path("prog.py")
        with open(script, "w") as f:
            f.write("#!/usr/bin/python3\nimport signal, sys, time\nseen = []\n"
                    "signal.signal(signal.SIGINT, lambda *a: seen.append(1))\n"
                    "print('started', flush=True)\n"
                    "while len(seen) < 2:\n    time.sleep(0.01)\nsys.exit(130)\n")
        os.chmod(script, 0o755)
        proc = subprocess.Popen(["/bin/sh", "-c", rf.command_line(folder, script, [], stop)],
                                start_new_session=True)
        deadline = time.monotonic() + 30
        console = os.path.join(folder, "console.txt")
        while not (os.path.exists(console) and "started" in read_text(console)):
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.01)
        signals = 0
        while rf.signal_run(folder, signal.SIGINT):
            signals += 1
            time.sleep(0.2)
            self.assertLess(time.monotonic(), deadline)
        proc.wait(timeout=30)
        self.assertGreaterEqual(signals, 2)
        self.assertEqual(rf.read_exit_status(folder), 130)
        self.assertFalse(rf.signal_run(folder, signal.SIGINT))  # over: not signalled again

    def test_no_run_starts_once_the_scan_is_killed(self):
        """SIGKILL leaves GNU parallel with runs in its list: each checks that
        the scan that owns the folder is alive before it starts, so the run
        going on ends and nothing follows; a collect says what it found."""
        out = self.path("killed")
        proc = subprocess.Popen([SCAN, GLU, "--vary", "pH=7:8:0.2", "--jobs", "1", "--out", out,
                                 "--program", program(), "--no-progress"],
                                stderr=subprocess.DEVNULL, start_new_session=True)
        while not os.path.exists(os.path.join(out, "001_pH=7", "glutathione.trace")):
            time.sleep(0.01)
        proc.kill()
        proc.wait()
        subprocess.run(["sh", "-c", 'while pgrep -f "$1" >/dev/null; do sleep 0.1; done', "-",
                        os.path.join(out, "[j]oblog")], timeout=60)   # GNU parallel ends by itself
        self.assertEqual([sorted(os.listdir(os.path.join(out, f)))[:2] for f in
                          sorted(os.listdir(out)) if f[0].isdigit()],
                         [["arguments.args", "console.txt"]] + [["arguments.args"]] * 5)
        result = run_here(scan_main, "--collect", out)
        self.assertEqual(result.returncode, 3)
        self.assertRegex(result.stderr, f"was left by process {proc.pid}, which has ended.*\n"
                         ".*5 of 6 runs have not ended")


WORKERS, TRIALS = 6, 300


class LockContention(TempDir):
    def test_takeover_of_a_dead_owners_lock_is_atomic(self):
        """Six processes find the same dead owner's lock at once, 300
        times over: each time exactly one of them holds the folder."""
        dead = int(subprocess.run(["sh", "-c", "echo $$"], capture_output=True).stdout)
        ctx = multiprocessing.get_context("fork")
        gates = [ctx.Barrier(WORKERS + 1, timeout=60) for _ in range(3)]
        holders = ctx.Array("i", TRIALS)

        def contend():
            for k in range(TRIALS):
                gates[0].wait()
                lock = ScanLock(self.tmp)
                try:
                    won = lock.acquire().held
                except FolderBusy:
                    won = False
                with holders.get_lock():
                    holders[k] += won
                gates[1].wait()                  # all have tried while the winner holds it
                lock.release()
                gates[2].wait()

        procs = [ctx.Process(target=contend) for _ in range(WORKERS)]
        for p in procs:
            p.start()
        for k in range(TRIALS):
            with open(self.path("scan.lock"), "w") as f:
                f.write(f"{dead} {socket.gethostname()} 0\n")
            for gate in gates:
                gate.wait()
        for p in procs:
            p.join(timeout=60)
        self.assertEqual(([h for h in holders[:] if h != 1], os.listdir(self.tmp)), ([], []))
