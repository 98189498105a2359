"""The rate equations of one run as an SBML Level 3 Version 1 document, core
only, for SBML tools (COPASI, Tellurium, ...).

The document holds the equations `tolvanex.model.exact.RateEquations` integrates,
built from the same tables (`tolvanex.model.mechanism`, `tolvanex.model.speciation`):

* one compartment ``solution`` of 1 L, and the species of the exact
  solution's state (ids the programs' labels) with their initial
  concentrations (mol/L);
* the 20 net steps as reversible reactions ``step1`` ... ``step39``, each
  written in the direction of its positive net flux, with the mass-action
  kinetic law ``solution * (forward term - reverse term)`` (extent in mol,
  time in s);
* a constant parameter for every rate constant, ``k1`` ... ``k38`` by
  barrier number as the trace file prints them, ``k_binding_forward`` and
  ``k_binding_reverse``, in 1/s or L/(mol s), with its barrier in an
  annotation; the acceptor's split by pH as constant coefficients and the
  buffered hydrogen ion as the constant ``H_ion`` (mol/L).

No rules, events, initial assignments or function definitions: every
reader of SBML's core takes it.  The model's notes say how it was made and
what its conventions are.

>>> from tolvanex.model.parameters import Parameters
>>> document = sbml_document(Parameters.read("examples/mera.args"))
>>> model = document.getModel()
>>> model.getNumSpecies(), model.getNumReactions(), problems(document)
(22, 20, [])
>>> libsbml.formulaToL3String(model.getReaction("step23").getKineticLaw().getMath())
'solution * (k24 * D - k23 * A * thiolate_coefficient * S)'
"""

from __future__ import annotations


import re

from xml.sax.saxutils import escape, quoteattr

import libsbml

from .. import __version__
from ..atomic import replaced_whole
from ..errors import TolvanexError
from ..model import mechanism
from ..model.exact import RELEASED_ENZYME, STATE, RateEquations
from ..model.parameters import ACCEPTOR_TYPES
from ..model.speciation import acceptor_coefficients, consumes_acceptor
from ..model.species import BY_LABEL, product_name
from .sbml_notes import model_notes

LEVEL, VERSION = 3, 1
#: The namespace of this package's annotations.
NAMESPACE = "urn:tolvanex:sbml-annotation:1"
COMPARTMENT = "solution"
HYDROGEN_ION = "H_ion"
BINDING_CONSTANTS = {"forward": "k_binding_forward", "reverse": "k_binding_reverse"}
#: Units of a rate constant by the order of its term.
RATE_CONSTANT_UNITS = {1: "per_second", 2: "litre_per_mole_per_second"}
_UNITS = {
    "per_second": ((libsbml.UNIT_KIND_SECOND, -1),),
    "litre_per_mole_per_second": ((libsbml.UNIT_KIND_LITRE, 1), (libsbml.UNIT_KIND_MOLE, -1),
                                  (libsbml.UNIT_KIND_SECOND, -1)),
    "mole_per_litre": ((libsbml.UNIT_KIND_MOLE, 1), (libsbml.UNIT_KIND_LITRE, -1)),
}
_CHECKS = (libsbml.LIBSBML_CAT_GENERAL_CONSISTENCY, libsbml.LIBSBML_CAT_IDENTIFIER_CONSISTENCY,
           libsbml.LIBSBML_CAT_UNITS_CONSISTENCY, libsbml.LIBSBML_CAT_MATHML_CONSISTENCY,
           libsbml.LIBSBML_CAT_SBO_CONSISTENCY, libsbml.LIBSBML_CAT_OVERDETERMINED_MODEL,
           libsbml.LIBSBML_CAT_MODELING_PRACTICE)


_FORBIDDEN_IN_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]")


class SbmlError(TolvanexError, RuntimeError):
    """libsbml refused the document or found it inconsistent."""


def coefficient_id(form: str) -> str:
    """The parameter holding an acceptor form's coefficient.

    >>> coefficient_id("thiol factor")
    'thiol_factor_coefficient'
    """
    return form.replace(" ", "_") + "_coefficient"


