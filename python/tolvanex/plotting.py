"""The picture of one run: main species, intermediates and cumulative net
fluxes against log time, as ``tools/tolvanex-plot`` draws it.

The time-0 row cannot stand on a log axis and is left out.  Series are named
by the trace file's column labels; a column that stays 0 is listed in the
legend as "(0 throughout)".

>>> default_output("run/mera.trace", None), default_output("run/mera.trace", 2)
('run/mera.png', 'run/mera-run2.png')
"""

import csv
import math
import os
import sys

from . import files as tf

MAIN_SPECIES = ["HgMerB", "Thiol", "Hg(SCH3)2", "apoMerB", tf.ORGANIC_LABEL]
# Shown relative to the enzyme amount when normalised; Thiol relative to its own.
ENZYME_SCALED = {"HgMerB", "Hg(SCH3)2", "apoMerB", tf.ORGANIC_LABEL}
DECADES_SHOWN = 16     # log panels show at most this many decades below the top


def display(label: str) -> str:
    """A column label for a legend: blanks run together."""
    return " ".join(label.split())


def default_output(trace_path: str, run_option, suffix: str = ".png") -> str:
    stem, ext = os.path.splitext(trace_path)
    if ext.lower() in (".png", ".svg", ".csv"):
        stem = trace_path
    if run_option is not None:
        stem += f"-run{run_option}"
    return stem + suffix


def write_csv(table: tf.Table, out: str) -> None:
    """Header with the column labels, then the rows, numbers as written
    (`out` "-": standard output)."""
    f = sys.stdout if out == "-" else open(out, "w", newline="", encoding="utf-8")
    try:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(table.columns)
        w.writerows(table.rows)
    finally:
        if f is not sys.stdout:
            f.close()


# ----------------------------------------------------------------------------
# Picture

def _positive(values):
    return [v if (v > 0 and math.isfinite(v)) else math.nan for v in values]


def _log_limits(ax, series) -> None:
    """Keep a log axis to DECADES_SHOWN decades below its largest value."""
    tops = [max((v for v in s if v > 0 and math.isfinite(v)), default=0) for s in series]
    top = max(tops, default=0)
    if top > 0:
        lows = [min((v for v in s if v > 0 and math.isfinite(v)), default=top) for s in series]
        bottom = max(min(lows), top * 10.0 ** -DECADES_SHOWN)
        ax.set_ylim(bottom / 2, top * 2)


def _draw_series(ax, time, table, labels, scale=None, log=True, styles=None):
    """Plot the columns `labels`; columns that stay 0 get a legend entry only."""
    drawn = []
    for k, label in enumerate(labels):
        values = table.column(label)[: len(time)]
        if scale and scale.get(label):
            values = [v / scale[label] for v in values]
        style = (styles or {}).get(label, {})
        if all(v == 0 for v in values):
            ax.plot([], [], linestyle="none", marker="",
                    label=f"{display(label)} (0 throughout)")
            continue
        y = _positive(values) if log else values
        ax.plot(time, y, label=display(label), linewidth=1.4, **style)
        drawn.append(values)
    return drawn


