// The state of the kinetic model: one concentration (mol/L) per species.
//
// A      HgMerB, the mercury-bound enzyme the transfer starts from
// S      free acceptor (thiol and thiolate forms together)
// C..N,Q the twelve enzyme-bound intermediates (letters B, H, O name none)
// P      the product, Hg carried away by the acceptor
// thiol, thiolate  the acceptor split of S (see speciation.h)
// O1,O2,O3  free enzyme released by steps 13, 7 and 31 (and reverse 37)
// apoMerB   O1 + O2 + O3, recomputed after every advance, never integrated
// MerB, ES, PHMB, organic   organomercurial mode: free enzyme, its complex
//           with the organomercurial, the organomercurial, the organic product
//
// The reaction network keeps these sums constant (up to rounding):
//   mercury   PHMB + ES + A + C..N + P + Q
//   organic   PHMB + ES + organic
//   enzyme    A + C..N + Q + O1 + O2 + O3 + MerB + ES
//   acceptor  S + C..N + P + Q                        (types 1, 2)
//             S + C+D+E+G+K+Q + 2(F+I+J+L+M+N+P)      (type 3, a monothiol)
#pragma once

#include "setup/run_parameters.h"

namespace tolvanex {

// Beside the integrated species the state holds the acceptor split of its S
// (thiol, thiolate and the two factors), worked out at the start of every
// iteration and never integrated.
//
// The fields A to Q stand in the order in which the step choice walks the
// falling species, with the acceptor forms among them, and SpeciesRates keeps
// the same order; the integrator relies on this (see model/field_pairs.h).
struct SpeciesState {
  double A = 0, MerB = 0, thiolate = 0, thiol = 0, C = 0, ES = 0;
  double D = 0, E = 0, F = 0, G = 0, I = 0, J = 0, K = 0, L = 0, M = 0, N = 0;
  double O1 = 0, O2 = 0, O3 = 0, P = 0, Q = 0;
  double S = 0, PHMB = 0, organic = 0;
  double apoMerB = 0;
  double thiol_factor = 0, thiolate_factor = 0;
};

// The state at time 0: A0 and S0, everything else 0; in organomercurial mode
// the enzyme starts free (MerB = A0, A = 0) beside PHMB0 of the organomercurial.
SpeciesState initial_state(const RunParameters& parameters);

}  // namespace tolvanex