def _checked(status, what):
    if status != libsbml.LIBSBML_OPERATION_SUCCESS:
        raise SbmlError(f"libsbml refused {what}: {libsbml.OperationReturnValue_toString(status)}")


def _xml_text(text) -> str:
    """Text as XML takes it: bytes that were no UTF-8 (a file name from the
    command line) and control characters XML forbids become U+FFFD.

    >>> _xml_text("a\\udcff\\x01.args")
    'a\ufffd\ufffd.args'
    """
    text = str(text).encode("utf-8", "surrogateescape").decode("utf-8", "replace")
    return _FORBIDDEN_IN_XML.sub("\ufffd", text)


def _xhtml(*paragraphs: str) -> str:
    body = "".join(f"<p>{escape(_xml_text(p))}</p>" for p in paragraphs)
    return f'<body xmlns="http://www.w3.org/1999/xhtml">{body}</body>'


def _annotation(element: str, attributes: dict, text: str = "") -> str:
    shown = "".join(f" {k}={quoteattr(_xml_text(v))}" for k, v in attributes.items())
    return (f'<annotation><tolvanex:{element} xmlns:tolvanex="{NAMESPACE}"{shown}>'
            f"{escape(_xml_text(text))}</tolvanex:{element}></annotation>")


class _Term:
    """One mass-action term of a step: its constant and the factors it
    multiplies (parameter and species ids), and its order."""

    def __init__(self, constant_id, side, coefficients):
        self.constant_id, self.factors, self.order = constant_id, [constant_id], 0
        for name in side:
            if name == mechanism.HYDROGEN_ION:
                self.factors.append(HYDROGEN_ION)
                self.order += 1
            elif name in mechanism.ACCEPTOR_FORMS:
                self.factors.append(coefficient_id(name))
                if coefficients[name].per_S:
                    self.factors.append("S")
                    self.order += 1
            else:
                self.factors.append(name)
                self.order += 1
        if self.order not in RATE_CONSTANT_UNITS:
            raise SbmlError(f"{constant_id}: a term of order {self.order}")

    def formula(self) -> str:
        return " * ".join(self.factors)


def _participants(side, acceptor_type, organomercurial) -> dict:
    """The species one side of a step takes or gives, with their counts:
    the acceptor forms that consume S as S, H+ left out (buffered), and in
    organomercurial mode released enzyme as MerB."""
    counts = {}
    for name in side:
        if name == mechanism.HYDROGEN_ION:
            continue
        if name in mechanism.ACCEPTOR_FORMS:
            if not consumes_acceptor(name, acceptor_type):
                continue
            name = "S"
        elif organomercurial and name in RELEASED_ENZYME:
            name = "MerB"
        counts[name] = counts.get(name, 0) + 1
    return counts


def _species_name(label: str, acceptor_type) -> str:
    if label == "P" and product_name(acceptor_type):
        return product_name(acceptor_type)
    entry = BY_LABEL[label]
    return " ".join(entry.trace_column.split()) if entry.trace_column else entry.meaning


def _setup_model(document, parameters, source):
    model = document.createModel()
    p = parameters
    acceptor = ACCEPTOR_TYPES[int(p.acceptor_type)]
    _checked(model.setId("tolvanex_" + ("organomercurial_" if p.is_organomercurial else "")
                         + acceptor), "the model id")
    model.setName(f"Hg(II) removal from MerB: acceptor {acceptor} (type {int(p.acceptor_type)}), "
                  f"pH {p.text('pH')}" + (", organomercurial mode" if p.is_organomercurial
                                          else ""))
    for unit_id, parts in _UNITS.items():
        definition = model.createUnitDefinition()
        definition.setId(unit_id)
        for kind, exponent in parts:
            unit = definition.createUnit()
            unit.setKind(kind)
            unit.setExponent(exponent)
            unit.setScale(0)
            unit.setMultiplier(1.0)
    model.setSubstanceUnits("mole")
    model.setTimeUnits("second")
    model.setVolumeUnits("litre")
    model.setExtentUnits("mole")
    _checked(model.setNotes(_xhtml(*model_notes(p, source))), "the model's notes")
    _checked(model.setAnnotation(_annotation(
        "arguments", {"count": len(p.to_args()), "version": __version__},
        " ".join(p.to_args()))), "the model's annotation")
    compartment = model.createCompartment()
    compartment.setId(COMPARTMENT)
    compartment.setName("reaction solution")
    compartment.setSpatialDimensions(3)
    compartment.setSize(1.0)
    compartment.setUnits("litre")
    compartment.setConstant(True)
    return model


