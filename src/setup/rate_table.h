// Rate constants from activation free energies (Eyring relation, 298 K).
//
//   x  = ((DeltaG* x 4184) / 8.314) / 298        (kcal/mol -> dimensionless)
//   k  = exp(-x) x kB T / h,   kB T / h = 6209352739000.001 s^-1
//
// For a monothiol acceptor (type 3) the constants of the steps that take up
// a second free acceptor molecule (k5, k6, k9, k10, k13, k14, k29, k30, k35,
// k36) are scaled by 0.001165, the ratio of the constants for barriers of 4
// and 0 kcal/mol: such bimolecular steps cannot be faster than diffusion.
// A barrier above 60 kcal/mol switches its direction off (k = 0), after
// that scaling.
#pragma once

#include <array>

#include "setup/run_parameters.h"

namespace tolvanex {

inline constexpr double kEyringPrefactor = 6209352739000.001;  // s^-1, kB T / h at 298 K
inline constexpr double kMonothiolFactor = 0.001165;
inline constexpr double kBarrierCutoff = 60;  // kcal/mol

// k[1] .. k[38]; k[0] is unused. (k1, k2) ... (k37, k38) are the two
// directions of one reversible step.
struct RateTable {
  std::array<double, kStepCount + 1> k{};
};

// The constant of one barrier, before any scaling or cut-off.
double eyring_rate_constant(double barrier_kcal_per_mol);

// The steps whose constants the monothiol factor scales.
inline constexpr std::array<int, 10> kMonothiolScaledSteps = {5, 6, 9, 10, 13, 14, 29, 30, 35, 36};

RateTable compute_rate_constants(const RunParameters& parameters);

}  // namespace tolvanex
