"""The errors of the barriers: which independent factors move which
barriers, and by how much.

Three kinds of factor, which combine (their changes add up):

- ``barrierN``: an error of barrier N alone (``--sigma``);
- ``stepM``: an error of the transition state of step M, which moves both
  of its barriers, M and M+1, together (``--sigma-step``): the step's
  equilibrium constant stays;
- ``shift``: one common shift of every barrier, a systematic error of the
  method (``--shift``).  Every rate constant is then multiplied by
  exp(−δ·4184/(8.314·298)), so every time is multiplied by the inverse,
  as long as no barrier crosses the 60 kcal/mol cut-off (and apart from
  the organomercurial binding, whose constants are fixed).

Each factor is normal with standard deviation σ, or (``uniform``) spread
evenly over ±w, the value given being the half-width w (standard
deviation w/√3).  A factor with 0 is left out.

>>> m = ErrorModel.build(sigma=["1", "barrier9=2"], shift="0.5")
>>> len(m.factors), m.factor("barrier9").scale, m.factor("shift").barriers[:3]
(39, 2.0, (1, 2, 3))
>>> m.describe()
'normal errors: every barrier alone σ = 1 kcal/mol (barrier9 2); common shift σ = 0.5 kcal/mol'
>>> ErrorModel.build(sigma=["barrier40=1"])
Traceback (most recent call last):
...
tolvanex.errors.InvalidValue: --sigma barrier40: no such barrier; the barriers are barrier1 ... barrier38
"""

from __future__ import annotations

import math
import re
from typing import NamedTuple

import numpy as np
from scipy.stats import norm

from ...errors import InvalidValue, UnreadableInput
from ...model import mechanism
from ...model.parameters import BARRIER_COUNT, atof, is_whole_number

DISTRIBUTIONS = ("normal", "uniform")
#: The largest error accepted (kcal/mol): more is no error of a barrier.
LARGEST = 100.0
#: The steps with barriers, whose transition states can move.
STEP_NUMBERS = tuple(s.number for s in mechanism.REVERSIBLE_STEPS)


class Factor(NamedTuple):
    """One independent error: its name, the barriers it moves (all by the
    same amount), its kind and its scale (σ, or the half-width)."""

    name: str
    barriers: tuple[int, ...]
    kind: str                    # "barrier", "step" or "shift"
    scale: float


def _number(text: str, where: str) -> float:
    text = str(text).strip()
    if not is_whole_number(text):
        raise InvalidValue(f"{where} {text!r}: not a number of kcal/mol")
    value = atof(text)
    if not math.isfinite(value) or value < 0:
        raise InvalidValue(f"{where} {text}: give a number of kcal/mol from 0 up")
    if value > LARGEST:
        raise InvalidValue(f"{where} {text}: more than {LARGEST:g} kcal/mol is no error of "
                           "a barrier")
    return value


def _barrier(name: str, option: str) -> int:
    m = re.fullmatch(r"barrier(\d+)", name.strip().lower())
    if not m or not 1 <= int(m.group(1)) <= BARRIER_COUNT:
        raise InvalidValue(f"{option} {name}: no such barrier; the barriers are barrier1 ... "
                           f"barrier{BARRIER_COUNT}")
    return int(m.group(1))


def _step(name: str, option: str) -> int:
    m = re.fullmatch(r"(?:step)?(\d+)", name.strip().lower())
    if not m or int(m.group(1)) not in STEP_NUMBERS:
        why = ("has fixed constants, no barriers" if m and int(m.group(1)) == 39
               else "no such step")
        raise InvalidValue(f"{option} {name}: {why}; the steps with barriers are step1, "
                           "step3, ... step37")
    return int(m.group(1))


def _words(given) -> list[str]:
    """The values of an option as words: a number (everything), a mapping
    {name: value} (``all`` for everything) or the words themselves."""
    if given is None:
        return []
    if isinstance(given, (int, float)) and not isinstance(given, bool):
        return [repr(float(given))]
    if isinstance(given, str):
        return [given]
    if hasattr(given, "items"):
        return [str(v) if str(k) == "all" else f"{k}={v}" for k, v in given.items()]
    return [str(w) for w in given]


def _scales(words, option: str, key) -> tuple[float | None, dict]:
    """The value for every item (None: not given) and those given by name."""
    every, named = None, {}
    for word in words:
        if "=" in word:
            name, value = word.split("=", 1)
            item = key(name, option)
            if item in named:
                raise InvalidValue(f"{option} {name.strip()} is given twice")
            named[item] = _number(value, f"{option} {name.strip()}")
        else:
            if every is not None:
                raise InvalidValue(f"{option} for every one is given twice")
            every = _number(word, option)
    return every, named


def read_sigma_file(path) -> dict:
    """The errors of a file: lines ``NAME VALUE`` or ``NAME=VALUE`` (``#``
    starts a comment), NAME one of ``barriers`` (every barrier), ``barrierN``,
    ``steps`` (every step's transition state), ``stepM``, ``shift``.
    Returns {"sigma": words, "sigma_step": words, "shift": word}."""
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except UnicodeDecodeError:
        raise InvalidValue(f"{path}: not a text file") from None
    except OSError as e:
        raise UnreadableInput.of(e) from None
    found = {"sigma": [], "sigma_step": [], "shift": None}
    for number, line in enumerate(lines, start=1):
        words = line.split("#", 1)[0].replace("=", " ").split()
        if not words:
            continue
        where = f"{path}, line {number}:"
        if len(words) != 2:
            raise InvalidValue(f"{where} {line.strip()!r}: expected NAME VALUE")
        name, value = words[0].lower(), words[1]
        if name == "barriers":
            found["sigma"].append(value)
        elif name == "steps":
            found["sigma_step"].append(value)
        elif name == "shift":
            if found["shift"] is not None:
                raise InvalidValue(f"{where} shift is given twice")
            found["shift"] = value
        elif name.startswith("barrier"):
            found["sigma"].append(f"{name}={value}")
        elif name.startswith("step"):
            found["sigma_step"].append(f"{name}={value}")
        else:
            raise InvalidValue(f"{where} {words[0]!r}: barriers, barrierN, steps, stepM or "
                               "shift")
    return found