def _add_species(model, parameters):
    organomercurial = parameters.is_organomercurial
    for label, amount in zip(STATE, RateEquations(parameters).initial_state()):
        species = model.createSpecies()
        _checked(species.setId(label), f"species id {label}")
        species.setName(_species_name(label, parameters.acceptor_type))
        species.setCompartment(COMPARTMENT)
        species.setInitialConcentration(float(amount))
        species.setHasOnlySubstanceUnits(False)
        species.setBoundaryCondition(False)
        # Released enzyme goes back to MerB at once: O1, O2, O3 stay 0.
        species.setConstant(organomercurial and label in RELEASED_ENZYME)
        if species.getName() != BY_LABEL[label].meaning:
            species.setNotes(_xhtml(BY_LABEL[label].meaning))


def _add_constant(model, pid, name, value, units, annotation=None):
    parameter = model.createParameter()
    _checked(parameter.setId(pid), f"parameter id {pid}")
    parameter.setName(name)
    parameter.setValue(float(value))
    parameter.setUnits(units)
    parameter.setConstant(True)
    if annotation:
        _checked(parameter.setAnnotation(annotation), f"the annotation of {pid}")


def _rate_constant_annotation(step, direction, barrier, parameters) -> str:
    attributes = {"step": step.number, "direction": direction}
    if barrier is None:
        attributes["fixed"] = "true"
    else:
        attributes["barrier"] = barrier
        attributes["argument"] = mechanism.argument_position(barrier,
                                                             parameters.is_organomercurial)
        attributes["kcal_per_mol"] = parameters.text(f"barrier{barrier}")
        if parameters.acceptor_type == 3 and barrier in mechanism.MONOTHIOL_SCALED:
            attributes["monothiol_factor"] = repr(mechanism.MONOTHIOL_FACTOR)
        if parameters[f"barrier{barrier}"] > mechanism.BARRIER_CUTOFF:
            attributes["switched_off"] = "above the cut-off"
    return _annotation("rateConstant", attributes)


def _steps(parameters):
    """Every step with its two terms: (step, forward, reverse, barriers)."""
    coefficients = acceptor_coefficients(parameters.pH, parameters.acceptor_type, parameters.pKa)
    for s in mechanism.STEPS:
        barriers = (s.forward_barrier, s.reverse_barrier)
        if s.forward_barrier is None:
            ids = (BINDING_CONSTANTS["forward"], BINDING_CONSTANTS["reverse"])
        else:
            ids = tuple(f"k{b}" for b in barriers)
        yield (s, _Term(ids[0], s.reactants, coefficients),
               _Term(ids[1], s.products, coefficients), barriers)


def _add_parameters(model, parameters):
    coefficients = acceptor_coefficients(parameters.pH, parameters.acceptor_type, parameters.pKa)
    for form, coefficient in coefficients.items():
        what = f"{form} per free acceptor S" if coefficient.per_S else \
            f"{form}: a constant fraction (the bound molecule's other thiol group)"
        _add_constant(model, coefficient_id(form), what, coefficient.value, "dimensionless")
    _add_constant(model, HYDROGEN_ION, "H+, buffered: 10^-pH", 10.0 ** (-parameters.pH),
                  "mole_per_litre")
    constants = mechanism.step_constants(parameters)
    terms = []
    for s, forward, reverse, barriers in _steps(parameters):
        terms += [(s, "forward", forward, barriers[0]), (s, "reverse", reverse, barriers[1])]
    # k1 ... k38 in barrier order, then the binding's fixed pair.
    terms.sort(key=lambda t: (t[3] or 99, t[1]))
    for s, direction, term, barrier in terms:
        _add_constant(model, term.constant_id,
                      f"{direction} rate constant of step {s.number}, {s.equation}",
                      constants.loc[s.number, direction], RATE_CONSTANT_UNITS[term.order],
                      _rate_constant_annotation(s, direction, barrier, parameters))


