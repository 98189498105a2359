"""The table of docs/accuracy.md: every bundled example run with both
programs, every other row left out and interpolated from the others, and
the rows compared with the exact solution (`tolvanex.studies.accuracy`).

    /usr/bin/python3 -m tolvanex.docgen.accuracy_table [examples/*.args]   (from the project root)
"""

from __future__ import annotations

import glob
import math
import os
import sys
import tempfile

from ..model.parameters import Parameters
from ..runs.programs import PROGRAM_NAMES
from ..runs.run import run
from ..studies.accuracy import against_exact, leave_every_other_out


def _relative(a: float, b: float) -> float:
    return abs(a - b) / abs(a) if a and math.isfinite(a) and math.isfinite(b) else math.nan


def table(args_files, programs=PROGRAM_NAMES) -> list[str]:
    """The accuracy table (Markdown lines) of runs of the arguments files."""
    lines = ["| example | program | rows | P error | at | worst species error | "
             "t50 change | t90 change | largest gap | P vs exact: rows | between rows |",
             "|---|---|---|---|---|---|---|---|---|---|---|"]
    for path in args_files:
        for program in programs:
            with tempfile.TemporaryDirectory() as folder:
                r = run(Parameters.read(path), program, folder)
                a = leave_every_other_out(r.trace, r.enzyme)
                x = against_exact(r)
            lines.append(
                f"| {os.path.basename(path)} | {program} | {a['rows']} | {a['P_error']:.1e} | "
                f"{a['P_error_time']:.3g} s | {a['any_error']:.1e} ({a['any_species']}) | "
                f"{_relative(a['t50'], a['t50_half']):.1e} | "
                f"{_relative(a['t90'], a['t90_half']):.1e} | "
                f"x{a['largest_step_ratio']:.2f} at {a['largest_step_at']:.3g} s | "
                f"{x['P_rows']:.1e} | {x['P_between']:.1e} |")
    return lines


def main(argv=None) -> int:
    files = (argv if argv is not None else sys.argv[1:]) or sorted(glob.glob("examples/*.args"))
    print("\n".join(table(files)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
