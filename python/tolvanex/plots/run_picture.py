"""The picture of one run: main species, intermediates and cumulative net
fluxes against time, as ``tools/tolvanex-plot`` and `Run.plot` draw it.

The time axis is logarithmic unless ``linear_time``; on a log axis the
time-0 row cannot stand and is left out.  Series are named by the trace
file's column labels with the species' labels (the product by what it is
for the acceptor type); a column that stays 0 is listed in the legend as
"(0 throughout)".  The picture is PNG, SVG or PDF by its name's extension.

>>> default_output("run/mera.trace", None), default_output("run/mera.trace", 2)
('run/mera.png', 'run/mera-run2.png')
>>> legend_name("Hg(SCH3)2", 1), legend_name("Int1", None), legend_name("apoMerB", None)
('HgMerA (P)', 'Int1 (C)', 'apoMerB')
>>> flux_name("flux9")
'flux9: K + 2nd thiol ⇌ L'

Amounts far below what a run resolves (1e-13 of the enzyme and less) swing
about on a log axis as if they were chemistry: ``floor`` (a fraction of the
enzyme amount) starts the log panels of amounts there, and where the run's
difference from the exact solution of its rate equations is known
(`tolvanex.studies.comparison.run_difference`, from the compiled engine in
milliseconds) the panels shade the amounts below it.
"""

from __future__ import annotations

import math
import os

from . import choices
from ..errors import InvalidValue
from ..model.species import LABEL_OF_TRACE_COLUMN, product_name
from ..runs.file_format import Table
from ..runs.trace_file import ORGANIC_LABEL

MAIN_SPECIES = ["HgMerB", "Thiol", "Hg(SCH3)2", "apoMerB", ORGANIC_LABEL]
# Shown relative to the enzyme amount when normalised; Thiol relative to its own.
ENZYME_SCALED = {"HgMerB", "Hg(SCH3)2", "apoMerB", ORGANIC_LABEL}
DECADES_SHOWN = 16     # log panels show at most this many decades below the top
# Panel 1: each species its own colour and style.  HgMerB and the organic
# product of an organomercurial run follow each other closely: the organic
# product is a broad dashed band under the thin black HgMerB line.
MAIN_STYLES = {
    "HgMerB": {"color": "black", "linewidth": 1.4, "zorder": 3},
    "Thiol": {"color": "tab:blue"},
    "Hg(SCH3)2": {"color": "tab:red", "linewidth": 2.0},
    "apoMerB": {"color": "tab:orange", "linestyle": "--"},
    ORGANIC_LABEL: {"color": "tab:green", "linestyle": (0, (5, 3)), "linewidth": 3.2,
                       "alpha": 0.8, "zorder": 2},
}
# Panels of many lines (12 intermediates, 19 fluxes): the twenty colours of
# matplotlib's tab20, its ten strong ones solid and then its ten light ones
# dashed, so that every line has a colour of its own and the two lines of one
# hue differ in lightness and style.
LINE_STYLES = ("-", "--")
TAB20 = (("#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
          "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"),
         ("#aec7e8", "#ffbb78", "#98df8a", "#ff9896", "#c5b0d5",
          "#c49c94", "#f7b6d2", "#c7c7c7", "#dbdb8d", "#9edae5"))
SHADE = {"color": "0.55", "alpha": 0.12, "linewidth": 0}


def display(label: str) -> str:
    """A column label for a legend: blanks run together."""
    return " ".join(label.split())


def legend_name(column: str, acceptor_type=None) -> str:
    """The legend entry of a trace-file column: its label and, in
    parentheses, the species' label; the product is named for the acceptor
    type."""
    label = LABEL_OF_TRACE_COLUMN.get(column)
    if label == "P":
        return f"{product_name(acceptor_type) or 'product'} (P)"
    if label is None or label == column or column == ORGANIC_LABEL:
        return display(column)
    return f"{display(column)} ({label})"


def flux_name(column: str) -> str:
    """The legend entry of a flux-file column: the step's reaction."""
    from ..model import mechanism
    from .rate_control_chart import reaction
    try:
        return f"{column}: {reaction(mechanism.step(int(column[len('flux'):])))}"
    except (ValueError, KeyError, IndexError):
        return display(column)


