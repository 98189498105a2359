"""Which runs a degree-of-rate-control study needs: for every step of the
mechanism both barriers lowered by delta, then both raised by delta, besides
the base run; and which steps are not differentiated, with the reason.

A step is not differentiated when one of its barriers lies within delta of
the 60 kcal/mol cut-off (the programs switch a direction off above it, so
the two cases would straddle a jump), or when both its directions are
switched off (it carries nothing).  A step with one direction switched off
well above the cut-off is differentiated: that direction stays off in both
cases, and the other one's transition state moves.  A step that cannot
carry anything in the mode at hand (step 21, the split of the
organomercurial, outside organomercurial mode) is not run either: its
degree is 0.  A study of some steps only (`steps`) leaves the others out,
with a note.  The organomercurial binding has fixed constants, not
barriers: its degree is derived from the sum rule.

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
    inert: bool = False            # carries nothing in this mode: X is 0, not run
    left_out: bool = False         # not among the steps asked for

    @property
    def differentiated(self) -> bool:
        return self.lowered is not None

    @property
    def may_carry_flux(self) -> bool:
        """Whether one of its directions is on (a barrier of 60 kcal/mol or
        less) in a mode where the step can carry anything."""
        if self.derived or self.forward_kcal is None:
            return True
        return not self.inert and min(self.forward_kcal, self.reverse_kcal) \
            <= mechanism.BARRIER_CUTOFF

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


def chosen_steps(steps, organomercurial: bool) -> list[int] | None:
    """The step numbers a study is limited to (None: every step), checked.

    >>> chosen_steps("1,9, 29", False), chosen_steps(None, False)
    ([1, 9, 29], None)
    >>> chosen_steps("2", False)
    Traceback (most recent call last):
    ...
    tolvanex.errors.InvalidValue: step 2: no such step; the steps with barriers are 1, 3, ..., 37
    """
    if steps is None:
        return None
    words = steps.split(",") if isinstance(steps, str) else list(steps)
    chosen = []
    for word in words:
        try:
            number = int(str(word).strip())
        except ValueError:
            raise InvalidValue(f"step {str(word).strip()!r}: give step numbers such as 1,9,29"
                               ) from None
        if number == mechanism.BINDING_STEP.number:
            raise InvalidValue("step 39 (the organomercurial binding) has fixed constants: "
                               "its degree is derived from the sum rule, in a study of every "
                               "step" + ("" if organomercurial else
                                         ", and it carries nothing outside organomercurial mode"))
        if number not in {s.number for s in mechanism.REVERSIBLE_STEPS}:
            raise InvalidValue(f"step {number}: no such step; the steps with barriers are "
                               "1, 3, ..., 37")
        if number in chosen:
            raise InvalidValue(f"step {number} is given twice")
        chosen.append(number)
    if not chosen:
        raise InvalidValue("no steps given")
    return chosen


def step_plans(parameters, delta, steps=None) -> list[StepPlan]:
    """The plan of every step of the mechanism with barriers (19), and in
    organomercurial mode the binding step as derived, in mechanism order;
    `steps` (numbers, or text such as "1,9,29") limits the study to some."""
    d = _delta(delta)
    chosen = chosen_steps(steps, parameters.is_organomercurial)
    plans = []
    for s in mechanism.REVERSIBLE_STEPS:
        fw = parameters[f"barrier{s.forward_barrier}"]
        rv = parameters[f"barrier{s.reverse_barrier}"]
        if chosen is not None and s.number not in chosen:
            plans.append(StepPlan(s, fw, rv, None, None, False, "left out: not among the "
                                  "steps asked for (--steps)", left_out=True))
            continue
        if s.organomercurial_only and not parameters.is_organomercurial:
            plans.append(StepPlan(s, fw, rv, None, None, False, "carries nothing outside "
                                  "organomercurial mode: X is 0, not run", inert=True))
            continue
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
        plans.append(StepPlan(s, fw, rv, lowered, raised, False, note))
    if parameters.is_organomercurial and chosen is None:
        plans.append(StepPlan(mechanism.BINDING_STEP, None, None, None, None, True,
                              "derived: fixed constants, no barriers; what the sum rule "
                              "leaves to the other steps"))
    elif parameters.is_organomercurial:
        plans.append(StepPlan(mechanism.BINDING_STEP, None, None, None, None, False,
                              "left out: fixed constants, its degree derived from the sum "
                              "rule in a study of every step", left_out=True))
    return plans


def study_cases(plans) -> list[tuple[str, dict]]:
    """The named cases of the study for `tolvanex.scans.scan`: the base first,
    then the lowered and raised case of every differentiated step."""
    cases = [(BASE_CASE, {})]
    for p in plans:
        if p.differentiated:
            cases += [(p.case("lowered"), p.lowered), (p.case("raised"), p.raised)]
    return cases
