"""One version for the project: CMake's project(VERSION), the package's
__version__ and what every tool prints for --version; --help works."""

import os
import re
import subprocess
import unittest

from common import SOURCE_DIR, TOOLS_DIR, read_text
import tolvanex  # noqa: E402  (found through common)


class Version(unittest.TestCase):
    def test_one_version_everywhere(self):
        project = re.search(r"project\(tolvanex VERSION (\S+)",
                            read_text(os.path.join(SOURCE_DIR, "CMakeLists.txt"))).group(1)
        self.assertEqual(tolvanex.__version__, project)
        tools = sorted(n for n in os.listdir(TOOLS_DIR) if n.startswith("tolvanex-"))
        self.assertGreaterEqual(len(tools), 3)
        for tool in tools:
            with self.subTest(tool=tool):
                path = os.path.join(TOOLS_DIR, tool)
                version = subprocess.run([path, "--version"], capture_output=True, text=True,
                                         timeout=60)
                self.assertEqual((version.returncode, version.stdout, version.stderr),
                                 (0, f"{tool} {project}\n", ""))
                help_text = subprocess.run([path, "--help"], capture_output=True, text=True,
                                           timeout=60)
                self.assertEqual(help_text.returncode, 0, help_text.stderr)
                self.assertTrue(help_text.stdout.startswith(f"usage: {tool}"))
                read_end, write_end = os.pipe()
                os.close(read_end)                    # a reader that has stopped
                closed = subprocess.run([path, "--help"], stdout=write_end,
                                        stderr=subprocess.PIPE, text=True, timeout=60)
                os.close(write_end)
                self.assertEqual((closed.returncode, closed.stderr),
                                 (141, f"{tool}: standard output closed before all was "
                                       "written\n"))


if __name__ == "__main__":
    unittest.main()
