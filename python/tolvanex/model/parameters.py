"""The arguments of one run, by name.

A run of ``tolvanex`` takes 46 positional arguments, or 47 with a leading
organomercurial concentration.  Positions count from the end of the list, so
the optional first argument shifts nothing:

=====  =====  =================  ==========================================
 46     47    name               meaning (unit)
=====  =====  =================  ==========================================
  -      1    ``organomercurial``  organomercurial (PHMB) concentration (mol/L)
  1      2    ``target2``          iterations per block with step tightening
  2      3    ``basic_timestep``   initial Basic Timestep (s)
  3      4    ``pH``               pH
  4      5    ``acceptor_type``    1 MerA, 2 dithiol, 3 monothiol
  5      6    ``wanted_time``      simulated time wanted (s)
  6      7    ``enzyme``           HgMerB (free MerB when organomercurial) (mol/L)
  7      8    ``acceptor``         acceptor concentration (mol/L)
 8-45   9-46  ``barrier1`` ...     activation free energies of the 38 step
              ``barrier38``        directions (kcal/mol)
 46     47    ``trace``            name of the trace file
=====  =====  =================  ==========================================

Values are kept as the text that is handed to the program, so that an
arguments file read and written again gives the same words; `number` gives
a value as the program reads it.

Two conditions of the exact kinetics are not arguments of the programs:
``pKa`` (of the acceptor's thiol groups) and ``temperature`` (K).  By default
they are the programs' fixed values (pKa 6 for MerA, 10.4 otherwise;
298 K); set, they act in `tolvanex.solve` and the SciPy reference, and a
program asked to run with other values refuses (`check_for_programs`).
They are not written to the argument list.

>>> p = Parameters.read("examples/glutathione.args")
>>> p.pH, p.acceptor_type, p.barrier12
(7.4, 3.0, 16.6)
>>> p.pH = 7.0
>>> p.to_args()[:4]
['10', '1e-6', '7.0', '3']
>>> p.acceptor_type = 4
Traceback (most recent call last):
...
tolvanex.errors.InvalidValue: acceptor_type (type of acceptor) is 4: it must be 1 (MerA), 2 (dithiol) or 3 (monothiol)
"""

from __future__ import annotations

import math
import os
import re
from ..errors import InvalidValue, UnreadableInput
from .speciation import pka_thiol

BARRIER_COUNT = 38
FLUX_FILE_NAME = "flux_analysis.txt"

#: The names of the 46 arguments, in command-line order.
ARGUMENT_NAMES = (("target2", "basic_timestep", "pH", "acceptor_type", "wanted_time",
                   "enzyme", "acceptor")
                  + tuple(f"barrier{i}" for i in range(1, BARRIER_COUNT + 1))
                  + ("trace",))
#: Every name, the optional organomercurial concentration first.
NAMES = ("organomercurial",) + ARGUMENT_NAMES
#: Conditions of the exact kinetics that the programs hold fixed (not arguments).
CONDITIONS = ("pKa", "temperature")
#: The programs' temperature (K).
PROGRAM_TEMPERATURE = 298.0

#: Other names accepted for a parameter (those of earlier scan folders).
ALIASES = {"timestep": "basic_timestep", "initial_timestep": "basic_timestep",
           "type": "acceptor_type", "moleculetype": "acceptor_type",
           "time": "wanted_time", "phmb": "organomercurial"}

#: What each argument means, with its unit.
MEANINGS = {
    "organomercurial": "organomercurial (PHMB) concentration, mol/L",
    "target2": "iterations per block with timestep tightening",
    "basic_timestep": "initial Basic Timestep, s",
    "pH": "pH",
    "acceptor_type": "type of acceptor",
    "wanted_time": "simulated time wanted, s",
    "enzyme": "HgMerB (or free MerB) concentration, mol/L",
    "acceptor": "acceptor concentration, mol/L",
    "trace": "name of the trace file",
    "pKa": "pKa of the acceptor's thiols, exact engine only (default 6 MerA, 10.4 others)",
    "temperature": "temperature in K, exact engine only (default 298)",
    **{f"barrier{i}": f"activation free energy of step direction {i}, kcal/mol"
       for i in range(1, BARRIER_COUNT + 1)},
}

CONCENTRATIONS = ("organomercurial", "enzyme", "acceptor")
ACCEPTOR_TYPES = {1: "MerA", 2: "dithiol", 3: "monothiol"}


def canonical_name(name: str) -> str:
    """The parameter a name stands for; case does not matter.

    >>> canonical_name("TIME"), canonical_name("Barrier7"), canonical_name("ph")
    ('wanted_time', 'barrier7', 'pH')
    """
    key = str(name).strip()
    lowered = key.lower()
    for n in NAMES + CONDITIONS:
        if n.lower() == lowered:
            return n
    if lowered in ALIASES:
        return ALIASES[lowered]
    raise InvalidValue(f"unknown parameter {name!r}; the names are organomercurial, "
                     "target2, basic_timestep, pH, acceptor_type, wanted_time, enzyme, "
                     "acceptor, barrier1 ... barrier38, trace, and for the exact "
                     "kinetics pKa and temperature")


