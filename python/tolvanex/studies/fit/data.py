"""Measured time courses for a fit: a CSV file read and checked against the
arguments of the run it was measured under.

The file has a column ``time_s`` and one or more observables, each a
species by its label (``P``, ``A``, ``S``, ``C`` ... ``Q``, ``O1`` ...,
``apoMerB``, in mol/L), by the CSV export's name (``A_mol_per_L``, the
product as ``P_HgSR2_mol_per_L`` or ``P_mol_per_L``), or as
``<label>_fraction`` (a fraction of the enzyme amount).  A column
``sigma`` gives each point's standard deviation in the observable's unit,
``<observable>_sigma`` one observable's (taken before ``sigma``); either
every observable has one or none does (then every point weighs the same).  Lines starting with ``#``
are comments; case does not matter in names.

>>> import io
>>> from tolvanex.model.parameters import Parameters
>>> p = Parameters.read("examples/glutathione.args")
>>> d = read_data(io.StringIO("time_s,P_fraction,sigma\\n10,0.2,0.01\\n20,0.4,0.01\\n"), p)
>>> d.observables[0].column, d.observables[0].label, d.weighted, d.points
('P_fraction', 'P', True, 2)
>>> read_data(io.StringIO("time_s,X\\n1,0\\n"), p, name="x.csv")
Traceback (most recent call last):
...
tolvanex.errors.InvalidValue: x.csv: unknown column 'X'; the observables are a species label (P, A, S, C ... Q, O1, apoMerB ...), its CSV export name (P_HgSR2_mol_per_L, A_mol_per_L ...) or LABEL_fraction, with sigma or OBSERVABLE_sigma
"""

from __future__ import annotations

import csv
import io
import math
from typing import NamedTuple

import numpy as np
import pandas as pd

from ...errors import InvalidValue, UnreadableInput
from ...model.exact import STATE
from ...model.species import column_name

TIME = "time_s"
SIGMA = "sigma"
#: The species a data file may observe: the solved state and apoMerB.
LABELS = tuple(STATE) + ("apoMerB",)


class Observable(NamedTuple):
    """One measured column: its name in the file, the species and whether
    it is a fraction of the enzyme amount (else an amount in mol/L)."""

    column: str
    label: str
    fraction: bool

    @property
    def unit(self) -> str:
        return "fraction of the enzyme amount" if self.fraction else "mol/L"


def observable(column: str, acceptor_type) -> Observable | None:
    """The observable a column name stands for, None when it is none.

    >>> observable("P_HgSR2_mol_per_L", 3), observable("a_FRACTION", 3)
    (Observable(column='P_HgSR2_mol_per_L', label='P', fraction=False), Observable(column='a_FRACTION', label='A', fraction=True))
    >>> observable("P_HgMerA_mol_per_L", 3) is None
    True
    """
    key = column.lower()
    for label in LABELS:
        names = {label.lower(): False, f"{label.lower()}_fraction": True,
                 column_name(label).lower(): False,
                 column_name(label, acceptor_type).lower(): False}
        if key in names:
            return Observable(column, label, names[key])
    return None


class DataSet:
    """A checked data file with the arguments it goes with.

    ``times`` (s, increasing), ``values`` and ``sigmas`` (rows: times,
    columns: ``observables``, each in the observable's unit; ``sigmas``
    None when the file gives none), ``scales`` (mol/L per unit: the enzyme
    amount for an amount, 1 for a fraction), ``parameters``, ``name``."""

    def __init__(self, parameters, times, observables, values, sigmas, name: str):
        self.parameters, self.name = parameters, name
        self.times = np.asarray(times, dtype=float)
        self.observables = tuple(observables)
        self.values = np.asarray(values, dtype=float).reshape(len(self.times), -1)
        self.sigmas = None if sigmas is None else np.asarray(sigmas, dtype=float).reshape(
            self.values.shape)
        self.scales = np.array([1.0 if o.fraction else parameters.enzyme
                                for o in self.observables])

    @property
    def weighted(self) -> bool:
        """Whether the file gives every point's standard deviation."""
        return self.sigmas is not None

    @property
    def points(self) -> int:
        return self.values.size

    def in_fractions(self, amounts_by_label) -> np.ndarray:
        """The observables (times x observables) as fractions of the enzyme
        amount, from amounts (mol/L) given by label."""
        return np.column_stack([amounts_by_label[o.label] / self.parameters.enzyme
                                for o in self.observables])

    def frame(self) -> pd.DataFrame:
        """The data as read: ``time_s``, the observables and their sigmas."""
        frame = pd.DataFrame(self.values, columns=[o.column for o in self.observables])
        if self.weighted:
            for k, o in enumerate(self.observables):
                frame[o.column + "_" + SIGMA] = self.sigmas[:, k]
        frame.insert(0, TIME, self.times)
        return frame


