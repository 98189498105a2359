#include "model/reaction_network.h"

#include <cmath>

namespace tolvanex {

NetworkConstants network_constants(const RateTable& rates, const RunParameters& parameters) {
  NetworkConstants c;
  c.rates = rates;
  const double hydrogen_ion = std::pow(10.0, -parameters.pH);  // [H+], mol/L
  c.k7_H = rates.k[7] * hydrogen_ion;
  c.k31_H = rates.k[31] * hydrogen_ion;
  c.speciation = speciation_constants(parameters.pH, parameters.pKa_thiol, parameters.MoleculeType);
  c.monothiol_balance = is_monothiol(parameters.MoleculeType);
  // The resting route needs every constant finite, so that a constant times
  // an amount of +0 is +0; and the organomercurial species must stay at 0.
  bool finite = std::isfinite(c.k7_H) && std::isfinite(c.k31_H);
  for (int i = 1; i <= kStepCount; ++i) finite = finite && std::isfinite(rates.k[i]);
  c.resting_route_possible = finite && !parameters.organomercurial;
  return c;
}

}  // namespace tolvanex
