"""The tables of docs/mechanism.md, written from the mechanism and species
tables of the package, so that the document says what the code computes.

The document holds each table between two marker lines::

    <!-- begin generated: steps -->
    ...
    <!-- end generated: steps -->

`update_document` rewrites what stands between them; run it as

    python3 -m tolvanex.docgen.mechanism_tables docs/mechanism.md

>>> print(mechanism_table_markdown().splitlines()[2])
| 1 | A + thiol ⇌ C | `barrier1` (8 / 9) | `barrier2` (9 / 10) |  |  | acceptor thiol binds HgMerB (Int1) |
"""

from __future__ import annotations

import re
import sys

from ..errors import InvalidValue
from ..model import mechanism
from ..model.species import SPECIES


def _barrier_cell(barrier: int, odd_is_reverse: bool) -> str:
    position = (f"{mechanism.argument_position(barrier)} / "
                f"{mechanism.argument_position(barrier, organomercurial=True)}")
    cell = f"`barrier{barrier}` ({position})"
    return f"**{cell}**" if odd_is_reverse else cell


def mechanism_table_markdown() -> str:
    """The table of the 19 steps and the organomercurial binding, Markdown."""
    rows = ["| step (net flux) | reaction, positive direction → | forward barrier "
            "(argument of 46 / 47) | reverse barrier (argument of 46 / 47) | "
            f"× {mechanism.MONOTHIOL_FACTOR} for a monothiol | organomercurial "
            "mode only | what happens |",
            "|---|---|---|---|---|---|---|"]
    for s in mechanism.STEPS:
        if s.forward_barrier is None:
            forward = f"fixed, {mechanism.BINDING_FORWARD:.5g} L/(mol s)"
            reverse = f"fixed, {mechanism.BINDING_REVERSE:.5g} 1/s"
        else:
            odd_is_reverse = s.reverse_barrier % 2 == 1
            forward = _barrier_cell(s.forward_barrier, odd_is_reverse)
            reverse = _barrier_cell(s.reverse_barrier, odd_is_reverse)
        rows.append(f"| {s.number} | {s.equation} | {forward} | {reverse} | "
                    f"{'yes' if s.monothiol_factor else ''} | "
                    f"{'yes' if s.organomercurial_only else ''} | {s.description} |")
    return "\n".join(rows)


def species_table_markdown() -> str:
    """The species labels of the console and their trace-file columns.

    >>> species_table_markdown().splitlines()[2]
    '| A | `HgMerB` | Hg(II) bound to the enzyme MerB (HgMerB) |'
    """
    rows = ["| label (console) | trace-file column | what it is |", "|---|---|---|"]
    for s in SPECIES:
        column = f"`{s.trace_column}`" if s.trace_column else "(console only)"
        rows.append(f"| {s.label} | {column} | {s.meaning} |")
    return "\n".join(rows)


GENERATED = {"steps": mechanism_table_markdown, "species": species_table_markdown}
_BLOCK = re.compile(r"(<!-- begin generated: (\w+) -->\n).*?(\n<!-- end generated: \2 -->)",
                    re.S)


def generated_blocks(text: str) -> dict[str, str]:
    """The text between each pair of markers, by name.

    >>> generated_blocks("<!-- begin generated: a -->\\nx\\n<!-- end generated: a -->")
    {'a': 'x'}
    """
    return {m.group(2): text[m.end(1):m.start(3)] for m in _BLOCK.finditer(text)}


def update_document(path: str) -> None:
    """Rewrite the generated tables of a document in place."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    missing = set(GENERATED) - set(generated_blocks(text))
    if missing:
        raise InvalidValue(f"{path}: no markers for {', '.join(sorted(missing))}")
    text = _BLOCK.sub(lambda m: m.group(1) + GENERATED[m.group(2)]() + m.group(3), text)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    try:
        update_document(sys.argv[1] if len(sys.argv) > 1 else "docs/mechanism.md")
    except (OSError, ValueError) as e:
        print(f"tolvanex.docgen.mechanism_tables: {e}", file=sys.stderr)
        sys.exit(1)
