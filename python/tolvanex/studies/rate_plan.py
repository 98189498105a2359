"""Which runs a degree-of-rate-control study needs: for every step of the
mechanism both barriers lowered by delta, then both raised by delta, besides
the base run; and which steps are not differentiated, with the reason.

A step is not differentiated when one of its barriers lies within delta of
the 60 kcal/mol cut-off (the programs switch a direction off above it, so
the two cases would straddle a jump), or when both its directions are
switched off (it carries nothing).  A step with one direction switched off
well above the cut-off is differentiated: that direction stays off in both
cases, and the other one's transition state moves.  The organomercurial
binding has fixed constants, not barriers: its degree is derived from the
sum rule.

>>> from tolvanex.model.parameters import Parameters
>>> plan = step_plans(Parameters.read("examples/mera.args"), 0.1)
>>> len(plan), plan[1].lowered, plan[1].raised
(19, {'barrier3': '9.4', 'barrier4': '16.2'}, {'barrier3': '9.6', 'barrier4': '16.4'})
>>> [name for name, _ in study_cases(plan)][:3]
['base', 'step1_lowered', 'step1_raised']
"""

from __future__ import annotations

from decimal import Decimal, InvalidOperation
from typing import NamedTuple

from ..errors import InvalidValue
from ..model import mechanism

BASE_CASE = "base"


class StepPlan(NamedTuple):
    """One step of the study: its two barriers (kcal/mol), the changed
    barrier texts of its lowered and raised cases (None: not run), whether
    its degree is derived from the sum rule, and a note.

    >>> from tolvanex.model.parameters import Parameters
    >>> p = step_plans(Parameters.read("examples/mera.args").replace(barrier8=60.05), 0.1)[3]
    >>> p.differentiated, p.may_carry_flux, p.note[:41]
    (False, True, 'not differentiated: barrier8 = 60.05 kcal')
    """

    step: mechanism.Step
    forward_kcal: float | None
    reverse_kcal: float | None
    lowered: dict | None
    raised: dict | None
    derived: bool
    note: str

    @property
    def differentiated(self) -> bool:
        return self.lowered is not None

    @property
    def may_carry_flux(self) -> bool:
        """Whether one of its directions is on (a barrier of 60 kcal/mol or less)."""
        return self.derived or min(self.forward_kcal, self.reverse_kcal) <= mechanism.BARRIER_CUTOFF

    def case(self, which: str) -> str:
        """The name of its lowered or raised case.

        >>> from tolvanex.model.parameters import Parameters
        >>> step_plans(Parameters.read("examples/mera.args"), 0.1)[0].case("raised")
        'step1_raised'
        """
        return f"step{self.step.number}_{which}"


def shifted(text: str, by: Decimal) -> str:
    """A barrier's text moved by `by` kcal/mol, in decimal arithmetic where
    the text is decimal (15.7 - 0.1 is 15.6, not 15.599999999999998).

    >>> shifted("15.7", Decimal("-0.1")), shifted("12", Decimal("0.05"))
    ('15.6', '12.05')
    >>> shifted("0x10", Decimal("1"))
    '17.0'
    """
    try:
        value = Decimal(text.strip()) + by
        if not value.is_finite():
            raise InvalidOperation
        value = value.normalize()
        return format(value, "f") if abs(value.adjusted()) < 7 else format(value, "e")
    except InvalidOperation:
        from ..model.parameters import atof
        return repr(atof(text) + float(by))


def _delta(delta) -> Decimal:
    try:
        d = Decimal(str(delta).strip())
    except InvalidOperation:
        d = Decimal("NaN")
    if not (d.is_finite() and d > 0):
        raise InvalidValue(f"delta is {delta!r} kcal/mol: give a positive number")
    return d


def _cut_off_note(parameters, barriers, delta: float) -> str:
    cut = mechanism.BARRIER_CUTOFF
    near = [b for b in barriers if abs(parameters[f"barrier{b}"] - cut) <= delta * (1 + 1e-12)]
    if near:
        shown = ", ".join(f"barrier{b} = {parameters.text(f'barrier{b}')}" for b in near)
        return (f"not differentiated: {shown} kcal/mol lies within {delta:g} of the "
                f"{cut:g} kcal/mol cut-off, above which a direction is switched off")
    if all(parameters[f"barrier{b}"] > cut for b in barriers):
        return f"switched off: both barriers are above {cut:g} kcal/mol; it carries nothing"
    return ""


def step_plans(parameters, delta) -> list[StepPlan]:
    """The plan of every step of the mechanism with barriers (19), and in
    organomercurial mode the binding step as derived, in mechanism order."""
    d = _delta(delta)
    plans = []
    for s in mechanism.REVERSIBLE_STEPS:
        fw = parameters[f"barrier{s.forward_barrier}"]
        rv = parameters[f"barrier{s.reverse_barrier}"]
        note = _cut_off_note(parameters, s.barriers, float(d))
        lowered = raised = None
        if not note:
            texts = {b: parameters.text(f"barrier{b}") for b in s.barriers}
            lowered = {f"barrier{b}": shifted(t, -d) for b, t in texts.items()}
            raised = {f"barrier{b}": shifted(t, d) for b, t in texts.items()}
            off = [b for b in s.barriers if parameters[f"barrier{b}"] > mechanism.BARRIER_CUTOFF]
            if off:
                note = (f"barrier{off[0]} is above {mechanism.BARRIER_CUTOFF:g} kcal/mol: that "
                        "direction stays switched off; only the other one's transition "
                        "state moves")
            elif s.organomercurial_only and not parameters.is_organomercurial:
                note = "carries nothing outside organomercurial mode"
        plans.append(StepPlan(s, fw, rv, lowered, raised, False, note))
    if parameters.is_organomercurial:
        plans.append(StepPlan(mechanism.BINDING_STEP, None, None, None, None, True,
                              "derived: fixed constants, no barriers; what the sum rule "
                              "leaves to the other steps"))
    return plans


def study_cases(plans) -> list[tuple[str, dict]]:
    """The named cases of the study for `tolvanex.scans.scan`: the base first,
    then the lowered and raised case of every differentiated step."""
    cases = [(BASE_CASE, {})]
    for p in plans:
        if p.differentiated:
            cases += [(p.case("lowered"), p.lowered), (p.case("raised"), p.raised)]
    return cases
