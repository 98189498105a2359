"""One run of a program: start it in a folder of its own, or load a
finished one, and ask it for values.

>>> import tolvanex
>>> p = tolvanex.Parameters.read("examples/mera.args")
>>> r = tolvanex.run(p.replace(pH=7.2))                      # doctest: +SKIP
>>> r.stop.code, round(r.time_to(0.5), 4)                    # doctest: +SKIP
('converted', 0.0011)
>>> r.at([1e-3, 2e-3])[["A", "P"]]                           # doctest: +SKIP
"""

from __future__ import annotations

import math
import os
import shutil
import signal
import subprocess
import tempfile
import time
import weakref

import numpy as np
import pandas as pd

from . import folder as rf
from . import values
from ..atomic import refuse_same_files
from ..errors import InvalidValue, OutputExists, TolvanexError
from .file_format import FileFormatError, select_run
from .flux_file import flux_mismatch, matching_flux_run, read_flux
from .frames import flux_frame, trace_frame
from ..model.parameters import Parameters
from .outcome import Stop, console_belongs, console_enzyme, judge, read_console
from .programs import find_program
from .trace_file import read_trace


class RunError(TolvanexError, RuntimeError):
    """A program ended with a non-zero exit status.

    `exit_status`, `stderr` (its standard error) and `folder` tell more.
    """

    def __init__(self, message: str, exit_status: int, stderr: str, folder: str):
        super().__init__(message)
        self.exit_status, self.stderr, self.folder = exit_status, stderr, folder
        self.temporary = False


