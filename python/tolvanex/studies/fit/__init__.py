"""Fitting barriers to measured time courses: which barriers the data pin
down, how far the calculated values must move to explain them, and how
sure that is.

- `data`: reading and checking a data file against its arguments;
- `varied`: what varies (barriers, steps' transition states, a common
  shift), bounds, and the barriers at a point;
- `problem`: the residuals from the exact kinetics and the prior;
- `estimate`: lmfit's bounded least squares, the Jacobian, covariance and
  intervals; `identifiability`: what the data do not determine;
  `profile`: profile-likelihood intervals; `sampling`: emcee's posterior;
- `confirm`: the confirmation run of a program; `result`, `report`,
  `outputs`: the result, the console report and the fit folder's files;
- `study`: `fit` itself; `synthetic`: data from known barriers.
"""

from .problem import FitFailed  # noqa: F401
from .result import FitResult  # noqa: F401
from .study import fit  # noqa: F401
from .synthetic import synthetic_data  # noqa: F401
