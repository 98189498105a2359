// The reaction network: mass-action net fluxes, species balances, pruning of
// negligible fluxes, and the explicit (forward Euler) advance of the state.
//
// Step m (odd) has constants km, k(m+1) and net flux flux m = forward - reverse:
//   flux1   A + thiol -> C            k1 thiol A        - k2 C
//   flux3   C -> K                    k3 C              - k4 K
//   flux5   K + thiolate -> N         k5 ftl K          - k6 N
//   flux7   N + H+ -> O2 + P          k7 [H+] N         - k8 O2 P
//   flux9   K + thiol -> L            k9 fth K          - k10 L
//   flux11  L -> M                    k11 L             - k12 M
//   flux13  M -> O1 + P               k13 M             - k14 O1 P
//   flux15  A + thiol -> G            k15 thiol A       - k16 G
//   flux17  G + thiol -> I            k17 fth G         - k18 I
//   flux19  I -> J                    k19 I             - k20 J
//   flux21  ES -> A + organic         k21 ES            - k22 A organic
//   flux23  D -> A + thiolate         k24 D             - k23 thiolate A
//   flux25  F -> G + thiolate         k26 F             - k25 ftl G
//   flux27  D -> E                    k27 D             - k28 E
//   flux29  E + thiol -> F            k29 fth E         - k30 F
//   flux31  F + H+ -> O3 + P          k31 [H+] F        - k32 O3 P
//   flux33  Q -> D                    k33 Q             - k34 D
//   flux35  Q + thiol -> N            k35 fth Q         - k36 N
//   flux37  O3 + P -> J               k38 O3 P          - k37 J
//   flux39  MerB + PHMB -> ES         7.2339e9 MerB PHMB - 9.8e3 ES
// (fth, ftl: thiol and thiolate factors of the acceptor speciation. In steps
// 23, 25 and 37 the odd constant belongs to the reverse direction.)
//
// Every product is evaluated left to right as written, every sum likewise,
// so that results are the same bits wherever the program is built.
#pragma once

#include <array>
#include <cstddef>

#include "model/field_pairs.h"
#include "model/speciation.h"
#include "model/species_state.h"
#include "setup/rate_table.h"

