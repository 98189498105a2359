"""Slurm's client commands, ``sbatch``, ``squeue`` and ``scancel``, as this
package uses them: every call to Slurm goes through here.

A missing command or a refusal raises SlurmError with a one-line message
that carries Slurm's own words.  The commands read the cluster's
configuration as they do for a user (``SLURM_CONF`` included).

>>> SlurmOptions(partition="short", time="02:00:00", max_parallel=50).array_spec(120)
'1-120%50'
>>> SlurmOptions(runs_per_task=0).check()
Traceback (most recent call last):
...
tolvanex.errors.InvalidValue: runs_per_task is 0: it must be at least 1
"""

from __future__ import annotations

import dataclasses
import shutil
import subprocess
from ..errors import InputError, InvalidValue

#: States of a job that no longer runs nor waits to (squeue may still list
#: a job for a while after it has ended).
ENDED_STATES = {"BOOT_FAIL", "CANCELLED", "COMPLETED", "DEADLINE", "FAILED", "NODE_FAIL",
                "OUT_OF_MEMORY", "PREEMPTED", "REVOKED", "SPECIAL_EXIT", "TIMEOUT"}
TIMEOUT_S = 120            # for one client command; a busy controller can be slow


class SlurmError(InputError, RuntimeError):
    """A Slurm command is missing, failed, or refused what it was asked (so
    nothing was submitted)."""


@dataclasses.dataclass
class SlurmOptions:
    """How a scan is submitted as one job array.

    `runs_per_task` runs are carried out one after the other by each task;
    `max_parallel` is the array's throttle (``%N``: tasks running at once);
    `partition` and `time` (a time limit per task, e.g. ``02:00:00``) go to
    sbatch as they are, and so do the words of `sbatch_args` (after this
    package's own options, so that they can override them, e.g.
    ``["--account=chem"]``).  With `wait` the scan follows the array until
    it has ended, asking squeue every `poll_seconds`, and writes the summary.

    >>> SlurmOptions(runs_per_task=4).tasks(10)
    3
    """

    partition: str | None = None
    time: str | None = None
    max_parallel: int | None = None
    runs_per_task: int = 1
    sbatch_args: list = dataclasses.field(default_factory=list)
    wait: bool = False
    poll_seconds: float = 5.0

    def check(self) -> "SlurmOptions":
        """Raise ValueError for a value sbatch would not take; return self."""
        for name in ("runs_per_task", "max_parallel"):
            value = getattr(self, name)
            if value is not None and (not isinstance(value, int) or value < 1):
                raise InvalidValue(f"{name} is {value!r}: it must be at least 1")
        for name in ("partition", "time"):
            value = getattr(self, name)
            if value is not None and (not str(value).strip() or any(c.isspace() for c in value)):
                raise InvalidValue(f"{name} is {value!r}: expected one word")
        if not self.poll_seconds > 0:
            raise InvalidValue(f"poll_seconds is {self.poll_seconds!r}: it must be above 0")
        return self

    def tasks(self, runs: int) -> int:
        """The number of array tasks for `runs` runs."""
        return -(-runs // self.runs_per_task)

    def array_spec(self, runs: int) -> str:
        """sbatch's --array value for `runs` runs (tasks numbered from 1)."""
        throttle = f"%{self.max_parallel}" if self.max_parallel else ""
        return f"1-{self.tasks(runs)}{throttle}"

    def sbatch_options(self) -> list[str]:
        """The options that come from these settings (partition, time, extra)."""
        words = []
        if self.partition:
            words.append(f"--partition={self.partition}")
        if self.time:
            words.append(f"--time={self.time}")
        return words + [str(w) for w in self.sbatch_args]


def _client(name: str) -> str:
    path = shutil.which(name)
    if not path:
        raise SlurmError(f"{name} not found: Slurm's commands are not installed here "
                         "(or not on PATH)")
    return path


def _run(argv: list[str]) -> subprocess.CompletedProcess:
    try:
        return subprocess.run(argv, capture_output=True, text=True, timeout=TIMEOUT_S,
                              stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        raise SlurmError(f"{argv[0]} gave no answer in {TIMEOUT_S} s") from None
    except OSError as e:
        raise SlurmError(f"cannot start {argv[0]}: {e.strerror}") from None


def _one_line(text: str) -> str:
    return "; ".join(line.strip() for line in text.splitlines() if line.strip())


def _cluster_words(cluster: str | None) -> list[str]:
    return [f"--clusters={cluster}"] if cluster else []


def submit(script: str, script_args: list[str], options: list[str]) -> tuple[str, str | None]:
    """Submit `script` with its arguments through ``sbatch --parsable``
    and the given sbatch options; the job id and the cluster (None unless
    sbatch names one, as on a multi-cluster set-up).

    >>> submit("task.sh", [], ["--partition=nosuch"])     # doctest: +SKIP
    Traceback (most recent call last):
    SlurmError: sbatch refused the job: sbatch: error: Batch job submission failed: Invalid partition name specified
    """
    done = _run([_client("sbatch"), "--parsable", *options, script, *script_args])
    if done.returncode != 0:
        raise SlurmError("sbatch refused the job: "
                         + (_one_line(done.stderr) or f"exit status {done.returncode}"))
    words = done.stdout.strip().splitlines()[-1].split(";") if done.stdout.strip() else [""]
    job = words[0].strip()
    if not job.isdigit():
        raise SlurmError(f"sbatch gave no job id (it said {done.stdout.strip()[:80]!r})")
    return job, (words[1].strip() or None) if len(words) > 1 else None


def active_tasks(job: str, cluster: str | None = None) -> list[str]:
    """The tasks of job (array) `job` that are queued or running, as
    ``"ID STATE"``; empty once the job has ended (or Slurm has forgotten it).

    >>> active_tasks("123")                               # doctest: +SKIP
    ['123_4 PENDING', '123_1 RUNNING']
    """
    done = _run([_client("squeue"), *_cluster_words(cluster), "--noheader", "--array",
                 f"--jobs={job}", "--format=%i %T"])
    if done.returncode != 0:
        if "Invalid job id" in done.stderr:
            return []
        raise SlurmError(f"squeue could not tell whether job {job} has ended: "
                         + (_one_line(done.stderr) or f"exit status {done.returncode}"))
    lines = [line.strip() for line in done.stdout.splitlines() if line.strip()]
    return [line for line in lines
            if not line.startswith("CLUSTER:") and line.split()[-1] not in ENDED_STATES]


def cancel(job: str, cluster: str | None = None) -> None:
    """Cancel job (array) `job`: its waiting tasks never start, and its
    running ones get SIGTERM (the programs end after their current block).

    >>> cancel("123")                                     # doctest: +SKIP
    """
    done = _run([_client("scancel"), *_cluster_words(cluster), job])
    if done.returncode != 0:
        raise SlurmError(f"scancel {job} failed: "
                         + (_one_line(done.stderr) or f"exit status {done.returncode}"))
