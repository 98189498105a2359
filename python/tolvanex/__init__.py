"""tolvanex: run the mercury-removal kinetics programs and read what they write.

The names here are the package's public face; the subpackages hold the
rest by role: `model`, `runs`, `scans`, `studies`, `plots`, `export`,
`cli` (the tools) and `docgen` (the tables of docs/).

>>> import tolvanex
>>> p = tolvanex.Parameters.read("examples/mera.args")
>>> f"{tolvanex.solve(p, end=1.0, method='radau').time_to(0.5):.4g} s"
'0.02921 s'
>>> r = tolvanex.run(p.replace(pH=7.2))                    # doctest: +SKIP
>>> r.time_to(0.5)                                         # doctest: +SKIP
"""

__version__ = "1.1.0"

from .errors import TolvanexError  # noqa: E402
from .model.exact import exact_solution, exact_time_to, solve_exact  # noqa: E402
from .model.parameters import Parameters  # noqa: E402
from .model.solution import Solution, solve  # noqa: E402
from .runs.run import Run, RunError, run  # noqa: E402
from .scans.scan import ScanInterrupted, collect, scan  # noqa: E402
from .scans.slurm_client import SlurmError, SlurmOptions  # noqa: E402
from .scans.summary import summary  # noqa: E402
from .studies.comparison import compare_with_exact  # noqa: E402
from .studies.fit import FitResult, fit  # noqa: E402
from .studies.rate_control import rate_control  # noqa: E402
from .studies.uncertainty import uncertainty  # noqa: E402

__all__ = ["Parameters", "Run", "RunError", "run", "scan", "summary", "collect", "rate_control",
           "ScanInterrupted", "SlurmOptions", "SlurmError", "compare_with_exact",
           "exact_solution", "exact_time_to", "solve_exact", "solve", "Solution", "TolvanexError",
           "fit", "FitResult", "uncertainty", "__version__"]
