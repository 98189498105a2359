"""A run's result on one screen: how it ended, when, the amounts at the
end, t50, t90 and the initial rate, the mercury and enzyme balances, and
how far the run is from the exact solution of its rate equations.

`figures(run)` gathers them as plain values (a dict that `json` can
write); `screen(figures)` lays them out as text of about twenty lines.

The balances are taken over every row the files hold, six significant
digits each (the programs print ``%6.5e``), so a sum of them can be off
by up to 5e-6 of the amounts it adds up: a balance holds when at every row
it departs from its amount by no more than that rounding.  Which species
carry mercury and which carry the enzyme comes from
`tolvanex.model.balances`.

>>> from tolvanex.runs.run import Run
>>> r = Run.load("run/mera")                           # doctest: +SKIP
>>> print(screen(figures(r)))                         # doctest: +SKIP
"""

from __future__ import annotations

import math
import os
import textwrap

import numpy as np

from ..errors import TolvanexError
from ..model.balances import CARRIERS
from ..model.species import INTERMEDIATES, product_name
from .console_amounts import block_amounts
from .folder import CONSOLE, read_exit_status
from .outcome import stop_without_trace
from .programs import program_name

#: Half a unit of the sixth significant digit, relative to the value printed.
PRINT_RESOLUTION = 5e-6
#: How the program itself may end a run: every other stop is not a success.
ENDED_WELL = {"converted", "converted, P stable", "P stable", "P stable, long run",
              "iteration limit", "time reached", "unknown"}
#: An intermediate is listed by name among the amounts at the end from
#: this share of the enzyme amount up ...
NOTABLE = 1e-4
#: ... and at most this many of them, the largest.
LISTED = 5
#: What the differences from the exact solution are expected to be.
PROGRAM_NOTES = {
    "tolvanex": "tolvanex drops backward net fluxes: up to ~30 % off (docs/mechanism.md)",
    "tolvanex_unpruned": "tolvanex_unpruned follows the rate equations: ~1e-5 off is usual",
    None: "program not recorded: tolvanex_unpruned is ~1e-5 off, tolvanex up to ~30 %",
}


def _number(x):
    """A float for JSON: None for NaN or a missing value."""
    return None if x is None or (isinstance(x, float) and math.isnan(x)) else float(x)


def _acceptor_type(run):
    t = run.parameters.acceptor_type if run.parameters else run.raw_trace.acceptor_type
    return int(t) if t is not None and float(t).is_integer() else t


def figures(run, *, exact: bool = True) -> dict:
    """Every figure of the report on `run` (a `tolvanex.Run`); `exact`:
    compare with the exact solution (when the arguments are known and the
    engine is built)."""
    enzyme = run.enzyme
    organo = run.raw_trace.organomercurial
    wanted = run.wanted_time
    code = str(run.stop.code)
    f = {"trace": run.trace_path, "run": run.raw_trace.number, "runs_in_file": run.runs_in_file,
         "rows": len(run.trace), "program": run.program,
         "arguments_from": run.parameters_from, "organomercurial": organo,
         "acceptor_type": _acceptor_type(run),
         "stop": {"code": code, "message": run.stop.message,
                  "ended_well": all(c in ENDED_WELL for c in code.split("; "))},
         "end_time_s": run.end_time, "wanted_time_s": wanted,
         "iterations": run.iterations, "wall_s": run.wall_s,
         "enzyme_mol_per_L": enzyme}
    console = _console(run) if organo else None
    f["amounts"] = _amounts(run, enzyme, console)
    f["times"] = _times(run, enzyme)
    f["balances"] = {"mercury": _mercury(run, enzyme, organo),
                     "enzyme": _enzyme(run, enzyme, organo, console)}
    f["exact"] = _exact(run, enzyme) if exact else {"note": "left out (--no-exact)"}
    f["verdict"] = _verdict(f)
    return f


def failed_without_trace(folder: str) -> dict | None:
    """The figures of a run folder whose run ended with a non-zero status
    before it wrote a trace file (None for any other folder without one)."""
    status = read_exit_status(folder) if os.path.isdir(folder) else None
    if status in (None, 0):
        return None
    stop = stop_without_trace(folder, status)
    return {"folder": folder, "stop": {"code": stop.code, "message": stop.message,
                                       "ended_well": False},
            "verdict": {"status": 1, "why": f"{stop.code}, no trace file"}}