class ErrorModel:
    """The factors of the errors (see the module) and their distribution."""

    def __init__(self, factors, distribution: str = "normal", description: str = ""):
        if distribution not in DISTRIBUTIONS:
            raise InvalidValue(f"distribution {distribution!r}: normal or uniform")
        self.factors = [f for f in factors if f.scale > 0]
        self.distribution, self._description = distribution, description
        if not self.factors:
            raise InvalidValue("no barrier has an error: give --sigma, --sigma-step or "
                               "--shift (or a --sigma-file) with a value above 0")

    @classmethod
    def build(cls, sigma=None, sigma_step=None, shift=None, sigma_file=None,
              distribution: str = "normal") -> "ErrorModel":
        """From the values of the options: `sigma` and `sigma_step` a number
        for every barrier or step, ``NAME=VALUE`` words (or a mapping) for
        one, `shift` a number, `sigma_file` a file (`read_sigma_file`) whose
        values the named options override."""
        from_file = read_sigma_file(sigma_file) if sigma_file else \
            {"sigma": [], "sigma_step": [], "shift": None}
        texts = []
        factors = []
        for option, words, kind, key, items in (
                ("--sigma", (from_file["sigma"], _words(sigma)), "barrier", _barrier,
                 range(1, BARRIER_COUNT + 1)),
                ("--sigma-step", (from_file["sigma_step"], _words(sigma_step)), "step", _step,
                 STEP_NUMBERS)):
            every, named = _scales(words[0], option, key)
            every_given, named_given = _scales(words[1], option, key)
            every = every if every_given is None else every_given
            named.update(named_given)
            for item in items:
                scale = named.get(item, every or 0.0)
                barriers = (item,) if kind == "barrier" else (item, item + 1)
                factors.append(Factor(f"{kind}{item}", barriers, kind, scale))
            texts.append(_text(kind, every, named, distribution))
        shift_text = _words(shift)[-1] if shift is not None else from_file["shift"]
        if shift_text is not None:
            scale = _number(shift_text, "--shift")
            factors.append(Factor("shift", tuple(range(1, BARRIER_COUNT + 1)), "shift", scale))
            if scale > 0:
                texts.append(f"common shift {_size(scale, distribution)} kcal/mol")
        description = f"{distribution} errors: " + "; ".join(t for t in texts if t)
        return cls(factors, distribution, description)

    def factor(self, name: str) -> Factor:
        return next(f for f in self.factors if f.name == name)

    @property
    def names(self) -> list[str]:
        return [f.name for f in self.factors]

    def sd(self) -> np.ndarray:
        """The standard deviation of every factor (kcal/mol)."""
        scales = np.array([f.scale for f in self.factors])
        return scales if self.distribution == "normal" else scales / math.sqrt(3.0)

    def matrix(self) -> np.ndarray:
        """Factors × 38: 1 where a factor moves a barrier."""
        m = np.zeros((len(self.factors), BARRIER_COUNT))
        for i, f in enumerate(self.factors):
            m[i, [b - 1 for b in f.barriers]] = 1.0
        return m

    def values(self, unit) -> np.ndarray:
        """The factors' values (kcal/mol) at points of the unit cube (rows ×
        factors)."""
        unit = np.asarray(unit, dtype=float)
        scales = np.array([f.scale for f in self.factors])
        if self.distribution == "normal":
            return norm.ppf(unit) * scales
        return (2.0 * unit - 1.0) * scales

    def changes(self, unit) -> np.ndarray:
        """The changes of the 38 barriers (rows × 38, kcal/mol)."""
        return self.values(unit) @ self.matrix()

    def describe(self) -> str:
        """One line: the distribution and the errors."""
        return self._description

    def record(self) -> dict:
        """The model for uncertainty.json: distribution, and every factor
        with the barriers it moves, its scale and its standard deviation."""
        return {"distribution": self.distribution, "description": self.describe(),
                "factors": {f.name: {"barriers": [f"barrier{b}" for b in f.barriers],
                                     "scale_kcal_per_mol": f.scale,
                                     "sd_kcal_per_mol": float(sd)}
                            for f, sd in zip(self.factors, self.sd())}}


def _size(value: float, distribution: str) -> str:
    return f"σ = {value:g}" if distribution == "normal" else f"within ±{value:g}"


def _text(kind: str, every, named, distribution: str) -> str:
    what = "every barrier alone" if kind == "barrier" else "every transition state"
    items = [f"{kind}{k} {v:g}" for k, v in sorted(named.items())]
    if every:
        return (f"{what} {_size(every, distribution)} kcal/mol"
                + (f" ({', '.join(items)})" if items else ""))
    if items:
        alone = "barriers alone" if kind == "barrier" else "transition states"
        return f"{alone} {'σ' if distribution == 'normal' else '±'}: {', '.join(items)} kcal/mol"
    return ""
