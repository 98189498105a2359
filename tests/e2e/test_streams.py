"""The programs' standard streams in a hostile environment: closed at start,
unwritable, a pipe whose reader leaves mid-run, or a slow pipe (and a trace
file that is a FIFO) while SIGTERM arrives."""

import fcntl
import os
import signal
import subprocess
import time
import unittest

from test_programs import INTERRUPTED, PROGRAMS, Runs, example, read_flux, read_trace


def blocked(process):
    """True once the process has slept (a blocked write) for 0.3 s."""
    for _ in range(3000):
        states = []
        for _ in range(4):
            with open(f"/proc/{process.pid}/stat") as f:
                states.append(f.read().rsplit(")", 1)[1].split()[0])
            time.sleep(0.1)
        if states == ["S"] * 4:
            return True
    return False


def small_pipe():
    """A pipe that holds one page, so that a writer soon waits for its reader."""
    read_end, write_end = os.pipe()
    fcntl.fcntl(read_end, fcntl.F_SETPIPE_SZ, 4096)
    return read_end, write_end


def read_slowly(descriptor):
    chunks = []
    while chunk := os.read(descriptor, 1024):
        chunks.append(chunk)
        time.sleep(0.002)
    os.close(descriptor)
    return b"".join(chunks).decode()


class StandardStreams(Runs):
    def contents(self, words):
        """The bytes of the trace file and the flux file."""
        result = []
        for name in (words[-1], "flux_analysis.txt"):
            with open(self.path(name), "rb") as f:
                result.append(f.read())
        return result

    def empty_folder(self):
        for name in os.listdir(self.folder.name):
            os.remove(self.path(name))

    def rows(self, words):
        """The rows of the trace file's and the flux file's one run; every row
        complete (the reader warns of any that is not)."""
        warnings = []
        trace = read_trace(self.path(words[-1]), warnings.append)
        flux = read_flux(self.path("flux_analysis.txt"), warnings.append)
        self.assertEqual((warnings, len(trace), len(flux)), ([], 1, 1))
        return trace[0].rows, flux[0].rows

    def test_closed_descriptors_never_become_data_files(self):
        # With 0, 1 and 2 closed the trace file would be opened as 0 and the
        # flux file as 1: the console and the warning must go nowhere.
        words = example("mera", p3="7.0x")
        self.run_program(PROGRAMS[0], words)
        reference = self.contents(words)
        for name in os.listdir(self.folder.name):
            os.remove(self.path(name))
        status = subprocess.run(["/bin/sh", "-c", 'exec "$0" "$@" <&- >&- 2>&-', PROGRAMS[0]]
                                + words, cwd=self.folder.name, timeout=120).returncode
        self.assertEqual(status, 0)
        self.assertEqual(self.contents(words), reference)

    def test_console_that_cannot_be_written_is_a_failure(self):
        full = "tolvanex: cannot write standard output: No space left on device\n"
        for program in PROGRAMS:
            for words, status in ((["--help"], 1), (["--version"], 1), (["x"], 2)):
                with open("/dev/full", "w") as out:
                    done = subprocess.run([program] + words, stdout=out, stderr=subprocess.PIPE,
                                          text=True, cwd=self.folder.name, timeout=60)
                self.assertEqual((done.returncode, done.stderr), (status, full), words)
            for kind, message in (("/dev/full", full),
                                  ("closed pipe", "tolvanex: cannot write standard output: "
                                   "Broken pipe\n")):
                self.empty_folder()
                words = example("mera")
                if kind == "closed pipe":  # SIGPIPE stays ignored, as Python has it
                    read_end, out = os.pipe()
                    os.close(read_end)
                else:
                    out = os.open(kind, os.O_WRONLY)
                done = subprocess.run([program] + words, stdout=out, stderr=subprocess.PIPE,
                                      text=True, cwd=self.folder.name, timeout=120,
                                      restore_signals=False)
                os.close(out)
                self.assertEqual((done.returncode, done.stderr), (1, message), kind)
                # The run stops at the first block end; its rows are kept.
                trace, flux = self.complete_tables(words, "\n average time  ")
                self.assertEqual(len(trace.rows), 2)

    def test_console_pipe_whose_reader_leaves_ends_the_run_after_a_block(self):
        # `program ... | head -1`, with SIGPIPE at its default as a shell
        # leaves it (restore_signals): the run must not die in the middle of
        # a row. The pipe holds 64 KiB of the 0.7 MB console, so the reader
        # leaves mid-run.
        words = example("mera")
        for program in PROGRAMS:
            self.empty_folder()
            self.run_program(program, words)
            full_bytes, full_rows = self.contents(words), self.rows(words)
            self.empty_folder()
            started = subprocess.Popen([program] + words, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, text=True, cwd=self.folder.name)
            self.assertEqual(started.stdout.readline(), "\n")
            started.stdout.close()
            err = started.stderr.read()
            started.stderr.close()
            self.assertEqual((started.wait(120), err),
                             (1, "tolvanex: cannot write standard output: Broken pipe\n"))
            # Each file holds the full run's bytes up to the end of a row (a
            # trace row ends with a tab and a blank, a flux row with a line end
            # and a blank), and the rows of the same blocks, each complete.
            for written, full, row_end in zip(self.contents(words), full_bytes, (b" \t ", b"\n ")):
                self.assertEqual(full[:len(written)], written)
                self.assertTrue(written.endswith(row_end))
            trace, flux = self.rows(words)
            self.assertTrue(2 <= len(trace) < len(full_rows[0]), len(trace))
            self.assertEqual((trace, flux), (full_rows[0][:len(trace)], full_rows[1][:len(trace)]))

    def test_sigterm_during_a_blocked_console_write(self):
        words = example("mera", p2="1e-320", p5="1000")  # many minutes
        read_end, write_end = small_pipe()
        started = subprocess.Popen([PROGRAMS[0]] + words, cwd=self.folder.name, stdout=write_end,
                                   stderr=subprocess.PIPE, text=True)
        os.close(write_end)
        self.assertTrue(blocked(started))
        started.send_signal(signal.SIGTERM)
        console = read_slowly(read_end)
        self.assertEqual((started.wait(120), started.stderr.read()), (143, INTERRUPTED))
        started.stderr.close()
        self.complete_tables(words, console)
        self.assertRegex(console, r"target2 1\.000e\+01 (\n Basic Timestep has been increased to "
                                  r"[-+.e0-9]+)?$")

    def test_sigterm_during_a_blocked_write_to_a_fifo_trace(self):
        words = example("mera", p2="1e-320", p5="1000")
        os.mkfifo(self.path(words[-1]))
        read_end = os.open(self.path(words[-1]), os.O_RDONLY | os.O_NONBLOCK)
        fcntl.fcntl(read_end, fcntl.F_SETPIPE_SZ, 4096)
        os.set_blocking(read_end, True)
        started = self.start([PROGRAMS[0]] + words)
        self.assertTrue(blocked(started))
        started.send_signal(signal.SIGTERM)
        trace_text = read_slowly(read_end)
        out, err = self.finish(started)
        self.assertEqual((started.returncode, err), (143, INTERRUPTED))
        os.remove(self.path(words[-1]))
        with open(self.path(words[-1]), "w") as f:
            f.write(trace_text)
        trace, _ = self.complete_tables(words, out)
        self.assertGreaterEqual(len(trace.rows), 5)  # the pipe filled after a few blocks


if __name__ == "__main__":
    unittest.main()
