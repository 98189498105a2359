#!/usr/bin/python3
"""Time of a fit of two barriers (barrier1, barrier9) to one glutathione time
course of 30 points (synthetic: P as a fraction of the enzyme amount from
5 to 150 s, from barrier1 = 15.9 and barrier9 = 10.2 with noise of 0.01,
sigma given), in this process, from the calculated values of
examples/glutathione.args: the median wall time, the evaluations and the
engine's share of the time.  --profile and --mcmc time those as well.

    bench/fit_bench.py [--repeats N] [--profile] [--mcmc STEPS]
"""

import argparse
import os
import statistics
import sys
import time

import numpy as np

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE_DIR, "python"))

import tolvanex  # noqa: E402
from tolvanex.studies.fit import synthetic_data  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--profile", action="store_true")
    parser.add_argument("--mcmc", type=int, default=0, metavar="STEPS")
    args = parser.parse_args()
    base = tolvanex.Parameters.read(os.path.join(SOURCE_DIR, "examples", "glutathione.args"))
    data = synthetic_data(base.replace(barrier1=15.9, barrier9=10.2), np.linspace(5, 150, 30),
                          sigma=0.01, seed=1)
    walls, result = [], None
    for _ in range(args.repeats):
        started = time.perf_counter()
        result = tolvanex.fit((base, data), "barrier1,barrier9", confirm=False,
                              profile=args.profile, mcmc=args.mcmc > 0,
                              steps=max(args.mcmc, 1))
        walls.append(time.perf_counter() - started)
    p = result.problem
    print(f"fit of barrier1, barrier9 to 30 points: median {statistics.median(walls):.2f} s "
          f"of {args.repeats} (min {min(walls):.2f}, max {max(walls):.2f}); "
          f"{result.fit_evaluations} evaluations for the fit, {result.evaluations} in all; "
          f"engine {p.solve_seconds / p.solves * 1e3:.1f} ms per solve, "
          f"{p.solve_seconds / result.wall_s:.0%} of the time")
    print(", ".join(f"{n} = {v:.4f} +/- {e:.4f}" for n, v, e in
                    zip(result.table.index, result.table["value"], result.table["stderr"])))


if __name__ == "__main__":
    main()
