"""The split of the free acceptor S into the forms that react, by pH.

Each acceptor thiol group is deprotonated with the share f = R / (1 + R)
and protonated with g = 1 / (1 + R), R = 10**(pH − pKa); pKa is 6 for MerA
(type 1) and 10.4 otherwise in the programs, and any value given for the
exact kinetics (`Parameters.pKa`).

* monothiol (type 3), one thiol group a molecule: thiolate = f·S,
  thiol = S − thiolate; a second thiol taken up by a bound intermediate is a
  second molecule, so the factors are the amounts themselves.
* MerA and a dithiol (types 1, 2), two independent groups a molecule:
  thiolate = S·f·(2 − f) (at least one group deprotonated), thiol =
  S·g·(2 − g) (at least one protonated); the second thiol is the other
  group of the molecule already bound, so the factors are the fractions f
  (thiolate factor) and g (thiol factor).

Every form is linear in S: `acceptor_coefficients` gives each as a
coefficient and whether it is to be multiplied by S.

>>> forms = acceptor_forms(1e-3, pH=7.0, acceptor_type=1)
>>> round(forms["thiolate"] / 1e-3, 5), round(forms["thiol"] / 1e-3, 5)
(0.99174, 0.17355)
"""

from __future__ import annotations

from typing import NamedTuple
from ..errors import InvalidValue

#: pKa of an acceptor thiol group: MerA has one low-pKa thiol.
PKA_MERA = 6.0
PKA_OTHER = 10.4


def pka_thiol(acceptor_type: float) -> float:
    """The pKa of the acceptor's thiol groups.

    >>> pka_thiol(1), pka_thiol(3)
    (6.0, 10.4)
    """
    return PKA_MERA if acceptor_type == 1 else PKA_OTHER


def fractions(pH: float, acceptor_type: float, pKa: float | None = None) -> tuple[float, float]:
    """(f, g): the deprotonated and protonated share of one thiol group, at
    `pKa` (default: the programs', `pka_thiol`).

    >>> fractions(10.4, 2), fractions(9.0, 3, pKa=9.0)
    ((0.5, 0.5), (0.5, 0.5))
    """
    ratio = 10.0 ** (pH - (pka_thiol(acceptor_type) if pKa is None else pKa))
    return ratio / (1 + ratio), 1 / (1 + ratio)


class Coefficient(NamedTuple):
    """A form of the acceptor as ``value`` (times S when ``per_S``)."""

    value: float
    per_S: bool


def acceptor_coefficients(pH: float, acceptor_type: float,
                          pKa: float | None = None) -> dict[str, Coefficient]:
    """Each acceptor form (thiol, thiolate, thiol factor, thiolate factor)
    as a coefficient of S or a constant fraction (at `pKa`, by default the
    programs').

    >>> c = acceptor_coefficients(7.4, 3)
    >>> c["thiol factor"].per_S, acceptor_coefficients(7.4, 2)["thiol factor"].per_S
    (True, False)
    """
    if acceptor_type not in (1, 2, 3):
        raise InvalidValue(f"acceptor type {acceptor_type!r}: it must be 1 (MerA), "
                         "2 (dithiol) or 3 (monothiol)")
    f, g = fractions(pH, acceptor_type, pKa)
    if acceptor_type == 3:
        return {"thiol": Coefficient(1 - f, True), "thiolate": Coefficient(f, True),
                "thiol factor": Coefficient(1 - f, True),
                "thiolate factor": Coefficient(f, True)}
    return {"thiol": Coefficient(g * (2 - g), True), "thiolate": Coefficient(f * (2 - f), True),
            "thiol factor": Coefficient(g, False), "thiolate factor": Coefficient(f, False)}


def acceptor_forms(S: float, pH: float, acceptor_type: float,
                   pKa: float | None = None) -> dict[str, float]:
    """The four acceptor forms for a free acceptor amount S (mol/L).

    >>> acceptor_forms(2e-3, 10.4, 3)["thiol"]
    0.001
    """
    return {name: c.value * S if c.per_S else c.value
            for name, c in acceptor_coefficients(pH, acceptor_type, pKa).items()}


def consumes_acceptor(form: str, acceptor_type: float) -> bool:
    """Whether taking up this form takes a molecule from the free acceptor
    S: thiol and thiolate always; the factors only for a monothiol, where
    the second thiol is a second molecule.

    >>> consumes_acceptor("thiol factor", 3), consumes_acceptor("thiol factor", 1)
    (True, False)
    """
    return form in ("thiol", "thiolate") or acceptor_type == 3
