"""The programs from outside: exit statuses, files that cannot be opened or
written, odd arguments, and SIGINT and SIGTERM, which end a run after its
current block with every row kept. The files are read with the project's
own reader, tolvanex.files."""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE_DIR, "python"))
from tolvanex import files  # noqa: E402

PROGRAMS = [os.environ.get("TOLVANEX_PROGRAM", os.path.join(SOURCE_DIR, "build", "tolvanex")),
            os.environ.get("TOLVANEX_UNPRUNED_PROGRAM",
                           os.path.join(SOURCE_DIR, "build", "tolvanex_unpruned"))]
INTERRUPTED = "tolvanex: interrupted; stopped after the current block\n"


def example(name, **changes):
    """The words of examples/NAME.args; changes by position of the
    46-argument form (p1 .. p46), counted from the end."""
    with open(os.path.join(SOURCE_DIR, "examples", name + ".args"), encoding="utf-8") as f:
        words = [w for line in f if not line.startswith("#") for w in line.split()]
    for key, value in changes.items():
        words[len(words) - 47 + int(key[1:])] = value
    return words


class Runs(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def start(self, command):
        """A program in the background, its output going to files of the test."""
        self.output = [tempfile.TemporaryFile("w+") for _ in range(2)]
        for f in self.output:
            self.addCleanup(f.close)
        return subprocess.Popen(command, cwd=self.folder.name, stdout=self.output[0],
                                stderr=self.output[1], text=True)

    def finish(self, started):
        started.wait(timeout=120)
        for f in self.output:
            f.seek(0)
        return [f.read() for f in self.output]

    def run_program(self, program, words):
        done = subprocess.run([program] + words, cwd=self.folder.name, capture_output=True,
                              text=True, timeout=120)
        return done.returncode, done.stdout, done.stderr

    def complete_tables(self, words, console):
        """Both files hold one run whose every row is complete: one per block report."""
        warnings = []
        trace = files.read_trace(self.path(words[-1]), warnings.append)
        flux = files.read_flux(self.path("flux_analysis.txt"), warnings.append)
        self.assertEqual(warnings, [])
        self.assertEqual((len(trace), len(flux)), (1, 1))
        blocks = console.count("\n average time  ")
        self.assertEqual(len(trace[0].rows), blocks + 1)  # with the time-0 row
        self.assertEqual(len(flux[0].rows), blocks + 1)
        return trace[0], flux[0]

    def wait_for_rows(self, trace_name, rows):
        for _ in range(6000):
            try:
                if len(files.read_trace(self.path(trace_name))[0].rows) >= rows:
                    return True
            except (OSError, files.FileFormatError):
                pass  # not yet written

            time.sleep(0.02)
        return False


class ExitStatus(Runs):
    def test_wrong_argument_count_prints_usage_and_touches_no_file(self):
        for program in PROGRAMS:
            for count in (0, 45, 48):
                status, out, _ = self.run_program(program, ["1"] * (count - 1) + ["u.trace"]
                                                  if count else [])
                self.assertEqual(status, 2)
                self.assertTrue(out.startswith(f"You have {count} arguments, instead of 46 or 47"))
                self.assertEqual(os.listdir(self.folder.name), [])

    def test_files_that_cannot_be_opened_or_written(self):
        os.symlink("/dev/full", self.path("flux_analysis.txt"))
        cases = [("missing/run.trace", "tolvanex: cannot open missing/run.trace: "
                  "No such file or directory\n"),
                 ("/dev/full", "tolvanex: cannot write /dev/full\n"),
                 ("run.trace", "tolvanex: cannot write flux_analysis.txt\n")]
        for program in PROGRAMS:
            for trace, message in cases:
                status, _, err = self.run_program(program, example("glutathione", p46=trace))
                self.assertEqual((status, err), (1, message), trace)

    def test_odd_arguments_end_by_themselves_with_complete_files(self):
        # Read as atof reads them and never refused: a Basic Timestep of text
        # (0) or a negative acceptor stops after one block that did not move
        # the time; a Basic Timestep of -5 meets the guard; the others run.
        cases = [dict(p2="abc"), dict(p7="-1e-3"), dict(p2="-5"), dict(p8="nan", p5="1e-4"),
                 dict(p20="inf", p5="1e-4"), dict(p1="nan", p5="1e-4"), dict(p4="7")]
        for program in PROGRAMS:
            for changes in cases:
                with self.subTest(program=program, **changes):
                    for name in os.listdir(self.folder.name):
                        os.remove(self.path(name))
                    words = example("mera", **changes)
                    status, out, err = self.run_program(program, words)
                    self.assertEqual(status, 0)
                    self.assertEqual(err.startswith("tolvanex: warning: type of molecule 7 "),
                                     "p4" in changes)
                    self.complete_tables(words, out)


class Interruption(Runs):
    # A Basic Timestep of 1e-320 must double about a thousand times, once per
    # block, before a step amounts to anything: the run lasts many minutes.
    def long_run(self, name):
        return example(name, p2="1e-320", p5="1000")

    def test_sigint_and_sigterm_keep_every_row(self):
        for program in PROGRAMS:
            for name, number in (("mera", signal.SIGINT), ("organomercurial", signal.SIGTERM)):
                for entry in os.listdir(self.folder.name):
                    os.remove(self.path(entry))
                words = self.long_run(name)
                started = self.start([program] + words)
                self.assertTrue(self.wait_for_rows(words[-1], 3))
                started.send_signal(number)
                out, err = self.finish(started)
                self.assertEqual((started.returncode, err), (128 + number, INTERRUPTED))
                self.assertNotIn("stopped\n", out)
                trace, _ = self.complete_tables(words, out)
                self.assertGreaterEqual(len(trace.rows), 3)

    def test_an_ignored_sigint_stays_ignored(self):
        words = self.long_run("mera")
        started = self.start(["/bin/sh", "-c", "trap '' INT; exec \"$0\" \"$@\"", PROGRAMS[0]]
                             + words)
        self.assertTrue(self.wait_for_rows(words[-1], 2))
        started.send_signal(signal.SIGINT)
        rows = len(files.read_trace(self.path(words[-1]))[0].rows)
        self.assertTrue(self.wait_for_rows(words[-1], rows + 2), "stopped on an ignored SIGINT")
        started.send_signal(signal.SIGTERM)
        _, err = self.finish(started)
        self.assertEqual((started.returncode, err), (143, INTERRUPTED))


if __name__ == "__main__":
    unittest.main()