def _add_reactions(model, parameters):
    organomercurial = parameters.is_organomercurial
    for s, forward, reverse, barriers in _steps(parameters):
        reaction = model.createReaction()
        reaction.setId(f"step{s.number}")
        reaction.setName(f"{s.number}: {s.equation}, {s.description}")
        reaction.setReversible(True)
        reaction.setFast(False)
        taking_part = set()
        for side, add in ((s.reactants, reaction.createReactant),
                          (s.products, reaction.createProduct)):
            for label, count in _participants(side, parameters.acceptor_type,
                                              organomercurial).items():
                reference = add()
                reference.setSpecies(label)
                reference.setStoichiometry(count)
                reference.setConstant(True)
                taking_part.add(label)
        in_law = [f for f in forward.factors + reverse.factors if f in STATE]
        for label in dict.fromkeys(f for f in in_law if f not in taking_part):
            reaction.createModifier().setSpecies(label)
        law = reaction.createKineticLaw()
        formula = f"{COMPARTMENT} * ({forward.formula()} - {reverse.formula()})"
        math = libsbml.parseL3Formula(formula)
        if math is None:
            raise SbmlError(f"libsbml cannot read {formula!r}: {libsbml.getLastParseL3Error()}")
        _checked(law.setMath(math), f"the kinetic law of step {s.number}")
        reaction.setAnnotation(_annotation("step", {
            "net_flux": s.flux, "forward_barrier": barriers[0] or "fixed",
            "reverse_barrier": barriers[1] or "fixed"}))


def sbml_document(parameters, source: str | None = None) -> libsbml.SBMLDocument:
    """The SBML document of a run's rate equations (`Parameters`); `source`
    says where the arguments come from, for the notes."""
    parameters.check()
    document = libsbml.SBMLDocument(LEVEL, VERSION)
    model = _setup_model(document, parameters, source)
    _add_species(model, parameters)
    _add_parameters(model, parameters)
    _add_reactions(model, parameters)
    return document


def problems(document) -> list[tuple[str, int, str]]:
    """What libsbml's consistency checks find, every category on (units
    included, strict units too): (severity, error id, message) of every
    warning and error."""
    found = []
    for check in (document.checkConsistency, document.checkConsistencyWithStrictUnits):
        for category in _CHECKS:
            document.setConsistencyChecks(category, True)
        check()
        log = document.getErrorLog()
        for i in range(log.getNumErrors()):
            error = log.getError(i)
            if error.getSeverity() >= libsbml.LIBSBML_SEV_WARNING:
                found.append((error.getSeverityAsString(), error.getErrorId(),
                              " ".join(error.getMessage().split())))
        log.clearLog()
    return found


def sbml_text(parameters, source: str | None = None) -> str:
    """The SBML file of a run's rate equations; SbmlError when libsbml's
    checks find any error or warning in it."""
    document = sbml_document(parameters, source)
    found = problems(document)
    if found:
        severity, number, message = found[0]
        raise SbmlError(f"the SBML document has {len(found)} problem(s); the first: "
                        f"{severity} {number}: {message}")
    return libsbml.writeSBMLToString(document)


def write_sbml(parameters, path, source: str | None = None) -> None:
    """Write the SBML file of a run's rate equations to `path`, whole or not
    at all (`tolvanex.atomic.replaced_whole`)."""
    text = sbml_text(parameters, source)
    with replaced_whole(path) as f:
        f.write(text)