def default_output(trace_path: str, run_option, suffix: str = ".png") -> str:
    """The picture's name when none is given: the trace file's, with
    `suffix` for its extension (and ``-runN`` for ``--run N``)."""
    stem, ext = os.path.splitext(trace_path)
    if ext.lower() in (".png", ".svg", ".pdf", ".csv"):
        stem = trace_path
    if run_option is not None:
        stem += f"-run{run_option}"
    return stem + suffix


def _positive(values):
    return [v if (v > 0 and math.isfinite(v)) else math.nan for v in values]


def _log_limits(ax, series, floor: float | None = None, shade=None) -> None:
    """Keep a log axis to DECADES_SHOWN decades below its largest value, or
    down to `floor` (mol/L); shade it below `shade` (mol/L), the amounts
    within the run's difference from the exact solution, with its label."""
    tops = [max((v for v in s if v > 0 and math.isfinite(v)), default=0) for s in series]
    top = max(tops, default=0)
    if top > 0:
        lows = [min((v for v in s if v > 0 and math.isfinite(v)), default=top) for s in series]
        bottom = max(min(lows), top * 10.0 ** -DECADES_SHOWN) / 2
        if floor:
            bottom = min(floor, top)
        ax.set_ylim(bottom, top * 2)
        if shade and shade[0] > bottom:
            ax.axhspan(bottom, min(shade[0], top * 2), label=shade[1], **SHADE)


def _draw_series(ax, time, table, columns, names, scale=None, log=True, styles=None):
    """Plot `columns` under the legend `names`; columns that stay 0 get a
    legend entry only.  `styles`: line properties by column, or by default
    `many_line_styles` in turn for the lines drawn."""
    drawn = []
    turn = iter(many_line_styles()) if styles is None else None
    for column in columns:
        values = table.column(column)[: len(time)]
        if scale and scale.get(column):
            values = [v / scale[column] for v in values]
        if all(v == 0 for v in values):
            ax.plot([], [], linestyle="none", marker="",
                    label=f"{names(column)} (0 throughout)")
            continue
        y = _positive(values) if log else values
        style = {"linewidth": 1.4, **(next(turn, {}) if turn else styles.get(column, {}))}
        ax.plot(time, y, label=names(column), **style)
        drawn.append(values)
    return drawn


def many_line_styles() -> list[dict]:
    """Colour and style of each line of a panel of many: the ten strong
    colours of matplotlib's tab20 solid, then its ten light ones dashed.

    >>> [(s["color"], s["linestyle"]) for s in many_line_styles()[9:11]]
    [('#17becf', '-'), ('#aec7e8', '--')]
    """
    return [{"color": colour, "linestyle": style}
            for style, colours in zip(LINE_STYLES, TAB20) for colour in colours]


def _main_panel(ax, run, table, time, columns, names, normalise, enzyme, floor, shade):
    """Panel 1: complex, acceptor, products and free enzyme."""
    if normalise:
        a0 = enzyme
        if a0 is None:
            a0 = float(run.table.rows[0][run.table.index("HgMerB")])
            if not a0 > 0:
                raise InvalidValue("this run starts with no HgMerB (organomercurial mode) and the "
                                 "trace file does not record the enzyme amount: give it with "
                                 "--enzyme CONC to normalise")
        s0 = float(run.table.rows[0][run.table.index("Thiol")])
        scale = {c: a0 for c in columns if c in ENZYME_SCALED}
        if s0 > 0:
            scale["Thiol"] = s0
        _draw_series(ax, time, table, columns, names, scale=scale, log=False, styles=MAIN_STYLES)
        ax.set_ylabel("fraction of starting amount\n(products: of the enzyme)")
        ax.set_ylim(-0.03, 1.05 if ORGANIC_LABEL not in columns else None)
    else:
        drawn = _draw_series(ax, time, table, columns, names, styles=MAIN_STYLES)
        ax.set_yscale("log")
        _log_limits(ax, drawn, floor, shade)
        ax.set_ylabel("concentration (mol/L)")
    ax.set_title("Enzyme complex, acceptor and products", fontsize=10, loc="left")


