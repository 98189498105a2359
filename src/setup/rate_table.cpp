#include "setup/rate_table.h"

#include <cmath>

namespace tolvanex {

double eyring_rate_constant(double barrier_kcal_per_mol) {
  const double x = ((barrier_kcal_per_mol * 4184) / 8.314) / 298;
  // A NaN barrier gives a NaN constant whose sign is the barrier's flipped,
  // as exp(-x) x prefactor carries it on x86-64 when the minus is a sign
  // flip of x. A compiler may instead fold the minus into the constants
  // above (clang does), which keeps the sign: spelled out, both print the
  // same "-nan" for "nan".
  if (std::isnan(x)) return -x;
  return std::exp(-x) * kEyringPrefactor;
}

RateTable compute_rate_constants(const RunParameters& parameters) {
  RateTable table;
  for (int i = 1; i <= kStepCount; ++i) table.k[i] = eyring_rate_constant(parameters.DeltaG[i]);
  if (is_monothiol(parameters.MoleculeType)) {
    for (int i : kMonothiolScaledSteps) table.k[i] = table.k[i] * kMonothiolFactor;
  }
  for (int i = 1; i <= kStepCount; ++i) {
    if (parameters.DeltaG[i] > kBarrierCutoff) table.k[i] = 0;
  }
  return table;
}

}  // namespace tolvanex