namespace tolvanex {

inline constexpr double kOrganomercurialBindingRate = 7.2339e9;  // L/(mol s)
inline constexpr double kOrganomercurialReleaseRate = 9.8e3;     // 1/s
inline constexpr double kPruningThreshold = 1e-12;               // relative to the largest net flux

struct NetFluxes {
  double flux1 = 0, flux3 = 0, flux5 = 0, flux7 = 0, flux9 = 0, flux11 = 0, flux13 = 0, flux15 = 0,
         flux17 = 0, flux19 = 0, flux21 = 0, flux23 = 0, flux25 = 0, flux27 = 0, flux29 = 0,
         flux31 = 0, flux33 = 0, flux35 = 0, flux37 = 0, flux39 = 0;
};

// Time integrals of flux1 .. flux37 since time 0 (mol/L); flux39 has none.
struct FluxTotals {
  double total_flux1 = 0, total_flux3 = 0, total_flux5 = 0, total_flux7 = 0, total_flux9 = 0,
         total_flux11 = 0, total_flux13 = 0, total_flux15 = 0, total_flux17 = 0, total_flux19 = 0,
         total_flux21 = 0, total_flux23 = 0, total_flux25 = 0, total_flux27 = 0, total_flux29 = 0,
         total_flux31 = 0, total_flux33 = 0, total_flux35 = 0, total_flux37 = 0;
};

inline constexpr std::size_t kNetFluxPairs = 10;  // flux1 .. flux39 as pairs of fields

// The 20 net fluxes in step order, and the 19 that have a running total.
inline constexpr std::array<double NetFluxes::*, 20> kNetFluxesInOrder = {
    &NetFluxes::flux1,  &NetFluxes::flux3,  &NetFluxes::flux5,  &NetFluxes::flux7,
    &NetFluxes::flux9,  &NetFluxes::flux11, &NetFluxes::flux13, &NetFluxes::flux15,
    &NetFluxes::flux17, &NetFluxes::flux19, &NetFluxes::flux21, &NetFluxes::flux23,
    &NetFluxes::flux25, &NetFluxes::flux27, &NetFluxes::flux29, &NetFluxes::flux31,
    &NetFluxes::flux33, &NetFluxes::flux35, &NetFluxes::flux37, &NetFluxes::flux39};
inline constexpr std::array<double FluxTotals::*, 19> kFluxTotalsInOrder = {
    &FluxTotals::total_flux1,  &FluxTotals::total_flux3,  &FluxTotals::total_flux5,
    &FluxTotals::total_flux7,  &FluxTotals::total_flux9,  &FluxTotals::total_flux11,
    &FluxTotals::total_flux13, &FluxTotals::total_flux15, &FluxTotals::total_flux17,
    &FluxTotals::total_flux19, &FluxTotals::total_flux21, &FluxTotals::total_flux23,
    &FluxTotals::total_flux25, &FluxTotals::total_flux27, &FluxTotals::total_flux29,
    &FluxTotals::total_flux31, &FluxTotals::total_flux33, &FluxTotals::total_flux35,
    &FluxTotals::total_flux37};

// Time derivatives (mol/L/s), dA to dQ in the order of the SpeciesState fields.
struct SpeciesRates {
  double dA = 0, dMerB = 0, dthiolate = 0, dthiol = 0, dC = 0, dES = 0;
  double dD = 0, dE = 0, dF = 0, dG = 0, dI = 0, dJ = 0, dK = 0, dL = 0, dM = 0, dN = 0;
  double dO1 = 0, dO2 = 0, dO3 = 0, dP = 0, dQ = 0;
  double dS = 0, dPHMB = 0, dorganic = 0;
};

// The species and their derivatives stand in the same order, so that one
// offset names a species in SpeciesState and its derivative in SpeciesRates.
#define TOLVANEX_SAME_PLACE(X) \
  static_assert(offsetof(SpeciesState, X) == offsetof(SpeciesRates, d##X))
TOLVANEX_SAME_PLACE(A);
TOLVANEX_SAME_PLACE(MerB);
TOLVANEX_SAME_PLACE(thiolate);
TOLVANEX_SAME_PLACE(thiol);
TOLVANEX_SAME_PLACE(C);
TOLVANEX_SAME_PLACE(ES);
TOLVANEX_SAME_PLACE(D);
TOLVANEX_SAME_PLACE(E);
TOLVANEX_SAME_PLACE(F);
TOLVANEX_SAME_PLACE(G);
TOLVANEX_SAME_PLACE(I);
TOLVANEX_SAME_PLACE(J);
TOLVANEX_SAME_PLACE(K);
TOLVANEX_SAME_PLACE(L);
TOLVANEX_SAME_PLACE(M);
TOLVANEX_SAME_PLACE(N);
TOLVANEX_SAME_PLACE(O1);
TOLVANEX_SAME_PLACE(O2);
TOLVANEX_SAME_PLACE(O3);
TOLVANEX_SAME_PLACE(P);
TOLVANEX_SAME_PLACE(Q);
TOLVANEX_SAME_PLACE(S);
TOLVANEX_SAME_PLACE(PHMB);
TOLVANEX_SAME_PLACE(organic);
#undef TOLVANEX_SAME_PLACE
static_assert(offsetof(NetFluxes, flux37) == offsetof(FluxTotals, total_flux37));
static_assert(sizeof(NetFluxes) == 20 * sizeof(double) &&
              sizeof(FluxTotals) == 19 * sizeof(double));

// What the rate laws need besides the state, fixed for a run.
struct NetworkConstants {
  RateTable rates;
  double hydrogen_ion = 0;  // [H+] = 10^-pH mol/L
  double k7_H = 0;          // k7 [H+], the first factor of the forward term of step 7
  double k31_H = 0;         // k31 [H+], likewise for step 31
  SpeciationConstants speciation;
  bool monothiol_balance = false;       // type 3: steps 5, 9, 17, 25, 29, 35 move free acceptor
  bool resting_route_possible = false;  // see integrator/resting_route.h
};

NetworkConstants network_constants(const RateTable& rates, const RunParameters& parameters);

// The net fluxes of steps 1 to 19, of a state whose acceptor split has been
// worked out.
TOLVANEX_HOT void evaluate_fluxes_1_to_19(const SpeciesState& s, const NetworkConstants& c,
                                          NetFluxes& n) {
  const auto& k = c.rates.k;
  n.flux1 = k[1] * s.thiol * s.A - k[2] * s.C;
  n.flux3 = k[3] * s.C - k[4] * s.K;
  n.flux5 = k[5] * s.thiolate_factor * s.K - k[6] * s.N;
  n.flux7 = c.k7_H * s.N - k[8] * s.O2 * s.P;
  n.flux9 = k[9] * s.thiol_factor * s.K - k[10] * s.L;
  n.flux11 = k[11] * s.L - k[12] * s.M;
  n.flux13 = k[13] * s.M - k[14] * s.O1 * s.P;
  n.flux15 = k[15] * s.thiol * s.A - k[16] * s.G;
  n.flux17 = k[17] * s.thiol_factor * s.G - k[18] * s.I;
  n.flux19 = k[19] * s.I - k[20] * s.J;
}

// The net fluxes of steps 21 to 39: the organomercurial steps and the route
// through the anionic intermediates D, E, F and Q.
TOLVANEX_HOT void evaluate_fluxes_21_to_39(const SpeciesState& s, const NetworkConstants& c,
                                           NetFluxes& n) {
  const auto& k = c.rates.k;
  n.flux21 = k[21] * s.ES - k[22] * s.A * s.organic;
  n.flux23 = k[24] * s.D - k[23] * s.thiolate * s.A;
  n.flux25 = k[26] * s.F - k[25] * s.thiolate_factor * s.G;
  n.flux27 = k[27] * s.D - k[28] * s.E;
  n.flux29 = k[29] * s.thiol_factor * s.E - k[30] * s.F;
  n.flux31 = c.k31_H * s.F - k[32] * s.O3 * s.P;
  n.flux33 = k[33] * s.Q - k[34] * s.D;
  n.flux35 = k[35] * s.thiol_factor * s.Q - k[36] * s.N;
  n.flux37 = k[38] * s.O3 * s.P - k[37] * s.J;
  n.flux39 = kOrganomercurialBindingRate * s.MerB * s.PHMB - kOrganomercurialReleaseRate * s.ES;
}

// The net fluxes of a state whose acceptor split has been worked out.
TOLVANEX_HOT NetFluxes evaluate_fluxes(const SpeciesState& s, const NetworkConstants& c) {
  NetFluxes n;
  evaluate_fluxes_1_to_19(s, c, n);
  evaluate_fluxes_21_to_39(s, c, n);
  return n;
}

// Sets to 0 every net flux below 1e-12 times the largest one (signed
// comparisons; a flux equal to the bound stays). A negative net flux is
// therefore always dropped, and none is left negative.
TOLVANEX_HOT void prune_negligible_fluxes(NetFluxes& n) {
  // The fluxes as pairs of neighbours, formed in registers (they have just
  // been computed one by one).
  DoublePair f[kNetFluxPairs] = {pair_of(n.flux1, n.flux3),   pair_of(n.flux5, n.flux7),
                                 pair_of(n.flux9, n.flux11),  pair_of(n.flux13, n.flux15),
                                 pair_of(n.flux17, n.flux19), pair_of(n.flux21, n.flux23),
                                 pair_of(n.flux25, n.flux27), pair_of(n.flux29, n.flux31),
                                 pair_of(n.flux33, n.flux35), pair_of(n.flux37, n.flux39)};
  // The largest signed net flux: lane 0 walks flux1, flux5, ..., flux37,
  // lane 1 flux3, flux7, ..., flux39, both starting from flux1.
  DoublePair largest = both(n.flux1);
#pragma GCC unroll 10
  for (std::size_t pair = 0; pair < kNetFluxPairs; ++pair) largest = keep_larger(largest, f[pair]);
  const double max_net_flux = larger_lane(largest);
  const DoublePair threshold = both(max_net_flux * kPruningThreshold);
#pragma GCC unroll 10
  for (std::size_t pair = 0; pair < kNetFluxPairs; ++pair) {
    store_pair(n, pair * kPairBytes, zero_where(less(f[pair], threshold), f[pair]));
  }
}

// With skip_resting the derivatives of the resting species (MerB, ES, D, E,
// F, O3, Q, PHMB, organic; see integrator/resting_route.h) are left as they
// are: the caller knows that they already hold what net fluxes 21 to 39 at 0
// give them (+0 or -0).
template <bool skip_resting = false>
TOLVANEX_HOT void species_rates(const NetFluxes& n, bool monothiol_balance, SpeciesRates& r) {
  r.dA = n.flux21 + n.flux23 - n.flux1 - n.flux15;
  double dthiol, dthiolate;
  if (monothiol_balance) {
    // A second free acceptor molecule is taken up by steps 5, 9, 17, 29, 35
    // and given back by step 25.
    dthiol = -(n.flux1 + n.flux15 + n.flux9 + n.flux17 + n.flux29 + n.flux35);
    dthiolate = n.flux23 + n.flux25 - n.flux5;
  } else {
    dthiol = -(n.flux1 + n.flux15);
    dthiolate = n.flux23;
  }
  r.dthiol = dthiol;
  r.dthiolate = dthiolate;
  r.dS = dthiol + dthiolate;
  r.dC = n.flux1 - n.flux3;
  r.dG = n.flux15 + n.flux25 - n.flux17;
  r.dI = n.flux17 - n.flux19;
  r.dJ = n.flux19 + n.flux37;
  r.dK = n.flux3 - n.flux5 - n.flux9;
  r.dL = n.flux9 - n.flux11;
  r.dM = n.flux11 - n.flux13;
  r.dN = n.flux5 - n.flux7 + n.flux35;
  r.dO1 = n.flux13;
  r.dO2 = n.flux7;
  const double dO3 = n.flux31 - n.flux37;
  r.dP = n.flux7 + n.flux13 + dO3;
  if constexpr (!skip_resting) {
    r.dD = n.flux33 - n.flux23 - n.flux27;
    r.dE = n.flux27 - n.flux29;
    r.dF = n.flux29 - n.flux31 - n.flux25;
    r.dO3 = dO3;
    r.dQ = -(n.flux33 + n.flux35);
    r.dMerB = -n.flux39;
    r.dES = n.flux39 - n.flux21;
    r.dPHMB = -n.flux39;
    r.dorganic = n.flux21;
  }
}

TOLVANEX_HOT SpeciesRates species_rates(const NetFluxes& n, bool monothiol_balance) {
  SpeciesRates r;
  species_rates(n, monothiol_balance, r);
  return r;
}

// One explicit step of length dt with the derivatives of the state before
// the step; advances time, state and the running flux totals. In
// organomercurial mode the released enzyme (O1, O2, O3) goes back to MerB,
// so that it can bind further organomercurial and is counted once.
//
// With skip_resting, the caller knows that D, E, Q, PHMB and organic are
// exactly +0 with derivatives of 0, that flux21 to flux39 are exactly 0 and
// that dt is finite: those species and totals would not change, and are left
// as they are.
template <bool skip_resting = false>
TOLVANEX_HOT void advance_state(SpeciesState& s, const SpeciesRates& r, const NetFluxes& n,
                                FluxTotals& totals, double& time, double dt, bool organomercurial) {
  time = time + dt;
  // X := X + dt dX, two neighbouring species at a time; S moves by both
  // acceptor forms, Q has no partner.
  const DoublePair dt2 = both(dt);
  auto euler_pair = [&](std::size_t offset) {
    store_pair(s, offset, add(load_pair(s, offset), multiply(dt2, load_pair(r, offset))));
  };
  euler_pair(offsetof(SpeciesState, A));                     // A MerB
  euler_pair(offsetof(SpeciesState, C));                     // C ES
  if (!skip_resting) euler_pair(offsetof(SpeciesState, D));  // D E
  euler_pair(offsetof(SpeciesState, F));                     // F G
  euler_pair(offsetof(SpeciesState, I));                     // I J
  euler_pair(offsetof(SpeciesState, K));                     // K L
  euler_pair(offsetof(SpeciesState, M));                     // M N
  euler_pair(offsetof(SpeciesState, O1));                    // O1 O2
  euler_pair(offsetof(SpeciesState, O3));                    // O3 P
  if (!skip_resting) {
    euler_pair(offsetof(SpeciesState, PHMB));  // PHMB organic
    s.Q = s.Q + dt * r.dQ;
  }
  s.S = (s.S + dt * r.dthiol) + dt * r.dthiolate;
  s.apoMerB = s.O1 + s.O2 + s.O3;
  if (organomercurial) {
    s.MerB = s.MerB + s.apoMerB;
    s.O1 = 0;
    s.O2 = 0;
    s.O3 = 0;
    s.apoMerB = 0;
  }
  // total_fluxN := total_fluxN + dt fluxN: pairs of flux1 .. flux19, then of
  // flux21 .. flux35, then flux37.
#pragma GCC unroll 5
  for (std::size_t pair = 0; pair < 5; ++pair) {
    const std::size_t offset = pair * kPairBytes;
    store_pair(totals, offset, add(load_pair(totals, offset), multiply(dt2, load_pair(n, offset))));
  }
  if (!skip_resting) {
#pragma GCC unroll 4
    for (std::size_t pair = 5; pair < 9; ++pair) {
      const std::size_t offset = pair * kPairBytes;
      store_pair(totals, offset,
                 add(load_pair(totals, offset), multiply(dt2, load_pair(n, offset))));
    }
    totals.total_flux37 = totals.total_flux37 + dt * n.flux37;
  }
}

}  // namespace tolvanex
