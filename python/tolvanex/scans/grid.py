"""The grid of a scan: base parameters, varied values and fixed ones.

A varied parameter takes a list ``a,b,c`` (values taken as typed) or a range
``start:stop:step`` (stop included, in decimal arithmetic, so that
6.5:8.5:0.5 ends at 8.5 exactly); the grid is every combination, the first
varied parameter changing slowest.  Every point is checked as `Parameters`
before anything runs.

>>> expand_values("6.5:7.5:0.5"), expand_values("1e-3, 2e-3")
(['6.5', '7', '7.5'], ['1e-3', '2e-3'])
>>> base = Parameters.read("examples/glutathione.args")
>>> g = Grid(base, {"pH": "7:7.5:0.5", "barrier12": [16.6, 18]}, {"time": 5})
>>> [(p.folder, p.parameters.wanted_time) for p in g.points()][:2]
[('001_pH=7_barrier12=16.6', 5.0), ('002_pH=7_barrier12=18', 5.0)]
>>> Grid(base, {"pH": "seven"}).points()
Traceback (most recent call last):
...
tolvanex.errors.InvalidValue: pH (pH) is 'seven': not a number
"""

from __future__ import annotations

import itertools
import re
from decimal import Decimal, DecimalException
from typing import NamedTuple

from ..errors import InvalidValue
from ..model.parameters import Parameters, argument_text, canonical_name
from ..runs.folder import check_run_trace_name

#: The most values of one range, and the most runs of one grid.
MAX_VALUES = 100000


class GridPoint(NamedTuple):
    folder: str                  # the run folder's name
    values: dict                 # varied name -> value as typed
    parameters: Parameters


def _plain(d: Decimal) -> str:
    d = d.normalize()
    return format(d, "f") if abs(d.adjusted()) < 7 else format(d, "e")


def expand_values(values) -> list[str]:
    """A list or range written as text, or a sequence of values, as the
    list of argument texts."""
    if not isinstance(values, str):
        items = [argument_text(v) for v in (values if hasattr(values, "__iter__") else [values])]
        if not items:
            raise InvalidValue("an empty list of values")
        return items
    text = values.strip()
    if ":" in text:
        return _expand_range(text)
    items = [v.strip() for v in text.split(",")]
    if any(not v or any(c.isspace() for c in v) for v in items):
        raise InvalidValue(f"value list {text!r} has an empty or blank item")
    return items


def _expand_range(text: str) -> list[str]:
    parts = text.split(":")
    if len(parts) != 3:
        raise InvalidValue(f"range {text!r} is not start:stop:step")
    try:
        start, stop, step = (Decimal(p.strip()) for p in parts)
        if not all(d.is_finite() for d in (start, stop, step)):
            raise InvalidValue(f"range {text!r} is not made of finite numbers")
        if step == 0:
            raise InvalidValue(f"range {text!r} has a step of 0")
        if (stop - start) * step < 0:
            raise InvalidValue(f"range {text!r}: the step goes away from the stop")
        count = (stop - start) / step
        if count >= MAX_VALUES:
            raise InvalidValue(f"range {text!r} has more than {MAX_VALUES} values")
        # 6.5 + 3 x 0.5 is 8.0 exactly in decimal, not 7.999... as in binary.
        values = [start + k * step for k in range(int(count) + 1)]
        return [_plain(v) for v in values]
    except DecimalException:
        raise InvalidValue(f"range {text!r} is not made of numbers of a usable size") from None


def folder_name(index: int, width: int, values) -> str:
    """``NNN_name=value_...``, characters other than letters, digits and
    ``.+-`` replaced by ``_``.

    >>> folder_name(7, 3, [("pH", "7.5"), ("barrier12", "1/2")])
    '007_pH=7.5_barrier12=1_2'
    """
    parts = [f"{index:0{width}d}"]
    parts += [f"{name}={re.sub(r'[^A-Za-z0-9.+-]', '_', value)}" for name, value in values]
    return "_".join(parts)


def scan_parameter(name: str, base: Parameters, what: str) -> str:
    """The parameter a scan may vary or set under `name` (`what`: "varied",
    "set", "changed"); the trace file and, outside organomercurial mode,
    the organomercurial concentration are refused."""
    key = canonical_name(name)
    if key == "trace":
        raise InvalidValue(f"the trace file cannot be {what}: each run writes it in its folder")
    if key == "organomercurial" and not base.is_organomercurial:
        raise InvalidValue(f"organomercurial can only be {what} in an organomercurial argument "
                         "list (47 arguments)")
    return key


class Grid:
    """Base `Parameters`, varied values ({name: list or text}) and fixed ones
    ({name: value}); names as `canonical_name` takes them."""

    def __init__(self, base: Parameters, vary=None, fixed=None):
        self.base = base
        self.varied: list[tuple[str, list[str]]] = []
        for name, values in (vary or {}).items():
            key = scan_parameter(name, base, "varied")
            if any(key == n for n, _ in self.varied):
                raise InvalidValue(f"{key} is varied twice")
            try:
                self.varied.append((key, expand_values(values)))
            except ValueError as e:
                raise InvalidValue(f"{key}: {e}") from None
        if len(self) > MAX_VALUES:          # said before a point is built
            raise InvalidValue(f"the grid has {len(self)} runs ("
                               + " x ".join(str(len(v)) for _, v in self.varied)
                               + f"), more than {MAX_VALUES}: split the scan")
        self.fixed: dict[str, str] = {}
        for name, value in (fixed or {}).items():
            key = scan_parameter(name, base, "set")
            if key in self.fixed or any(key == n for n, _ in self.varied):
                raise InvalidValue(f"{key} is given twice")
            self.fixed[key] = argument_text(value)
        self.trace_name = check_run_trace_name(base.trace)

    def __len__(self):
        n = 1
        for _, values in self.varied:
            n *= len(values)
        return n

    def points(self) -> list[GridPoint]:
        """Every point, checked (ValueError naming the parameter and value)."""
        combos = list(itertools.product(*[[(n, v) for v in vals] for n, vals in self.varied]))
        width = max(3, len(str(len(combos))))
        points = []
        for k, combo in enumerate(combos, start=1):
            values = dict(combo)
            parameters = self.base.replace(trace=self.trace_name, **self.fixed, **values)
            points.append(GridPoint(folder_name(k, width, combo), values, parameters))
        return points

    def record(self) -> dict:
        """The grid as scan.json records it (the base's pKa and temperature,
        which its argument list does not hold, among the fixed values)."""
        varied = {n for n, _ in self.varied}
        return {"base_args": self.base.to_args(),
                "varied": [[n, v] for n, v in self.varied],
                "set": {**{n: v for n, v in self.base.conditions.items() if n not in varied},
                        **self.fixed}, "trace_name": self.trace_name}
