"""What the commands of the package share on their command lines:
``--version`` and ``--help``, a usage mistake told on one line of standard
error, and the options that send the runs to Slurm.

>>> p = ArgumentParser(prog="tolvanex-demo", description="A demonstration.")
>>> p.format_help().splitlines()[-1]
'          reader of standard output stopped early (a closed pipe)'

The options that send a scan or a study to Slurm:

>>> p = ArgumentParser(prog="tolvanex-demo"); add_slurm_options(p)
>>> slurm_options(p.parse_args(["--slurm", "--max-parallel", "50", "--sbatch-arg=--account=chem"]))
SlurmOptions(partition=None, time=None, max_parallel=50, runs_per_task=1, sbatch_args=['--account=chem'], wait=False, poll_seconds=5.0)
>>> slurm_options(p.parse_args(["--wait"]))
Traceback (most recent call last):
...
tolvanex.cli.options.UsageError: --wait needs --slurm
"""

from __future__ import annotations

import argparse

from .. import __version__
from ..errors import InputError
from ..scans.slurm_client import SlurmOptions


#: The exit statuses of every tool, as ``--help`` shows them.
EXIT_STATUSES = """\
exit status:
  0       everything asked was done, and every run ended well
  1       the work ran but a result is not a success (a run or a solve failed
          or cannot be read, a check found a difference, a step has no
          degree, a fit did not converge, an output cannot be written)
  2       usage error: a wrong command line, or an input that cannot be read
          or is invalid (a missing file, a bad value); nothing was run
  3       not every run has ended: a run not run, or running or killed (a
          resume runs it), a Slurm job still queued or running, or another
          process working in the folder
  128+N   stopped by signal N: 129 SIGHUP, 130 SIGINT, 143 SIGTERM; 141 the
          reader of standard output stopped early (a closed pipe)"""


class UsageError(InputError):
    """A command line the command cannot carry out."""


class ArgumentParser(argparse.ArgumentParser):
    """argparse's parser with ``--version`` (prints ``PROG VERSION``) whose
    mistakes raise `UsageError` instead of printing the usage text.

    >>> ArgumentParser(prog="tolvanex-demo").parse_args(["--colour"])
    Traceback (most recent call last):
    ...
    tolvanex.cli.options.UsageError: unrecognized arguments: --colour
    """

    def __init__(self, **kwargs):
        super().__init__(**kwargs)
        self.add_argument("--version", action="version", version=f"{self.prog} {__version__}",
                          help="print the command's name and version and exit")

    def error(self, message):
        raise UsageError(message)

    def format_help(self) -> str:
        """argparse's help, then the table of exit statuses."""
        return super().format_help().rstrip("\n") + "\n\n" + EXIT_STATUSES + "\n"


def name_value_pairs(items: list[str], option: str) -> dict:
    """The NAME=VALUE words of a repeatable option (--set, --vary) as a dict.

    >>> name_value_pairs(["pH=7", "barrier1=16,17"], "--set")
    {'pH': '7', 'barrier1': '16,17'}
    """
    pairs = {}
    for item in items:
        if "=" not in item:
            raise UsageError(f"{option} {item!r}: expected NAME=VALUE")
        name, value = item.split("=", 1)
        if name in pairs:
            raise UsageError(f"{option} {name} given twice")
        pairs[name] = value
    return pairs


def add_study_folder_options(parser: argparse.ArgumentParser, *, resume: str, collect: str,
                             dry_run: str) -> None:
    """Add what a study whose runs go in a scan folder shares: --resume DIR,
    --collect DIR, --dry-run, --no-progress and the Slurm options; the
    help texts of the first three are the tool's."""
    parser.add_argument("--resume", metavar="DIR", help=resume)
    parser.add_argument("--collect", metavar="DIR", help=collect)
    parser.add_argument("--dry-run", action="store_true", help=dry_run)
    parser.add_argument("--no-progress", action="store_true",
                        help="no progress line, nor notes on how the runs are carried out")
    add_slurm_options(parser)


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
                raise UsageError(f"{option} needs --slurm")
        return None
    for value, option in ((args.max_parallel, "--max-parallel"),
                          (args.runs_per_task, "--runs-per-task")):
        if value is not None and value < 1:
            raise UsageError(f"{option} must be at least 1")
    return SlurmOptions(partition=args.partition, time=args.time,
                        max_parallel=args.max_parallel, runs_per_task=args.runs_per_task or 1,
                        sbatch_args=list(args.sbatch_arg), wait=args.wait).check()
