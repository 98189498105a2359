"""tolvanex: run the mercury-removal kinetics programs and read what they write.

>>> import tolvanex
>>> p = tolvanex.Parameters.read("examples/glutathione.args")
>>> r = tolvanex.run(p.replace(pH=7.0, wanted_time=10))    # doctest: +SKIP
>>> r.time_to(0.5)                                         # doctest: +SKIP
"""

__version__ = "1.1.0"

from .parameters import Parameters  # noqa: E402
from .runs import Run, RunError, run  # noqa: E402
from .scan import ScanInterrupted, collect, scan  # noqa: E402
from .summary import summary  # noqa: E402

__all__ = ["Parameters", "Run", "RunError", "run", "scan", "summary", "collect",
           "ScanInterrupted", "__version__"]
