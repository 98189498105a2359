"""The examples in the package's docstrings run as written (from the
project root, where they find examples/)."""

import doctest
import importlib
import os
import pkgutil
import unittest

from common import SOURCE_DIR
import tolvanex


def load_tests(loader, tests, ignore):
    for info in pkgutil.walk_packages(tolvanex.__path__, "tolvanex."):
        module = importlib.import_module(info.name)
        tests.addTests(doctest.DocTestSuite(
            module, setUp=lambda t: os.chdir(SOURCE_DIR),
            optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE))
    return tests


if __name__ == "__main__":
    unittest.main()
