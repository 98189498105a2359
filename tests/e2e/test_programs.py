"""The programs from outside: exit statuses, --help and --version, warnings
for mistyped numbers, files that cannot be opened or written or that clash,
odd arguments, and SIGINT and SIGTERM, which end a run after its current
block with every row kept. The files are read with the project's
own readers, tolvanex.runs.trace_file and flux_file."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE_DIR, "python"))
from tolvanex.runs.file_format import FileFormatError  # noqa: E402
from tolvanex.runs.flux_file import read_flux  # noqa: E402
from tolvanex.runs.trace_file import read_trace  # noqa: E402

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
        trace = read_trace(self.path(words[-1]), warnings.append)
        flux = read_flux(self.path("flux_analysis.txt"), warnings.append)
        self.assertEqual(warnings, [])
        self.assertEqual((len(trace), len(flux)), (1, 1))
        blocks = console.count("\n average time  ")
        self.assertEqual(len(trace[0].rows), blocks + 1)  # with the time-0 row
        self.assertEqual(len(flux[0].rows), blocks + 1)
        return trace[0], flux[0]

    def wait_for_rows(self, trace_name, rows):
        for _ in range(6000):
            try:
                if len(read_trace(self.path(trace_name))[0].rows) >= rows:
                    return True
            except (OSError, FileFormatError):
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

    def test_help_and_version(self):
        with open(os.path.join(SOURCE_DIR, "CMakeLists.txt"), encoding="utf-8") as f:
            version = re.search(r"project\(tolvanex VERSION ([0-9.]+)", f.read())[1]
        for program in PROGRAMS:
            usage = self.run_program(program, ["x"])[1]  # one word: the same count
            syntax = usage[usage.index("\n") + 1:] + "\n"   # without "You have 1 arguments"
            for word in ("--help", "-h"):
                self.assertEqual(self.run_program(program, [word]), (0, syntax, ""))
            name = os.path.basename(program)
            self.assertEqual(self.run_program(program, ["--version"]),
                             (0, f"{name} {version}\n", ""))
        self.assertEqual(os.listdir(self.folder.name), [])

    def test_numbers_with_text_are_read_as_before_with_a_warning(self):
        # Each word as typed, then as atof reads it; hex, inf and nan are whole
        # numbers. Argument numbers count in the list as given.
        cases = [("mera", dict(p3=("7x", "7"), p5=("1e-6xyz", "1e-6"), p7=("1,0e-3", "1"),
                               p8=("abc", "0"), p9=(" ", "0"), p10=("0x1p-2", "0x1p-2"),
                               p11=("inf", "inf"), p12=("nan", "nan")),
                  ['3 (pH) is "7x", not a number; it is read as 7',
                   '5 (wanted_time) is "1e-6xyz", not a number; it is read as 1e-06',
                   '7 (acceptor) is "1,0e-3", not a number; it is read as 1',
                   '8 (barrier 1) is "abc", not a number; it is read as 0',
                   '9 (barrier 2) is " ", not a number; it is read as 0']),
                 ("organomercurial", dict(p0=("2e-6M", "2e-6"), p3=("7.4x", "7.4"),
                                          p5=("1e-3s", "1e-3"), p45=("", "0")),
                  ['1 (organomercurial) is "2e-6M", not a number; it is read as 2e-06',
                   '4 (pH) is "7.4x", not a number; it is read as 7.4',
                   '6 (wanted_time) is "1e-3s", not a number; it is read as 0.001',
                   '46 (barrier 38) is "", not a number; it is read as 0'])]
        for program in PROGRAMS:
            for name, changes, warnings in cases:
                outputs = []
                for typed in (0, 1):
                    for entry in os.listdir(self.folder.name):
                        os.remove(self.path(entry))
                    words = example(name, **{k: v[typed] for k, v in changes.items()})
                    status, out, err = self.run_program(program, words)
                    expected = "" if typed else "".join(f"tolvanex: warning: argument {w}\n"
                                                        for w in warnings)
                    self.assertEqual((status, err), (0, expected))
                    with open(self.path(words[-1])) as trace, \
                            open(self.path("flux_analysis.txt")) as flux:
                        outputs.append((out, trace.read(), flux.read()))
                self.assertEqual(outputs[0], outputs[1])

    def test_a_trace_file_that_is_the_flux_file_is_refused(self):
        for program in PROGRAMS:
            for flux_before in (None, "earlier run\n"):
                for trace in ("flux_analysis.txt", "./flux_analysis.txt",
                              "sub/../flux_analysis.txt", "symlink", "sub/../hardlink"):
                    with self.subTest(program=program, trace=trace, flux=flux_before):
                        shutil.rmtree(self.folder.name)
                        os.makedirs(self.path("sub"))
                        os.symlink("flux_analysis.txt", self.path("symlink"))
                        if flux_before:
                            with open(self.path("flux_analysis.txt"), "w") as f:
                                f.write(flux_before)
                            os.link(self.path("flux_analysis.txt"), self.path("hardlink"))
                        elif "hardlink" in trace:
                            continue
                        before = sorted(os.listdir(self.folder.name))
                        status, out, err = self.run_program(program, example("mera", p46=trace))
                        self.assertEqual((status, out), (1, ""))
                        self.assertEqual(err, f"tolvanex: the trace file {trace} is the flux "
                                         "file flux_analysis.txt; give the trace file another name\n")
                        self.assertEqual(sorted(os.listdir(self.folder.name)), before)
                        if flux_before:
                            with open(self.path("flux_analysis.txt")) as f:
                                self.assertEqual(f.read(), flux_before)

    def test_a_created_trace_file_is_removed_when_the_flux_file_cannot_be_opened(self):
        os.mkdir(self.path("flux_analysis.txt"))
        with open(self.path("old.trace"), "w") as f:
            f.write("earlier run\n")
        for program in PROGRAMS:
            for trace in ("new.trace", "old.trace"):
                status, _, err = self.run_program(program, example("mera", p46=trace))
                self.assertEqual((status, err), (1, "tolvanex: cannot open flux_analysis.txt: "
                                                    "Is a directory\n"))
                self.assertEqual(sorted(os.listdir(self.folder.name)),
                                 ["flux_analysis.txt", "old.trace"])
        with open(self.path("old.trace")) as f:
            self.assertEqual(f.read(), "earlier run\n")

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

    def test_a_signal_in_the_last_block_cuts_nothing_short(self):
        # 35 blocks end at 3.5e-313 s; the 36th, of 1e7 iterations in
        # subnormal numbers, lasts seconds and passes 4e-313 s.
        words = self.long_run("mera")
        words[4] = "4e-313"
        started = self.start([PROGRAMS[0]] + words)
        self.assertTrue(self.wait_for_rows(words[-1], 36))
        time.sleep(0.2)
        started.send_signal(signal.SIGTERM)
        out, err = self.finish(started)
        self.assertEqual((started.returncode, err), (0, ""))
        trace, _ = self.complete_tables(words, out)
        self.assertEqual(len(trace.rows), 37)

    def test_an_ignored_sigint_stays_ignored(self):
        words = self.long_run("mera")
        started = self.start(["/bin/sh", "-c", "trap '' INT; exec \"$0\" \"$@\"", PROGRAMS[0]]
                             + words)
        self.assertTrue(self.wait_for_rows(words[-1], 2))
        started.send_signal(signal.SIGINT)
        rows = len(read_trace(self.path(words[-1]))[0].rows)
        self.assertTrue(self.wait_for_rows(words[-1], rows + 2), "stopped on an ignored SIGINT")
        started.send_signal(signal.SIGTERM)
        _, err = self.finish(started)
        self.assertEqual((started.returncode, err), (143, INTERRUPTED))


if __name__ == "__main__":
    unittest.main()
