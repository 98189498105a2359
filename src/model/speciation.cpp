#include "model/speciation.h"

#include <cmath>

namespace tolvanex {

AcceptorKind acceptor_kind(double molecule_type) {
  if (is_monothiol(molecule_type)) return AcceptorKind::Monothiol;
  if (is_mera(molecule_type) || is_dithiol(molecule_type)) return AcceptorKind::TwoThiols;
  return AcceptorKind::None;
}

SpeciationConstants speciation_constants(double pH, double pKa_thiol, double molecule_type) {
  SpeciationConstants c;
  c.kind = acceptor_kind(molecule_type);
  if (c.kind == AcceptorKind::None) return c;
  const double R = std::pow(10.0, pH - pKa_thiol);
  c.deprotonated_fraction = R / (1 + R);
  c.protonated_fraction = 1 / (1 + R);
  return c;
}

}  // namespace tolvanex
