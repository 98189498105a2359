"""tolvanex: run the mercury-removal kinetics programs and read what they write.

>>> import tolvanex
>>> p = tolvanex.Parameters.read("examples/mera.args")
>>> f"{tolvanex.exact_time_to(p, 0.5, end=1.0):.4g} s"
'0.02921 s'
"""

from .comparison import compare_with_exact  # noqa: E402
from .exact import exact_solution, exact_time_to, solve_exact  # noqa: E402
from .parameters import Parameters  # noqa: E402

__all__ = ["Parameters", "compare_with_exact", "exact_solution", "exact_time_to", "solve_exact"]