def _amounts(run, enzyme, console) -> dict:
    """The main species at the last row, the intermediates from `NOTABLE`
    of the enzyme up, and in organomercurial mode MerB, ES and PHMB from
    the console's last block report (the same block as the last row)."""
    last = run.trace.iloc[-1]
    values = {x: float(last[x]) for x in ("A", "S", "P", "apoMerB", "organic") if x in last.index}
    if console is not None and len(console) and \
            math.isclose(console.index[-1], run.end_time, rel_tol=1e-9):
        values.pop("apoMerB")                       # 0 throughout: the enzyme is back as MerB
        values.update({x: float(console[x].iloc[-1]) for x in ("MerB", "ES", "PHMB")})
    species = {x: {"mol_per_L": v, "of_enzyme": v / enzyme if enzyme else None}
               for x, v in values.items()}
    start = float(run.trace["S"].iloc[0])
    species["S"] = {"mol_per_L": values["S"], "of_start": values["S"] / start if start else None}
    notable = sorted((x for x in INTERMEDIATES
                      if enzyme and abs(last[x]) >= NOTABLE * enzyme), key=lambda x: -last[x])
    notable = notable[:LISTED]
    minor = [x for x in INTERMEDIATES if x not in notable]
    rest = float(last[minor].abs().sum())
    return {"time_s": run.end_time,
            "species": species,
            "intermediates": {x: {"mol_per_L": float(last[x]), "of_enzyme": last[x] / enzyme}
                              for x in notable},
            "other_intermediates": minor,
            "other_intermediates_of_enzyme": rest / enzyme if enzyme else None}


def _times(run, enzyme) -> dict:
    if not enzyme:
        return {"note": "enzyme amount not recorded (organomercurial): give --args FILE"}
    return {"t50_s": _number(run.time_to(0.5)), "t90_s": _number(run.time_to(0.9)),
            "initial_rate_mol_per_L_per_s": _number(run.initial_rate())}


def _console(run):
    """The amounts at every block end from the console output, when it is
    the run's (Run.load read it: it knows the iterations)."""
    if run.iterations is None or run.folder is None:
        return None
    try:
        with open(os.path.join(run.folder, CONSOLE), encoding="latin-1") as f:
            return block_amounts(f.read())
    except OSError:
        return None


def _balance(rows, terms, reference, enzyme, source) -> dict:
    """How far the sum of `terms` departs from `reference` (a column or a
    number) at the rows, as fractions of the enzyme amount."""
    total = rows[list(terms)].sum(axis=1).to_numpy()
    size = rows[list(terms)].abs().sum(axis=1).to_numpy()
    ref = rows[reference].to_numpy() if isinstance(reference, str) else \
        np.full(len(rows), float(reference))
    departure = np.abs(total - ref) / enzyme
    rounding = PRINT_RESOLUTION * (size + np.abs(ref)) / enzyme
    k = int(np.argmax(departure))
    return {"terms": list(terms), "against": reference if isinstance(reference, str)
            else "enzyme", "source": source, "rows": len(rows),
            "largest_of_enzyme": float(departure[k]), "at_time_s": float(rows.index[k]),
            "rounding_of_enzyme": float(rounding[k]),
            "holds": bool(np.all(departure <= rounding * (1 + 1e-9)))}


def _mercury(run, enzyme, organo) -> dict:
    """Hg on the enzyme and in the product against the Hg brought in: the
    enzyme amount, or in organomercurial mode the organic product (each
    split of the organomercurial puts one Hg on the enzyme and frees one
    organic rest; PHMB and ES, which carry the rest of the Hg, are not in
    the trace file)."""
    terms = [x for x in CARRIERS["mercury"] if x in run.trace.columns]
    if organo:
        unseen = set(CARRIERS["mercury"]) - set(terms)
        assert unseen == set(CARRIERS["organic group"]) - {"organic"}, unseen
        if not enzyme:
            return {"note": "the enzyme amount is not known: give --args FILE"}
        return _balance(run.trace, terms, "organic", enzyme, "trace file")
    if not enzyme:
        return {"note": "the enzyme amount is not known"}
    return _balance(run.trace, terms, enzyme, enzyme, "trace file")


