"""tolvanex-export --sbml: the file is consistent SBML that any reader of
SBML's core can solve, and solved from the file alone it gives the exact
solution's t50 and t90."""

import math
import os
import subprocess
import unittest

import libsbml
import numpy as np
from scipy.integrate import solve_ivp
from scipy.optimize import brentq

from common import EXAMPLES_DIR, TOOLS_DIR, TempDir, run_here
from tolvanex.model.exact import RateEquations, STATE
from tolvanex.model.solution import solve
from tolvanex.cli.export import main as export_main
from tolvanex.export.sbml import problems
from tolvanex.model.parameters import Parameters

EXPORT = os.path.join(TOOLS_DIR, "tolvanex-export")
# Long enough for 90 % product in each example.
ENDS = {"mera": 0.2, "dithiothreitol": 2.0, "glutathione": 150.0, "organomercurial": 0.2}
LABELS = "A S C D E F G I J K L M N O1 O2 O3 P Q MerB ES PHMB organic".split()


class SbmlOde:
    """dy/dt of an SBML file's species concentrations, from the file alone:
    each kinetic law's AST turned into Python arithmetic (+ - * / on
    numbers, species and constants; anything else refused), each species
    changed by its stoichiometry times the laws over the volume."""

    OPERATORS = {libsbml.AST_PLUS: "+", libsbml.AST_MINUS: "-", libsbml.AST_TIMES: "*",
                 libsbml.AST_DIVIDE: "/"}

    def __init__(self, path):
        self.document = libsbml.readSBMLFromFile(path)
        model = self.document.getModel()
        species = [model.getSpecies(i) for i in range(model.getNumSpecies())]
        self.ids = [s.getId() for s in species]
        self.y0 = np.array([s.getInitialConcentration() for s in species])
        names = {s.getId(): f"y[{i}]" for i, s in enumerate(species)}
        names.update((p.getId(), repr(p.getValue())) for p in model.getListOfParameters())
        names.update((c.getId(), repr(c.getSize())) for c in model.getListOfCompartments())
        self.change = np.zeros((len(species), model.getNumReactions()))
        laws = []
        for j, reaction in enumerate(model.getListOfReactions()):
            laws.append(self._python(reaction.getKineticLaw().getMath(), names))
            for sign, refs in ((-1, reaction.getListOfReactants()),
                               (1, reaction.getListOfProducts())):
                for ref in refs:
                    s = model.getSpecies(ref.getSpecies())
                    if not (s.getConstant() or s.getBoundaryCondition()):
                        volume = model.getCompartment(s.getCompartment()).getSize()
                        self.change[self.ids.index(s.getId()), j] += \
                            sign * ref.getStoichiometry() / volume
        self.rates = eval(compile(f"lambda y: ({', '.join(laws)},)", path, "eval"))

    def _python(self, node, names):
        if node.getType() == libsbml.AST_NAME:
            return names[node.getName()]
        if node.isNumber():
            return repr(node.getValue())
        if node.getType() not in self.OPERATORS:
            raise ValueError(f"not arithmetic: {libsbml.formulaToL3String(node)}")
        args = [self._python(node.getChild(i), names) for i in range(node.getNumChildren())]
        if len(args) == 1:
            return f"({self.OPERATORS[node.getType()]}{args[0]})"
        return "(" + f" {self.OPERATORS[node.getType()]} ".join(args) + ")"

    def derivatives(self, t, y):
        return self.change @ np.array(self.rates(y))

    def times_to(self, fractions, end):
        """When P first reaches each fraction of the enzyme (A + MerB at 0)."""
        enzyme = sum(self.y0[self.ids.index(s)] for s in ("A", "MerB"))
        k = self.ids.index("P")
        sol = solve_ivp(self.derivatives, (0, end), self.y0, method="Radau", rtol=1e-11,
                        atol=1e-13 * enzyme, dense_output=True)
        assert sol.success, sol.message
        times = []
        for f in fractions:
            i = np.nonzero(sol.y[k] >= f * enzyme)[0][0]
            times.append(brentq(lambda t: sol.sol(t)[k] - f * enzyme, sol.t[i - 1], sol.t[i],
                                xtol=1e-14 * sol.t[i], rtol=1e-14))
        return times


def export(*words):
    """The tool in this process (its face, tools/tolvanex-export, is run for
    real below and by the version test)."""
    return run_here(export_main, *words)