def draw(trace_path, run, runs_in_file, flux_run, out, normalise=False, enzyme=None, title=None):
    """Draw trace-file run `run` (and flux-file run `flux_run`, or None) of
    `runs_in_file` into the picture `out` (SVG when it ends in .svg, else
    PNG): panels of the main species, the intermediates and the fluxes."""
    import matplotlib
    matplotlib.use("Agg")
    matplotlib.rcParams["svg.fonttype"] = "none"   # text stays text in SVG
    import matplotlib.pyplot as plt
    from matplotlib import cycler
    from matplotlib.ticker import FuncFormatter

    table = run.table
    keep = [k for k, row in enumerate(table.rows) if float(row[0]) > 0]
    if not keep:
        raise ValueError(f"run {run.number} of {trace_path} has no rows after time 0 to draw")
    sub = tf.Table(columns=table.columns, rows=[table.rows[k] for k in keep])
    time = sub.column("Time")

    panels = 3 if flux_run is not None else 2
    # Fixed margins (faster than a layout engine): room on the right for
    # the legends, which stand beside their panels.
    height = 3.4 * panels + 0.9
    fig, axes = plt.subplots(panels, 1, sharex=True, figsize=(11, height), dpi=100)
    fig.subplots_adjust(left=0.1, right=0.72, top=1 - 0.75 / height,
                        bottom=0.5 / height, hspace=0.22)
    colours = plt.get_cmap("tab20").colors
    many = cycler(color=[colours[i] for i in list(range(0, 20, 2)) + list(range(1, 20, 2))])

    # Panel 1: complex, acceptor, products.
    ax = axes[0]
    main = [c for c in MAIN_SPECIES if c in table.columns]
    styles = {"apoMerB": {"linestyle": "--"}, tf.ORGANIC_LABEL: {"linestyle": ":"}}
    if normalise:
        a0 = enzyme
        if a0 is None:
            a0 = float(table.rows[0][table.index("HgMerB")])
            if not a0 > 0:
                raise ValueError("this run starts with no HgMerB (organomercurial mode) and the "
                     "trace file does not record the enzyme amount: give it with "
                     "--enzyme CONC to normalise")
        s0 = float(table.rows[0][table.index("Thiol")])
        scale = {c: a0 for c in main if c in ENZYME_SCALED}
        if s0 > 0:
            scale["Thiol"] = s0
        _draw_series(ax, time, sub, main, scale=scale, log=False, styles=styles)
        ax.set_ylabel("fraction of starting amount\n(products: of the enzyme)")
        ax.set_ylim(-0.03, 1.05 if all(c != tf.ORGANIC_LABEL for c in main) else None)
    else:
        drawn = _draw_series(ax, time, sub, main, styles=styles)
        ax.set_yscale("log")
        _log_limits(ax, drawn)
        ax.set_ylabel("concentration (mol/L)")
    ax.set_title("Enzyme complex, acceptor and products", fontsize=10, loc="left")

    # Panel 2: the intermediates (every column that is not a main species).
    ax = axes[1]
    ax.set_prop_cycle(many)
    intermediates = [c for c in table.columns[1:] if c not in MAIN_SPECIES]
    drawn = _draw_series(ax, time, sub, intermediates)
    ax.set_yscale("log")
    _log_limits(ax, drawn)
    ax.set_ylabel("concentration (mol/L)")
    ax.set_title("Intermediates", fontsize=10, loc="left")

    # Panel 3: cumulative net fluxes.
    if flux_run is not None:
        ax = axes[2]
        ax.set_prop_cycle(many)
        ft = flux_run.table
        fkeep = [row for row in ft.rows if float(row[0]) > 0]
        fsub = tf.Table(columns=ft.columns, rows=fkeep)
        ftime = fsub.column("Time")
        fluxes = ft.columns[1:]
        values = [fsub.column(c) for c in fluxes]
        negative = any(v < 0 for s in values for v in s)
        if negative:
            top = max((abs(v) for s in values for v in s if math.isfinite(v)), default=1)
            drawn = _draw_series(ax, ftime, fsub, fluxes, log=False)
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
            drawn = _draw_series(ax, ftime, fsub, fluxes)
            ax.set_yscale("log")
            _log_limits(ax, drawn)
            ax.set_title("Cumulative net fluxes", fontsize=10, loc="left")
        ax.set_ylabel("time integral of net flux\n(mol/L)")

    for ax in axes:
        ax.set_xscale("log")
        ax.grid(True, which="major", linewidth=0.4, alpha=0.5)
        ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8,
                  frameon=False, ncol=1 if len(ax.get_legend_handles_labels()[1]) <= 13 else 2)
        if run.error_time:
            ax.axvline(run.error_time, color="red", linewidth=0.8, linestyle="--")
    axes[-1].set_xlabel("time (s)")
    if run.error_time:
        axes[0].annotate("negative concentration", (run.error_time, 1), xycoords=("data", "axes fraction"),
                         color="red", fontsize=8, ha="right", va="bottom")

    if title is None:
        title = os.path.basename(trace_path)
        if len(runs_in_file) > 1:
            title += f" (run {run.number} of {len(runs_in_file)})"
        notes = []
        if run.pH is not None:
            notes.append(f"pH {run.pH:g}")
        if run.header.substrate is not None:
            notes.append(f"acceptor {run.header.substrate:.3g} mol/L")
        if run.organomercurial:
            notes.append("organomercurial mode")
        if notes:
            title += " — " + ", ".join(notes)
    fig.suptitle(title, fontsize=11)
    fmt = "svg" if out.lower().endswith(".svg") else "png"
    fig.savefig(out, format=fmt)
    plt.close(fig)


def draw_run(run, path=None, normalise=False, enzyme=None, title=None) -> str:
    """Draw a `tolvanex.Run` (with its fluxes when it has them); return the
    picture's path (by default beside the trace file)."""
    out = path or default_output(run.trace_path, None)
    if normalise and enzyme is None:
        enzyme = run.enzyme
    draw(run.trace_path, run.raw_trace, [None] * run.runs_in_file, run.raw_flux, out,
         normalise, enzyme, title)
    return out
