"""What each species carries of the conserved quantities: mercury, the
enzyme and the organomercurial's organic group, derived from the steps of
the mechanism (`tolvanex.model.mechanism`).

Every step conserves them, so the content of the species on its left adds
up to that on its right.  A few species are known by what they are
(`ANCHORS`): HgMerB (A) is one enzyme with one Hg; the free enzyme forms
hold no Hg; the product P holds Hg but no enzyme; the organic product
holds the organic group only.  The steps then fix every other species:
a step with one species of unknown content gives it.  The acceptor forms
and H+ carry none of the three.

>>> CARRIERS["mercury"]
('A', 'C', 'D', 'E', 'F', 'G', 'I', 'J', 'K', 'L', 'M', 'N', 'P', 'Q', 'ES', 'PHMB')
>>> CARRIERS["enzyme"]
('A', 'C', 'D', 'E', 'F', 'G', 'I', 'J', 'K', 'L', 'M', 'N', 'Q', 'O1', 'O2', 'O3', 'MerB', 'ES')
>>> CARRIERS["organic group"]
('organic', 'ES', 'PHMB')
"""

from __future__ import annotations

from .mechanism import STEPS
from .species import SPECIES

#: Species whose content follows from what they are (role or label).
ANCHORS = {
    "mercury": {"substrate": 1, "enzyme": 0, "acceptor": 0, "organic": 0},
    "enzyme": {"substrate": 1, "enzyme": 1, "acceptor": 0, "product": 0, "organic": 0},
    "organic group": {"substrate": 0, "enzyme": 0, "acceptor": 0, "organic": 1},
}
#: apoMerB is the sum O1 + O2 + O3, not a species of the rate equations.
_SUMS = {"apoMerB": ("O1", "O2", "O3")}


def derive(anchors: dict) -> dict:
    """The content of every species (label -> 0 or more) given the anchors
    (by role or label); ValueError when the steps leave one unknown or
    contradict the anchors."""
    known = {}
    for s in SPECIES:
        if s.label in _SUMS:
            continue
        for key in (s.label, s.role):
            if key in anchors:
                known[s.label] = anchors[key]
                break
    unfixed = True
    while unfixed:
        unfixed = False
        for step in STEPS:
            sides = [[x for x in step.species if x in step.reactants],
                     [x for x in step.species if x in step.products]]
            unknown = [x for side in sides for x in side if x not in known]
            if len(unknown) == 1:
                x = unknown[0]
                sign = 1 if x in sides[0] else -1
                left, right = (sum(known.get(y, 0) for y in side if y != x) for side in sides)
                known[x] = sign * (right - left)
                unfixed = True
    missing = [s.label for s in SPECIES if s.label not in known and s.label not in _SUMS]
    if missing:
        raise ValueError(f"the steps leave the content of {', '.join(missing)} unknown")
    for step in STEPS:
        left = sum(known[x] for x in step.species if x in step.reactants)
        right = sum(known[x] for x in step.species if x in step.products)
        if left != right:
            raise ValueError(f"step {step.number} does not conserve what the anchors say")
    for total, parts in _SUMS.items():
        if len({known[p] for p in parts}) == 1:
            known[total] = known[parts[0]]
    return known


CONTENTS = {name: derive(anchors) for name, anchors in ANCHORS.items()}
#: The species that carry each quantity, in the order of `SPECIES`
#: (apoMerB left out: its parts O1, O2, O3 stand for it).
CARRIERS = {name: tuple(s.label for s in SPECIES if content.get(s.label) and s.label not in _SUMS)
            for name, content in CONTENTS.items()}
