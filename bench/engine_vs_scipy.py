#!/usr/bin/python3
"""Time to t90 of every bundled example, in this process: the C++ engine
(tolvanex.model.engine, CVODE) called directly and through tolvanex.solve,
against the SciPy path (tolvanex.model.exact, Radau with a Python
right-hand side), and the ratio of the medians of the engine and SciPy.

The engine stops at t90 by itself (root finding); tolvanex.solve and SciPy
are given the engine's t90 (x 1.001) as their end time, the least they must
integrate to find it, and find t90 on the way (CVODE's root finding) or on
the dense output (SciPy). All at their default tolerances (relative 1e-10,
absolute 1e-12 of the amounts).

    bench/engine_vs_scipy.py [--repeats N] [--scipy-repeats M]
"""

import argparse
import os
import statistics
import sys
import time

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE_DIR, "python"))

import tolvanex  # noqa: E402
from tolvanex.model import engine  # noqa: E402
from tolvanex.model.exact import solve_exact  # noqa: E402
from tolvanex.model.parameters import Parameters  # noqa: E402

EXAMPLES = ("mera", "dithiothreitol", "glutathione", "organomercurial")


def median_seconds(work, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=200, help="engine solves per example")
    parser.add_argument("--scipy-repeats", type=int, default=5, help="SciPy solves per example")
    args = parser.parse_args()
    engine.load()
    print(f"{'example':16} {'t90 (s)':>12} {'steps':>6} {'engine (ms)':>12} "
          f"{'solve() (ms)':>13} {'SciPy (ms)':>11} {'ratio':>7} {'t90 rel. diff.':>15}")
    for name in EXAMPLES:
        p = Parameters.read(os.path.join(SOURCE_DIR, "examples", name + ".args"))
        result = engine.solve(p, fractions=[0.9], stop_at_last_fraction=True)
        t90 = result.fraction_times[0]
        fast = median_seconds(lambda: engine.time_to(p, [0.9]), args.repeats)
        solved = median_seconds(lambda: tolvanex.solve(p, end=t90 * 1.001, times=[0.0],
                                                       fractions=[0.9]).time_to(0.9),
                                args.repeats)
        scipy_t90 = []
        slow = median_seconds(lambda: scipy_t90.append(solve_exact(p, end=t90 * 1.001)
                                                       .time_to(0.9)), args.scipy_repeats)
        print(f"{name:16} {t90:12.6g} {result.statistics.steps:6d} {1e3 * fast:12.2f} "
              f"{1e3 * solved:13.2f} {1e3 * slow:11.1f} {slow / fast:7.0f} "
              f"{abs(scipy_t90[0] / t90 - 1):15.1e}")


if __name__ == "__main__":
    main()
