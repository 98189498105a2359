"""Scans sent to Slurm, without a Slurm: stand-in sbatch, squeue and
scancel commands on PATH record what they are asked and answer from a
file, and the array's tasks are started here as Slurm would start them.
The submission (one array, K runs a task, the throttle and the user's
options), the folder refused while the job is listed, a resubmission of
the unfinished runs only, rate control going the same way, and the errors
a user sees.  tests/slurm/ runs scans on a real Slurm (tasks stopped by
scancel among them)."""

import json
import os
import subprocess
import time
from unittest import mock

from common import EXAMPLES_DIR, SCAN, TempDir, program, read_text, run_here
import tolvanex  # noqa: E402  (found through common)
from tolvanex.cli.rate_control import main as rate_control_main  # noqa: E402
from tolvanex.cli.scan import main as scan_main  # noqa: E402

MERA = os.path.join(EXAMPLES_DIR, "mera.args")
GRID = [MERA, "--vary", "pH=6.9,7,7.1", "--set", "time=1e-4"]
STANDINS = {
    "sbatch": 'printf "%s\\n" "$@" >>"$FAKE_SLURM/sbatch-args"\n'
              'if [ -e "$FAKE_SLURM/refuse" ]; then cat "$FAKE_SLURM/refuse" >&2; exit 1; fi\n'
              'echo 42\n',
    "squeue": 'cat "$FAKE_SLURM/queue" 2>/dev/null; exit 0\n',
    "scancel": 'echo "$@" >>"$FAKE_SLURM/scancel-args"\n'
               'if [ -e "$FAKE_SLURM/refuse-cancel" ]; then echo "scancel: error: Kill job error '
               'on job id 42: Access/permission denied" >&2; exit 1; fi\n',
}


