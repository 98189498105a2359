"""Shared helpers of the tests of tools/: running the programs in fresh
folders, and reading their files without the tools (split at white space)."""

import contextlib
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS_DIR = os.path.join(SOURCE_DIR, "tools")
EXAMPLES_DIR = os.path.join(SOURCE_DIR, "examples")
PLOT = os.path.join(TOOLS_DIR, "tolvanex-plot")
SCAN = os.path.join(TOOLS_DIR, "tolvanex-scan")
sys.path.insert(0, os.path.join(SOURCE_DIR, "python"))

TRACE_LABELS = [
    "Time", "HgMerB", "Thiol", "Int1", "Anionic  Int1", "Anionic  Int2 C159-bound",
    "Int3' C159-bound", "Int1 (H+ on Asp)", "Int2 C159-bound:Thiol", "Int4 (Cys159-bound)",
    "Int2 (Cys96-bound)", "Int2 (Cys96-bound):Thiol", "Int4 (Asp99-bound)", "Int3' C96-bound",
    "apoMerB", "Hg(SCH3)2", "Anionic  Int2 C96-bound"]
FLUX_LABELS = ["Time"] + [f"flux{n}" for n in range(1, 38, 2)]


def program(name="tolvanex"):
    variable = "TOLVANEX_UNPRUNED_PROGRAM" if name == "tolvanex_unpruned" else "TOLVANEX_PROGRAM"
    path = os.environ.get(variable) or os.path.join(SOURCE_DIR, "build", name)
    if not os.access(path, os.X_OK):
        raise unittest.SkipTest(f"{name} not built (set {variable})")
    return path


def example_words(name, **changes):
    """The words of examples/NAME.args, the wanted time, pH or trace file replaced."""
    with open(os.path.join(EXAMPLES_DIR, name + ".args"), encoding="utf-8") as f:
        words = [w for line in f if not line.lstrip().startswith("#") for w in line.split()]
    for key, value in changes.items():
        words[-{"time": 42, "pH": 44, "trace": 1}[key]] = str(value)
    return words


def run_program(folder, words, name="tolvanex"):
    os.makedirs(folder, exist_ok=True)
    result = subprocess.run([program(name)] + words, cwd=folder, capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout                      # the console output


def run_tool(tool, *args, cwd=None):
    return subprocess.run([tool] + [str(a) for a in args], cwd=cwd, capture_output=True,
                          text=True, timeout=300)


def run_here(main, *args):
    """A tool's main() in this process, as `run_tool` reports a tool
    started (faster: the package is imported once)."""
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        status = main([str(a) for a in args])
    return subprocess.CompletedProcess(args, status, out.getvalue(), err.getvalue())


def read_text(path):
    with open(path, encoding="latin-1", newline="") as f:
        return f.read()


def raw_trace(path, run=-1):
    """Column labels and rows of one run of a trace file: the tab-separated
    line starting with 'Time', then every line starting with a number."""
    lines = read_text(path).split("  tolvanex \n")[1:][run].split("\n")
    head = next(i for i, line in enumerate(lines) if line.startswith(" Time "))
    labels = [c.strip() for c in lines[head].split("\t") if c.strip()]
    return labels, [line.split() for line in lines[head + 1:] if re.match(r"\s*\d", line)]


def raw_flux(path, run=-1):
    """Rows of one run of a flux file: after the header line the numbers
    come as the time-0 row of 21 (time, flux1 ... flux39), then rows of 20."""
    text = read_text(path).split("Flux analysis for run")[1:][run]
    numbers = text[text.index("\n", text.index("flux39")):].split()
    return [numbers[:20]] + [numbers[k:k + 20] for k in range(21, len(numbers), 20)]


class TempDir(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="tolvanex-tools-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def path(cls, *names):
        return os.path.join(cls.tmp, *names)


def require_engine():
    """A module's setUpModule for tests that need the compiled engine: skip
    them where this build has none, fail where it made one that does not
    load."""
    from tolvanex.model import engine
    try:
        engine.load()
    except engine.EngineNotFound as e:
        if os.environ.get(engine.ENVIRONMENT_VARIABLE):
            raise          # this build made one: it must load
        raise unittest.SkipTest(str(e))
