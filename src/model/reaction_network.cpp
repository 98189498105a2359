#include "model/reaction_network.h"

#include <cmath>

namespace tolvanex {

NetworkConstants network_constants(const RateTable& rates, const RunParameters& parameters) {
  NetworkConstants c;
  c.rates = rates;
  c.hydrogen_ion = std::pow(10.0, -parameters.pH);
  c.k7_H = rates.k[7] * c.hydrogen_ion;
  c.k31_H = rates.k[31] * c.hydrogen_ion;
  c.speciation = speciation_constants(parameters.pH, parameters.pKa_thiol, parameters.MoleculeType);
  c.monothiol_balance = is_monothiol(parameters.MoleculeType);
  return c;
}

}  // namespace tolvanex
