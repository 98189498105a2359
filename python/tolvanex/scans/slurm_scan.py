"""A scan's runs carried out by Slurm: submitted as one job array, the job
recorded in the scan folder, followed until it ends, and checked before the
folder is collected or resumed.

Each submission writes, under ``slurm/`` in the scan folder, the list of
its run commands (``commands-N.txt``, the same command lines a local scan
starts, one a line) and the task script ``task.sh``: task i carries out the
lines (i - 1) * K + 1 to i * K one after the other, K being the runs per
task.  The tasks need ``/bin/sh`` and the program's absolute path on a file
system they share with the scan folder; Slurm writes their own output to
``slurm/task-JOB_TASK.out``.

``scan.json`` lists the submissions under ``slurm_jobs`` (job id, cluster,
time, host, runs, sbatch's arguments); the last one is marked ``ended``
once squeue no longer lists it.  Until then the folder is not resumed, and
its summary is only the summary so far.

>>> last_job({"runs": [], "slurm_jobs": [{"job_id": "7"}, {"job_id": "9"}]})["job_id"]
'9'
"""

from __future__ import annotations

import os
import signal
import socket
import time

from . import slurm_client as slurm
from ..atomic import replaced_whole
from ..errors import NotEnded
from .lock import FolderBusy
from .manifest import write_manifest
from .progress import Progress
from ..runs import folder as rf
from .slurm_client import SlurmError, SlurmOptions

class JobNotFollowed(NotEnded, RuntimeError):
    """A wait stopped following its Slurm job, which may go on."""


SLURM_DIR = "slurm"
TASK_SCRIPT = "task.sh"
MAX_FAILED_QUESTIONS = 30   # squeue failing this often in a row ends a wait

TASK_SCRIPT_TEXT = """\
#!/bin/sh
# One task of a tolvanex scan's job array, as tolvanex-scan --slurm submits it.
# Carries out lines (task - 1) * K + 1 to task * K of the commands file $1,
# K being $2, one after the other: each line is one run, started in its own
# run folder, which records its times and exit status.  On SIGTERM (scancel,
# the time limit) or SIGINT the program going on ends after its current
# block, as it does on these signals, and no further run starts.
commands=$1
per_task=$2
task=${SLURM_ARRAY_TASK_ID:?not started as a task of a job array}
stopped=0
trap 'stopped=1' INT TERM
n=$(( (task - 1) * per_task + 1 ))
last=$(( task * per_task ))
status=0
while [ "$n" -le "$last" ] && [ "$stopped" -eq 0 ]; do
  line=$(sed -n "${n}p" "$commands")
  [ -n "$line" ] || break
  /bin/sh -c "$line" || status=$?
  n=$(( n + 1 ))
done
exit $status
"""


def last_job(manifest: dict) -> dict | None:
    """The record of the scan's latest Slurm submission, or None."""
    jobs = manifest.get("slurm_jobs") or []
    return jobs[-1] if jobs and isinstance(jobs[-1], dict) else None


def _write_text(path: str, text: str, mode: int = 0o644) -> None:
    with replaced_whole(path, mode, errors="surrogateescape") as f:
        f.write(text)


def _output_pattern(out: str) -> str:
    # sbatch reads % in a file name as a pattern; %% stands for % itself.
    return os.path.join(out, SLURM_DIR).replace("%", "%%") + "/task-%A_%a.out"


def submit_runs(out: str, manifest: dict, folders: list[str], commands: list[str],
                options: SlurmOptions, say) -> dict:
    """Submit the runs of `folders` (their command lines `commands`) as one
    job array, record the submission in `manifest` and write it; the record.

    >>> submit_runs("scans/ph", read_manifest("scans/ph"), folders, commands,
    ...             SlurmOptions(max_parallel=50), print)        # doctest: +SKIP
    """
    options.check()
    jobs = manifest.setdefault("slurm_jobs", [])
    folder = os.path.join(out, SLURM_DIR)
    os.makedirs(folder, exist_ok=True)
    script = os.path.join(folder, TASK_SCRIPT)
    _write_text(script, TASK_SCRIPT_TEXT, 0o755)
    listing = os.path.join(folder, f"commands-{len(jobs) + 1}.txt")
    _write_text(listing, "".join(c + "\n" for c in commands))
    sbatch_options = [f"--array={options.array_spec(len(commands))}",
                      f"--job-name=tolvanex-scan:{os.path.basename(out)}",
                      f"--output={_output_pattern(out)}", f"--chdir={out}", "--ntasks=1",
                      *options.sbatch_options()]
    script_args = [listing, str(options.runs_per_task)]
    try:
        job, cluster = slurm.submit(script, script_args, sbatch_options)
    except SlurmError as e:
        raise SlurmError(f"{e} ({out} is written: submit it with tolvanex-scan --resume "
                         f"{out} --slurm)") from None
    record = {"job_id": job, "cluster": cluster, "submitted": time.strftime("%Y-%m-%dT%H:%M:%S"),
              "host": socket.gethostname(), "runs": list(folders),
              "runs_per_task": options.runs_per_task,
              "commands": os.path.relpath(listing, out),
              "sbatch": sbatch_options + [script] + script_args, "ended": False}
    jobs.append(record)
    write_manifest(out, manifest)
    tasks = options.tasks(len(commands))
    say(f"submitted {len(commands)} run{'s' if len(commands) != 1 else ''} as Slurm job "
        f"{job} ({tasks} task{'s' if tasks != 1 else ''} of up to {options.runs_per_task}"
        + (f", at most {options.max_parallel} at a time" if options.max_parallel else "")
        + ")")
    return record


