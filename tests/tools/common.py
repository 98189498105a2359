"""Shared helpers of the tests of tools/: where things are, running the
programs in fresh folders, reading their console output."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import types

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
TOOLS_DIR = os.path.join(SOURCE_DIR, "tools")
EXAMPLES_DIR = os.path.join(SOURCE_DIR, "examples")
PLOT = os.path.join(TOOLS_DIR, "tolvanex-plot")
SCAN = os.path.join(TOOLS_DIR, "tolvanex-scan")

sys.path.insert(0, TOOLS_DIR)
import tolvanex_files  # noqa: E402,F401  (re-exported for the tests)


def _program(variable, name):
    path = os.environ.get(variable) or os.path.join(SOURCE_DIR, "build", name)
    if not os.access(path, os.X_OK):
        raise unittest.SkipTest(f"{name} not built (set {variable})")
    return path


def tolvanex():
    return _program("TOLVANEX_PROGRAM", "tolvanex")


def tolvanex_unpruned():
    return _program("TOLVANEX_UNPRUNED_PROGRAM", "tolvanex_unpruned")


# The trace file's column labels, in order, as the program writes them.
TRACE_LABELS = [
    "Time", "HgMerB", "Thiol", "Int1", "Anionic  Int1", "Anionic  Int2 C159-bound",
    "Int3' C159-bound", "Int1 (H+ on Asp)", "Int2 C159-bound:Thiol",
    "Int4 (Cys159-bound)", "Int2 (Cys96-bound)", "Int2 (Cys96-bound):Thiol",
    "Int4 (Asp99-bound)", "Int3' C96-bound", "apoMerB", "Hg(SCH3)2",
    "Anionic  Int2 C96-bound"]
# The console names the same species by their one-letter labels.
CONSOLE_NAMES = {"HgMerB": "A", "Thiol": "S", "Int1": "C", "Anionic  Int1": "D",
                 "Anionic  Int2 C159-bound": "E", "Int3' C159-bound": "F",
                 "Int1 (H+ on Asp)": "G", "Int2 C159-bound:Thiol": "I",
                 "Int4 (Cys159-bound)": "J", "Int2 (Cys96-bound)": "K",
                 "Int2 (Cys96-bound):Thiol": "L", "Int4 (Asp99-bound)": "M",
                 "Int3' C96-bound": "N", "Hg(SCH3)2": "P", "Anionic  Int2 C96-bound": "Q"}
FLUX_LABELS = ["Time"] + [f"flux{n}" for n in range(1, 38, 2)]


def example_words(name, **changes):
    """The words of examples/NAME.args, some replaced.  Keys: time (the
    wanted simulated time), pH, barrierN, trace (the trace file name)."""
    with open(os.path.join(EXAMPLES_DIR, name + ".args"), encoding="utf-8") as f:
        words = [w for line in f if not line.lstrip().startswith("#")
                 for w in line.split()]
    from_end = {"time": 42, "pH": 44, "trace": 1}
    for key, value in changes.items():
        if key.startswith("barrier"):
            k = 40 - int(key[len("barrier"):])
        else:
            k = from_end[key]
        words[len(words) - k] = str(value)
    return words


def run_program(folder, words, program=None):
    """Run a program in `folder`; its console output."""
    os.makedirs(folder, exist_ok=True)
    result = subprocess.run([program or tolvanex()] + list(words), cwd=folder,
                            capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise AssertionError(f"program failed ({result.returncode}): {result.stderr}")
    return result.stdout


def run_tool(tool, *args, cwd=None):
    return subprocess.run([tool] + [str(a) for a in args], cwd=cwd,
                          capture_output=True, text=True, timeout=300)


def load_script(path, name):
    """Import a tool script (which has no .py ending) as a module."""
    module = types.ModuleType(name)
    module.__file__ = path
    with open(path, encoding="utf-8") as f:
        code = compile(f.read(), path, "exec")
    exec(code, module.__dict__)
    return module


# ---------------------------------------------------------------------------
# What the console shows about every block

def console_blocks(console):
    """One dict per block report: the values printed in it, as text."""
    parts = console.split("\n*************************************************************** \n")
    blocks = []
    for part in parts:
        if "iterations were performed" not in part:
            continue
        # Messages printed during the next block follow the report's end.
        part = part.split("\n average time ")[0]
        block = {"time": re.search(r"\n time = (\S+)", part).group(1),
                 "iterations": int(re.search(r"\n\s*(\d+)  iterations were performed",
                                             part).group(1)),
                 "total iterations": float(re.search(r"total iterations (\S+)",
                                                     part).group(1))}
        for m in re.finditer(r"\t ([A-Za-z0-9]+)= (\S+)", part):
            block[m.group(1)] = m.group(2)
        for m in re.finditer(r"total_flux(\d+)=(\S+)", part):
            block[f"flux{m.group(1)}"] = m.group(2)
        blocks.append(block)
    return blocks


def raw_table(path, run=-1):
    """The rows of a trace file's table split at white space, found without
    the tools' reader: the lines after the run's 'Time' header line."""
    with open(path, encoding="latin-1") as f:
        text = f.read()
    runs = text.split("  tolvanex \n")[1:]
    lines = runs[run].split("\n")
    head = next(i for i, line in enumerate(lines) if line.startswith(" Time "))
    header = [c.strip() for c in lines[head].split("\t") if c.strip()]
    rows = [line.split() for line in lines[head + 1:]
            if re.match(r"^\s*\d", line)]
    return header, rows


class TempDirTestCase(unittest.TestCase):
    """A class-wide temporary folder, removed at the end."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="tolvanex-tools-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)