def _enzyme(run, enzyme, organo, console) -> dict:
    """Every enzyme form against the enzyme amount: from the trace file
    (apoMerB stands for O1 + O2 + O3; MerB and ES are 0 outside
    organomercurial mode), or in organomercurial mode from the console's
    block reports, which print MerB and ES."""
    if not enzyme:
        return {"note": "the enzyme amount is not known: give --args FILE"}
    if not organo:
        terms = [x for x in CARRIERS["enzyme"] if x in run.trace.columns] + ["apoMerB"]
        return _balance(run.trace, terms, enzyme, enzyme, "trace file")
    if console is None or console.empty:
        return {"note": "MerB and ES are printed on the console only, and the run's "
                        "console output is not at hand"}
    return _balance(console, CARRIERS["enzyme"], enzyme, enzyme, "console")


def _exact(run, enzyme) -> dict:
    from ..model import engine
    from ..model.exact import SolverFailed
    from ..model.solution import solve

    p = run.parameters
    if p is None:
        return {"note": "the run's arguments are not known: give --args FILE"}
    times = run.trace.index.to_numpy()
    if not times[-1] > 0:
        return {"note": "the run has no row after time 0"}
    try:
        p.check()
        solution = solve(p, times=times, end=float(times[-1]))
    except engine.EngineNotFound:
        return {"note": "the exact engine is not built (cmake --workflow --preset test)"}
    except (SolverFailed, TolvanexError, ValueError) as e:
        return {"note": f"not solved: {' '.join(str(e).split())}"}
    exact = solution.trace
    columns = [c for c in run.trace.columns if c in exact.columns]
    got, want = run.trace[columns].to_numpy(), exact[columns].to_numpy()
    difference = np.abs(got - want) / enzyme
    beyond = np.maximum(difference - PRINT_RESOLUTION * np.abs(want) / enzyme, 0.0)
    row, column = np.unravel_index(int(np.argmax(beyond)), beyond.shape)
    p_index = columns.index("P")
    p_row = int(np.argmax(difference[:, p_index]))
    times_of = {}
    for label, fraction in (("t50", 0.5), ("t90", 0.9)):
        run_t, exact_t = run.time_to(fraction), solution.time_to(fraction)
        times_of[label] = {"run_s": _number(run_t), "exact_s": _number(exact_t),
                           "relative_difference": _number((run_t - exact_t) / exact_t)
                           if exact_t > 0 else None}
    return {"P_of_enzyme": float(difference[p_row, p_index]),
            "P_at_time_s": float(times[p_row]),
            "any_species_of_enzyme": float(beyond[row, column]),
            "species": columns[column], "species_at_time_s": float(times[row]),
            "times": times_of, "solve_ms": solution.stats["wall_s"] * 1e3,
            "expected": PROGRAM_NOTES[program_name(run.program)]}


def _verdict(f) -> dict:
    why = []
    if not f["stop"]["ended_well"]:
        why.append(f"the run ended: {f['stop']['code']}")
    for name, b in f["balances"].items():
        if b.get("holds") is False:
            why.append(f"the {name} balance does not hold")
    return {"status": 1 if why else 0, "why": "; ".join(why)}


# -- the screen ----------------------------------------------------------------
def _s(x, unit="s", absent="unknown"):
    return absent if x is None else f"{x:.6g} {unit}"


def _fraction(x):
    return "" if x is None else f"{x:10.4g} of the enzyme"


def screen(f) -> str:
    """The figures laid out on one screen (about twenty lines, ≤ 80 wide)."""
    if "trace" not in f:
        return "\n".join([f"Run in {f['folder']}: no trace file"] + _ended_lines(f)
                         + _verdict_lines(f))
    program = program_name(f["program"]) or f["program"]
    rows = f"{f['rows']} row{'s' if f['rows'] != 1 else ''}"
    head = [f"Run {f['run']} of {f['runs_in_file']} in {f['trace']} ({rows}), "
            + (f"made by {program}" if program else "program not recorded")]
    if f["arguments_from"]:
        head.append(f"Arguments   {f['arguments_from']}")
    head += _ended_lines(f)
    end, wanted = f["end_time_s"], f["wanted_time_s"]
    when = f"at {end:.6g} s" + ("" if wanted is None else
                                f" ({'past' if end >= wanted else 'before'} the wanted "
                                f"{wanted:g} s)")
    iterations = "unknown" if f["iterations"] is None else f"{f['iterations']:,}"
    wall = "" if f["wall_s"] is None else f"; {f['wall_s']:.3g} s wall"
    head.append(f"End time    {when}; iterations {iterations}{wall}")
    return "\n".join(head + _amount_lines(f) + _time_lines(f) + _balance_lines(f)
                     + _exact_lines(f) + _verdict_lines(f))