class SlurmStandIns(TempDir):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        os.makedirs(cls.path("bin"))
        for name, body in STANDINS.items():
            with open(cls.path("bin", name), "w") as f:
                f.write("#!/bin/sh\n" + body)
            os.chmod(cls.path("bin", name), 0o755)
        cls.env = dict(os.environ, FAKE_SLURM=cls.tmp,
                       PATH=cls.path("bin") + os.pathsep + os.environ["PATH"])

    def tool(self, *args, path=None, main=scan_main):
        """The tool in this process, with the stand-ins first on PATH."""
        env = dict(self.env, PATH=path) if path is not None else self.env
        with mock.patch.dict(os.environ, env, clear=True):
            return run_here(main, *args)

    def queue(self, text):
        with open(self.path("queue"), "w") as f:
            f.write(text)

    def sbatch_args(self):
        return read_text(self.path("sbatch-args")).splitlines()

    def run_task(self, out, listing, task, per_task):
        return subprocess.run(["/bin/sh", os.path.join(out, "slurm", "task.sh"),
                               os.path.join(out, "slurm", listing), str(per_task)],
                              cwd=out, env=dict(self.env, SLURM_ARRAY_TASK_ID=str(task)),
                              timeout=120)

    def test_submitted_refused_while_listed_resubmitted_then_collected(self):
        out = self.path("array")
        done = self.tool(*GRID, "--out", out, "--program", program(), "--slurm",
                         "--runs-per-task", 2, "--max-parallel", 1, "--partition", "short",
                         "--time", "0:10:00", "--sbatch-arg=--account=chem")
        self.assertEqual((done.returncode, done.stdout), (0, "42\n"), done.stderr)
        args = self.sbatch_args()
        self.assertEqual(args[0], "--parsable")
        for option in ("--array=1-2%1", "--partition=short", "--time=0:10:00", f"--chdir={out}"):
            self.assertIn(option, args)
        # the user's own options come after the tool's, so that they win
        self.assertGreater(args.index("--account=chem"), args.index("--array=1-2%1"))
        self.assertEqual(args[-3:], [os.path.join(out, "slurm", "task.sh"),
                                     os.path.join(out, "slurm", "commands-1.txt"), "2"])
        self.queue("42_2 PENDING\n42_1 RUNNING\n")
        for refused in (["--resume", out], ["--resume", out, "--slurm"]):
            with self.subTest(refused=refused):
                result = self.tool(*refused)
                self.assertEqual(result.returncode, 3, result.stderr)     # runs not ended
                self.assertIn("in use by Slurm job 42 (2 tasks queued or running", result.stderr)
                self.assertEqual(result.stderr.count("\n"), 1)
        so_far = self.tool("--collect", out)        # a summary so far, told as such
        self.assertEqual(so_far.returncode, 3, so_far.stderr)
        self.assertIn("Slurm job 42 (2 tasks queued or running", so_far.stderr)
        self.assertEqual(set(tolvanex.summary(out)["ended"]), {"not run"})
        self.assertEqual(self.run_task(out, "commands-1.txt", 2, 2).returncode, 0)
        self.assertEqual([os.path.exists(os.path.join(out, f, "exit-status"))
                          for f in ("001_pH=6.9", "002_pH=7", "003_pH=7.1")], [False, False, True])
        self.queue("42_2 COMPLETED\n")                 # listed a while after it has ended
        done = self.tool("--resume", out, "--slurm")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("1 of 3 runs finished", done.stderr)
        self.assertIn("--array=1-2", self.sbatch_args()[-10:])
        listing = read_text(os.path.join(out, "slurm", "commands-2.txt")).splitlines()
        self.assertEqual([line.split()[1] for line in listing],
                         [os.path.join(out, f) for f in ("001_pH=6.9", "002_pH=7")])
        jobs = json.loads(read_text(os.path.join(out, "scan.json")))["slurm_jobs"]
        self.assertEqual([(j["ended"], len(j["runs"])) for j in jobs], [(True, 3), (False, 2)])
        self.assertEqual(self.run_task(out, "commands-2.txt", 2, 1).returncode, 0)
        self.queue("")
        self.assertEqual(self.tool("--collect", out).returncode, 3)   # one run never ran
        self.assertEqual(list(tolvanex.summary(out)["ended"]),
                         ["not run", "time reached", "time reached"])

    def test_rate_control_goes_through_the_same_submission(self):
        out = self.path("rate-control")
        done = self.tool(MERA, "--out", out, "--program", program(), "--slurm",
                         "--runs-per-task", "10", main=rate_control_main)
        self.assertEqual((done.returncode, done.stdout), (0, "42\n"), done.stderr)
        # 18 steps lowered and raised (step 21 carries nothing outside
        # organomercurial mode), and the base run: 37 runs in 4 tasks
        self.assertIn("--array=1-4", self.sbatch_args()[-9:])
        self.assertEqual(len(read_text(os.path.join(out, "slurm", "commands-1.txt"))
                             .splitlines()), 37)
        self.queue("42_4 PENDING\n")
        so_far = self.tool("--collect", out, main=rate_control_main)
        self.assertEqual(so_far.returncode, 3, so_far.stderr)
        self.queue("")

    def test_what_the_user_is_told(self):
        cases = [([*GRID, "--slurm", "--max-parallel", 0], "--max-parallel must be at least 1",
                  None),
                 ([*GRID, "--slurm"], "sbatch not found", self.path("empty-bin")),
                 ([*GRID, "--slurm", "--partition", "nosuch"],
                  "sbatch refused the job: sbatch: error: Batch job submission failed: Invalid "
                  "partition name specified", None)]
        os.makedirs(self.path("empty-bin"))
        with open(self.path("refuse"), "w") as f:
            f.write("sbatch: error: Batch job submission failed: Invalid partition name "
                    "specified\n")
        try:
            for k, (args, message, path) in enumerate(cases):
                with self.subTest(message=message):
                    out = self.path(f"told-{k}")
                    result = self.tool(*args, "--out", out, "--program", program(), path=path)
                    self.assertEqual(result.returncode, 2, result.stderr)
                    self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
                    self.assertIn(message, result.stderr)
                    if k >= 1:     # written, not submitted: --resume --slurm submits it
                        self.assertIn(f"--resume {out} --slurm", result.stderr)
                        self.assertNotIn("slurm_jobs", read_text(os.path.join(out, "scan.json")))
        finally:
            os.remove(self.path("refuse"))


    def test_waits_that_end_without_every_run(self):
        """--wait for a job that ran nothing ends with the summary and 3; a
        SIGTERM whose scancel fails still writes the summary (143) and says
        that the job may go on; a hostile folder name reaches the task quoted."""
        out = self.path(os.fsdecode(b"-w; touch INJ $(touch INJ2) 'q\" \xff"))
        self.queue("")                                  # the job left the queue at once
        done = self.tool(*GRID, "--out", out, "--program", program(), "--slurm", "--wait")
        self.assertEqual((done.returncode, "3 of 3 runs have not ended" in done.stderr), (3, True))
        self.assertEqual(self.run_task(out, "commands-1.txt", 2, 1).returncode, 0)
        self.assertEqual(list(tolvanex.summary(out)["ended"]),
                         ["not run", "time reached", "not run"])
        self.assertFalse([n for n in os.listdir(self.tmp) + os.listdir(out) if n.startswith("INJ")])
        self.queue("43_1 RUNNING\n")
        open(self.path("refuse-cancel"), "w").close()
        proc = subprocess.Popen([SCAN, "--resume", out, "--slurm", "--wait", "--no-progress"],
                                env=self.env, stderr=subprocess.PIPE, text=True)
        while "commands-2.txt" not in os.listdir(os.path.join(out, "slurm")):
            time.sleep(0.05)
        proc.terminate()
        err = proc.communicate(timeout=60)[1]
        os.remove(self.path("refuse-cancel"))
        self.queue("")
        self.assertEqual((proc.returncode, err.count("Traceback")), (143, 0), err)
        self.assertRegex(err, "scancel 42 failed: scancel: error: Kill job error .*: Slurm job 42 "
                         "may go on; cancel it with scancel 42")
        self.assertGreater(os.path.getmtime(os.path.join(out, "summary.csv")),
                           os.path.getmtime(os.path.join(out, "slurm", "commands-2.txt")))
