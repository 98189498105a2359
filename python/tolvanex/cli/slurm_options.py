"""The command-line options that send a scan to Slurm, shared by the
commands that run scans.

>>> import argparse
>>> p = argparse.ArgumentParser(); add_slurm_options(p)
>>> slurm_options(p.parse_args(["--slurm", "--max-parallel", "50", "--sbatch-arg=--account=chem"]))
SlurmOptions(partition=None, time=None, max_parallel=50, runs_per_task=1, sbatch_args=['--account=chem'], wait=False, poll_seconds=5.0)
>>> slurm_options(p.parse_args(["--wait"]))
Traceback (most recent call last):
...
ValueError: --wait needs --slurm
"""

from __future__ import annotations

import argparse

from ..scans.slurm_client import SlurmOptions

_NEEDING_SLURM = (("partition", "--partition"), ("time", "--time"),
                  ("max_parallel", "--max-parallel"), ("runs_per_task", "--runs-per-task"),
                  ("sbatch_arg", "--sbatch-arg"), ("wait", "--wait"))


def add_slurm_options(parser: argparse.ArgumentParser) -> None:
    """Add --slurm and the options that go with it to `parser`."""
    g = parser.add_argument_group(
        "on a Slurm cluster", "submit the runs to do as one job array instead of running them\n"
        "here (the scan folder on a file system the nodes share)")
    g.add_argument("--slurm", action="store_true",
                   help="submit with sbatch, print the job id and exit (see --wait)")
    g.add_argument("--partition", metavar="P", help="the partition (queue) of the tasks")
    g.add_argument("--time", metavar="HH:MM:SS", help="time limit of one task")
    g.add_argument("--max-parallel", type=int, metavar="N",
                   help="at most N tasks running at once (the array's %%N)")
    g.add_argument("--runs-per-task", type=int, metavar="K",
                   help="runs carried out one after the other by each task (default: 1)")
    g.add_argument("--sbatch-arg", action="append", default=[], metavar="ARG",
                   help="one more sbatch option, written --sbatch-arg=--account=NAME; "
                        "repeatable")
    g.add_argument("--wait", action="store_true",
                   help="follow the array to its end with the progress line, then write "
                        "the summary (SIGINT/SIGTERM cancel it)")


def slurm_options(args) -> SlurmOptions | None:
    """The SlurmOptions the parsed `args` ask for, None without --slurm;
    ValueError for options that need --slurm or values sbatch would refuse."""
    if not args.slurm:
        for attribute, option in _NEEDING_SLURM:
            if getattr(args, attribute) not in (None, False, []):
                raise ValueError(f"{option} needs --slurm")
        return None
    for value, option in ((args.max_parallel, "--max-parallel"),
                          (args.runs_per_task, "--runs-per-task")):
        if value is not None and value < 1:
            raise ValueError(f"{option} must be at least 1")
    return SlurmOptions(partition=args.partition, time=args.time,
                        max_parallel=args.max_parallel, runs_per_task=args.runs_per_task or 1,
                        sbatch_args=list(args.sbatch_arg), wait=args.wait).check()
