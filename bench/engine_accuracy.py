#!/usr/bin/python3
"""How far the engine (tolvanex.solve, CVODE) is from the independent SciPy
reference (tolvanex.model.exact, Radau) over many random argument sets, and
how well it keeps the conserved sums: the worst figures, for
docs/accuracy.md.

Each draw is a bundled example with every barrier moved by up to 1.5
kcal/mol and the pH by up to 0.5; every third draw also at a random
temperature (280 to 320 K) and pKa (its default ± 1.5).  For each: t50 and
t90 of both solvers (relative difference, where both reach them); at every
step of the engine, the mercury and the enzyme sums against their starting
amounts (as a fraction of the enzyme amount).

    bench/engine_accuracy.py [--draws N] [--seed S]
"""

import argparse
import math
import os
import random
import sys

import numpy as np

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE_DIR, "python"))

import tolvanex  # noqa: E402

EXAMPLES = ("mera", "dithiothreitol", "glutathione", "organomercurial")
MERCURY = ["PHMB", "ES", "A", "C", "D", "E", "F", "G", "I", "J", "K", "L", "M", "N", "Q", "P"]
ENZYME = ["A", "C", "D", "E", "F", "G", "I", "J", "K", "L", "M", "N", "Q", "O1", "O2", "O3",
          "MerB", "ES"]


def draw(rng, k):
    p = tolvanex.Parameters.read(os.path.join(SOURCE_DIR, "examples",
                                              rng.choice(EXAMPLES) + ".args"))
    for i, b in enumerate(p.barriers, start=1):
        p[f"barrier{i}"] = round(b + rng.uniform(-1.5, 1.5), 3)
    p.pH = round(p.pH + rng.uniform(-0.5, 0.5), 3)
    p.wanted_time = 1e4
    if k % 3 == 2:
        p.temperature = round(rng.uniform(280, 320), 2)
        p.pKa = round(p.pKa + rng.uniform(-1.5, 1.5), 3)
    return p


def conservation(solution):
    """The largest drift of the mercury and of the enzyme sum over every
    step, as a fraction of the enzyme amount."""
    trace = solution.trace
    p = solution.parameters
    drift = []
    for names in (MERCURY, ENZYME):
        total = sum(trace[n].to_numpy() if n in trace else 0.0 for n in names)
        drift.append(float(np.max(np.abs(total - total[0]))) / p.enzyme)
    return drift


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--draws", type=int, default=300)
    parser.add_argument("--seed", type=int, default=2024)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    worst = {"t50": (0.0, None), "t90": (0.0, None), "mercury": (0.0, None),
             "enzyme": (0.0, None)}
    reached = 0
    for k in range(args.draws):
        p = draw(rng, k)
        s = tolvanex.solve(p)
        end = 2 * s.time_to(0.9) if math.isfinite(s.time_to(0.9)) else p.wanted_time
        x = tolvanex.solve(p, end=end, method="radau", times=[0.0])
        both = 0
        for label, f in (("t50", 0.5), ("t90", 0.9)):
            a, b = s.time_to(f), x.time_to(f)
            if math.isnan(a) != math.isnan(b):
                print(f"draw {k}: {label} {a} against {b}: one solver reaches it, the other "
                      "not", file=sys.stderr)
                worst[label] = (math.inf, k)
            elif not math.isnan(a):
                both += 1
                d = abs(a / b - 1)
                if d > worst[label][0]:
                    worst[label] = (d, k)
        reached += both == 2
        for label, d in zip(("mercury", "enzyme"), conservation(s)):
            if d > worst[label][0]:
                worst[label] = (d, k)
    print(f"{args.draws} draws (seed {args.seed}), {reached} reaching t90 in both solvers")
    for label, (d, k) in worst.items():
        what = ("relative difference from Radau" if label in ("t50", "t90")
                else "largest drift of the sum / enzyme amount")
        print(f"{label:8} {d:9.2e}  {what} (draw {k})")


if __name__ == "__main__":
    main()