def _number(text: str, where: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise InvalidValue(f"{where}: {text.strip()!r} is not a number") from None
    if math.isnan(value):
        raise InvalidValue(f"{where}: not a number (NaN)")
    if not math.isfinite(value):
        raise InvalidValue(f"{where}: {text.strip()} is not a finite number")
    if value < 0:
        raise InvalidValue(f"{where}: {text.strip()} is negative")
    return value


def _rows(source, name: str) -> tuple[list[str], list[tuple[int, list[str]]]]:
    if isinstance(source, pd.DataFrame):
        text = source.to_csv(index=False)
        source = io.StringIO(text)
    try:
        if isinstance(source, str):
            with open(source, encoding="utf-8-sig", newline="") as f:   # a BOM from a spreadsheet
                lines = f.read().splitlines()
        else:
            lines = source.read().splitlines()
    except UnicodeDecodeError:
        raise InvalidValue(f"{name}: not a text file (it is not UTF-8)") from None
    except IsADirectoryError:
        raise InvalidValue(f"{name}: a folder, not a data file") from None
    except OSError as e:
        raise UnreadableInput.of(e) from None
    numbered = [(n, line) for n, line in enumerate(lines, start=1)
                if line.strip() and not line.lstrip().startswith("#")]
    if not numbered:
        raise InvalidValue(f"{name}: no header line")
    (_, head), body = numbered[0], numbered[1:]
    header = [c.strip() for c in next(csv.reader([head]))]
    return header, [(n, [c for c in next(csv.reader([line]))]) for n, line in body]


def read_data(source, parameters, name: str | None = None) -> DataSet:
    """Read and check a data file (a path, a text stream or a DataFrame)
    measured under `parameters`; raises InvalidValue (one line, naming the
    file and the line) for anything that cannot be meant."""
    name = name or (source if isinstance(source, str) else "the data")
    header, rows = _rows(source, name)
    lowered = [c.lower() for c in header]
    if TIME not in lowered:
        raise InvalidValue(f"{name}: no column {TIME} (the header is {','.join(header)})")
    seen = set()
    for c in lowered:
        if c in seen:
            raise InvalidValue(f"{name}: column {c!r} given twice")
        seen.add(c)
    observables, sigma_of, general = [], {}, None
    for k, c in enumerate(header):
        if c.lower() == TIME:
            continue
        if c.lower() == SIGMA:
            general = k
        elif c.lower().endswith("_" + SIGMA):
            sigma_of[c[:-len(SIGMA) - 1].lower()] = k
        else:
            o = observable(c, parameters.acceptor_type)
            if o is None:
                raise InvalidValue(
                    f"{name}: unknown column {c!r}; the observables are a species label (P, A, "
                    f"S, C ... Q, O1, apoMerB ...), its CSV export name "
                    f"({column_name('P', parameters.acceptor_type)}, A_mol_per_L ...) or "
                    f"LABEL_fraction, with {SIGMA} or OBSERVABLE_{SIGMA}")
            observables.append((k, o))
    if not observables:
        raise InvalidValue(f"{name}: no observable column beside {TIME}")
    for key in sigma_of:
        if key not in {o.column.lower() for _, o in observables}:
            raise InvalidValue(f"{name}: column {key}_{SIGMA} is the sigma of no observable "
                               "in the file")
    with_sigma = [o for _, o in observables if general is not None or o.column.lower() in sigma_of]
    if with_sigma and len(with_sigma) < len(observables):
        missing = next(o.column for _, o in observables if o not in with_sigma)
        raise InvalidValue(f"{name}: {missing} has no sigma while others have one; give every "
                           "observable a sigma, or none")
    time_index = lowered.index(TIME)
    times, values, sigmas = [], [], []
    for n, cells in rows:
        if len(cells) != len(header):
            raise InvalidValue(f"{name}: line {n} has {len(cells)} fields, the header "
                               f"{len(header)}")
        where = f"{name}: line {n}"
        times.append(_number(cells[time_index], f"{where}, {TIME}"))
        values.append([_number(cells[k], f"{where}, {o.column}") for k, o in observables])
        if with_sigma:
            row = []
            for k, o in observables:
                j = sigma_of.get(o.column.lower(), general)
                s = _number(cells[j], f"{where}, {header[j]}")
                if s <= 0:
                    raise InvalidValue(f"{where}, {header[j]}: a sigma must be positive, not "
                                       f"{cells[j].strip()}")
                row.append(s)
            sigmas.append(row)
    _check_times(np.asarray(times), parameters, name)
    if not parameters.enzyme > 0:
        raise InvalidValue(f"{name}: the enzyme amount of its arguments is 0: nothing to fit")
    return DataSet(parameters, times, [o for _, o in observables], values,
                   sigmas if with_sigma else None, name)


def _check_times(times: np.ndarray, parameters, name: str) -> None:
    if times.size == 0:
        raise InvalidValue(f"{name}: no data rows")
    step = np.flatnonzero(np.diff(times) <= 0)
    if step.size:
        k = int(step[0])
        raise InvalidValue(f"{name}: times do not increase: {times[k]:g} s is followed by "
                           f"{times[k + 1]:g} s")
    if times[-1] > parameters.wanted_time:
        raise InvalidValue(f"{name}: data at {times[-1]:g} s, beyond the wanted time "
                           f"{parameters.wanted_time:g} s of its arguments")
    if not times[-1] > 0:
        raise InvalidValue(f"{name}: no point after time 0")
