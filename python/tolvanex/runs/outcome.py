"""How a run ended, told from its exit status, its console output and its
trace file: a short code and the program's own message.

Codes: ``converted`` (P above 99 % of the enzyme amount), ``converted, P
stable``, ``P stable`` (going on to twice the time would change P by less
than 0.5 %), ``P stable, long run`` (the same, after billions of
iterations), ``iteration limit``, ``time stood still`` (a block whose
iterations did not advance the simulated time), ``time reached``,
``negative concentration``, ``interrupted (SIGINT)``, ``interrupted (SIGTERM)``,
``failed (exit status N)``, ``stopped before the wanted time``, ``no trace
rows``, ``incomplete trace file``, ``running or killed``, ``not run``,
``unknown`` (a trace file read without its console output).

Every code is one of three states (`state`): the run ``ended well`` (its
values stand), ``failed`` (it ended without values to trust: a failure, an
interruption, a negative concentration, time that stood still, a damaged
file), or ``not ended`` (not run, or running or killed: a resume runs it).

>>> stop_of_messages(["Extending the simulation to twice the current time would change P ..."])
Stop(code='P stable', message='Extending the simulation to twice the current time would change P ...')
>>> read_console("\\n average time  0.000e+00   target2 1.000e+01 \\nSimulated time did not "
...              "advance during the last block. The computation has therefore been stopped\\n")[0]
['Simulated time did not advance during the last block. The computation has therefore been stopped']
"""

from __future__ import annotations

import os
import re
from typing import NamedTuple

STOP_MESSAGES = [
    (re.compile(r"\. Substrate has been almost completely converted\.\s+The computation"),
     "converted"),
    (re.compile(r"\. Substrate has been almost completely converted\.\s+Extending"),
     "converted, P stable"),
    (re.compile(r"^Extending the simulation to twice the current time"), "P stable"),
    (re.compile(r"More than (2500|3000|10000) million iterations"), "P stable, long run"),
    (re.compile(r"More than 30000 million iterations"), "iteration limit"),
    (re.compile(r"^Simulated time did not advance"), "time stood still"),
]
MESSAGE_START = re.compile(
    r"^(?:\. Substrate has been|Extending the simulation|More than \d+ million"
    r"|Simulated time did not advance)", re.M)
BLOCK_REPORT_END = re.compile(r"\n average time  \S+   target2 \S+ ")
ITERATIONS_LINE = re.compile(r"^\s*(-?\d+)  iterations were performed for", re.M)
SIGNALS = {130: "SIGINT", 143: "SIGTERM"}

#: Codes of a run that has not ended: it was never started, or it is still
#: running or was killed before it could record its exit status.
NOT_ENDED = ("not run", "running or killed")
#: Codes (or their starts) of a run that ended without values to trust.
FAILED = ("negative concentration", "interrupted", "failed", "no trace rows",
          "incomplete trace file", "unreadable", "stopped before the wanted time",
          "time stood still", "solver failed")
ENDED_WELL, FAILED_STATE, NOT_ENDED_STATE = "ended well", "failed", "not ended"


def state(code: str) -> str:
    """Whether a run whose stop is `code` ended well, failed or has not
    ended: the one verdict behind the tools' exit statuses.

    >>> [state(c) for c in ("converted", "time stood still", "not run", "iteration limit",
    ...                     "negative concentration; converted")]
    ['ended well', 'failed', 'not ended', 'ended well', 'failed']
    """
    parts = [p.strip() for p in str(code).split(";")]
    if any(p in NOT_ENDED for p in parts):
        return NOT_ENDED_STATE
    if any(p.startswith(f) for p in parts for f in FAILED):
        return FAILED_STATE
    return ENDED_WELL


class Stop(NamedTuple):
    """How a run ended: a short code and the program's message (or "")."""

    code: str
    message: str = ""

    def __str__(self):
        return self.code


def read_console(text: str) -> tuple[list[str], int | None]:
    """The termination messages printed after the last block report, and the
    iterations of all blocks (the sum of the block reports' counts).

    >>> read_console(" 300000  iterations were performed for ...\\n average time  1e-06   target2 1e+01 \\n. Substrate has been almost completely converted.  The computation has therefore been stopped\\n")
    (['. Substrate has been almost completely converted. The computation has therefore been stopped'], 300000)
    """
    counts = [int(m) for m in ITERATIONS_LINE.findall(text)]
    ends = list(BLOCK_REPORT_END.finditer(text))
    messages = []
    if ends:
        tail = text[ends[-1].end():]
        starts = [m.start() for m in MESSAGE_START.finditer(tail)]
        for a, b in zip(starts, starts[1:] + [len(tail)]):
            messages.append(" ".join(tail[a:b].split()))
    return messages, (sum(counts) if counts else None)


