"""The notes of an exported SBML model: where the file comes from and the
conventions a reader needs to use it (units, names, the acceptor's split by
pH, the organomercurial mode).

>>> from tolvanex.model.parameters import Parameters
>>> notes = model_notes(Parameters.read("examples/glutathione.args"), "glutathione.args")
>>> notes[0][:64]
'Written by tolvanex-export 1.1.0 (Python package tolvanex 1.1.0)'
"""

from __future__ import annotations

from .. import __version__
from ..model import mechanism
from ..model.parameters import ACCEPTOR_TYPES


def model_notes(parameters, source: str | None = None) -> list[str]:
    """The paragraphs of the model's notes: where the file comes from and
    the conventions a reader needs."""
    p = parameters
    acceptor_type = int(p.acceptor_type)
    organo = p.is_organomercurial
    notes = [
        f"Written by tolvanex-export {__version__} (Python package tolvanex {__version__})"
        + (f" from {source}" if source else "") + f". Its {len(p.to_args())} arguments, as "
        f"the programs tolvanex and tolvanex_unpruned take them: {' '.join(p.to_args())}",
        f"Acceptor type {acceptor_type} ({ACCEPTOR_TYPES[acceptor_type]}, pKa "
        f"{p.pKa:g}) at pH {p.text('pH')}, "
        f"{p.text('acceptor')} mol/L; enzyme {p.text('enzyme')} mol/L"
        + (f" (free MerB); organomercurial {p.text('organomercurial')} mol/L" if organo else
           " (HgMerB)") + f". The run's wanted time is {p.text('wanted_time')} s.",
        "Units: concentrations in mol/L in one compartment 'solution' of 1 L, time in s, "
        "extent in mol; first-order rate constants in 1/s, second-order in L/(mol s). "
        "Species ids are the programs' labels, names the trace file's column labels.",
        "Reactions: step1 ... step39 are the net steps of the mechanism, each written in "
        "the direction in which its net flux (flux1 ... flux39 of the programs) is "
        "positive, with the kinetic law solution * (forward term - reverse term), mass "
        "action. The constants k1 ... k38 are named by their barriers (argument barrierN), "
        + ("by the Eyring relation at 298 K: k = 6209352739000.001 1/s x exp(-dG x 4184 / "
           "8.314 / 298)" if not p.conditions else
           f"for the exact kinetics at pKa {p.pKa:g} and {p.temperature:g} K (the programs hold "
           "pKa and 298 K fixed), by the Eyring relation at that temperature T: k = "
           "6209352739000.001 1/s x (T / 298) x exp(-dG x 4184 / 8.314 / T); the monothiol "
           "factor and the organomercurial binding's constants follow T as the constants of "
           "the barriers that give them at 298 K")
        + "; in steps 23, 25 and 37 the odd one is the reverse constant. A barrier above "
        f"{mechanism.BARRIER_CUTOFF:g} kcal/mol gives a constant of 0. "
        + (f"For this monothiol acceptor both constants of steps 5, 9, 13, 29 and 35 are "
           f"multiplied by {mechanism.monothiol_factor(p.temperature):.6g}. " if acceptor_type == 3
           else "")
        + "Each constant's annotation names its barrier, its value in kcal/mol and its "
        "argument. The binding of the organomercurial (step39) has fixed constants.",
        "Acceptor split by pH: the free acceptor S reacts as thiol (thiol_coefficient x S) "
        "and as thiolate (thiolate_coefficient x S). "
        + ("A second thiol taken up by a bound intermediate is a second molecule: "
           "thiol_factor_coefficient x S and thiolate_factor_coefficient x S, and those "
           "steps consume S (step 25 gives one back). " if acceptor_type == 3 else
           "A second thiol taken up by a bound intermediate is the other thiol group of the "
           "molecule already bound: the constant fractions thiol_factor_coefficient and "
           "thiolate_factor_coefficient, and those steps do not consume S. ")
        + "H+ is buffered: the constant H_ion = 10^-pH mol/L, a reactant of steps 7 and 31.",
        ("Organomercurial mode: the enzyme released by steps 7, 13 and 31 and by the reverse "
         "of step 37 goes back to MerB at once, as in the programs, so those steps make (step "
         "37 takes) MerB; O1, O2 and O3 are constant species at 0, which leaves the terms "
         "in which they stand (the reverse terms of steps 7, 13 and 31, the forward term of "
         "step 37) at 0." if organo else
         "Not in organomercurial mode: MerB, ES, PHMB and organic are 0, so steps 21 and 39 "
         "carry nothing. The programs' apoMerB is O1 + O2 + O3."),
        "t50 and t90 are the times at which P reaches 50 % and 90 % of the enzyme amount "
        "(A + MerB at time 0). Core SBML only: no rules, events, initial assignments or "
        "function definitions. libsbml writes values to 15 significant digits.",
    ]
    return notes
