"""The species of the model: their labels, trace-file columns and meaning.

Species are named by the programs' own labels (A, S, C ... Q, O1, O2, O3,
apoMerB, MerB, ES, PHMB, organic).  The trace file names its columns
differently ("HgMerB", "Int2 (Cys96-bound)", ...); `TRACE_COLUMNS` maps them.
All amounts are concentrations in mol/L.

>>> LABEL_OF_TRACE_COLUMN["Hg(SCH3)2"], TRACE_COLUMN_OF["K"]
('P', 'Int2 (Cys96-bound)')
>>> [s.label for s in SPECIES if s.role == "intermediate"]
['C', 'D', 'E', 'F', 'G', 'I', 'J', 'K', 'L', 'M', 'N', 'Q']
"""

from __future__ import annotations

from typing import NamedTuple


class Species(NamedTuple):
    label: str                 # the programs' label
    trace_column: str | None   # the trace file's column label, blanks as written
    role: str                  # substrate, acceptor, intermediate, product, enzyme, organomercurial
    meaning: str


SPECIES = (
    Species("A", "HgMerB", "substrate", "Hg(II) bound to the enzyme MerB (HgMerB)"),
    Species("S", "Thiol", "acceptor", "free acceptor, thiol and thiolate forms together"),
    Species("C", "Int1", "intermediate", "A with the acceptor bound through a protonated thiol"),
    Species("D", "Anionic  Int1", "intermediate", "A with the acceptor bound as thiolate"),
    Species("E", "Anionic  Int2 C159-bound", "intermediate", "formed from D"),
    Species("F", "Int3' C159-bound", "intermediate",
            "second thiol bound, Cys159 route; formed from E or G"),
    Species("G", "Int1 (H+ on Asp)", "intermediate",
            "A with the acceptor bound through a protonated thiol, proton on the aspartate"),
    Species("I", "Int2 C159-bound:Thiol", "intermediate", "G with a second thiol bound"),
    Species("J", "Int4 (Cys159-bound)", "intermediate", "formed from I"),
    Species("K", "Int2 (Cys96-bound)", "intermediate", "formed from C"),
    Species("L", "Int2 (Cys96-bound):Thiol", "intermediate", "K with a second thiol bound"),
    Species("M", "Int4 (Asp99-bound)", "intermediate", "formed from L"),
    Species("N", "Int3' C96-bound", "intermediate",
            "second thiol bound, Cys96 route; formed from K or Q"),
    Species("apoMerB", "apoMerB", "enzyme", "free enzyme released, O1 + O2 + O3"),
    Species("P", "Hg(SCH3)2", "product", "the product: Hg(II) carried away by the acceptor"),
    Species("Q", "Anionic  Int2 C96-bound", "intermediate", "interconverts with D"),
    Species("organic", "organic product", "organomercurial",
            "organic product of the organomercurial split (organomercurial mode)"),
    Species("O1", None, "enzyme", "free enzyme released by step 13"),
    Species("O2", None, "enzyme", "free enzyme released by step 7"),
    Species("O3", None, "enzyme", "free enzyme released by step 31 and by the reverse of step 37"),
    Species("MerB", None, "enzyme", "free enzyme before mercury binding (organomercurial mode)"),
    Species("ES", None, "organomercurial", "enzyme bound to the organomercurial"),
    Species("PHMB", None, "organomercurial", "the organomercurial compound"),
)

BY_LABEL = {s.label: s for s in SPECIES}
#: Trace-file columns in file order (after "Time"), as species labels.
TRACE_LABELS = tuple(s.label for s in SPECIES if s.trace_column is not None)
TRACE_COLUMN_OF = {s.label: s.trace_column for s in SPECIES if s.trace_column is not None}
LABEL_OF_TRACE_COLUMN = {v: k for k, v in TRACE_COLUMN_OF.items()}
INTERMEDIATES = tuple(s.label for s in SPECIES if s.role == "intermediate")

#: The product P of each acceptor type (1 MerA, 2 a dithiol, 3 a monothiol):
#: Hg(II) bound by MerA's thiol pair, by the dithiol, or by two monothiols.
#: The trace file calls it "Hg(SCH3)2" whatever the acceptor.
PRODUCT_NAME = {1: "HgMerA", 2: "Hg(dithiol)", 3: "Hg(SR)2"}
#: The same in a column name (letters, digits and underscores only).
PRODUCT_COLUMN = {1: "HgMerA", 2: "Hg_dithiol", 3: "HgSR2"}


def _acceptor_type(value) -> int | None:
    """1, 2 or 3 when `value` equals one exactly (as the programs compare
    it: 1.0 is MerA, 1.5 no type at all), else None."""
    try:
        number = float(value)
    except (TypeError, ValueError):
        return None
    return int(number) if number in (1, 2, 3) else None


def product_name(acceptor_type) -> str | None:
    """What the product is for an acceptor type, None for a type without
    acceptor chemistry (or not known).

    >>> product_name(1), product_name(3.0), product_name(1.5), product_name(None)
    ('HgMerA', 'Hg(SR)2', None, None)
    """
    return PRODUCT_NAME.get(_acceptor_type(acceptor_type))


def column_name(label: str, acceptor_type=None) -> str:
    """A species' name in a CSV header or DataFrame with its unit: the
    label, for the product also what it is, then ``_mol_per_L``; only
    letters, digits and underscores.

    >>> column_name("A"), column_name("apoMerB"), column_name("P", 1), column_name("P", 3)
    ('A_mol_per_L', 'apoMerB_mol_per_L', 'P_HgMerA_mol_per_L', 'P_HgSR2_mol_per_L')
    >>> column_name("P"), column_name("P", 2)
    ('P_mol_per_L', 'P_Hg_dithiol_mol_per_L')
    """
    product = PRODUCT_COLUMN.get(_acceptor_type(acceptor_type)) if label == "P" else None
    return label + (f"_{product}" if product else "") + "_mol_per_L"