CONSOLE_TIME = re.compile(r"^\s*time = (\S+)", re.M)
CONSOLE_MERB = re.compile(r"^\s*PHMB=\s*\S+.*?\bMerB=\s*(\S+)", re.M)


def console_belongs(text: str, row_times: list[str]) -> bool:
    """Whether a console output is that of the run whose rows after time 0
    have these times (as printed): every block reports its time there.

    >>> console_belongs(" time = 2.5e-05 \\n time = 3.0e-05 ", ["2.5e-05", "3.0e-05"])
    True
    """
    return bool(row_times) and CONSOLE_TIME.findall(text) == list(row_times)


def console_enzyme(text: str) -> float | None:
    """The free MerB an organomercurial run started with, as its console
    output reports it (``PHMB= ... MerB=...``); None when it does not.

    >>> console_enzyme(" PHMB= 2.0000000000e-06 7 \\t MerB=1.0000000000e-06 ")
    1e-06
    """
    m = CONSOLE_MERB.search(text)
    try:
        return float(m.group(1)) if m else None
    except ValueError:
        return None


def stop_of_messages(messages: list[str], error: str | None = None) -> Stop | None:
    """The stop a run's termination messages (and guard error) tell of."""
    names, texts = [], []
    if error:
        names.append("negative concentration")
        texts.append(error)
    for m in messages:
        for pattern, name in STOP_MESSAGES:
            if pattern.search(m):
                names.append(name)
                break
        else:
            names.append("stopped")
        texts.append(m)
    if not names:
        return None
    return Stop("; ".join(dict.fromkeys(names)), " | ".join(texts))


def judge(exit_status: int | None, started: bool, messages: list[str] | None,
          error: str | None, rows: int, dropped_rows: int, end_time: float | None,
          wanted_time: float | None, stderr_first_line: str = "",
          converted: bool | None = None, exit_recorded: bool = True) -> Stop:
    """The stop of a run from what its folder shows.

    `messages` is None when there is no console output to read (a trace file
    read alone); `converted` says whether P passed 99 % of the enzyme, which
    tells the stop when neither the messages nor the wanted time do.
    `exit_recorded` False: the folder keeps no exit status at all (a run
    started by hand), so its absence says nothing.

    >>> judge(143, True, [], None, 12, 0, 3.2, 1e6)
    Stop(code='interrupted (SIGTERM)', message='')
    >>> judge(0, True, [], None, 12, 0, 5.08, 5.0)
    Stop(code='time reached', message='')
    """
    if exit_status is None and exit_recorded and (messages is not None or rows == 0):
        return Stop("running or killed" if started else "not run")
    if exit_status in SIGNALS:
        return Stop(f"interrupted ({SIGNALS[exit_status]})", stderr_first_line)
    if exit_status not in (None, 0):
        return Stop(f"failed (exit status {exit_status})", stderr_first_line)
    if rows == 0:
        return Stop("no trace rows")
    if dropped_rows:
        return Stop("incomplete trace file")
    told = stop_of_messages(messages or [], error)
    if told:
        return told
    if wanted_time is not None and (end_time >= wanted_time or not wanted_time > 0):
        return Stop("time reached")
    if messages is None or wanted_time is None:
        return Stop("converted") if converted else Stop("unknown")
    return Stop("stopped before the wanted time")


def stop_without_trace(folder: str, exit_status: int | None,
                       wanted_time: float | None = None) -> Stop:
    """How the run of a folder ended that has no trace file to read: not
    run, or running or killed (no exit status; whether the console output
    was begun tells which), interrupted or failed (by its exit status, with
    the first line of its standard error), or no trace rows (status 0).

    >>> stop_without_trace("/no/such/run", None)
    Stop(code='not run', message='')
    """
    from .folder import CONSOLE, STDERR

    if exit_status not in (None, 0):
        try:
            with open(os.path.join(folder, STDERR), encoding="latin-1") as f:
                first = f.readline().strip()
        except OSError:
            first = ""
        return judge(exit_status, True, [], None, 0, 0, None, None, first)
    started = os.path.exists(os.path.join(folder, CONSOLE))
    return judge(exit_status, started, None, None, 0, 0, None, wanted_time)
