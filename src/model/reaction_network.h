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

#include "model/fluxes.h"
#include "model/speciation.h"
#include "model/species_state.h"
#include "setup/rate_table.h"
#include "simd/compiler_hints.h"
#include "simd/double_pair.h"
#include "simd/unrolled.h"

namespace tolvanex {

inline constexpr double kOrganomercurialBindingRate = 7.2339e9;  // L/(mol s)
inline constexpr double kOrganomercurialReleaseRate = 9.8e3;     // 1/s
inline constexpr double kPruningThreshold = 1e-12;               // relative to the largest net flux

// The 20 net fluxes of one evaluation (mol/L/s), in the order of the flux table.
struct NetFluxes {
  std::array<double, kFluxCount> value{};

  double& operator[](Flux f) { return value[index_of(f)]; }
  double operator[](Flux f) const { return value[index_of(f)]; }
};

// Time integrals of the fluxes that have one (flux1 .. flux37) since time 0
// (mol/L), at the index of their flux.
struct FluxTotals {
  std::array<double, kFluxTotalCount> total{};

  double& operator[](Flux f) { return total[index_of(f)]; }
  double operator[](Flux f) const { return total[index_of(f)]; }
};

// What the rate laws need besides the state, fixed for a run.
struct NetworkConstants {
  RateTable rates;
  double k7_H = 0;   // k7 [H+], [H+] = 10^-pH mol/L: the first factor of the forward term of step 7
  double k31_H = 0;  // k31 [H+], likewise for step 31
  SpeciationConstants speciation;
  bool monothiol_balance = false;       // type 3: steps 5, 9, 17, 25, 29, 35 move free acceptor
  bool resting_route_possible = false;  // see integrator/resting_route.h
};

NetworkConstants network_constants(const RateTable& rates, const RunParameters& parameters);

// The net fluxes of the steps outside the resting route (1 to 19), of a
// state whose acceptor split has been worked out.
TOLVANEX_HOT void evaluate_busy_fluxes(const SpeciesState& s, const NetworkConstants& c,
                                       NetFluxes& n) {
  using enum Species;
  using enum Flux;
  const auto& k = c.rates.k;
  n[flux1] = k[1] * s[thiol] * s[A] - k[2] * s[C];
  n[flux3] = k[3] * s[C] - k[4] * s[K];
  n[flux5] = k[5] * s.thiolate_factor * s[K] - k[6] * s[N];
  n[flux7] = c.k7_H * s[N] - k[8] * s[O2] * s[P];
  n[flux9] = k[9] * s.thiol_factor * s[K] - k[10] * s[L];
  n[flux11] = k[11] * s[L] - k[12] * s[M];
  n[flux13] = k[13] * s[M] - k[14] * s[O1] * s[P];
  n[flux15] = k[15] * s[thiol] * s[A] - k[16] * s[G];
  n[flux17] = k[17] * s.thiol_factor * s[G] - k[18] * s[I];
  n[flux19] = k[19] * s[I] - k[20] * s[J];
}

// The net fluxes of the resting route (steps 21 to 39): the organomercurial
// steps and the route through the anionic intermediates D, E, F and Q.
TOLVANEX_HOT void evaluate_resting_route_fluxes(const SpeciesState& s, const NetworkConstants& c,
                                                NetFluxes& n) {
  using enum Species;
  using enum Flux;
  const auto& k = c.rates.k;
  n[flux21] = k[21] * s[ES] - k[22] * s[A] * s[organic];
  n[flux23] = k[24] * s[D] - k[23] * s[thiolate] * s[A];
  n[flux25] = k[26] * s[F] - k[25] * s.thiolate_factor * s[G];
  n[flux27] = k[27] * s[D] - k[28] * s[E];
  n[flux29] = k[29] * s.thiol_factor * s[E] - k[30] * s[F];
  n[flux31] = c.k31_H * s[F] - k[32] * s[O3] * s[P];
  n[flux33] = k[33] * s[Q] - k[34] * s[D];
  n[flux35] = k[35] * s.thiol_factor * s[Q] - k[36] * s[N];
  n[flux37] = k[38] * s[O3] * s[P] - k[37] * s[J];
  n[flux39] = kOrganomercurialBindingRate * s[MerB] * s[PHMB] - kOrganomercurialReleaseRate * s[ES];
}

// The net fluxes of a state whose acceptor split has been worked out.
TOLVANEX_HOT NetFluxes evaluate_fluxes(const SpeciesState& s, const NetworkConstants& c) {
  NetFluxes n;
  evaluate_busy_fluxes(s, c, n);
  evaluate_resting_route_fluxes(s, c, n);
  return n;
}

// Sets to 0 every net flux below 1e-12 times the largest one (signed
// comparisons; a flux equal to the bound stays). A negative net flux is
// therefore always dropped, and none is left negative.
TOLVANEX_HOT void prune_negligible_fluxes(NetFluxes& n) {
  constexpr std::size_t kPairs = kFluxCount / 2;
  // The fluxes as pairs of neighbours, formed in registers (they have just
  // been computed one by one).
  DoublePair f[kPairs];
#pragma GCC unroll 10
  for (std::size_t pair = 0; pair < kPairs; ++pair) {
    f[pair] = pair_of(n.value[2 * pair], n.value[2 * pair + 1]);
  }
  // The largest signed net flux: lane 0 walks flux1, flux5, ..., flux37,
  // lane 1 flux3, flux7, ..., flux39, both starting from flux1.
  DoublePair largest = both(n[Flux::flux1]);
#pragma GCC unroll 10
  for (std::size_t pair = 0; pair < kPairs; ++pair) largest = keep_larger(largest, f[pair]);
  const double max_net_flux = larger_lane(largest);
  const DoublePair threshold = both(max_net_flux * kPruningThreshold);
#pragma GCC unroll 10
  for (std::size_t pair = 0; pair < kPairs; ++pair) {
    store_pair(&n.value[2 * pair], zero_where(less(f[pair], threshold), f[pair]));
  }
}

// Writes one derivative; with skip_resting the derivatives of the resting
// species are left as they are.
template <bool skip_resting, Species x>
TOLVANEX_HOT void put_rate(SpeciesRates& r, double value) {
  if constexpr (!(skip_resting && info(x).resting)) r[x] = value;
}

// The species balances. With skip_resting the caller knows that the
// derivatives of the resting species already hold what net fluxes 21 to 39
// at 0 give them (+0 or -0).
template <bool skip_resting = false>
TOLVANEX_HOT void species_rates(const NetFluxes& n, bool monothiol_balance, SpeciesRates& r) {
  using enum Species;
  using enum Flux;
  put_rate<skip_resting, A>(r, n[flux21] + n[flux23] - n[flux1] - n[flux15]);
  double dthiol, dthiolate;
  if (monothiol_balance) {
    // A second free acceptor molecule is taken up by steps 5, 9, 17, 29, 35
    // and given back by step 25.
    dthiol = -(n[flux1] + n[flux15] + n[flux9] + n[flux17] + n[flux29] + n[flux35]);
    dthiolate = n[flux23] + n[flux25] - n[flux5];
  } else {
    dthiol = -(n[flux1] + n[flux15]);
    dthiolate = n[flux23];
  }
  put_rate<skip_resting, thiol>(r, dthiol);
  put_rate<skip_resting, thiolate>(r, dthiolate);
  put_rate<skip_resting, S>(r, dthiol + dthiolate);
  put_rate<skip_resting, C>(r, n[flux1] - n[flux3]);
  put_rate<skip_resting, G>(r, n[flux15] + n[flux25] - n[flux17]);
  put_rate<skip_resting, I>(r, n[flux17] - n[flux19]);
  put_rate<skip_resting, J>(r, n[flux19] + n[flux37]);
  put_rate<skip_resting, K>(r, n[flux3] - n[flux5] - n[flux9]);
  put_rate<skip_resting, L>(r, n[flux9] - n[flux11]);
  put_rate<skip_resting, M>(r, n[flux11] - n[flux13]);
  put_rate<skip_resting, N>(r, n[flux5] - n[flux7] + n[flux35]);
  put_rate<skip_resting, O1>(r, n[flux13]);
  put_rate<skip_resting, O2>(r, n[flux7]);
  const double dO3 = n[flux31] - n[flux37];
  put_rate<skip_resting, P>(r, n[flux7] + n[flux13] + dO3);
  put_rate<skip_resting, D>(r, n[flux33] - n[flux23] - n[flux27]);
  put_rate<skip_resting, E>(r, n[flux27] - n[flux29]);
  put_rate<skip_resting, F>(r, n[flux29] - n[flux31] - n[flux25]);
  put_rate<skip_resting, O3>(r, dO3);
  put_rate<skip_resting, Q>(r, -(n[flux33] + n[flux35]));
  put_rate<skip_resting, MerB>(r, -n[flux39]);
  put_rate<skip_resting, ES>(r, n[flux39] - n[flux21]);
  put_rate<skip_resting, PHMB>(r, -n[flux39]);
  put_rate<skip_resting, organic>(r, n[flux21]);
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
// With skip_resting, the caller knows that the resting species are exactly +0
// with derivatives of 0, that the fluxes of the resting route are exactly 0
// and that dt is finite: those species and totals would not change, and are
// left as they are (a pair with one busy lane moves both: +0 plus dt times 0
// stays +0).
template <bool skip_resting = false>
TOLVANEX_HOT void advance_state(SpeciesState& s, const SpeciesRates& r, const NetFluxes& n,
                                FluxTotals& totals, double& time, double dt, bool organomercurial) {
  using enum Species;
  time = time + dt;
  // X := X + dt dX for the integrated species, two neighbours at a time.
  const DoublePair dt2 = both(dt);
  for_each_index<(kSpeciesCount + 1) / 2>([&](auto pair) __attribute__((always_inline)) {
    constexpr std::size_t a = 2 * pair, b = 2 * pair + 1;
    constexpr auto moves = [](std::size_t i) {
      return i < kSpeciesCount && kSpeciesTable[i].integrated &&
             !(skip_resting && kSpeciesTable[i].resting);
    };
    constexpr bool b_integrated = b < kSpeciesCount && kSpeciesTable[b].integrated;
    if constexpr (kSpeciesTable[a].integrated && b_integrated && (moves(a) || moves(b))) {
      store_pair(&s.amount[a], add(load_pair(&s.amount[a]), multiply(dt2, load_pair(&r.rate[a]))));
    } else if constexpr (moves(a) && !b_integrated) {
      s.amount[a] = s.amount[a] + dt * r.rate[a];
    } else if constexpr (moves(b) && !kSpeciesTable[a].integrated) {
      s.amount[b] = s.amount[b] + dt * r.rate[b];
    }
  });
  // S moves by both acceptor forms.
  s[S] = (s[S] + dt * r[thiol]) + dt * r[thiolate];
  s[apoMerB] = s[O1] + s[O2] + s[O3];
  if (organomercurial) {
    s[MerB] = s[MerB] + s[apoMerB];
    s[O1] = 0;
    s[O2] = 0;
    s[O3] = 0;
    s[apoMerB] = 0;
  }
  // total_fluxN := total_fluxN + dt fluxN, two neighbours at a time.
  for_each_index<(kFluxTotalCount + 1) / 2>([&](auto pair) __attribute__((always_inline)) {
    constexpr std::size_t a = 2 * pair, b = 2 * pair + 1;
    constexpr bool a_moves = !(skip_resting && kFluxTable[a].resting_route);
    constexpr bool b_moves = b < kFluxTotalCount && !(skip_resting && kFluxTable[b].resting_route);
    if constexpr (b < kFluxTotalCount && (a_moves || b_moves)) {
      store_pair(&totals.total[a],
                 add(load_pair(&totals.total[a]), multiply(dt2, load_pair(&n.value[a]))));
    } else if constexpr (b >= kFluxTotalCount && a_moves) {
      totals.total[a] = totals.total[a] + dt * n.value[a];
    }
  });
}

}  // namespace tolvanex