def position_from_end(name: str) -> int:
    """The argument's position counted from the end (1 is the trace file).

    >>> position_from_end("trace"), position_from_end("barrier1"), position_from_end("target2")
    (1, 39, 46)
    """
    key = canonical_name(name)
    if key in CONDITIONS:
        raise InvalidValue(f"{key} is no argument of the programs")
    return len(NAMES) - NAMES.index(key)


_HEX = re.compile(r"[-+]?0[xX](?:[0-9a-fA-F]+\.?[0-9a-fA-F]*|\.[0-9a-fA-F]+)(?:[pP][-+]?\d+)?")
_DECIMAL = re.compile(r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")
_SPECIAL = re.compile(r"([-+]?)(infinity|inf|nan)", re.I)


def atof(text: str) -> float:
    """A number as C's ``atof`` reads it: white space skipped, the longest
    leading number taken (decimal, hexadecimal, inf, nan), the rest ignored;
    0 when there is none.  This is how the programs read every number.

    >>> atof("7.4"), atof(" 1e-6xyz"), atof("seven"), atof("0x1p-2"), atof("1,5")
    (7.4, 1e-06, 0.0, 0.25, 1.0)
    """
    s = str(text).lstrip(" \t\n\v\f\r")
    m = _HEX.match(s)
    if m:
        body = m.group(0)
        return float.fromhex(body if re.search(r"[pP]", body) else body + "p0")
    m = _DECIMAL.match(s)
    if m:
        number = re.sub(r"[eE][-+]?$", "", m.group(0))
        return float(number)
    m = _SPECIAL.match(s)
    if m:
        return float(m.group(1) + m.group(2).lower().replace("infinity", "inf"))
    return 0.0


def is_whole_number(text: str) -> bool:
    """Whether the text is one number and nothing else (what atof reads of
    it is all of it).

    >>> [is_whole_number(t) for t in ("1e-6", "0x1p-20", "inf", "1uM", "1,0e-6", "")]
    [True, True, True, False, False, False]
    """
    s = str(text).strip(" \t\n\v\f\r")
    return bool(s) and any(p.fullmatch(s) for p in (_HEX, _DECIMAL, _SPECIAL))


def argument_text(value) -> str:
    """The argument text of a value given as a number or as text."""
    if isinstance(value, bool):
        raise TypeError("a parameter value is a number or a text, not a bool")
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        return repr(value)
    if hasattr(value, "item") and not isinstance(value, str):   # a NumPy scalar
        return argument_text(value.item())
    return str(value)


def check_value(name: str, text: str) -> None:
    """Raise InvalidValue (a ValueError) naming the parameter when the value
    cannot be meant."""
    shown = text if is_whole_number(text) else repr(text)
    what = f"{name} ({MEANINGS[name]}) is {shown}"
    if name == "trace":
        if not text or text.strip() != text:
            raise InvalidValue(f"trace (name of the trace file) is {text!r}: give a file name")
        if any(c.isspace() or not c.isprintable() for c in text) or not _utf8(text):
            raise InvalidValue(f"trace (name of the trace file) is {text!r}: a name with a "
                               "blank or a control character cannot be written in an arguments "
                               "file, whose words are split at blanks (as the shell splits them)")
        if os.path.basename(text) == FLUX_FILE_NAME:
            raise InvalidValue(f"trace (name of the trace file) is {text!r}: that is the "
                             "name of the flux file every run writes beside it")
        return
    if not is_whole_number(text):
        raise InvalidValue(f"{what}: not a number")
    value = atof(text)
    if not math.isfinite(value):
        raise InvalidValue(f"{what}: not a finite number")
    if name == "acceptor_type" and value not in ACCEPTOR_TYPES:
        raise InvalidValue(f"{what}: it must be 1 (MerA), 2 (dithiol) or 3 (monothiol)")
    if name in CONCENTRATIONS and value < 0:
        raise InvalidValue(f"{what}: a concentration cannot be negative")
    if name == "basic_timestep" and not value > 0:
        raise InvalidValue(f"{what}: the Basic Timestep must be positive")
    if name in ("wanted_time", "target2") and value < 0:
        raise InvalidValue(f"{what}: it cannot be negative")
    if name == "temperature" and not value > 0:
        raise InvalidValue(f"{what}: it must be above 0 K")
    if name.startswith("barrier") and value < 0:
        raise InvalidValue(f"{what}: an activation free energy cannot be negative (0 is the "
                           "fastest a step can be, kB T / h)")


def _utf8(text: str) -> bool:
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:      # bytes that are not UTF-8, kept as surrogates
        return False
    return True


def _argument(name: str, value) -> str:
    """The argument text of a value for parameter `name`: a number without
    the blanks around it (the program skips them, an arguments file loses
    them)."""
    text = argument_text(value)
    return text if name == "trace" else text.strip(" \t\n\v\f\r")


class Parameters:
    """The 46 (or 47) arguments of one run, by name.

    Build one from an arguments file (`read`), from the argument list
    (`from_args`), or by names::

        Parameters(target2=10, basic_timestep=1e-6, pH=7.4, acceptor_type=3,
                   wanted_time=10, enzyme=1e-6, acceptor=1e-3,
                   barriers=[15.6, 16.7, ...], trace="run.trace")

    Attributes and items are the names of `NAMES`; a value is read as the
    program reads it (a float, `atof`), the trace file name as text.  A value
    set is checked at once (`check_value`); ``organomercurial`` is None
    outside organomercurial mode.

    >>> p = Parameters.read("examples/organomercurial.args")
    >>> p.organomercurial, p["enzyme"], len(p.to_args())
    (2e-06, 1e-06, 47)
    >>> q = p.replace(organomercurial=None, wanted_time=5)
    >>> len(q.to_args()), q.wanted_time, p.wanted_time
    (46, 5.0, 1000.0)
    """

    __slots__ = ("_texts",)

    def __init__(self, *, barriers=None, check: bool = True, **values):
        object.__setattr__(self, "_texts", {})
        if barriers is not None:
            barriers = list(barriers)
            if len(barriers) != BARRIER_COUNT:
                raise InvalidValue(f"{len(barriers)} barriers given, not {BARRIER_COUNT}")
            for i, b in enumerate(barriers, start=1):
                values.setdefault(f"barrier{i}", b)
        given = {canonical_name(k): v for k, v in values.items()}
        missing = [n for n in ARGUMENT_NAMES if n not in given]
        if missing:
            raise InvalidValue("missing parameter" + ("s " if len(missing) > 1 else " ")
                             + ", ".join(missing))
        for name in NAMES + CONDITIONS:
            value = given.get(name)
            if value is None:
                continue
            self._texts[name] = _argument(name, value)
        if check:
            self.check()

    # -- construction -------------------------------------------------------
    @classmethod
    def from_args(cls, words, check: bool = True) -> "Parameters":
        """From the argument list (46 or 47 words, the program's name not
        among them).

        >>> Parameters.from_args(["1"] * 45 + ["x.trace"], check=False).trace
        'x.trace'
        """
        words = [str(w) for w in words]
        if len(words) not in (46, 47):
            raise InvalidValue(f"{len(words)} arguments, not 46 or 47")
        names = NAMES if len(words) == 47 else ARGUMENT_NAMES
        return cls(check=check, **dict(zip(names, words)))

    @classmethod
    def read(cls, path, check: bool = True) -> "Parameters":
        """From an arguments file: the words of every line that does not
        start with ``#``."""
        words = read_argument_words(path)
        try:
            return cls.from_args(words, check=check)
        except ValueError as e:
            raise InvalidValue(f"{path}: {e}") from None

    # -- values ---------------------------------------------------------------
    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        try:
            return self[name]
        except KeyError:
            raise AttributeError(f"no parameter {name!r}") from None

    def __setattr__(self, name, value):
        self[name] = value

    def __getitem__(self, name):
        try:
            key = canonical_name(name)
        except ValueError as e:
            raise KeyError(str(e)) from None
        text = self._texts.get(key)
        if key == "pKa" and text is None:
            return pka_thiol(self.acceptor_type)
        if key == "temperature" and text is None:
            return PROGRAM_TEMPERATURE
        if key == "trace" or text is None:
            return text
        return atof(text)

    def __setitem__(self, name, value):
        key = canonical_name(name)
        if value is None:
            if key not in ("organomercurial",) + CONDITIONS:
                raise InvalidValue(f"{key} cannot be left out")
            self._texts.pop(key, None)
            return
        text = _argument(key, value)
        check_value(key, text)
        self._texts[key] = text

    def text(self, name: str) -> str | None:
        """The value as the program is given it."""
        return self._texts.get(canonical_name(name))

    @property
    def is_organomercurial(self) -> bool:
        """Whether the run is in organomercurial mode (47 arguments)."""
        return "organomercurial" in self._texts

    @property
    def conditions(self) -> dict[str, str]:
        """The conditions of the exact kinetics given (pKa, temperature), as
        text; those not given are the programs' values.

        >>> p = Parameters.read("examples/glutathione.args")
        >>> p.conditions, p.pKa, p.replace(pKa=9).conditions, p.replace(pKa=9).pKa
        ({}, 10.4, {'pKa': '9'}, 9.0)
        """
        return {n: self._texts[n] for n in CONDITIONS if n in self._texts}

    def beyond_programs(self) -> list[str]:
        """The conditions given that differ from the programs' fixed values,
        each as "pKa 9 (the programs: 10.4)"; [] when a program computes
        these parameters as they are."""
        fixed = {"pKa": pka_thiol(self.acceptor_type), "temperature": PROGRAM_TEMPERATURE}
        unit = {"pKa": "", "temperature": " K"}
        return [f"{n} {self._texts[n]}{unit[n]} (the programs: {fixed[n]:g}{unit[n]})"
                for n in CONDITIONS if n in self._texts and self[n] != fixed[n]]

    def check_for_programs(self) -> None:
        """Raise InvalidValue, on one line, when a program would compute
        other numbers than these parameters ask for: a pKa or temperature
        other than the programs' fixed ones.

        >>> Parameters.read("examples/mera.args").replace(temperature=310).check_for_programs()
        Traceback (most recent call last):
        ...
        tolvanex.errors.InvalidValue: the programs hold pKa and temperature fixed: temperature 310 K (the programs: 298 K) needs the exact engine (tolvanex.solve, tolvanex-solve, --engine exact)
        """
        beyond = self.beyond_programs()
        if beyond:
            raise InvalidValue("the programs hold pKa and temperature fixed: "
                               + " and ".join(beyond)
                               + (" need" if len(beyond) > 1 else " needs") + " the exact engine "
                               "(tolvanex.solve, tolvanex-solve, --engine exact)")

    @property
    def barriers(self) -> list[float]:
        """barrier1 ... barrier38 (kcal/mol)."""
        return [self[f"barrier{i}"] for i in range(1, BARRIER_COUNT + 1)]

    def to_args(self) -> list[str]:
        """The argument list for the program (46 or 47 words)."""
        names = NAMES if self.is_organomercurial else ARGUMENT_NAMES
        return [self._texts[n] for n in names]

    def to_dict(self) -> dict:
        """Every given parameter with its value as the program reads it
        (the conditions pKa and temperature when given)."""
        return {n: self[n] for n in NAMES + CONDITIONS if n in self._texts}

    def replace(self, **changes) -> "Parameters":
        """A copy with some values changed (None drops organomercurial, and
        a condition back to the programs' value)."""
        copy = Parameters.from_args(self.to_args(), check=False)
        copy._texts.update(self.conditions)
        for name, value in changes.items():
            copy[name] = value
        return copy

    def check(self) -> None:
        """Raise ValueError naming the first parameter whose value cannot be
        meant: not a finite number, an acceptor type other than 1, 2 or 3, a
        negative concentration or barrier, a Basic Timestep that is not
        positive, a trace file name that an arguments file cannot hold."""
        for name in NAMES + CONDITIONS:
            if name in self._texts:
                check_value(name, self._texts[name])

    def write(self, path, comment: str | None = None) -> None:
        """Write an arguments file that `read` (and the shell, with
        ``$(grep -v '^#' FILE)``) reads back: comment lines, then the words."""
        lines = [f"# {line}" for line in (comment or "").splitlines()]
        if self.conditions:     # a note for the reader: no program takes them
            lines.append("# exact kinetics at " + ", ".join(
                f"{n}={v}" for n, v in self.conditions.items()) + " (not read back: "
                "no program takes them)")
        head = "# target2 timestep pH type wanted_time enzyme acceptor | 38 barriers " \
               "(kcal/mol) | trace file"
        lines.append(("# organomercurial | " + head[2:]) if self.is_organomercurial else head)
        lines.append(" ".join(self.to_args()))
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")

    def __eq__(self, other):
        return (isinstance(other, Parameters) and self.to_args() == other.to_args()
                and self.conditions == other.conditions)

    def __repr__(self):
        shown = ", ".join(f"{n}={self._texts[n]}" for n in NAMES[:8] if n in self._texts)
        extra = "".join(f", {n}={v}" for n, v in self.conditions.items())
        return (f"Parameters({shown}, barriers=[{', '.join(self.text(f'barrier{i}') for i in range(1, 39))}], "
                f"trace={self.trace!r}{extra})")


def read_argument_words(path) -> list[str]:
    """The words of an arguments file; lines starting with ``#`` are comments."""
    try:
        with open(path, encoding="utf-8-sig") as f:     # a byte-order mark is no word
            text = f.read()
    except UnicodeDecodeError:
        raise InvalidValue(f"{path}: not a text file (it is not UTF-8)") from None
    except IsADirectoryError:
        raise InvalidValue(f"{path}: a folder, not an arguments file") from None
    except OSError as e:
        raise UnreadableInput.of(e) from None
    return [w for line in text.splitlines() if not line.lstrip().startswith("#")
            for w in line.split()]
