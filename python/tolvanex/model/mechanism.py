"""The reaction mechanism as data: the 19 reversible steps and the
organomercurial binding, and the rate constants of a run.

Every step is written in the direction in which its net flux counts as
positive (flux1 ... flux37, flux39 in the programs' output).  Reactants and
products are species labels (`tolvanex.model.species`) or one of the acceptor
forms of the speciation:

* ``thiol``, ``thiolate``: free acceptor that reacts protonated or
  deprotonated (an amount, mol/L, for every acceptor type);
* ``thiol factor``, ``thiolate factor``: a *second* thiol taken up by a
  bound intermediate: for a monothiol (type 3) a second free acceptor
  molecule, an amount; for MerA and a dithiol (types 1, 2) the second thiol
  group of the molecule already bound, a fraction;
* ``H+``: the hydrogen ion, 10**-pH mol/L, buffered.

Each step m has two barriers, ``barrier m`` and ``barrier m+1`` (the
arguments ``barrier1`` ... ``barrier38``).  The odd one belongs to the
positive direction except in steps 23, 25 and 37, where the odd barrier is
that of the reverse direction.

>>> step(23).equation, step(23).forward_barrier, step(23).reverse_barrier
('D ⇌ A + thiolate', 24, 23)
>>> [s.number for s in STEPS if s.monothiol_factor]
[5, 9, 13, 29, 35]
>>> step(3).label
'3: C → K, Hg moves to Cys96'
"""

from __future__ import annotations

import math
from typing import NamedTuple

import pandas as pd

#: kB·T/h at 298 K (1/s), the prefactor of the Eyring relation as the
#: programs use it.
EYRING_PREFACTOR = 6209352739000.001
CALORIES_TO_JOULES = 4184.0   # J/kcal
GAS_CONSTANT = 8.314          # J/(mol K)
TEMPERATURE = 298.0           # K
#: A barrier strictly above this (kcal/mol) switches its direction off.
BARRIER_CUTOFF = 60.0
#: Factor of both constants of the steps marked `monothiol_factor`, for a
#: monothiol acceptor (type 3): k(4 kcal/mol) / k(0) to four digits.
MONOTHIOL_FACTOR = 0.001165
#: The organomercurial binding MerB + PHMB ⇌ ES: fixed constants, no barriers.
BINDING_FORWARD = 7.2339e9    # L/(mol s), 0.001165 x the Eyring prefactor
BINDING_REVERSE = 9.8e3       # 1/s

#: The acceptor forms that may stand among reactants and products.
ACCEPTOR_FORMS = ("thiol", "thiolate", "thiol factor", "thiolate factor")
HYDROGEN_ION = "H+"


class Step(NamedTuple):
    """One step of the mechanism, in the direction of its positive net flux.

    >>> s = step(1)
    >>> s.reactants, s.products, s.barriers, s.flux
    (('A', 'thiol'), ('C',), (1, 2), 'flux1')
    """

    number: int                    # m: the net flux is flux m
    reactants: tuple[str, ...]
    products: tuple[str, ...]
    forward_barrier: int | None    # barrier number (1-38) of the positive direction
    reverse_barrier: int | None
    monothiol_factor: bool         # both constants x MONOTHIOL_FACTOR for type 3
    organomercurial_only: bool     # can carry flux only in organomercurial mode
    description: str

    @property
    def flux(self) -> str:
        """The name of its net flux in the programs' output."""
        return f"flux{self.number}"

    @property
    def barriers(self) -> tuple[int, int] | None:
        """Its two barrier numbers, (m, m+1); None for the fixed binding."""
        if self.forward_barrier is None:
            return None
        return (self.number, self.number + 1)

    @property
    def equation(self) -> str:
        """Reactants ⇌ products, the positive direction left to right."""
        return f"{' + '.join(self.reactants)} ⇌ {' + '.join(self.products)}"

    @property
    def label(self) -> str:
        """A short label for a table or a chart: number, species, what happens."""
        return (f"{self.number}: {' + '.join(self.reactants)} → "
                f"{' + '.join(self.products)}, {self.description}")

    @property
    def species(self) -> tuple[str, ...]:
        """The species it joins (acceptor forms and H+ left out)."""
        return tuple(x for x in self.reactants + self.products
                     if x not in ACCEPTOR_FORMS and x != HYDROGEN_ION)


