"""One version for the project: CMake's project(VERSION), the package's
__version__ and what every tool prints for --version; --help ends with the
one table of exit statuses; every tool, started as a user starts it (its
output to a pipe, buffered), ends in one line when the reader of its
output has gone."""

import contextlib
import importlib
import io
import os
import re
import subprocess
import unittest

from common import SOURCE_DIR, TOOLS_DIR, read_text
import tolvanex  # noqa: E402  (found through common)
from tolvanex.cli.options import EXIT_STATUSES

TOOLS = sorted(n for n in os.listdir(TOOLS_DIR) if n.startswith("tolvanex-"))


def in_process(tool, *argv):
    """A tool's main() here: (status, standard output)."""
    main = importlib.import_module("tolvanex.cli." + tool[len("tolvanex-"):].replace("-", "_")).main
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        status = main(list(argv))
    return status, out.getvalue()


class Version(unittest.TestCase):
    def test_one_version_everywhere(self):
        project = re.search(r"project\(tolvanex VERSION (\S+)",
                            read_text(os.path.join(SOURCE_DIR, "CMakeLists.txt"))).group(1)
        self.assertEqual(tolvanex.__version__, project)
        self.assertGreaterEqual(len(TOOLS), 4)
        for tool in TOOLS:
            with self.subTest(tool=tool):
                self.assertEqual(in_process(tool, "--version"), (0, f"{tool} {project}\n"))
                status, text = in_process(tool, "--help")
                self.assertEqual(status, 0)
                self.assertTrue(text.startswith(f"usage: {tool}"), text[:40])
                self.assertTrue(text.endswith(EXIT_STATUSES + "\n"), text[-300:])
                self.assertEqual(text.count("exit status"), 1)

    def test_closed_output_as_a_user_has_it(self):
        """The tools themselves, with Python's own buffering: the version
        stays in the buffer until the tool flushes it, into a pipe whose
        reader has gone."""
        env = {k: v for k, v in os.environ.items()
               if k not in ("PYTHONUNBUFFERED", "PYTHONDONTWRITEBYTECODE")}
        for tool in TOOLS:
            with self.subTest(tool=tool):
                read_end, write_end = os.pipe()
                os.close(read_end)                    # a reader that has stopped
                closed = subprocess.run([os.path.join(TOOLS_DIR, tool), "--version"],
                                        stdout=write_end, stderr=subprocess.PIPE, text=True,
                                        timeout=60, env=env)
                os.close(write_end)
                self.assertEqual((closed.returncode, closed.stderr),
                                 (141, f"{tool}: standard output closed before all was "
                                       "written\n"))


if __name__ == "__main__":
    unittest.main()
