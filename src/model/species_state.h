// The state of the kinetic model: one concentration (mol/L) per species
// (species.h), and the time derivatives of an evaluation, both held in arrays
// in the order of the species table, so that one index names a species, its
// amount and its derivative.
//
// The reaction network keeps these sums constant (up to rounding):
//   mercury   PHMB + ES + A + C..N + P + Q
//   organic   PHMB + ES + organic
//   enzyme    A + C..N + Q + O1 + O2 + O3 + MerB + ES
//   acceptor  S + C..N + P + Q                        (types 1, 2)
//             S + C+D+E+G+K+Q + 2(F+I+J+L+M+N+P)      (type 3, a monothiol)
#pragma once

#include <array>

#include "model/species.h"
#include "setup/run_parameters.h"

namespace tolvanex {

// Beside the amounts the state holds the two factors of the acceptor split of
// its S (thiol and thiolate themselves are species of the table), worked out
// at the start of every iteration and never integrated.
struct SpeciesState {
  std::array<double, kSpeciesCount> amount{};
  double thiol_factor = 0, thiolate_factor = 0;

  double& operator[](Species x) { return amount[index_of(x)]; }
  double operator[](Species x) const { return amount[index_of(x)]; }
};

// Time derivatives (mol/L/s): dA, dthiol, dthiolate, dS, dC ... The entry of
// apoMerB, which is never integrated, stays 0.
struct SpeciesRates {
  std::array<double, kSpeciesCount> rate{};

  double& operator[](Species x) { return rate[index_of(x)]; }
  double operator[](Species x) const { return rate[index_of(x)]; }
};

// The state at time 0: A0 and S0, everything else 0; in organomercurial mode
// the enzyme starts free (MerB = A0, A = 0) beside PHMB0 of the organomercurial.
SpeciesState initial_state(const RunParameters& parameters);

}  // namespace tolvanex