def _step(number, reactants, products, reverse_is_odd=False, monothiol=False,
          organomercurial=False, description=""):
    odd, even = number, number + 1
    forward, reverse = (even, odd) if reverse_is_odd else (odd, even)
    return Step(number, tuple(reactants), tuple(products), forward, reverse,
                monothiol, organomercurial, description)


#: The 19 reversible steps with barriers, in the order of their net fluxes.
REVERSIBLE_STEPS = (
    _step(1, ["A", "thiol"], ["C"], description="acceptor thiol binds HgMerB (Int1)"),
    _step(3, ["C"], ["K"], description="Hg moves to Cys96"),
    _step(5, ["K", "thiolate factor"], ["N"], monothiol=True,
          description="second thiol binds as thiolate, Cys96 route"),
    _step(7, ["N", "H+"], ["O2", "P"], description="protonation releases the product, Cys96 route"),
    _step(9, ["K", "thiol factor"], ["L"], monothiol=True,
          description="second thiol binds protonated, Cys96 route"),
    _step(11, ["L"], ["M"], description="Hg moves to Asp99 (Int4)"),
    _step(13, ["M"], ["O1", "P"], monothiol=True, description="product leaves Int4 (Asp99)"),
    _step(15, ["A", "thiol"], ["G"], description="acceptor thiol binds HgMerB, H+ on Asp"),
    _step(17, ["G", "thiol factor"], ["I"], description="second thiol binds, Cys159 route"),
    _step(19, ["I"], ["J"], description="Int4 (Cys159-bound) forms"),
    _step(21, ["ES"], ["A", "organic"], organomercurial=True,
          description="MerB splits the organomercurial"),
    _step(23, ["D"], ["A", "thiolate"], reverse_is_odd=True,
          description="anionic Int1 gives up the thiolate"),
    _step(25, ["F"], ["G", "thiolate factor"], reverse_is_odd=True,
          description="Int3' (Cys159) gives up a thiolate"),
    _step(27, ["D"], ["E"], description="Hg moves to Cys159, anionic route"),
    _step(29, ["E", "thiol factor"], ["F"], monothiol=True,
          description="second thiol binds, anionic Cys159 route"),
    _step(31, ["F", "H+"], ["O3", "P"], description="protonation releases the product, Cys159 route"),
    _step(33, ["Q"], ["D"], description="anionic Int2 (Cys96) turns into anionic Int1"),
    _step(35, ["Q", "thiol factor"], ["N"], monothiol=True,
          description="second thiol binds, anionic Cys96 route"),
    _step(37, ["O3", "P"], ["J"], reverse_is_odd=True,
          description="product rebinds free enzyme as Int4 (Cys159)"),
)

#: The organomercurial binding: fixed constants, organomercurial mode only.
BINDING_STEP = Step(39, ("MerB", "PHMB"), ("ES",), None, None, False, True,
                    "free MerB binds the organomercurial")

#: Every step with a net flux: the 19 reversible steps, then the binding.
STEPS = REVERSIBLE_STEPS + (BINDING_STEP,)

#: The barrier numbers scaled by MONOTHIOL_FACTOR for a monothiol acceptor.
MONOTHIOL_SCALED = tuple(b for s in REVERSIBLE_STEPS if s.monothiol_factor for b in s.barriers)

_BY_NUMBER = {s.number: s for s in STEPS}


def step(number: int) -> Step:
    """The step whose net flux is flux `number` (1, 3, ..., 37, 39).

    >>> step(37).reactants
    ('O3', 'P')
    """
    try:
        return _BY_NUMBER[int(number)]
    except (KeyError, ValueError):
        raise KeyError(f"no step {number!r}; the steps are 1, 3, ..., 37 and 39") from None


def step_of_barrier(barrier: int) -> Step:
    """The step a barrier number (1-38) belongs to.

    >>> step_of_barrier(24).number, step_of_barrier(24).forward_barrier
    (23, 24)
    """
    if not 1 <= int(barrier) <= 38:
        raise KeyError(f"no barrier {barrier!r}; the barriers are 1 to 38")
    return step(int(barrier) - (1 - int(barrier) % 2))


def argument_position(barrier: int, organomercurial: bool = False) -> int:
    """The position (1-based) of a barrier in the argument list: 8 to 45 of
    the 46 arguments, 9 to 46 of the 47.

    >>> argument_position(1), argument_position(38, organomercurial=True)
    (8, 46)
    """
    return 7 + int(barrier) + (1 if organomercurial else 0)


