"""Scans carried out by a real Slurm: the one-node Slurm that
one_node_slurm.sh stands up, named by the SLURM_CONF this test inherits.

A 2x2 grid (runs of about 2 s) is scanned here first; then on Slurm with
--wait, with a task cancelled in its first run and the scan resumed on
Slurm, and with a --wait scan stopped by SIGTERM and resumed here.  Each
ends with the summary of the local scan, wall times aside: the tasks carry
out the same runs in the same folders."""

import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from common import EXAMPLES_DIR, SCAN, TempDir, program, read_text, run_here  # noqa: E402
import tolvanex  # noqa: E402  (found through common)
from tolvanex.cli.scan import main as scan_main  # noqa: E402
from tolvanex.scans.slurm_scan import last_job  # noqa: E402
from tolvanex.scans.summary import read_manifest  # noqa: E402

GRID = [os.path.join(EXAMPLES_DIR, "glutathione.args"), "--set", "acceptor=5e-4",
        "--vary", "pH=7,7.4", "--vary", "barrier12=16.6,17"]
FOLDERS = ["001_pH=7_barrier12=16.6", "002_pH=7_barrier12=17", "003_pH=7.4_barrier12=16.6",
           "004_pH=7.4_barrier12=17"]


def scan_tool(*args, wait=True):
    command = [SCAN, *GRID, "--program", program(), *[str(a) for a in args]]
    if not wait:
        return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True, start_new_session=True)
    return subprocess.run(command, capture_output=True, text=True, timeout=300)


def resume(out, *args):
    return subprocess.run([SCAN, "--resume", out, *args], capture_output=True, text=True,
                          timeout=300)


def without_wall(out):
    table = tolvanex.summary(out).drop(columns="wall_s")
    return table.astype(str).to_dict("records")


def queued(job):
    done = subprocess.run(["squeue", "--noheader", "--array", f"--jobs={job}"],
                          capture_output=True, text=True, timeout=60)
    return done.stdout.split("\n")[:-1] if done.returncode == 0 else []


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"no {what} after {seconds} s")
        time.sleep(0.05)


class ScanOnSlurm(TempDir):
    @classmethod
    def setUpClass(cls):
        if not os.environ.get("SLURM_CONF") or not shutil.which("sbatch"):
            raise unittest.SkipTest("no Slurm to submit to: run under one_node_slurm.sh")
        super().setUpClass()
        cls.reference_folder = cls.path("local")
        done = scan_tool("--out", cls.reference_folder, "--jobs", 2)
        assert done.returncode == 0, done.stderr
        cls.reference = without_wall(cls.reference_folder)
        assert [r["folder"] for r in cls.reference] == FOLDERS

    def test_scan_waited_for(self):
        out = self.path("waited")
        done = scan_tool("--out", out, "--slurm", "--wait", "--max-parallel", 2)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("submitted 4 runs as Slurm job", done.stderr)
        self.assertIn("4/4 runs done, 0 failed", done.stderr)
        self.assertEqual(done.stdout, "tolvanex: 4 runs, 4 ended well\n"
                         + os.path.join(out, "summary.csv") + "\n")
        self.assertEqual(without_wall(out), self.reference)
        job = last_job(read_manifest(out))
        self.assertTrue(job["ended"])
        self.assertEqual(queued(job["job_id"]), [])
        self.assertEqual(sorted(os.listdir(os.path.join(out, "slurm"))),
                         ["commands-1.txt"] + [f"task-{job['job_id']}_{k}.out" for k in (1, 2, 3, 4)]
                         + ["task.sh"])

    def test_task_cancelled_then_resumed_on_slurm(self):
        """Two tasks of two runs; the first task is cancelled in its first
        run: that run ends after its current block as interrupted, the
        second is not run.  While the other task works the folder is neither
        resumed nor collected as finished; resumed on Slurm, only the two
        unfinished runs go again."""
        out = self.path("cancelled")
        done = scan_tool("--out", out, "--slurm", "--runs-per-task", 2)
        self.assertEqual(done.returncode, 0, done.stderr)
        job = done.stdout.strip()
        self.assertTrue(job.isdigit(), done.stdout)
        trace = os.path.join(out, FOLDERS[0], "glutathione.trace")
        wait_until(lambda: os.path.exists(trace), 60, "first run")
        subprocess.run(["scancel", f"{job}_1"], check=True, timeout=60)
        for refused, status in ((["--collect", out], 3), (["--resume", out, "--slurm"], 3),
                                (["--resume", out], 3)):
            with self.subTest(refused=refused):       # here: done while task 2 works
                result = run_here(scan_main, *refused)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(f"Slurm job {job} (", result.stderr)
        wait_until(lambda: not queued(job), 120, "end of the job")
        run_here(scan_main, "--collect", out)
        self.assertEqual([r["ended"] for r in tolvanex.summary(out).to_dict("records")],
                         ["interrupted (SIGTERM)", "not run"]
                         + [r["ended"] for r in self.reference[2:]])
        done = resume(out, "--slurm", "--wait")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("2 of 4 runs finished, submitting the others", done.stderr)
        listing = read_text(os.path.join(out, "slurm", "commands-2.txt")).splitlines()
        self.assertEqual([line.split()[1] for line in listing],
                         [os.path.join(out, f) for f in FOLDERS[:2]])
        self.assertEqual(without_wall(out), self.reference)
        self.assertEqual(read_text(trace).count("  tolvanex \n"), 1)   # emptied before

    def test_waiting_scan_stopped_by_sigterm(self):
        """SIGTERM to a --wait scan cancels its array: the runs going on end
        after their current block, the others never start, the summary is
        written and the scan exits with 143; resumed here, it ends with the
        local scan's summary."""
        out = self.path("stopped")
        proc = scan_tool("--out", out, "--slurm", "--wait", "--runs-per-task", 2, wait=False)
        trace = os.path.join(out, FOLDERS[0], "glutathione.trace")
        try:
            wait_until(lambda: os.path.exists(trace), 60, "first run")
        finally:
            proc.send_signal(signal.SIGTERM)
            _, err = proc.communicate(timeout=180)
        self.assertEqual(proc.returncode, 143, err)
        self.assertIn("SIGTERM: cancelling Slurm job", err)
        job = last_job(read_manifest(out))["job_id"]
        self.assertEqual(queued(job), [])
        ended = [r["ended"] for r in tolvanex.summary(out).to_dict("records")]
        self.assertEqual(ended[0], "interrupted (SIGTERM)")
        self.assertEqual(ended[1], "not run")
        self.assertFalse(os.path.exists(os.path.join(out, ".stop")))
        done = resume(out, "--jobs", "2")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(without_wall(out), self.reference)


if __name__ == "__main__":
    unittest.main()
