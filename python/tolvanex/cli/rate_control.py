"""``tolvanex-rate-control``: which steps control the rate, by how much.

    tolvanex-rate-control ARGS_FILE [--set NAME=VALUE ...] [--steps 1,9,29]
                          [--metric t50|t90|P@T] [--delta KCAL] [--jobs N]
                          [--engine exact | --program NAME|PATH] [--out DIR] [--dry-run]
    tolvanex-rate-control --resume DIR [--jobs N]
    tolvanex-rate-control --collect DIR [--metric ...]

With --slurm (and the options of tolvanex-scan --slurm) a new study or a
resume submits its runs to Slurm as one job array (tolvanex_unpruned).

Both barriers of every step are lowered, then raised, by --delta; the 38
cases and the base case are solved by the exact engine (about a second),
or run by a program, through the scan machinery, each in a folder of its
own under --out, which is a scan folder (tolvanex-scan --resume and
--collect work on it too).  Writes rate_control.csv and rate_control.png
there, prints the leading steps and the sum of the degrees, and warns when
the sum rule fails.  Exit status 0; 1 when a step has no degree because a
run failed or never reached the metric; 2 on a usage error; 3 when a run
has not ended (not run, or running or killed; --resume runs it) or the
study's Slurm job is still queued or running.

>>> main(["--version"])
tolvanex-rate-control 1.1.0
0
"""

from __future__ import annotations

import argparse
import math
import os
import sys

from ..studies.rate_control import (TABLE, PICTURE, collect_rate_control, rate_control,
                            resume_rate_control)
from . import command
from ..model import mechanism
from .options import (ArgumentParser, UsageError, add_study_folder_options, name_value_pairs,
                      slurm_options)
from ..plots.rate_control_chart import step_label
from ..runs.programs import EXACT
from ..scans.manifest import read_manifest
from ..scans.slurm_scan import last_job
from ..studies.rate_metric import Metric

PROG = "tolvanex-rate-control"
#: Degrees below this are left out of the printed list (they are in the table).
SHOWN = 0.01


def parser() -> argparse.ArgumentParser:
    """The command-line options.

    >>> parser().parse_args(["x.args", "--metric", "P@10"]).metric
    'P@10'
    """
    p = ArgumentParser(prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
                description="Degree of rate control of every step: both barriers of each "
                "step lowered and raised by --delta, each case a solve of the exact engine "
                "(or a program's run) of its own.",
                epilog="Example: tolvanex-rate-control examples/glutathione.args "
                "--out studies/glutathione")
    p.add_argument("args_file", nargs="?", help="arguments file of the base run")
    p.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                   help="a value of the base run in place of the file's (pH=9; pKa and "
                        "temperature for the exact engine); repeatable")
    p.add_argument("--steps", metavar="N,N,...",
                   help="only these steps (e.g. 1,9,29); the sum rule then cannot be checked")
    p.add_argument("--metric", default=None, metavar="t50|t90|P@T",
                   help="what the rate is read from: t50 (default), t90, or P@T, the "
                        "product at T seconds (the runs' wanted time is set to T)")
    p.add_argument("--delta", type=float, default=0.1, metavar="KCAL",
                   help="how far both barriers of a step move, kcal/mol (default 0.1)")
    p.add_argument("--jobs", type=int, default=os.cpu_count() or 1, metavar="N",
                   help="solves or runs at a time (default: %(default)s)")
    p.add_argument("--engine", choices=[EXACT],
                   help="the exact engine (the default): every case solved here, 39 solves "
                        "in about a second")
    p.add_argument("--program", metavar="NAME|PATH",
                   help="a program instead: tolvanex_unpruned (follows the rate equations; "
                        "the default for --dry-run and --slurm), tolvanex (drops backward net "
                        "fluxes: the degrees of another mechanism), or a path")
    p.add_argument("--out", metavar="DIR",
                   help="study folder, must not hold a scan (default: rate-control-NAME)")
    add_study_folder_options(
        p, resume="run what is not finished in a study folder",
        collect="tables of a study whose runs were carried out elsewhere, or again with "
                "another --metric of the same runs",
        dry_run="write the run folders and commands.txt only (then --collect)")
    return p


warn = command.warner(PROG)


def _check(args) -> None:
    modes = [m for m in ("resume", "collect") if getattr(args, m)]
    if len(modes) > 1:
        raise UsageError("give --resume or --collect, not both")
    if args.engine and args.program:
        raise UsageError("give --engine exact or --program, not both")
    if modes:
        extra = [o for o, v in (("ARGS_FILE", args.args_file), ("--out", args.out),
                                ("--dry-run", args.dry_run), ("--delta", args.delta != 0.1),
                                ("--set", args.set), ("--steps", args.steps))
                 if v]
        if modes[0] == "collect":
            extra += [o for o, v in (("--engine", args.engine), ("--program", args.program))
                      if v]
        if modes[0] == "resume" and args.metric:
            extra.append("--metric")
        if extra:
            raise UsageError(f"--{modes[0]} takes the study folder; leave out {extra[0]}")
    elif not args.args_file:
        raise UsageError("give the arguments file (or --resume DIR, --collect DIR)")
    if args.jobs < 1:
        raise UsageError("--jobs must be at least 1")
    if not (args.delta > 0 and math.isfinite(args.delta)):
        raise UsageError(f"--delta {args.delta:g}: give a positive number of kcal/mol")
    if args.metric:
        try:
            Metric.parse(args.metric)
        except ValueError as e:
            raise UsageError(f"--{e}") from None


