// The rate constants of the rate laws at any temperature.
//
// A barrier's constant is the Eyring constant at T,
//   k = (kB T / h) exp(-(DeltaG* 4184 / 8.314) / T),  kB T / h = 6209352739000.001 (T / 298),
// evaluated at 298 K in exactly the programs' order, so that there the
// constants are the programs' bits.
//
// The three fixed numbers of the mechanism are Eyring constants too: each is
// the constant at 298 K of the barrier that gives it there, and follows T as
// a constant of that barrier does,
//   k(T) = k298 (T / 298) exp(ln(k298 / (kB 298 / h)) (298 / T - 1)),
// which is k298 itself at 298 K:
//   - the monothiol factor 0.001165 is k(4 kcal/mol) / k(0) at 298 K, the
//     step to 4 kcal/mol that keeps a bimolecular step from outrunning
//     diffusion; as a ratio of two constants it has no prefactor of its
//     own and becomes 0.001165^(298 / T) (the ratio for the same barrier
//     of 4.000 kcal/mol at T);
//   - the organomercurial binding, 7.2339e9 L/(mol s) = 0.001165 kB T / h:
//     a step at that same diffusion ceiling (4.000 kcal/mol);
//   - its reverse, 9.8e3 1/s: the constant of a barrier of 12.001 kcal/mol.
// The cut-off stays where it is: a barrier above 60 kcal/mol gives 0, after
// the monothiol scaling.
#pragma once

#include "engine/solve_request.h"
#include "model/reaction_network.h"
#include "setup/rate_table.h"

namespace tolvanex::engine {

struct BindingConstants {
  double forward = kOrganomercurialBindingRate;  // L/(mol s), MerB + PHMB -> ES
  double reverse = kOrganomercurialReleaseRate;  // 1/s
};

// Everything the rate laws take besides the amounts.
struct KineticConstants {
  NetworkConstants network;  // k1 .. k38, k7 [H+], k31 [H+], the acceptor split
  BindingConstants binding;
};

double eyring_constant(double barrier_kcal_per_mol, double temperature);
// A constant known at 298 K, at temperature T (see above).
double at_temperature(double constant_at_298, double temperature);
double monothiol_factor(double temperature);

// k1 .. k38 at the conditions' temperature; std::invalid_argument for a
// barrier whose constant is not a finite number there.
RateTable rate_constants(const Conditions& conditions);
BindingConstants binding_constants(double temperature);
KineticConstants kinetic_constants(const Conditions& conditions);

}  // namespace tolvanex::engine
