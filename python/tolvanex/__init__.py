"""tolvanex: run the mercury-removal kinetics programs and read what they write.

The stiff-solver functions are loaded on first use, so that a tool that
only reads files does not import SciPy.

>>> import tolvanex
>>> tolvanex.exact_solution.__module__, tolvanex.compare_with_exact.__module__
('tolvanex.exact', 'tolvanex.comparison')
"""

import importlib

_LAZY = {"exact_solution": "exact", "exact_time_to": "exact", "solve_exact": "exact",
         "compare_with_exact": "comparison"}

__all__ = sorted(_LAZY)


def __getattr__(name):
    if name in _LAZY:
        return getattr(importlib.import_module(f".{_LAZY[name]}", __name__), name)
    raise AttributeError(f"module 'tolvanex' has no attribute {name!r}")