class Run:
    """A finished (or stopped) run: its tables, how it ended, and values at
    exact times.

    ``trace``: DataFrame, index ``time_s`` (s), one column per species
    (mol/L).  ``fluxes``: DataFrame of the cumulative net fluxes
    ``total_flux1`` ... ``total_flux37`` (mol/L), or None without a flux
    file.  ``stop``: a `Stop` (code and the program's message).
    ``end_time``: the last row's time (s).  ``iterations``: the iterations
    of all blocks (None without console output).  ``parameters``: the
    `Parameters` from ``arguments.args`` or from the manifest of the scan the
    folder belongs to, else None (``recorded`` then holds what the trace file
    itself records: pH, enzyme, acceptor, barriers, at three digits);
    ``parameters_from`` names where they were read.

    >>> r = Run.load("run/mera")                       # doctest: +SKIP
    >>> r.trace.columns[:4].tolist()                   # doctest: +SKIP
    ['A', 'S', 'C', 'D']
    """

    def __init__(self, trace_run, trace_path, flux_run=None, folder=None, parameters=None,
                 console=None, exit_status=None, stderr="", program=None, wall_s=None,
                 runs_in_file=1, exit_recorded=True):
        self.raw_trace, self.raw_flux = trace_run, flux_run
        self.trace_path, self.folder = trace_path, folder
        self.parameters, self.program, self.exit_status = parameters, program, exit_status
        self.wall_s, self.runs_in_file = wall_s, runs_in_file
        self.parameters_from = None     # where the arguments were read (Run.load)
        self.flux_path = None           # the flux file read (Run.load)
        self.temporary = False          # its folder goes with it (run() without a folder)
        self.trace = trace_frame(trace_run.table)
        self.fluxes = flux_frame(flux_run.table) if flux_run is not None else None
        self.units = {"time_s": "s", **{c: "mol/L" for c in self.trace.columns},
                      **({c: "mol/L" for c in self.fluxes.columns} if self.fluxes is not None else {})}
        self.recorded = {"pH": trace_run.pH, "enzyme": trace_run.header.enzyme,
                         "acceptor": trace_run.header.substrate,
                         "barriers": dict(trace_run.header.barriers)}
        messages, self.iterations = read_console(console) if console is not None else (None, None)
        self._console_enzyme = console_enzyme(console) if console is not None else None
        self.stop: Stop = judge(
            exit_status, console is not None or exit_status is not None, messages,
            trace_run.error, len(trace_run.rows), trace_run.dropped_rows,
            self.end_time, self.wanted_time, stderr.strip().split("\n")[0] if stderr else "",
            converted=self._converted(), exit_recorded=exit_recorded)
        self._interpolant = None

    # -- loading ---------------------------------------------------------------
    @classmethod
    def load(cls, folder_or_trace: str, run: int = -1, warn=None, *, arguments=None,
             program: str | None = None, fluxes=True, flux_run: int | None = None) -> "Run":
        """Read a finished run from its folder or its trace file; `run` picks
        one of several runs appended to one trace file (1 the first, -1 the
        last).  `warn` gets a message for every incomplete row dropped.

        What the folder records (`tolvanex.runs.folder.read_records`: the
        arguments, the program, the exit status and console output)
        describes the first run of its trace file.  `arguments` (an
        arguments file or `Parameters`) and `program` (a name or path) stand
        in for the records.  `fluxes`: True takes the flux-file run of the
        folder's flux_analysis.txt that belongs to the chosen run (if any),
        False none, a path that file's (then `flux_run` may pick one by its
        number, and a flux run that does not belong is refused).

        >>> Run.load("scans/ph/001_pH=6.5").stop.code           # doctest: +SKIP
        'converted'
        >>> Run.load("run/mera/mera.trace", run=1)              # doctest: +SKIP
        <Run run/mera/mera.trace: unknown, 12 rows to 2.1e-05 s>
        """
        path = os.fspath(folder_or_trace)
        if not os.path.exists(path):
            raise rf.RunNotFound(f"{path}: no such run folder or trace file")
        if os.path.isdir(path):
            folder, trace_path = path, None
        else:
            folder, trace_path = os.path.dirname(path) or ".", path
        records = rf.read_records(folder, warn)
        parameters, source = records.parameters, records.source
        if arguments is not None:
            parameters = arguments if isinstance(arguments, Parameters) else \
                Parameters.read(arguments, check=False)
            source = arguments if isinstance(arguments, str) else "the arguments given"
        if trace_path is None:
            trace_path = rf.find_trace(folder, parameters, records.trace_name)
        if os.path.isdir(trace_path):
            raise rf.UnreadableFile(f"{trace_path} is a folder, not a trace file")
        runs = read_trace(trace_path, warn)
        chosen = select_run(runs, run, trace_path)
        if chosen.table is None or not chosen.rows:
            raise FileFormatError(f"{trace_path}: run {chosen.number} has no "
                                  + ("table" if chosen.table is None else "rows"))
        named = records.parameters is not None and \
            os.path.basename(records.parameters.trace) == os.path.basename(trace_path)
        own = chosen.number == 1 and (named or (records.parameters is None and os.path.exists(
            os.path.join(folder, rf.EXIT_STATUS))))
        if arguments is None and not (own and named):
            parameters, source = None, None   # the records are another run's
        flux = _flux_run(trace_path, chosen, runs, folder, fluxes, flux_run, warn)
        console = stderr = None
        if own:
            console = _read_text(os.path.join(folder, rf.CONSOLE))
            stderr = _read_text(os.path.join(folder, rf.STDERR)) or ""
        else:       # a folder where the program was run by hand: its console, if it is this run's
            console = _read_text(os.path.join(folder, rf.CONSOLE))
            if console is not None and not console_belongs(console, [r[0] for r in chosen.rows[1:]]):
                console = None
        loaded = cls(chosen, trace_path, flux, folder, parameters, console,
                     rf.read_exit_status(folder) if own else None, stderr or "",
                     program=program or (records.program if own else None),
                     wall_s=rf.read_wall_seconds(folder) if own else None,
                     runs_in_file=len(runs), exit_recorded=own)
        loaded.parameters_from = source
        loaded.flux_path = None if flux is None else (
            os.path.join(folder, rf.FLUX) if fluxes is True else os.fspath(fluxes))
        return loaded

    # -- facts -------------------------------------------------------------------
    @property
    def end_time(self) -> float:
        """The time of the last row (s)."""
        return float(self.trace.index[-1])

    @property
    def wanted_time(self) -> float | None:
        """The simulated time asked for (s), when the arguments are known."""
        return self.parameters.wanted_time if self.parameters is not None else None

    @property
    def enzyme(self) -> float | None:
        """The enzyme amount (mol/L) that conversion is measured against:
        HgMerB at the start, or free MerB in organomercurial mode (which the
        trace file does not record: from the arguments, else from the
        folder's console output when it is this run's)."""
        if self.parameters is not None:
            return self.parameters.enzyme
        a0 = float(self.trace["A"].iloc[0])
        return a0 if a0 > 0 else self._console_enzyme

    def _converted(self) -> bool | None:
        e = self.enzyme
        return None if e is None else bool(self.trace["P"].iloc[-1] > 0.99 * e)

    def _amount(self) -> float:
        if self.enzyme is None:
            raise InvalidValue("the enzyme amount of this run is not known (an organomercurial"
                             " run whose arguments are not recorded); give enzyme=")
        return self.enzyme

    # -- values at exact times ---------------------------------------------------
    @property
    def first_row_time(self) -> float:
        """The time of the first row after time 0 (s; NaN when there is
        none): the rows resolve no value before it."""
        later = self.trace.index[self.trace.index > 0]
        return float(later[0]) if len(later) else math.nan

    def unresolved(self, time: float) -> str:
        """Why the rows give no value at `time` (s) when it lies between
        time 0 and the first row after it, else ''."""
        first = self.first_row_time
        if 0 < time < first:
            return (f"{time:g} s is before the run's first row after time 0 ({first:.4g} s): "
                    "not resolved by the rows")
        return ""

    def at(self, times):
        """Every species at the times asked (s), interpolated between rows
        (`tolvanex.runs.values`); a row's own time gives the row's own values:
        a Series for one time, a DataFrame indexed ``time_s`` for several.
        A time between 0 and the first row after it gives NaN (`unresolved`
        says why).  Raises ValueError for a time beyond the last row or
        negative.

        >>> r.at([5.0, 10.0])[["P", "apoMerB"]]                  # doctest: +SKIP
                           P       apoMerB
        time_s
        5.0     3.100601e-08  3.100601e-08
        10.0    9.732537e-08  9.732537e-08
        """
        if self._interpolant is None:
            self._interpolant = values.Interpolant(self.trace.index.to_numpy(),
                                                    self.trace.to_numpy())
        q = np.atleast_1d(np.asarray(times, dtype=float))
        frame = pd.DataFrame(self._interpolant(q), columns=self.trace.columns,
                             index=pd.Index(q, name="time_s"))
        return frame.iloc[0] if np.ndim(times) == 0 else frame

    def elasticity(self, time: float, species: str = "P") -> float:
        """d ln(species) / d ln(time) at `time` (s), on the interpolant of
        `at`: how much a species grows, relatively, for a relative step in
        time.  With every rate constant multiplied by one factor λ a run's
        curves only shift in log time, so this is also d ln(value) / d ln λ.

        >>> r.elasticity(10.0)                                   # doctest: +SKIP
        1.43...
        """
        self.at(time)                               # builds the interpolant, checks the time
        column = self.trace.columns.get_loc(species)
        value = float(self._interpolant(time)[0][column])
        if value == 0:
            return math.nan
        return float(self._interpolant.log_slope(float(time))[column]) / value

    def time_to(self, fraction: float, species: str = "P", enzyme: float | None = None) -> float:
        """The first time (s) at which `species` reaches `fraction` of the
        enzyme amount (t50 is ``time_to(0.5)``); NaN when the run never gets
        there, or gets there before its first row after time 0.

        >>> r.time_to(0.5), r.time_to(0.9)                       # doctest: +SKIP
        (38.3583093565817, 110.20781997939419)
        """
        return values.time_to(self.trace.index.to_numpy(), self.trace[species].to_numpy(),
                               fraction, enzyme if enzyme is not None else self._amount())

    def initial_rate(self, species: str = "P", fraction: float = 0.01,
                     enzyme: float | None = None) -> float:
        """Product formed per second (mol/L/s) from time 0 until it first
        reaches `fraction` (1 %) of the enzyme amount (`tolvanex.runs.values.initial_rate`).

        >>> r.initial_rate()                                     # doctest: +SKIP
        3.740064e-09
        """
        return values.initial_rate(self.trace.index.to_numpy(), self.trace[species].to_numpy(),
                                    enzyme if enzyme is not None else self._amount(), fraction)

    def plot(self, path: str | None = None, **options) -> str:
        """Draw the run as the plot tool does (`tolvanex.plots.run_picture.draw`:
        options normalise, enzyme, title, species, dpi, linear_time, floor);
        the picture goes to `path` (PNG, SVG or PDF by its extension), by
        default beside the trace file as PNG (in the working folder for a
        run in a temporary folder, which goes with the run).

        >>> r.plot("glutathione.pdf", normalise=True, species="A,S,P")  # doctest: +SKIP
        'glutathione.pdf'
        """
        from ..plots import run_picture as plotting
        return plotting.draw_run(self, path, **options)

    def to_csv(self, path: str, fluxes: bool = False, raw_labels: bool = False) -> str:
        """Write the concentration table (with ``fluxes=True`` the table of
        cumulative net fluxes) as CSV, as ``tolvanex-plot --csv`` does: a
        header with units (``time_s``, ``A_mol_per_L`` ...; the product
        named for the acceptor type), the numbers exactly as in the file.

        >>> r.to_csv("mera.csv")                                 # doctest: +SKIP
        'mera.csv'
        """
        from ..export import run_csv as csv_export
        refuse_same_files({"the CSV file": path}, {"the trace file": self.trace_path,
                                                   "the flux file": self.flux_path})
        if fluxes:
            if self.raw_flux is None:
                raise InvalidValue(f"{self.trace_path}: this run has no flux table")
            csv_export.write_flux_csv(self.raw_flux, path, raw_labels)
        else:
            acceptor_type = self.parameters.acceptor_type if self.parameters else None
            csv_export.write_trace_csv(self.raw_trace, path, raw_labels, acceptor_type)
        return path

    def __repr__(self):
        return (f"<Run {self.trace_path}: {self.stop.code}, {len(self.trace)} rows"
                f" to {self.end_time:g} s>")


