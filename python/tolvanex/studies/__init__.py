"""Studies made of runs: the degree of rate control (its plan and metric),
the uncertainty of a metric from the errors of the barriers,
the comparison of a run with the exact solution, and how accurate values
between rows are."""
