"""How sure a prediction is: the uncertainty of t50, t90 or P@T from the
errors of the barriers, and which barriers carry it.

- `error_model`: the errors (every barrier alone, every transition state,
  a common shift; normal or uniform) as independent factors;
- `variance_shares`: Sobol indices (first order, total) with bootstrap
  intervals, for any model of the unit cube;
- `exact_values`: the metric of many barrier sets by the exact engine on
  threads, censoring, the sensitivities;
- `barrier_shares`: the Sobol shares of the barriers' errors;
- `spread`: quantiles with censored samples, the spread, its linear
  estimate;
- `results`, `outputs`: the record, the tables, the files, the summary;
- `study`: `uncertainty()` and the study through a program (resume,
  collect).

>>> import tolvanex
>>> u = tolvanex.uncertainty("examples/glutathione.args", sigma=1,
...                          samples=1000, out="studies/gsh")       # doctest: +SKIP
>>> print(u.summary())                                             # doctest: +SKIP
"""

from .outputs import Uncertainty  # noqa: F401
from .study import collect_uncertainty, resume_uncertainty, uncertainty  # noqa: F401
