#!/usr/bin/python3
"""Wall time of an uncertainty study of glutathione's t50 on the exact
engine: the whole command as a user runs it (start of Python, the samples,
the 76 solves of the sensitivities, the files and the picture), and the
samples alone (as the study records them), median of the repeats.

    bench/uncertainty_bench.py [--samples 1000] [--jobs 2] [--repeats 3] [--shares N]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = os.path.join(SOURCE_DIR, "tools", "tolvanex-uncertainty")
ARGS = os.path.join(SOURCE_DIR, "examples", "glutathione.args")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--samples", type=int, default=1000)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--shares", type=int, default=0)
    args = parser.parse_args()
    whole, sampling, shares = [], [], []
    for k in range(args.repeats):
        out = os.path.join(tempfile.mkdtemp(prefix="uncertainty-bench-"), "study")
        start = time.perf_counter()
        subprocess.run([TOOL, ARGS, "--sigma", "1", "--samples", str(args.samples),
                        "--jobs", str(args.jobs), "--shares", str(args.shares), "--out", out,
                        "--no-progress"], check=True, stdout=subprocess.DEVNULL)
        whole.append(time.perf_counter() - start)
        with open(os.path.join(out, "uncertainty.json"), encoding="utf-8") as f:
            record = json.load(f)
        sampling.append(record["settings"]["seconds"])
        if args.shares:
            shares.append(record["shares_cost"]["seconds"])
        print(f"repeat {k + 1}: command {whole[-1]:.1f} s, samples {sampling[-1]:.1f} s",
              file=sys.stderr)
    print(f"glutathione t50, {args.samples} samples, σ = 1 kcal/mol on every barrier, "
          f"{args.jobs} threads, median of {args.repeats}:")
    print(f"  whole command  {statistics.median(whole):6.1f} s")
    print(f"  samples alone  {statistics.median(sampling):6.1f} s "
          f"({1e3 * statistics.median(sampling) / args.samples:.1f} ms a sample)")
    if shares:
        print(f"  Sobol shares   {statistics.median(shares):6.1f} s ({args.shares} base samples)")


if __name__ == "__main__":
    main()
