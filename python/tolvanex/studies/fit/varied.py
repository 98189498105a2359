"""What a fit varies: barriers by name, the transition state of a step, a
common shift of every barrier; their bounds; and the barriers they give.

``barrierN`` is the barrier itself (kcal/mol), starting at its calculated
value.  ``stepN`` moves both barriers of step N together by one amount (its
transition state; the equilibrium constant stays), ``shift`` every barrier
that no other varied name moves; both start at 0 kcal/mol.  Bounds are
written ``NAME=LOW:HIGH`` (kcal/mol; either may be left empty).  By
default a parameter may move 10 kcal/mol either way, but no moved barrier
below 0 and no barrier across the 60 kcal/mol cut-off, above which its
direction is switched off (a step the fit cannot follow); bounds given
across the cut-off, or bounds that exclude the start, are refused.

>>> from tolvanex.model.parameters import Parameters
>>> p = Parameters.read("examples/glutathione.args")
>>> v = resolve(parse_vary("barrier9=5:15,step1"), [p.barriers])
>>> [(x.name, x.barriers, x.start, x.low, x.high) for x in v]
[('barrier9', (9,), 10.5, 5.0, 15.0), ('step1', (1, 2), 0.0, -10.0, 10.0)]
>>> barriers_at(v, [10.0, 0.5], p.barriers)[:3]
[16.1, 17.2, 10.7]
"""

from __future__ import annotations

import math
import re
from typing import NamedTuple

from ...errors import InvalidValue
from ...model import mechanism
from ...model.mechanism import BARRIER_CUTOFF
from ...model.parameters import BARRIER_COUNT

#: How far a parameter may move from its start by default (kcal/mol).
DEFAULT_REACH = 10.0
SHIFT = "shift"
_NAME = re.compile(r"(barrier|step)(\d+)|shift", re.I)
NAMES_HELP = "barrier1 ... barrier38, step1, step3 ... step37 or shift"


class Varied(NamedTuple):
    """One varied parameter: its name, the barrier numbers it moves,
    whether its value is the barrier itself (else a shift), its start (the
    calculated value) and bounds, all in kcal/mol."""

    name: str
    barriers: tuple[int, ...]
    absolute: bool
    start: float
    low: float
    high: float

    @property
    def kind(self) -> str:
        return "shift" if self.name == SHIFT else self.name.rstrip("0123456789")


def _bound(text: str, name: str) -> float | None:
    if not text.strip():
        return None
    try:
        value = float(text)
    except ValueError:
        raise InvalidValue(f"--vary {name}: bound {text!r} is not a number") from None
    if not math.isfinite(value):
        raise InvalidValue(f"--vary {name}: bound {text!r} is not a finite number")
    return value


def parse_vary(items) -> list[tuple[str, float | None, float | None]]:
    """``NAME[=LOW:HIGH]`` items, comma-separated in one text or a list, as
    (canonical name, low, high); None for a bound not given.

    >>> parse_vary(["Barrier9=10:", "shift=-2:2"])
    [('barrier9', 10.0, None), ('shift', -2.0, 2.0)]
    """
    if isinstance(items, str):
        items = [items]
    out, seen = [], set()
    for item in (w.strip() for text in items for w in str(text).split(",")):
        if not item:
            continue
        name, given, bounds = item.partition("=")
        m = _NAME.fullmatch(name.strip())
        if m is None:
            raise InvalidValue(f"--vary: no parameter {name.strip()!r}; vary {NAMES_HELP}")
        name = SHIFT if m.group(1) is None else f"{m.group(1).lower()}{int(m.group(2))}"
        if m.group(1) and m.group(1).lower() == "barrier" and not 1 <= int(m.group(2)) <= 38:
            raise InvalidValue(f"--vary: no {name}; the barriers are barrier1 ... barrier38")
        if m.group(1) and m.group(1).lower() == "step":
            number = int(m.group(2))
            if number == mechanism.BINDING_STEP.number:
                raise InvalidValue("--vary: step39, the organomercurial binding, has fixed "
                                   "constants and no barriers")
            try:
                mechanism.step(number)
            except KeyError:
                raise InvalidValue(f"--vary: no {name}; the steps are step1, step3 ... "
                                   "step37") from None
        if name in seen:
            raise InvalidValue(f"--vary: {name} given twice")
        seen.add(name)
        low = high = None
        if given:
            if ":" not in bounds:
                raise InvalidValue(f"--vary {item}: bounds are written {name}=LOW:HIGH")
            low_text, high_text = bounds.split(":", 1)
            low, high = _bound(low_text, name), _bound(high_text, name)
        out.append((name, low, high))
    if not out:
        raise InvalidValue(f"--vary: give what to vary ({NAMES_HELP})")
    return out


