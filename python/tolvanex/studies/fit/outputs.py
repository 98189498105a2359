"""The files of a fit folder: fit.json, fit.csv, the fitted arguments of
each data set (fitted.args, or fitted-1.args ... with several) and its
picture (fit.png, or fit-1.png ...); each written whole or not at all."""

from __future__ import annotations

import json
import os

from ...atomic import replaced_whole
from ...plots.fit_picture import draw_fit

JSON = "fit.json"
CSV = "fit.csv"
#: fit.csv's columns, with the unit of those in kcal/mol.
_KCAL = ("calculated", "value", "change", "stderr", "ci95_low", "ci95_high", "lower_bound",
         "upper_bound", "profile_ci95_low", "profile_ci95_high")


def _comment(result, k: int) -> str:
    d = result.problem.data_sets[k]
    lines = [f"fitted by tolvanex-fit to {d.name}"
             + (f" (arguments {d.arguments})" if d.arguments else "")]
    for name, row in result.table.iterrows():
        lines.append(f"{name} = {row['value']:.4f} +/- {row['stderr']:.2g} kcal/mol "
                     f"(calculated {row['calculated']:g})"
                     + ("" if row["determined"] else "; not determined by these data"))
    return "\n".join(lines)


def write_outputs(result, out: str) -> None:
    """Write every file of the fit folder `out` (created when missing)."""
    os.makedirs(out, exist_ok=True)
    with replaced_whole(os.path.join(out, JSON)) as f:
        json.dump(result.to_dict(), f, indent=1, allow_nan=False)
        f.write("\n")
    table = result.table.rename(columns=lambda c: f"{c}_kcal_per_mol" if c in _KCAL else c)
    with replaced_whole(os.path.join(out, CSV)) as f:
        table.to_csv(f, na_rep="", lineterminator="\n")
    for k, fitted in enumerate(result.fitted):
        with replaced_whole(os.path.join(out, result.file_name("fitted", k, ".args"))) as f:
            for line in _comment(result, k).splitlines():
                f.write(f"# {line}\n")
            f.write("# target2 timestep pH type wanted_time enzyme acceptor | 38 barriers "
                    "(kcal/mol) | trace file\n" if not fitted.is_organomercurial else
                    "# organomercurial | target2 timestep pH type wanted_time enzyme acceptor"
                    " | 38 barriers (kcal/mol) | trace file\n")
            f.write(" ".join(fitted.to_args()) + "\n")
        draw_fit(result, k, os.path.join(out, result.file_name("fit", k, ".png")))