def _read_text(path: str) -> str | None:
    try:
        with open(path, encoding="latin-1") as f:
            return f.read()
    except (FileNotFoundError, IsADirectoryError):
        return None


def _flux_run(trace_path, chosen, runs, folder, fluxes, number, warn):
    """The flux-file run that belongs to trace-file run `chosen` (see `Run.load`)."""
    if fluxes is False:
        return None
    path = os.path.join(folder, rf.FLUX) if fluxes is True else os.fspath(fluxes)
    if fluxes is True and not os.path.isfile(path):
        return None
    flux_runs = read_flux(path, warn)
    if number is None:
        found = matching_flux_run(trace_path, chosen, runs, flux_runs, warn)
        if found is None and fluxes is not True:
            raise FileFormatError(f"{path} holds no run whose times match run {chosen.number}"
                                  f" of {trace_path}; pick one with --flux-run N")
    else:
        found = select_run(flux_runs, number, path)
    if found is not None and fluxes is not True:
        if not found.rows:
            raise FileFormatError(f"run {found.number} of {path} has no flux rows")
        mismatch = flux_mismatch(chosen, found)
        if mismatch:
            raise FileFormatError(f"run {found.number} of {path} does not belong to run "
                                  f"{chosen.number} of {trace_path}: {mismatch}")
    return found


