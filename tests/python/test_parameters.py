"""Parameters: every bundled example round trips through an arguments file
and the argument list, and values that cannot be meant are refused by name."""

import os

from common import EXAMPLES_DIR, TempDir
import tolvanex  # noqa: E402  (found through common)
from tolvanex.model.parameters import NAMES, Parameters, position_from_end, read_argument_words

EXAMPLES = sorted(f for f in os.listdir(EXAMPLES_DIR) if f.endswith(".args"))


class RoundTrip(TempDir):
    def test_examples_round_trip(self):
        for name in EXAMPLES:
            with self.subTest(example=name):
                path = os.path.join(EXAMPLES_DIR, name)
                words = read_argument_words(path)
                p = Parameters.read(path)
                self.assertEqual(p.to_args(), words)
                self.assertEqual(Parameters.from_args(p.to_args()), p)
                p.write(self.path(name))
                self.assertEqual(read_argument_words(self.path(name)), words)
                # Positions count from the end of the list whatever its length.
                for key in ("trace", "barrier38", "barrier1", "acceptor", "pH", "target2"):
                    self.assertEqual(p.text(key), words[-position_from_end(key)])
                self.assertEqual(p.is_organomercurial, len(words) == 47)

    def test_names_and_changes(self):
        p = Parameters.read(os.path.join(EXAMPLES_DIR, "glutathione.args"))
        q = p.replace(time=5, PH="7.0", barrier12=18)        # aliases, any case
        self.assertEqual((q.wanted_time, q.pH, q.barrier12, p.barrier12), (5.0, 7.0, 18.0, 16.6))
        self.assertEqual(q.to_args()[4], "5")
        om = q.replace(organomercurial=2e-6)
        self.assertEqual((len(om.to_args()), om.to_args()[0]), (47, "2e-06"))
        self.assertEqual(len(om.replace(phmb=None).to_args()), 46)
        self.assertEqual(len(NAMES), 47)


class Refused(TempDir):
    def test_values_that_cannot_be_meant(self):
        p = Parameters.read(os.path.join(EXAMPLES_DIR, "mera.args"))
        cases = {"pH": ["seven", "nan", "inf", "", "7,4"], "acceptor_type": [0, 4, 1.5, "2x"],
                 "enzyme": [-1e-6, "1uM"], "acceptor": ["-0.001"], "organomercurial": [-1],
                 "barrier7": ["1,0e-6", "-inf"], "basic_timestep": [0, -1e-6],
                 "wanted_time": [-1], "barrier12": [-3, "-0.1"],
                 "trace": ["", "flux_analysis.txt", "sub/flux_analysis.txt", "my run.trace",
                           "a\tb", "a\x1fb", "a\udcffb"]}
        for name, values in cases.items():
            for value in values:
                with self.subTest(name=name, value=value):
                    with self.assertRaises(ValueError) as e:
                        p[name] = value
                    self.assertTrue(str(e.exception).startswith(name + " ("), str(e.exception))
        self.assertEqual(p.pH, 7.0)                           # nothing was changed
        # Blanks around a number are the program's to skip, not part of the word.
        self.assertEqual(p.replace(pH=" 7.2\n", barrier1="0").to_args()[2:3], ["7.2"])
        for bad in (["1"] * 45, ["1"] * 48):
            self.assertRaises(ValueError, Parameters.from_args, bad)
        with self.assertRaisesRegex(ValueError, "unknown parameter 'barrier39'"):
            p.replace(barrier39=1)

    def test_bad_files(self):
        with open(self.path("short.args"), "w") as f:
            f.write("# comment 1 2 3\n" + " ".join(["1"] * 45) + "\n")
        self.assertRaisesRegex(ValueError, "short.args: 45 arguments", Parameters.read,
                               self.path("short.args"))
        with open(self.path("bad.args"), "w") as f:
            f.write(" ".join(["10", "1e-6", "7", "9"] + ["1"] * 41 + ["t.trace"]) + "\n")
        with open(self.path("bom.args"), "wb") as f:          # as some editors save a file
            f.write(b"\xef\xbb\xbf# MerA\n" + " ".join(["1"] * 45 + ["t.trace"]).encode())
        self.assertEqual(Parameters.read(self.path("bom.args")).trace, "t.trace")
        self.assertRaisesRegex(ValueError, "bad.args: acceptor_type", Parameters.read,
                               self.path("bad.args"))
        self.assertEqual(Parameters.read(self.path("bad.args"), check=False).acceptor_type, 9.0)


class Conditions(TempDir):
    """pKa and temperature: the programs' values unless given, kept by
    replace, never among the program's arguments; a program asked for other
    values refuses before anything runs."""

    def test_defaults_changes_and_refusals(self):
        glu = Parameters.read(os.path.join(EXAMPLES_DIR, "glutathione.args"))
        mera = Parameters.read(os.path.join(EXAMPLES_DIR, "mera.args"))
        self.assertEqual((mera.pKa, glu.pKa, glu.temperature, glu.conditions), (6.0, 10.4, 298.0, {}))
        q = glu.replace(PKA="9.0", temperature=310)
        self.assertEqual((q.pKa, q.temperature, q.to_args()), (9.0, 310.0, glu.to_args()))
        self.assertEqual(q.replace(pH=8).conditions, {"pKa": "9.0", "temperature": "310"})
        self.assertNotEqual(q, glu)
        self.assertEqual(q.replace(pKa=None, temperature=None), glu)
        glu.replace(pKa="10.4", temperature=298).check_for_programs()   # the programs' own
        with self.assertRaisesRegex(ValueError, r"^the programs hold pKa and temperature fixed: pKa "
                                    r"9.0 \(the programs: 10.4\) and temperature 310 K \(the"):
            q.check_for_programs()
        for name, value in (("temperature", 0), ("temperature", "hot"), ("pKa", "nan")):
            with self.assertRaisesRegex(ValueError, f"^{name} \\("):
                q[name] = value
        q.write(self.path("q.args"))                 # a note for the reader, not read back
        self.assertEqual(Parameters.read(self.path("q.args")), glu)
        with open(self.path("q.args"), encoding="utf-8") as f:
            self.assertIn("# exact kinetics at pKa=9.0, temperature=310", f.read())
        with self.assertRaisesRegex(ValueError, "the programs hold pKa"):
            tolvanex.run(q, folder=self.path("refused"))
        self.assertFalse(os.path.exists(self.path("refused")))