def _moved(parsed) -> dict[str, tuple[int, ...]]:
    """The barrier numbers each name moves; refuses a barrier moved twice."""
    moved, owner = {}, {}
    for name, _, _ in parsed:
        if name.startswith("barrier"):
            moved[name] = (int(name[7:]),)
        elif name.startswith("step"):
            moved[name] = mechanism.step(int(name[4:])).barriers
        else:
            continue
        for b in moved[name]:
            if b in owner:
                raise InvalidValue(f"--vary: barrier{b} is moved by both {owner[b]} and {name};"
                                   " vary each barrier through one name")
            owner[b] = name
    if any(name == SHIFT for name, _, _ in parsed):
        moved[SHIFT] = tuple(b for b in range(1, BARRIER_COUNT + 1) if b not in owner)
        if not moved[SHIFT]:
            raise InvalidValue("--vary: shift moves no barrier (every one is varied by name)")
    return moved


def _allowed(barriers, numbers, absolute: bool) -> tuple[float, float, float]:
    """The range of a parameter that keeps the barriers it moves at 0 or
    more and each on its side of the cut-off: (lowest keeping them at 0 or
    more, lowest keeping a switched-off one off, highest keeping one that
    is on below the cut-off)."""
    if absolute:
        return 0.0, -math.inf, BARRIER_CUTOFF
    zero, off, high = -math.inf, -math.inf, math.inf
    for values in barriers:
        for b in numbers:
            x = values[b - 1]
            if x <= BARRIER_CUTOFF:
                zero, high = max(zero, -x), min(high, BARRIER_CUTOFF - x)
            else:
                off = max(off, BARRIER_CUTOFF - x + 1e-6)
    return zero, off, high


def resolve(parsed, barriers) -> list[Varied]:
    """The varied parameters for the data sets' barrier lists (one list of
    38 per data set): starts, bounds, checks (see the module)."""
    moved = _moved(parsed)
    out = []
    for name, low, high in parsed:
        numbers = moved[name]
        absolute = name.startswith("barrier")
        start = 0.0
        if absolute:
            starts = {values[numbers[0] - 1] for values in barriers}
            if len(starts) > 1:
                raise InvalidValue(f"--vary {name}: the arguments files give it different "
                                   f"values ({', '.join(f'{s:g}' for s in sorted(starts))}); "
                                   "a shared barrier starts from one calculated value")
            start = starts.pop()
            if start > BARRIER_CUTOFF:
                raise InvalidValue(f"--vary {name}: it is {start:g} kcal/mol, above the "
                                   f"{BARRIER_CUTOFF:g} kcal/mol cut-off, so its direction is "
                                   "switched off and a fit cannot move it")
        zero, off, edge = _allowed(barriers, numbers, absolute)
        if high is not None and high > edge:
            raise InvalidValue(f"--vary {name}: upper bound {high:g} takes a barrier above the "
                               f"{BARRIER_CUTOFF:g} kcal/mol cut-off (at most {edge:.6g})")
        if low is not None and low < off:
            raise InvalidValue(f"--vary {name}: lower bound {low:g} brings a switched-off "
                               f"barrier below the {BARRIER_CUTOFF:g} kcal/mol cut-off")
        low = max(start - DEFAULT_REACH, zero, off) if low is None else low
        high = min(start + DEFAULT_REACH, edge) if high is None else high
        if not low < high:
            raise InvalidValue(f"--vary {name}: bounds {low:g}:{high:g} hold no range")
        if not low <= start <= high:
            raise InvalidValue(f"--vary {name}: bounds {low:g}:{high:g} exclude its start "
                               f"{start:g} kcal/mol (the calculated value"
                               f"{'' if absolute else ', moved by 0'})")
        out.append(Varied(name, numbers, absolute, float(start), float(low), float(high)))
    return out


def barriers_at(varied, theta, base) -> list[float]:
    """The 38 barriers of one data set (its calculated ones `base`) with the
    varied parameters at `theta`."""
    out = list(base)
    for v, x in zip(varied, theta):
        for b in v.barriers:
            out[b - 1] = float(x) if v.absolute else base[b - 1] + float(x)
    return out