def _intermediates_panel(ax, table, time, columns, names, floor, shade):
    drawn = _draw_series(ax, time, table, columns, names)
    ax.set_yscale("log")
    _log_limits(ax, drawn, floor, shade)
    ax.set_ylabel("concentration (mol/L)")
    ax.set_title("Intermediates", fontsize=10, loc="left")


def _flux_panel(ax, flux_run, keep_time0, floor):
    """Panel 3: cumulative net fluxes, on a symmetric log scale when some
    run backwards."""
    from matplotlib.ticker import FuncFormatter

    ft = flux_run.table
    fsub = Table(columns=ft.columns,
                    rows=[row for row in ft.rows if keep_time0 or float(row[0]) > 0])
    ftime = fsub.column("Time")
    fluxes = ft.columns[1:]
    values = [fsub.column(c) for c in fluxes]
    if any(v < 0 for s in values for v in s):
        top = max((abs(v) for s in values for v in s if math.isfinite(v)), default=1)
        _draw_series(ax, ftime, fsub, fluxes, flux_name, log=False)
        linthresh = top * 1e-6 if top > 0 else 1e-30
        ax.set_yscale("symlog", linthresh=linthresh)
        # Label 0 and the decades outside the linear band only; labels
        # inside it would stand on top of each other.
        plain = ax.yaxis.get_major_formatter()
        ax.yaxis.set_major_formatter(FuncFormatter(
            lambda v, pos: plain(v, pos) if v == 0 or abs(v) >= 10 * linthresh else ""))
        ax.set_title("Cumulative net fluxes (symmetric log scale: some run backwards)",
                     fontsize=10, loc="left")
    else:
        drawn = _draw_series(ax, ftime, fsub, fluxes, flux_name)
        ax.set_yscale("log")
        _log_limits(ax, drawn, floor)
        ax.set_title("Cumulative net fluxes", fontsize=10, loc="left")
    ax.set_ylabel("time integral of net flux\n(mol/L)")