def _all_runs_ended(out: str, job: dict) -> bool:
    for name in job.get("runs", []):
        try:
            if rf.read_exit_status(os.path.join(out, name)) is None:
                return False
        except rf.UnreadableFile:
            return False
    return True


def job_in_queue(out: str, manifest: dict) -> str | None:
    """What keeps the scan's latest Slurm job from counting as ended (a
    short text naming it), or None; a job that squeue no longer lists is
    marked ended in `manifest`, which is written.  Where squeue cannot
    answer, the job counts as ended only when every run it was given has
    its exit status.

    >>> job_in_queue("scans/ph", read_manifest("scans/ph"))     # doctest: +SKIP
    'Slurm job 123 (2 tasks queued or running: squeue --jobs=123)'
    """
    job = last_job(manifest)
    if job is None or job.get("ended"):
        return None
    ident = job["job_id"]
    try:
        active = slurm.active_tasks(ident, job.get("cluster"))
    except SlurmError as e:
        if not _all_runs_ended(out, job):
            return f"Slurm job {ident}, which may still run ({e})"
        active = []
    if active:
        n = len(active)
        return (f"Slurm job {ident} ({n} task{'s' if n != 1 else ''} queued or running: "
                f"squeue --jobs={ident})")
    job["ended"] = True
    write_manifest(out, manifest)
    return None


def ensure_ended(out: str, manifest: dict) -> None:
    """Refuse (FolderBusy) while the scan's latest Slurm job is queued or
    running (`job_in_queue`): its runs must not be emptied and run twice.

    >>> ensure_ended("scans/ph", read_manifest("scans/ph"))     # doctest: +SKIP
    Traceback (most recent call last):
    FolderBusy: scans/ph is in use by Slurm job 123 (2 tasks queued or running: squeue --jobs=123); ...
    """
    busy = job_in_queue(out, manifest)
    if busy:
        ident = last_job(manifest)["job_id"]
        raise FolderBusy(f"{out} is in use by {busy}; wait for it to end, or cancel it with "
                         f"scancel {ident}")


def wait_for(out: str, manifest: dict, folders: list[str], stop_file: str, options: SlurmOptions,
             progress, signals, say) -> None:
    """Follow the latest job of the scan until squeue no longer lists it,
    with the progress line of a local scan over `folders`, then mark it
    ended.  When `signals` notes SIGINT, SIGTERM or SIGHUP, `stop_file` is
    created (a task about to start a run starts nothing) and the job is
    cancelled: its runs end after their current block, and the wait goes on
    until the job has left the queue.  When scancel fails, or squeue cannot
    answer many times in a row, the wait stops there (JobNotFollowed: the
    job may go on).

    >>> wait_for("scans/ph", manifest, folders, "scans/ph/.stop", SlurmOptions(),
    ...          sys.stderr, signals, print)                   # doctest: +SKIP
    """
    job = last_job(manifest)
    ident, cluster = job["job_id"], job.get("cluster")
    meter = Progress(folders, progress) if progress is not None else None
    cancelled = False
    failures = 0
    ask_at = 0.0
    lost = None
    while lost is None:
        if signals.received and not cancelled:
            with open(stop_file, "w", encoding="ascii"):
                pass
            cancelled = True
            say(f"{signal.Signals(signals.received).name}: cancelling Slurm job {ident}; its "
                "runs end after their current block")
            try:
                slurm.cancel(ident, cluster)
            except SlurmError as e:
                lost = f"{e}: Slurm job {ident} may go on; cancel it with scancel {ident}"
                break
            ask_at = 0.0
        now = time.monotonic()
        if now >= ask_at:
            ask_at = now + options.poll_seconds
            try:
                active = slurm.active_tasks(ident, cluster)
            except SlurmError as e:
                failures += 1
                if failures >= MAX_FAILED_QUESTIONS:
                    lost = f"{e} ({failures} times in a row): Slurm job {ident} may still run"
                elif failures == 1:
                    say(f"{e}; asking again")
            else:
                failures = 0
                if not active:
                    break
        if meter:
            meter.update()
        time.sleep(0.2)
    if meter:
        meter.update(final=True)
    if lost:
        raise JobNotFollowed(f"{lost}; the summary shows the runs ended so far (collect "
                             "again once the job has ended)")
    job["ended"] = True
    write_manifest(out, manifest)