def eyring_rate_constant(barrier: float, temperature: float = TEMPERATURE) -> float:
    """The rate constant of one barrier (kcal/mol) by the Eyring relation at
    `temperature` (K), evaluated as the programs evaluate it at 298 K:
    x = ((ΔG‡ · 4184) / 8.314) / T, k = exp(−x) · (6209352739000.001 · (T / 298)),
    the prefactor kB·T/h scaled from its value at 298 K (so that at 298 K the
    constants are the programs' bit for bit).  No cut-off here.

    >>> f"{eyring_rate_constant(0):6.5e}", f"{eyring_rate_constant(10):6.5e}"
    ('6.20935e+12', '2.87672e+05')
    >>> f"{eyring_rate_constant(10, 310) / eyring_rate_constant(10):.4f}"
    '2.0001'
    """
    x = ((barrier * CALORIES_TO_JOULES) / GAS_CONSTANT) / temperature
    return math.exp(-x) * (EYRING_PREFACTOR * (temperature / TEMPERATURE))


def at_temperature(constant_at_298: float, temperature: float) -> float:
    """A constant known only by its value at 298 K, at `temperature`: the
    Eyring constant of the barrier that gives that value at 298 K,
    k298 · (T / 298) · exp(ln(k298 / (kB·298/h)) · (298 / T − 1)); k298 itself
    at 298 K.  The organomercurial binding's fixed constants follow T so.

    >>> at_temperature(9.8e3, 298.0), f"{at_temperature(9.8e3, 310) / 9.8e3:.4f}"
    (9800.0, '2.2796')
    """
    shift = TEMPERATURE / temperature - 1
    return constant_at_298 * ((temperature / TEMPERATURE)
                              * math.exp(math.log(constant_at_298 / EYRING_PREFACTOR) * shift))


def monothiol_factor(temperature: float = TEMPERATURE) -> float:
    """The monothiol factor at `temperature`: 0.001165 is k(4 kcal/mol) /
    k(0) at 298 K, a ratio of two Eyring constants, which at T is
    0.001165^(298 / T) (the ratio for the same 4 kcal/mol at T).

    >>> monothiol_factor(298.0), f"{monothiol_factor(310):.6f}"
    (0.001165, '0.001513')
    """
    return MONOTHIOL_FACTOR * math.exp(math.log(MONOTHIOL_FACTOR)
                                       * (TEMPERATURE / temperature - 1))


def rate_constants(parameters) -> pd.Series:
    """k1 ... k38 of a run (index 1-38): Eyring at its temperature (298 K
    unless `Parameters.temperature` says otherwise), both constants of the
    steps with the monothiol factor scaled for acceptor type 3, and 0 for a
    barrier above 60 kcal/mol.  Units: 1/s for first-order, L/(mol s) for
    second-order directions.  At 298 K the same numbers the programs print
    in their "DeltaG*" lines.

    >>> from tolvanex.model.parameters import Parameters
    >>> k = rate_constants(Parameters.read("examples/glutathione.args"))
    >>> f"{k[1]:6.5e}", f"{k[5]:6.5e}", len(k)
    ('2.24789e+01', '4.34635e-02', 38)
    """
    barriers = parameters.barriers
    temperature = parameters.temperature
    k = [eyring_rate_constant(b, temperature) for b in barriers]
    if parameters.acceptor_type == 3:
        factor = monothiol_factor(temperature)
        for i in MONOTHIOL_SCALED:
            k[i - 1] = k[i - 1] * factor
    k = [0.0 if b > BARRIER_CUTOFF else value for b, value in zip(barriers, k)]
    return pd.Series(k, index=pd.RangeIndex(1, 39, name="barrier"), name="k")


def step_constants(parameters) -> pd.DataFrame:
    """The forward and reverse constant of every step (rows: step numbers),
    the binding step's fixed ones included.

    >>> from tolvanex.model.parameters import Parameters
    >>> c = step_constants(Parameters.read("examples/mera.args"))
    >>> c.loc[39, "forward"], list(c.columns)
    (7233900000.0, ['forward', 'reverse'])
    """
    k = rate_constants(parameters)
    binding = tuple(at_temperature(c, parameters.temperature)
                    for c in (BINDING_FORWARD, BINDING_REVERSE))
    rows = {}
    for s in STEPS:
        if s.forward_barrier is None:
            rows[s.number] = binding
        else:
            rows[s.number] = (k[s.forward_barrier], k[s.reverse_barrier])
    frame = pd.DataFrame.from_dict(rows, orient="index", columns=["forward", "reverse"])
    frame.index.name = "step"
    return frame