def run(parameters, program: str = "tolvanex", folder: str | None = None) -> Run:
    """Run a program on `parameters` (a `Parameters` or an arguments file) in
    a folder of its own and return the `Run`.

    The parameters are checked before anything runs.  `folder` is created
    when missing; a folder that already holds the trace file or
    flux_analysis.txt is refused, since the programs append to them.  With
    `folder` None the run goes in a fresh temporary folder that lives as
    long as the returned `Run` (or the RunError) does, and is removed with
    it, at the latest when Python exits: give a folder to keep the files.
    The trace file is written in the folder under its base name.  Raises
    RunError when the program ends with a non-zero status, and
    InvalidValue, before anything runs, for a pKa or temperature other than
    the programs' (those are for `tolvanex.solve`).

    >>> r = run("examples/glutathione.args", folder="run/glutathione")   # doctest: +SKIP
    >>> r.stop                                                            # doctest: +SKIP
    Stop(code='converted', message='. Substrate has been almost completely converted. ...')
    """
    if not isinstance(parameters, Parameters):
        parameters = Parameters.read(parameters)
    parameters.check()
    parameters.check_for_programs()
    path = find_program(program)
    parameters = parameters.replace(trace=rf.check_run_trace_name(parameters.trace))
    temporary = folder is None
    if temporary:
        folder = tempfile.mkdtemp(prefix="tolvanex-run-")
        try:
            return _owning(_run_in(parameters, path, folder), folder)
        except RunError as e:
            raise _owning(e, folder) from None
        except BaseException:
            shutil.rmtree(folder, ignore_errors=True)
            raise
    else:
        os.makedirs(folder, exist_ok=True)
        there = rf.has_output(folder, parameters.trace)
        if there:
            raise OutputExists(f"{there} exists already; the program would append to it:"
                                  " give a folder of its own")
    return _run_in(parameters, path, folder)


