"""An explicit list of named cases for a scan: each case is the base
arguments with some values changed, where a grid (every combination of
varied values) does not fit, e.g. two barriers moved together.

A case scan records its cases in ``scan.json`` and names its run folders
``NNN_name``; its summary has a column ``case``.

>>> base = Parameters.read("examples/mera.args")
>>> c = Cases(base, [("base", {}), ("step3_lowered", {"barrier3": "9.4", "barrier4": "16.2"})])
>>> [(p.folder, p.parameters.barrier3) for p in c.points()]
[('001_base', 9.5), ('002_step3_lowered', 9.4)]
>>> Cases(base, [("a", {}), ("a", {})])
Traceback (most recent call last):
...
tolvanex.errors.InvalidValue: case 'a' is given twice
"""

from __future__ import annotations

import re

from ..errors import InvalidValue
from .grid import GridPoint, scan_parameter
from ..model.parameters import Parameters, argument_text
from ..runs.folder import check_run_trace_name

#: The column of a case scan's summary that names the case.
CASE_COLUMN = "case"


class Cases:
    """Base `Parameters`, named cases [(name, {parameter: value})] and values
    fixed for every case ({name: value}); the same face as `tolvanex.scans.grid.Grid`.

    >>> c = Cases(Parameters.read("examples/mera.args"), [("slow", {"barrier1": 12})],
    ...           {"wanted_time": 1})
    >>> len(c), c.record()["cases"], c.points()[0].parameters.wanted_time
    (1, [['slow', {'barrier1': '12'}]], 1.0)
    """

    def __init__(self, base: Parameters, cases, fixed=None):
        self.base = base
        self.cases: list[tuple[str, dict[str, str]]] = []
        for name, changes in cases:
            name = str(name)
            if not re.fullmatch(r"[A-Za-z0-9][A-Za-z0-9.+=_-]*", name):
                raise InvalidValue(f"case name {name!r}: use letters, digits and . + - = _")
            if any(name == n for n, _ in self.cases):
                raise InvalidValue(f"case {name!r} is given twice")
            self.cases.append((name, {scan_parameter(k, base, "changed"): argument_text(v)
                                      for k, v in dict(changes).items()}))
        if not self.cases:
            raise InvalidValue("no cases given")
        self.fixed = {scan_parameter(k, base, "set"): argument_text(v) for k, v in (fixed or {}).items()}
        for name, changes in self.cases:
            both = set(changes) & set(self.fixed)
            if both:
                raise InvalidValue(f"case {name!r} changes {sorted(both)[0]}, which is set for "
                                 "every case")
        self.trace_name = check_run_trace_name(base.trace)

    def __len__(self):
        return len(self.cases)

    def points(self) -> list[GridPoint]:
        """Every case as a run, checked (ValueError naming the case)."""
        width = max(3, len(str(len(self.cases))))
        points = []
        for k, (name, changes) in enumerate(self.cases, start=1):
            try:
                parameters = self.base.replace(trace=self.trace_name, **self.fixed, **changes)
            except ValueError as e:
                raise InvalidValue(f"case {name!r}: {e}") from None
            points.append(GridPoint(f"{k:0{width}d}_{name}", {CASE_COLUMN: name}, parameters))
        return points

    def record(self) -> dict:
        """The cases as scan.json records them (the base's pKa and
        temperature among the fixed values)."""
        return {"base_args": self.base.to_args(), "varied": [],
                "cases": [[n, c] for n, c in self.cases],
                "set": {**self.base.conditions, **self.fixed}, "trace_name": self.trace_name}
