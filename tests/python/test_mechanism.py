"""The mechanism table against what the programs print, and against the
document that describes it."""

import math
import os
import re
import unittest

from common import SOURCE_DIR, TempDir, example_words, read_text, run_program
from tolvanex.model.mechanism import rate_constants
from tolvanex.docgen.mechanism_tables import GENERATED, generated_blocks
from tolvanex.model.parameters import Parameters

DELTA_G_LINE = re.compile(r"^DeltaG\*\((\d+) \)= \S+ \t k\d+=(\S+)$", re.M)


class RateConstantsAsPrinted(TempDir):
    """Printed with %6.5e, k1 ... k38 must be the trace file's "DeltaG*"
    lines character for character: the Eyring relation, the monothiol
    factor and the cut-off evaluated as the programs evaluate them."""

    def check(self, name, words):
        folder = self.path(name)
        run_program(folder, words)
        printed = DELTA_G_LINE.findall(read_text(os.path.join(folder, words[-1])))
        self.assertEqual(len(printed), 38)
        k = rate_constants(Parameters.from_args(words, check=False))   # as the program takes them
        self.assertEqual([value for _, value in printed], [f"{k[i]:6.5e}" for i in range(1, 39)])

    def test_bundled_examples(self):
        for name in ("mera", "dithiothreitol", "glutathione", "organomercurial"):
            with self.subTest(name):
                self.check(name, example_words(name, time=0))

    def test_monothiol_factor_and_cut_off(self):
        # Step 5 at 0 kcal/mol scaled by the monothiol factor; a barrier of
        # exactly 60 kept, one above it switched off after the scaling.
        words = example_words("glutathione", time=0)
        for barrier, value in ((5, "0"), (6, "60"), (30, "60.001"), (17, "-1")):
            words[7 + barrier - 1] = value
        self.check("edges", words)
        k = rate_constants(Parameters.from_args(words, check=False))
        self.assertEqual((f"{k[5]:6.5e}", f"{k[6]:6.5e}", k[30]),
                         ("7.23390e+09", f"{6.13981e-32 * 0.001165:6.5e}", 0.0))

    def test_other_temperatures(self):
        # Each fixed number follows T as the Eyring constant of the barrier
        # that gives it at 298 K; every equilibrium constant k_f / k_r as
        # exp(-(dG_f - dG_r) 4184 / (8.314 T)).
        from tolvanex.model import mechanism as m
        glu = Parameters.from_args(example_words("glutathione"))
        for t in (277.0, 310.0, 350.0):
            c = m.step_constants(glu.replace(temperature=t))
            for k, fixed in ((c.loc[39, "forward"], m.BINDING_FORWARD),
                             (c.loc[39, "reverse"], m.BINDING_REVERSE),
                             (m.monothiol_factor(t) * m.EYRING_PREFACTOR * t / 298,
                              m.MONOTHIOL_FACTOR * m.EYRING_PREFACTOR)):
                barrier = -math.log(fixed / m.EYRING_PREFACTOR) * 8.314 * 298 / 4184
                self.assertAlmostEqual(k / m.eyring_rate_constant(barrier, t), 1, delta=1e-12)
            for step in (m.step(1), m.step(5), m.step(23)):
                gap = glu[f"barrier{step.forward_barrier}"] - glu[f"barrier{step.reverse_barrier}"]
                self.assertAlmostEqual(c.loc[step.number, "forward"] / c.loc[step.number, "reverse"]
                                       / math.exp(-gap * 4184 / (8.314 * t)), 1, delta=1e-12)


class DocumentMatchesTables(unittest.TestCase):
    def test_generated_tables_are_current(self):
        with open(os.path.join(SOURCE_DIR, "docs", "mechanism.md"), encoding="utf-8") as f:
            blocks = generated_blocks(f.read())
        for name, table in GENERATED.items():
            with self.subTest(name):
                self.assertEqual(blocks.get(name), table(),
                                 "run: python3 -m tolvanex.docgen.mechanism_tables docs/mechanism.md")


if __name__ == "__main__":
    unittest.main()