def _owning(thing, folder: str):
    """`thing` (a Run or a RunError) with the temporary `folder` removed
    when it goes (or when Python exits)."""
    thing.temporary = True
    weakref.finalize(thing, shutil.rmtree, folder, True)
    return thing


def _run_in(parameters, path: str, folder: str) -> Run:
    parameters.write(os.path.join(folder, rf.ARGUMENTS), comment=f"run with {path}")
    status = _execute(path, parameters.to_args(), folder)
    if status != 0:
        stderr = _read_text(os.path.join(folder, rf.STDERR)) or ""
        first = stderr.strip().split("\n")[0]
        raise RunError(f"{os.path.basename(path)} ended with exit status {status}"
                       + (f": {first}" if first else "") + f" (in {folder})",
                       status, stderr, folder)
    return Run.load(folder)


def _execute(path: str, words: list[str], folder: str) -> int:
    """Run the program in the folder, writing the run folder's files; an
    interrupt reaches the program too, which ends after its current block:
    wait for it, record its status, then pass the interrupt on."""
    start = time.time()
    with open(os.path.join(folder, rf.CONSOLE), "wb") as out, \
            open(os.path.join(folder, rf.STDERR), "wb") as err:
        proc = subprocess.Popen([path] + words, cwd=folder, stdout=out, stderr=err,
                                stdin=subprocess.DEVNULL)
        interrupted = False
        while True:
            try:
                status = proc.wait()
                break
            except KeyboardInterrupt:
                interrupted = True
                if proc.poll() is None:
                    proc.send_signal(signal.SIGINT)
    with open(os.path.join(folder, rf.TIMES), "w", encoding="ascii") as f:
        f.write(f"{start:.6f}\n{time.time():.6f}\n")
    status = 128 - status if status < 0 else status
    with open(os.path.join(folder, rf.EXIT_STATUS), "w", encoding="ascii") as f:
        f.write(f"{status}\n")
    if interrupted:
        raise KeyboardInterrupt
    return status


__all__ = ["Run", "RunError", "run"]
