// Split of the free acceptor S into the forms that react.
//
//   R = 10^(pH - pKa_thiol),  f = R / (1 + R) (deprotonated share of one
//   thiol group),  g = 1 / (1 + R) (protonated share, not taken as 1 - f).
//
// Monothiol (type 3), one thiol group per molecule:
//   thiolate = f S,  thiol = S - thiolate; the factors of the second-thiol
//   steps are these amounts (a second free molecule binds: second order).
// MerA and dithiol (types 1, 2), two independent groups per molecule:
//   thiolate = 2 (S f) - (S f) f   (molecules with at least one thiolate)
//   thiol    = 2 (S g) - (S g) g   (molecules with at least one thiol)
//   the factors are the fractions g and f (the second group belongs to the
//   molecule already bound: first order).
// Any other type has no acceptor chemistry: every form and factor is 0.
#pragma once

#include "model/species_state.h"
#include "setup/run_parameters.h"
#include "simd/compiler_hints.h"

namespace tolvanex {

enum class AcceptorKind { TwoThiols, Monothiol, None };

// What depends only on pH and pKa_thiol, worked out once per run.
struct SpeciationConstants {
  AcceptorKind kind = AcceptorKind::None;
  double deprotonated_fraction = 0;  // f
  double protonated_fraction = 0;    // g
};

struct AcceptorSpeciation {
  double thiol = 0;            // mol/L that can react as protonated thiol
  double thiolate = 0;         // mol/L that can react as thiolate
  double thiol_factor = 0;     // multiplier of steps 9, 17, 29, 35
  double thiolate_factor = 0;  // multiplier of steps 5, 25
};

AcceptorKind acceptor_kind(double molecule_type);
SpeciationConstants speciation_constants(double pH, double pKa_thiol, double molecule_type);

TOLVANEX_HOT AcceptorSpeciation speciate_acceptor(double S, const SpeciationConstants& c) {
  AcceptorSpeciation a;
  const double f = c.deprotonated_fraction;
  const double g = c.protonated_fraction;
  switch (c.kind) {
    case AcceptorKind::Monothiol:
      a.thiolate = f * S;
      a.thiol = S - a.thiolate;
      a.thiol_factor = a.thiol;
      a.thiolate_factor = a.thiolate;
      break;
    case AcceptorKind::TwoThiols:
      a.thiolate = 2 * (S * f) - (S * f) * f;
      a.thiol = 2 * (S * g) - (S * g) * g;
      a.thiol_factor = g;
      a.thiolate_factor = f;
      break;
    case AcceptorKind::None:
      break;
  }
  return a;
}

// Splits the state's S and stores the result beside it.
TOLVANEX_HOT void speciate(SpeciesState& s, const SpeciationConstants& c) {
  const AcceptorSpeciation a = speciate_acceptor(s[Species::S], c);
  s[Species::thiol] = a.thiol;
  s[Species::thiolate] = a.thiolate;
  s.thiol_factor = a.thiol_factor;
  s.thiolate_factor = a.thiolate_factor;
}

}  // namespace tolvanex
