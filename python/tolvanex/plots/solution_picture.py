"""The picture of an exact solution (`tolvanex.Solution`), drawn as a run's
picture is (`tolvanex.plots.run_picture`): the species at every step of the
solver in the panels of a run, the cumulative net fluxes in the third, and a
title that names the exact engine, the conditions and the arguments file.
"""

from __future__ import annotations

import os

from . import choices
from .run_picture import draw
from ..model.species import TRACE_COLUMN_OF
from ..runs.file_format import RunHeader, Table
from ..runs.flux_file import FluxRun
from ..runs.trace_file import TraceRun


def _table(frame, labels) -> Table:
    return Table(columns=["Time"] + labels,
                 rows=[[repr(float(t))] + [repr(float(v)) for v in row]
                       for t, row in zip(frame.index, frame.to_numpy())])


def title(solution, source: str) -> str:
    """Two lines: the source, what solved it and the conditions; the
    acceptor, the enzyme and the pH, as a run's title has them."""
    p = solution.parameters
    header = RunHeader(enzyme=0.0 if p.is_organomercurial else p.enzyme, substrate=p.acceptor)
    trace = TraceRun(1, 1, header, Table(["Time", "organic product"] if p.is_organomercurial
                                         else ["Time"]), pH=p.pH)
    lines = choices.title(source, trace, 1, "exact", p.acceptor_type).split("\n")
    lines[0] += f" kinetics (CVODE engine), pKa {p.pKa:g}, {p.temperature:g} K"
    return "\n".join(lines)


def draw_solution(solution, out: str, source: str, **options) -> str:
    """Draw `solution` into the picture `out` (PNG, SVG or PDF by its
    extension); `source` (the arguments file) names it in the title;
    `options` as `run_picture.draw` takes them.  Returns `out`."""
    p = solution.parameters
    kept = [c for c in solution.trace.columns if c in TRACE_COLUMN_OF]
    trace = TraceRun(1, 1, RunHeader(enzyme=p.enzyme, substrate=p.acceptor),
                     _table(solution.trace[kept], [TRACE_COLUMN_OF[c] for c in kept]), pH=p.pH)
    fluxes = FluxRun(1, 1, os.path.basename(source), RunHeader(),
                     _table(solution.fluxes, [c[len("total_"):] for c in solution.fluxes.columns]))
    options.setdefault("title", title(solution, source))
    options.setdefault("enzyme", p.enzyme)
    return draw(source, trace, 1, fluxes, out, program="exact",
                acceptor_type=p.acceptor_type, **options)
