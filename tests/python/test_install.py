"""cmake --install: the programs, the tools, the package, the manual page and
the examples in a fresh prefix, used from another folder with only the
prefix's bin/ and the system's folders on PATH (as a user who installed it
would, with no source tree in reach)."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

from common import SOURCE_DIR, TOOLS_DIR, raw_trace, read_text

BUILD_DIR = os.environ.get("TOLVANEX_BUILD_DIR") or os.path.join(SOURCE_DIR, "build")
TOOLS = sorted(n for n in os.listdir(TOOLS_DIR) if n.startswith("tolvanex-"))


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(os.path.join(BUILD_DIR, "cmake_install.cmake")):
            raise unittest.SkipTest(f"no configured build in {BUILD_DIR} (set TOLVANEX_BUILD_DIR)")
        cls.tmp = tempfile.mkdtemp(prefix="tolvanex-install-")
        cls.prefix, cls.work = os.path.join(cls.tmp, "prefix"), os.path.join(cls.tmp, "work")
        os.makedirs(cls.work)
        result = subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", cls.prefix],
                                capture_output=True, text=True, timeout=120)
        assert result.returncode == 0, result.stdout + result.stderr
        cls.bin = os.path.join(cls.prefix, "bin")
        cls.env = {"PATH": cls.bin + ":/usr/bin:/bin", "HOME": cls.tmp, "LC_ALL": "C.UTF-8",
                   "MANPAGER": "cat"}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def run_here(self, *words, folder=None):
        return subprocess.run([str(w) for w in words], cwd=folder or self.work,
                              env=self.env, capture_output=True, text=True, timeout=300)

    def test_layout(self):
        self.assertEqual(sorted(os.listdir(self.bin)),
                         sorted(["tolvanex", "tolvanex_unpruned"] + TOOLS))
        package = os.path.join(self.prefix, "lib", "tolvanex", "python", "tolvanex")
        for name in ("__init__.py", "cli/plot.py", "cli/options.py"):
            self.assertTrue(os.path.isfile(os.path.join(package, name)), name)
        self.assertEqual(sorted(os.listdir(os.path.join(self.prefix, "share", "tolvanex",
                                                        "examples"))),
                         sorted(n for n in os.listdir(os.path.join(SOURCE_DIR, "examples"))
                                if n.endswith(".args")))
        for tool in TOOLS:
            result = self.run_here(tool, "--version")
            self.assertEqual((result.returncode, result.stdout.split()[0]), (0, tool))

    def test_example_and_tools_from_another_folder(self):
        example = os.path.join(self.prefix, "share", "tolvanex", "examples", "mera.args")
        words = [w for line in read_text(example).splitlines() if not line.startswith("#")
                 for w in line.split()]
        words[-42] = "2e-5"                                   # the wanted time: short
        result = self.run_here("tolvanex", *words)
        self.assertEqual(result.returncode, 0, result.stderr)
        trace = os.path.join(self.work, "mera.trace")
        csv_out = self.run_here("tolvanex-plot", "mera.trace", "--csv", "-")
        self.assertEqual(csv_out.returncode, 0, csv_out.stderr)
        lines = csv_out.stdout.splitlines()
        self.assertEqual(lines[0].split(",")[:2], ["time_s", "A_mol_per_L"])
        self.assertEqual([line.split(",") for line in lines[1:]], raw_trace(trace)[1])
        with open(os.path.join(self.work, "base.args"), "w", encoding="utf-8") as f:
            f.write(" ".join(words) + "\n")
        scan = self.run_here("tolvanex-scan", "base.args", "--vary", "pH=6.5,7", "--program",
                             "tolvanex", "--sequential", "--no-progress", "--out", "scan")
        self.assertEqual(scan.returncode, 0, scan.stderr)
        with open(os.path.join(self.work, "scan", "scan.json"), encoding="utf-8") as f:
            manifest = json.load(f)
        # The installed program (beside the tool) and the installed package.
        self.assertEqual(manifest["program"], os.path.join(self.bin, "tolvanex"))
        self.assertTrue(manifest["python"].startswith(self.prefix + "/"), manifest["python"])
        self.assertEqual(len(read_text(os.path.join(self.work, "scan", "summary.csv"))
                             .splitlines()), 3)

    def test_package_from_a_script_finds_the_installed_programs(self):
        """Only PREFIX/lib/tolvanex/python on sys.path, as the README says,
        and PREFIX/bin not on PATH: a run still finds its program there."""
        script = ("import sys; sys.path.insert(0, sys.argv[1]); import tolvanex; "
                  "p = tolvanex.Parameters.read(sys.argv[2]).replace(wanted_time=1e-5); "
                  "r = tolvanex.run(p); print(r.stop.code, r.program)")
        example = os.path.join(self.prefix, "share", "tolvanex", "examples", "mera.args")
        result = subprocess.run(["/usr/bin/python3", "-c", script, os.path.join(
            self.prefix, "lib", "tolvanex", "python"), example], cwd=self.work, text=True,
            env=dict(self.env, PATH="/usr/bin:/bin"), capture_output=True, timeout=300)
        self.assertEqual((result.returncode, result.stdout),
                         (0, f"time reached {os.path.join(self.bin, 'tolvanex')}\n"), result.stderr)
        # The documents the manual page sends the reader to are installed.
        docs = os.path.join(self.prefix, "share", "doc", "tolvanex")
        self.assertTrue(all(os.path.isfile(os.path.join(docs, name)) for name in (
            "README.md", "docs/mechanism.md", "docs/accuracy.md", "docs/mera.png")))
        self.assertIn("share/doc/tolvanex/docs/mechanism.md",
                      read_text(os.path.join(self.prefix, "share", "man", "man1", "tolvanex.1")))

    @unittest.skipUnless(os.environ.get("TOLVANEX_ENGINE_MODULE", "").startswith(
        os.environ.get("TOLVANEX_BUILD_DIR") or "//"), "this build makes no engine module")
    def test_engine_module_beside_the_package(self):
        # The installed package finds the installed module, not the build's.
        script = ("import sys; sys.path.insert(0, sys.argv[1]); from tolvanex.model import engine; "
                  "from tolvanex.model.parameters import Parameters; "
                  "print(engine.load().__file__); "
                  "print(engine.time_to(Parameters.read(sys.argv[2]), [0.5], end=1.0)[0])")
        lib = os.path.join(self.prefix, "lib", "tolvanex", "python")
        example = os.path.join(self.prefix, "share", "tolvanex", "examples", "mera.args")
        result = self.run_here("/usr/bin/python3", "-c", script, lib, example)
        self.assertEqual(result.returncode, 0, result.stderr)
        module, t50 = result.stdout.split()
        self.assertTrue(module.startswith(os.path.join(lib, "tolvanex", "_engine")), module)
        self.assertAlmostEqual(float(t50) / 0.029212, 1, delta=1e-4)   # docs/mechanism.md

    @unittest.skipUnless(shutil.which("man"), "man is not installed")
    def test_manual_pages(self):
        for page in ("tolvanex", "tolvanex_unpruned"):
            with self.subTest(page=page):
                result = self.run_here("man", page)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("TOLVANEX(1)", result.stdout)
                self.assertIn("EXIT STATUS", result.stdout)


if __name__ == "__main__":
    unittest.main()
