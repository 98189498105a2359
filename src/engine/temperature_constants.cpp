#include "engine/temperature_constants.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

namespace tolvanex::engine {

double eyring_constant(double barrier_kcal_per_mol, double temperature) {
  const double x = ((barrier_kcal_per_mol * 4184) / 8.314) / temperature;
  return std::exp(-x) * (kEyringPrefactor * (temperature / kReferenceTemperature));
}

double at_temperature(double constant_at_298, double temperature) {
  const double shift = kReferenceTemperature / temperature - 1;  // 0 at 298 K
  return constant_at_298 * ((temperature / kReferenceTemperature) *
                            std::exp(std::log(constant_at_298 / kEyringPrefactor) * shift));
}

double monothiol_factor(double temperature) {
  const double shift = kReferenceTemperature / temperature - 1;
  return kMonothiolFactor * std::exp(std::log(kMonothiolFactor) * shift);
}

RateTable rate_constants(const Conditions& conditions) {
  const auto& barrier = conditions.barriers;
  RateTable table;
  for (int i = 1; i <= kStepCount; ++i) {
    table.k[i] = eyring_constant(barrier[i], conditions.temperature);
  }
  if (is_monothiol(conditions.acceptor_type)) {
    const double factor = monothiol_factor(conditions.temperature);
    for (int i : kMonothiolScaledSteps) table.k[i] = table.k[i] * factor;
  }
  for (int i = 1; i <= kStepCount; ++i) {
    if (barrier[i] > kBarrierCutoff) table.k[i] = 0;
    if (!std::isfinite(table.k[i])) {
      std::ostringstream text;
      text << "barrier" << i << " is " << barrier[i] << ": its rate constant at "
           << conditions.temperature << " K is not a finite number";
      throw std::invalid_argument(text.str());
    }
  }
  return table;
}

BindingConstants binding_constants(double temperature) {
  return {at_temperature(kOrganomercurialBindingRate, temperature),
          at_temperature(kOrganomercurialReleaseRate, temperature)};
}

KineticConstants kinetic_constants(const Conditions& conditions) {
  RunParameters p;
  p.organomercurial = conditions.organomercurial;
  p.pH = conditions.pH;
  p.MoleculeType = conditions.acceptor_type;
  p.pKa_thiol = effective_pKa(conditions);
  const KineticConstants k{network_constants(rate_constants(conditions), p),
                           binding_constants(conditions.temperature)};
  const SpeciationConstants& split = k.network.speciation;
  if (!std::isfinite(k.network.k7_H) || !std::isfinite(k.network.k31_H) ||
      !std::isfinite(split.deprotonated_fraction) || !std::isfinite(split.protonated_fraction)) {
    std::ostringstream text;
    text << "pH is " << conditions.pH << ": with pKa " << p.pKa_thiol
         << " the hydrogen ion or the acceptor's split is not a finite number";
    throw std::invalid_argument(text.str());
  }
  return k;
}

}  // namespace tolvanex::engine
