// A shortcut for the usual state of a run of the full program.
//
// Outside organomercurial mode MerB, ES, PHMB and organic never leave 0. In
// the full program, which drops every net flux that runs backwards, the
// anionic intermediates D, E, F and Q and the enzyme form O3 usually stay at
// 0 as well: each is formed only by a step whose net flux would have to run
// backwards. While these nine "resting" species (marked in the species table)
// are exactly +0:
//  - the forward terms of steps 21 and 23 to 39 are a finite constant times
//    +0, that is 0 (given the few finiteness checks below);
//  - their reverse terms are 0 too, except those of steps 23, 25, 35 and 37,
//    which are not negative as long as A, the acceptor forms, G, N and J are
//    not (checked below);
//  - so every net flux of these steps is at most 0, and with a positive
//    pruning threshold the full program sets each of them to exactly 0.
// Their species' derivatives are then 0, their amounts and flux totals do not
// move (for a finite step), and the step rules find nothing in them.
//
// A resting iteration therefore evaluates steps 1 to 19 only, sets the fluxes
// of the resting route (marked in the flux table) to the 0 they would be
// pruned to, and leaves the resting species out of the walk of the step
// rules, the Euler step, the flux totals and the guard. Every value it does
// compute comes from the same expression as in the full iteration, so the
// results are the same bits. The conditions are checked in every iteration,
// before anything is written; when one fails, the full iteration runs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "integrator/model_evaluation.h"
#include "model/reaction_network.h"
#include "simd/compiler_hints.h"
#include "simd/double_pair.h"
#include "simd/unrolled.h"

namespace tolvanex {

// True when the resting species all hold exactly +0 (all bits zero).
TOLVANEX_HOT bool resting_species_at_zero(const SpeciesState& s) {
  std::uint64_t bits = 0;
  for_each_index<kSpeciesCount>([&](auto i) __attribute__((always_inline)) {
    if constexpr (kSpeciesTable[i].resting) {
      std::uint64_t b;
      std::memcpy(&b, &s.amount[i], sizeof b);
      bits |= b;
    }
  });
  return bits == 0;
}

// Speciates the state and evaluates it as a resting one. Returns false,
// having written nothing but the speciation, when a condition does not hold;
// the full evaluation then follows.
TOLVANEX_HOT bool evaluate_resting(SpeciesState& s, const NetworkConstants& c, ModelEvaluation& e) {
  using enum Species;
  speciate(s, c.speciation);
  const auto& k = c.rates.k;
  const double largest_finite = std::numeric_limits<double>::max();
  const DoublePair reverse_terms_a = pair_of(k[23] * s[thiolate] * s[A], k[25] * s.thiolate_factor * s[G]);
  const DoublePair reverse_terms_b = pair_of(k[36] * s[N], k[37] * s[J]);
  // Factors of the terms that multiply a resting species: finite, so that
  // the terms are 0 (k22 A of step 21, P of steps 31 and 37, k29 and k35
  // times the thiol factor of steps 29 and 35).
  const DoublePair factors_a = pair_of(k[22] * s[A], s[P]);
  const DoublePair factors_b = pair_of(k[29] * s.thiol_factor, k[35] * s.thiol_factor);
  const DoublePair zero = both(0);
  const DoublePair limit = both(largest_finite);
  const PairMask holds = both_hold(
      both_hold(at_least(reverse_terms_a, zero), at_least(reverse_terms_b, zero)),
      both_hold(at_least(limit, absolute(factors_a)), at_least(limit, absolute(factors_b))));
  if (!all_lanes(holds)) return false;

  // The busy fluxes as pairs of neighbours, formed in registers.
  constexpr std::size_t kBusyPairs = kFirstRestingFlux / 2;
  NetFluxes n;  // the resting route's fluxes stay 0
  evaluate_busy_fluxes(s, c, n);
  DoublePair f[kBusyPairs];
#pragma GCC unroll 5
  for (std::size_t pair = 0; pair < kBusyPairs; ++pair) {
    f[pair] = pair_of(n.value[2 * pair], n.value[2 * pair + 1]);
  }
  // The pruning of the full program, over the busy fluxes: the others are at
  // most 0 and cannot hold the largest net flux once it is positive.
  DoublePair largest = both(n[Flux::flux1]);
#pragma GCC unroll 5
  for (std::size_t pair = 0; pair < kBusyPairs; ++pair) largest = keep_larger(largest, f[pair]);
  const double threshold = larger_lane(largest) * kPruningThreshold;
  if (!(threshold > 0)) return false;

  // Every condition holds. The busy fluxes as they stand, and the
  // derivatives from them: usually no flux is pruned, and then they are the
  // final ones. The resting route's fluxes keep the 0 they would be pruned
  // to, and the resting species' derivatives what those zeros give (some
  // are -0); both are written on the first resting evaluation after a full one.
#pragma GCC unroll 5
  for (std::size_t pair = 0; pair < kBusyPairs; ++pair) store_pair(&e.fluxes.value[2 * pair], f[pair]);
  if (e.resting_parts_zero) {
    species_rates<true>(n, c.monothiol_balance, e.rates);
  } else {
    std::fill(e.fluxes.value.begin() + kFirstRestingFlux, e.fluxes.value.end(), 0.0);
    species_rates(n, c.monothiol_balance, e.rates);
    e.resting_parts_zero = true;
  }
  const DoublePair threshold2 = both(threshold);
  PairMask pruned = less(f[0], threshold2);
#pragma GCC unroll 4
  for (std::size_t pair = 1; pair < kBusyPairs; ++pair)
    pruned = either_holds(pruned, less(f[pair], threshold2));
  if (!any_lane(pruned)) return true;
#pragma GCC unroll 5
  for (std::size_t pair = 0; pair < kBusyPairs; ++pair) {
    store_pair(&e.fluxes.value[2 * pair], zero_where(less(f[pair], threshold2), f[pair]));
  }
  species_rates<true>(e.fluxes, c.monothiol_balance, e.rates);
  return true;
}

}  // namespace tolvanex