def _ended_lines(f):
    stop = f["stop"]
    message = stop["message"].lstrip(". ") or (
        "a trace file read without its console output does not tell"
        if stop["code"] == "unknown" else "")
    said = f"{stop['code']}: {message}" if message else stop["code"]
    return textwrap.wrap(said, 79, initial_indent="Ended       ", subsequent_indent=" " * 12)


def _amount_lines(f):
    a = f["amounts"]
    name = {"A": "A HgMerB", "S": "S acceptor", "organic": "organic",
            "P": f"P {product_name(f['acceptor_type']) or 'product'}"}
    lines = [f"Amounts at {a['time_s']:.6g} s (mol/L)"]
    for x, v in a["species"].items():
        share = {"of_enzyme": "of the enzyme", "of_start": "of its start"}
        share = " ".join(f"{v[k]:10.4g} {share[k]}" for k in share if v.get(k) is not None)
        lines.append(f"  {name.get(x, x):<14}{v['mol_per_L']:12.5e}  {share}".rstrip())
    listed = [f"{x} {v['of_enzyme']:.2g}" for x, v in a["intermediates"].items()]
    rest = a["other_intermediates_of_enzyme"]
    if a["other_intermediates"] and rest is not None:
        n = len(a["other_intermediates"])
        listed.append(f"the {n} others together {rest:.2g}" if listed else
                      f"all {n} together {rest:.2g}")
    if listed:                  # no break inside an item: textwrap keeps U+00A0
        wrapped = textwrap.wrap(", ".join(i.replace(" ", "\xa0") for i in listed), 79,
                                initial_indent="  Intermediates (of the enzyme) ",
                                subsequent_indent=" " * 16)
        lines += [line.replace("\xa0", " ") for line in wrapped]
    return lines


def _time_lines(f):
    t, end = f["times"], f["end_time_s"]
    if "note" in t:
        return [f"Times       {t['note']}"]
    never = f"not reached by {end:.6g} s"
    rate = t["initial_rate_mol_per_L_per_s"]
    return [f"Times       t50 {_s(t['t50_s'], absent=never)}; t90 {_s(t['t90_s'], absent=never)}"
            f"; initial rate {_s(rate, 'mol/L/s', never)}"]


def _balance_lines(f):
    lines = []
    for name, b in f["balances"].items():
        title = f"{name.capitalize():<12}"
        if "note" in b:
            lines.append(f"{title}{b['note']}")
            continue
        against = {"enzyme": "the enzyme", "organic": "organic (1 Hg per split)"}[b["against"]]
        lines.append(f"{title}{'+'.join(_short(b['terms']))} = {against}")
        off = f"largest departure {b['largest_of_enzyme']:.2g} of the enzyme in "
        rows = f"{b['rows']} {b['source'].replace(' ', '-')} row{'s' if b['rows'] != 1 else ''}"
        lines.append(" " * 12 + off + (f"{rows}: holds" if b["holds"] else
                                        f"{rows}: DOES NOT hold (at {b['at_time_s']:.3g} s;"
                                        f" rounding {b['rounding_of_enzyme']:.1g})"))
    return lines


def _short(terms):
    """C+D+...+N+Q as C..N+Q: runs of intermediates shortened."""
    out, run = [], []
    for x in list(terms) + [None]:
        if x in INTERMEDIATES[:-1]:
            run.append(x)
            continue
        out += run if len(run) < 3 else [f"{run[0]}..{run[-1]}"]
        run = []
        if x is not None:
            out.append(x)
    return out


def _exact_lines(f):
    e = f["exact"]
    if "note" in e:
        return [f"Exact       {e['note']}"]
    t = e["times"]
    rel = [f"{k} {100 * v['relative_difference']:+.2g} %" if v["relative_difference"] is not None
           else f"{k} not reached" for k, v in t.items()]
    return [f"Exact       {', '.join(rel)} (solved in {e['solve_ms']:.0f} ms)",
            f"            P off by {e['P_of_enzyme']:.2g} of the enzyme at most (at "
            f"{e['P_at_time_s']:.3g} s)",
            f"            worst species {e['species']}: {e['any_species_of_enzyme']:.2g} beyond "
            f"6-digit rounding (at {e['species_at_time_s']:.3g} s)",
            f"            {e['expected']}"]


def _verdict_lines(f):
    v = f["verdict"]
    if v["status"]:
        return [f"Verdict     not a success: {v['why']}"]
    if f["stop"]["code"] == "unknown":
        return ["Verdict     nothing wrong found (how the run ended is not known)"]
    return ["Verdict     ended well"]