def draw(trace_path, run, runs_in_file: int, flux_run, out, *, normalise=False, enzyme=None,
         title=None, species=None, dpi=None, linear_time=False, program=None,
         acceptor_type=None, floor=None, difference=None) -> str:
    """Draw trace-file run `run` (one of `runs_in_file` runs of its file)
    and flux-file run `flux_run` (or None) into the picture `out`: PNG, SVG
    or PDF by its extension, PNG at `dpi` dots per inch (default 100).

    `species`: the species to draw, as in `choices.chosen_columns`
    (default all); a panel none of whose species is chosen is left out.
    `linear_time`: a linear time axis, which shows the time-0 row too.
    `program` and `acceptor_type` (when the run's records tell them) go in
    the title; the acceptor type is otherwise read from the run's note.
    `floor` (a fraction of the enzyme amount, which `enzyme` gives when the
    trace file does not) starts the log panels of amounts there;
    `difference` (the run's from the exact solution, a fraction of the
    enzyme amount) shades the amounts below it.
    Raises ValueError for a choice that cannot be drawn; returns `out`.

    >>> from tolvanex.runs.trace_file import read_trace
    >>> runs = read_trace("run/mera/mera.trace")                  # doctest: +SKIP
    >>> draw("run/mera/mera.trace", runs[-1], len(runs), None, "mera.pdf",
    ...      species="A,P", linear_time=True)                          # doctest: +SKIP
    'mera.pdf'
    """
    fmt = choices.check_output(out)
    dpi = choices.check_dpi(dpi)
    if enzyme is not None and not (enzyme > 0 and math.isfinite(enzyme)):
        raise InvalidValue(f"enzyme amount {enzyme:g}: give a positive concentration (mol/L)")
    if floor is not None and not (0 < floor < 1):
        raise InvalidValue(f"floor {floor:g}: give a fraction of the enzyme amount, between 0 "
                           "and 1 (e.g. 1e-9)")
    amount = enzyme if enzyme is not None else choices.enzyme_of(run)
    if floor is not None and amount is None:
        raise InvalidValue("this run starts with no HgMerB (organomercurial mode) and the trace "
                           "file does not record the enzyme amount: give it with --enzyme CONC "
                           "for a floor")
    floor_amount = floor * amount if floor is not None else None
    shade = None
    if difference and amount:
        shade = (difference * amount, f"within the run's difference from the exact\nsolution "
                 f"({difference:.1e} of the enzyme amount)")
    table = run.table
    chosen = choices.chosen_columns(species, table.columns)
    rows = [row for row in table.rows if linear_time or float(row[0]) > 0]
    if not rows:
        raise InvalidValue(f"run {run.number} of {trace_path} has no rows after time 0 to draw "
                         "on a log time axis (try the linear time axis)")
    sub = Table(columns=table.columns, rows=rows)
    time = sub.column("Time")
    main = [c for c in MAIN_SPECIES if c in chosen]
    intermediates = [c for c in chosen if c not in MAIN_SPECIES]
    if acceptor_type is None:
        acceptor_type = run.acceptor_type
    names = lambda column: legend_name(column, acceptor_type)  # noqa: E731

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    panels = [p for p, wanted in (("main", main), ("intermediates", intermediates),
                                  ("fluxes", flux_run is not None)) if wanted]
    # Fixed margins (faster than a layout engine): room on the right for
    # the legends, which stand beside their panels; two lines of title.
    height = 3.4 * len(panels) + 1.1
    # Text stays text in SVG, and TrueType fonts are embedded in a PDF, so
    # that a journal's editor can still change the labels.
    with matplotlib.rc_context({"svg.fonttype": "none", "pdf.fonttype": 42}):
        fig, axes = plt.subplots(len(panels), 1, sharex=True, figsize=(11, height), dpi=dpi,
                                 squeeze=False)
        axes = list(axes[:, 0])
        fig.subplots_adjust(left=0.1, right=0.72, top=1 - 0.95 / height,
                            bottom=0.5 / height, hspace=0.22)
        for ax, panel in zip(axes, panels):
            if panel == "main":
                _main_panel(ax, run, sub, time, main, names, normalise, enzyme, floor_amount,
                            shade)
            elif panel == "intermediates":
                _intermediates_panel(ax, sub, time, intermediates, names, floor_amount, shade)
            else:
                _flux_panel(ax, flux_run, linear_time, floor_amount)
        for ax in axes:
            ax.set_xscale("linear" if linear_time else "log")
            ax.grid(True, which="major", linewidth=0.4, alpha=0.5)
            many = len(ax.get_legend_handles_labels()[1]) > 14
            ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=7 if many else 8,
                      frameon=False, labelspacing=0.3 if many else 0.5)
            if run.error_time:
                ax.axvline(run.error_time, color="red", linewidth=0.8, linestyle="--")
        axes[-1].set_xlabel("time (s)")
        if run.error_time:
            axes[0].annotate("negative concentration", (run.error_time, 1),
                             xycoords=("data", "axes fraction"), color="red", fontsize=8,
                             ha="right", va="bottom")
        if title is None:
            title = choices.title(trace_path, run, runs_in_file, program, acceptor_type)
        fig.suptitle(title, fontsize=11)

        try:
            fig.savefig(out, format=fmt, dpi=dpi)
        finally:
            plt.close(fig)
    return out


def draw_run(run, path=None, **options) -> str:
    """Draw a `tolvanex.Run` (with its fluxes when it has them) as `draw`
    does, the program and acceptor type from its records; return the
    picture's path (by default beside the trace file, PNG)."""
    out = path or default_output(run.trace_path, None)
    if path is None and getattr(run, "temporary", False):
        out = os.path.basename(out)             # not in a folder that goes with the run
    if options.get("enzyme") is None:
        options["enzyme"] = run.enzyme
    if "difference" not in options and run.parameters is not None:
        options["difference"] = _difference(run)
    options.setdefault("program", run.program)
    if run.parameters is not None:
        options.setdefault("acceptor_type", run.parameters.acceptor_type)
    return draw(run.trace_path, run.raw_trace, run.runs_in_file, run.raw_flux, out, **options)


def _difference(run) -> float | None:
    """The run's difference from the exact solution (see the module), None
    where the engine is not built or cannot solve it."""
    from ..errors import TolvanexError
    from ..studies.comparison import run_difference
    try:
        return run_difference(run.trace, run.parameters)
    except (TolvanexError, ValueError, ImportError):
        return None