class SbmlExport(TempDir):
    def write(self, name, *sets):
        out = self.path("_".join((name,) + sets) + ".xml")
        if not os.path.exists(out):
            result = export(os.path.join(EXAMPLES_DIR, name + ".args"), "--sbml", out,
                            *[w for s in sets for w in ("--set", s)])
            self.assertEqual((result.returncode, result.stderr), (0, ""))
        return out

    def test_solved_from_the_file_alone_gives_exact_times(self):
        for name, end in ENDS.items():
            with self.subTest(name):
                ode = SbmlOde(self.write(name))
                p = Parameters.read(os.path.join(EXAMPLES_DIR, name + ".args"))
                exact = solve(p, end=end)            # the CVODE engine
                for got, fraction in zip(ode.times_to((0.5, 0.9), end), (0.5, 0.9)):
                    self.assertAlmostEqual(got / exact.time_to(fraction), 1, delta=1e-6)

    def test_kinetic_laws_are_the_rate_equations(self):
        # At a random state, including the monothiol in organomercurial mode.
        rng = np.random.default_rng(7)
        cases = [(n, ()) for n in ENDS] + [("organomercurial", ("acceptor_type=3",))]
        for name, sets in cases:
            with self.subTest(name, sets=sets):
                p = Parameters.read(os.path.join(EXAMPLES_DIR, name + ".args"))
                p = p.replace(**dict(s.split("=") for s in sets))
                ode = SbmlOde(self.write(name, *sets))
                self.assertEqual(sorted(ode.ids), sorted(STATE))
                y = rng.uniform(1e-7, 1e-6, len(STATE)) * np.where(
                    np.array(STATE) == "S", 1e3, 1)
                expected = RateEquations(p).derivatives(0, y)
                order = [STATE.index(i) for i in ode.ids]
                got = ode.derivatives(0, y[order])
                scale = np.abs(expected).max()
                np.testing.assert_allclose(got, expected[order], rtol=0, atol=1e-13 * scale)

    def test_what_a_reader_finds(self):
        for name in ("mera", "organomercurial"):
            document = libsbml.readSBMLFromFile(self.write(name, "barrier30=61"))
            model = document.getModel()
            with self.subTest(name):
                self.assertEqual(document.getNumErrors(), 0)
                self.assertEqual(problems(document), [])
                self.assertEqual((document.getLevel(), document.getVersion()), (3, 1))
                self.assertEqual([model.getNumRules(), model.getNumEvents(),
                                  model.getNumInitialAssignments(),
                                  model.getNumFunctionDefinitions()], [0, 0, 0, 0])
                self.assertEqual(sorted(s.getId() for s in model.getListOfSpecies()),
                                 sorted(LABELS))
                initial = {s.getId(): s.getInitialConcentration()
                           for s in model.getListOfSpecies() if s.getInitialConcentration()}
                reactions = model.getListOfReactions()
                self.assertEqual([r.getId() for r in reactions],
                                 [f"step{n}" for n in range(1, 40, 2)])
                self.assertTrue(all(r.getReversible() for r in reactions))
                k = {p.getId(): p for p in model.getListOfParameters()}
                self.assertEqual(k["k30"].getValue(), 0.0)
                self.assertIn('barrier="30"', k["k30"].getAnnotationString())
                # k1 by the Eyring relation at 298 K from barrier1.
                barrier1 = 10.5 if name == "mera" else 12
                self.assertAlmostEqual(k["k1"].getValue() / (6.209352739e12 * math.exp(
                    -barrier1 * 4184 / (8.314 * 298))), 1, delta=1e-12)
                self.assertEqual((k["k1"].getUnits(), k["k2"].getUnits()),
                                 ("litre_per_mole_per_second", "per_second"))
                self.assertEqual((model.getTimeUnits(), model.getSubstanceUnits(),
                                  model.getVolumeUnits()), ("second", "mole", "litre"))
                self.assertIn("--set barrier30=61", model.getNotesString())
                products = [r.getSpecies() for r in model.getReaction("step7").getListOfProducts()]
            if name == "mera":
                self.assertEqual(initial, {"A": 1e-6, "S": 1e-3})
                self.assertAlmostEqual(k["H_ion"].getValue(), 1e-7, delta=1e-20)
                self.assertAlmostEqual(k["thiolate_coefficient"].getValue(), 120 / 121)
                self.assertEqual(products, ["O2", "P"])
            else:                       # released enzyme is MerB again
                self.assertEqual(initial, {"MerB": 1e-6, "S": 1e-3, "PHMB": 2e-6})
                self.assertEqual(products, ["MerB", "P"])
                self.assertTrue(model.getSpecies("O2").getConstant())

    def test_refusals(self):
        mera = os.path.join(EXAMPLES_DIR, "mera.args")
        folder = self.path("refused")
        os.mkdir(folder)
        out = os.path.join(folder, "refused.xml")
        for words, status, message in (
                ([self.path("none.args"), "--sbml", out], 2, "No such file"),
                ([mera, "--set", "pH=seven", "--sbml", out], 2, "not a number"),
                ([mera, "--set", "colour=1", "--sbml", out], 2, "unknown parameter"),
                ([mera, "--sbml", mera], 2, "is the arguments file"),
                ([mera, "--sbml", os.path.join(folder, "no", "x.xml")], 1, "cannot write")):
            with self.subTest(words[1:]):
                result = export(*words)
                self.assertEqual(result.returncode, status)
                self.assertEqual(result.stderr.count("\n"), 1)
                self.assertIn(message, result.stderr)
        self.assertEqual(os.listdir(folder), [])
        result = subprocess.run([EXPORT, mera, "--sbml", "-"], capture_output=True, text=True,
                                timeout=60)
        self.assertTrue(result.stdout.startswith("<?xml"))


if __name__ == "__main__":
    unittest.main()