def report(table) -> str:
    """What the command prints: the leading steps, those without a degree,
    and the sum.

    >>> print(report(rate_control_table("studies/mera")))      # doctest: +SKIP
    base t50 = 0.0292118 s (tolvanex_unpruned, delta 0.1 kcal/mol)
    ...
    """
    a = table.attrs
    unit = "mol/L" if a["metric"].startswith("P@") else "s"
    base = a["base_value"]
    what = os.path.basename(a["program"] or "") or "program not recorded"
    lines = [f"base {a['metric']} = " + (f"{base:.6g} {unit}" if math.isfinite(base) else
                                         "none") + f" ({what}"
             + (" kinetics, the CVODE engine" if what == EXACT else "")
             + f", delta {a['delta_kcal_per_mol']:g} kcal/mol)", "",
             f"{'step':>4}  {'X':>7}  reaction (barriers)"]
    shown = table[table["X"].abs() >= SHOWN].copy()
    shown = shown.reindex(shown["X"].abs().sort_values(ascending=False).index)
    for step, row in shown.iterrows():
        mark = "  (derived)" if row["derived"] else ""
        lines.append(f"{step:>4}  {row['X']:>7.3f}  {step_label(mechanism.step(step))}{mark}")
    rest = int((table["X"].abs() < SHOWN).sum())
    if rest:
        lines.append(f"      ({rest} more step{'s' if rest > 1 else ''} with |X| < {SHOWN:g})")
    for step, row in table[table["X"].isna()].iterrows():
        lines.append(f"{step:>4}  {'-':>7}  {step_label(mechanism.step(step))}: {row['note']}")
    lines += ["", a["sum_message"]]
    if os.path.basename(a["program"] or "") == "tolvanex":
        lines.append("Note: tolvanex drops backward net fluxes, so these are the degrees of the "
                     "mechanism without its backward steps, and the sum rule does not show it; "
                     "--engine exact (the default) or --program tolvanex_unpruned follow the "
                     "rate equations (docs/rate_control.md).")
    lines += ["", os.path.join(a["folder"], TABLE), os.path.join(a["folder"], PICTURE)]
    return "\n".join(lines)


def _run(args) -> int:
    progress = None if args.no_progress else sys.stderr
    slurm = slurm_options(args)
    if slurm and (args.collect or args.dry_run):
        raise UsageError("--slurm submits a new study or a resume; leave out "
                         + ("--collect" if args.collect else "--dry-run"))
    if args.collect:
        table = collect_rate_control(args.collect, args.metric, warn)
    elif args.resume:
        out = os.path.abspath(args.resume)
        table = resume_rate_control(out, args.jobs, args.program, progress, warn, slurm,
                                    args.engine)
    else:
        stem = os.path.splitext(os.path.basename(args.args_file))[0]
        out = args.out = os.path.abspath(args.out or f"rate-control-{stem}")
        table = rate_control(args.args_file, args.metric or "t50", args.delta, args.jobs,
                             args.program, out, args.dry_run, progress, warn, slurm,
                             engine=args.engine, set=name_value_pairs(args.set, "--set"),
                             steps=args.steps)
        if table is None and not slurm:
            n = len(read_manifest(out)["runs"])
            print(f"{n} runs prepared; their commands are in {os.path.join(out, 'commands.txt')}"
                  f"; then: {PROG} --collect {out}")
            return 0
    if table is None:                           # submitted to Slurm
        job = last_job(read_manifest(out))["job_id"]
        print(job)
        warn(f"follow it with squeue --jobs={job}; then: {PROG} --collect {out}")
        return 0
    print(report(table))
    if table.attrs.get("job_in_queue"):
        return 3                                # degrees so far: the job goes on
    if table.attrs["not_ended"]:
        n = len(table.attrs["not_ended"])
        warn(f"{n} run{'s' if n != 1 else ''} of the study ha{'s' if n == 1 else 've'} not "
             f"ended (not run, or running or killed); {PROG} --resume {table.attrs['folder']} "
             "runs them")
        return 3
    return 1 if table.attrs["failed"] else 0


def main(argv=None) -> int:
    """The command: parse `argv` (default: the command line) and return the
    exit status (`tolvanex.cli.command`).

    >>> main(["--delta", "-1", "examples/mera.args"])
    2
    """
    return command.main(PROG, parser(), command.resumable(PROG, _check, _run), argv)
