// A shortcut for the usual state of a run of the full program.
//
// Outside organomercurial mode MerB, ES, PHMB and organic never leave 0. In
// the full program, which drops every net flux that runs backwards, the
// anionic intermediates D, E, F and Q and the enzyme form O3 usually stay at
// 0 as well: each is formed only by a step whose net flux would have to run
// backwards. While these nine "resting" species are exactly +0:
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
// A resting iteration therefore evaluates steps 1 to 19 only, sets the other
// net fluxes to the 0 they would be pruned to, and leaves the resting species
// out of the walk of the step rules, the Euler step, the flux totals and the
// guard. Every value it does compute comes from the same expression as in the
// full iteration, so the results are the same bits. The conditions are
// checked in every iteration; when one fails, the full iteration runs.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

#include "integrator/step_control.h"
#include "model/reaction_network.h"

namespace tolvanex {

// True when the nine resting species all hold exactly +0 (all bits zero).
TOLVANEX_HOT bool resting_species_at_zero(const SpeciesState& s) {
  auto bits = [](double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
  };
  return (bits(s.MerB) | bits(s.ES) | bits(s.D) | bits(s.E) | bits(s.F) | bits(s.O3) | bits(s.Q) |
          bits(s.PHMB) | bits(s.organic)) == 0;
}

// Speciates the state and evaluates it as a resting one. Returns false,
// leaving the evaluation to the full one, when a condition does not hold.
TOLVANEX_HOT bool evaluate_resting(SpeciesState& s, const NetworkConstants& c, ModelEvaluation& e) {
  speciate(s, c.speciation);
  const auto& k = c.rates.k;
  const double largest_finite = std::numeric_limits<double>::max();
  const DoublePair reverse_terms_a = {k[23] * s.thiolate * s.A, k[25] * s.thiolate_factor * s.G};
  const DoublePair reverse_terms_b = {k[36] * s.N, k[37] * s.J};
  // Factors of the terms that multiply a resting species: finite, so that
  // the terms are 0 (k22 A of step 21, P of steps 31 and 37, k29 and k35
  // times the thiol factor of steps 29 and 35).
  const DoublePair factors_a = {k[22] * s.A, s.P};
  const DoublePair factors_b = {k[29] * s.thiol_factor, k[35] * s.thiol_factor};
  const DoublePair zero = both(0);
  const DoublePair limit = both(largest_finite);
  const PairMask holds = both_hold(
      both_hold(at_least(reverse_terms_a, zero), at_least(reverse_terms_b, zero)),
      both_hold(at_least(limit, absolute(factors_a)), at_least(limit, absolute(factors_b))));
  if (!all_lanes(holds)) return false;

  // Steps 21 to 39 keep the 0 they would be pruned to; the record holds them
  // already when the previous evaluation was a resting one.
  NetFluxes n;
  evaluate_fluxes_1_to_19(s, c, n);
  // flux1 .. flux19 as pairs of neighbours, formed in registers.
  const DoublePair f[5] = {pair_of(n.flux1, n.flux3), pair_of(n.flux5, n.flux7),
                           pair_of(n.flux9, n.flux11), pair_of(n.flux13, n.flux15),
                           pair_of(n.flux17, n.flux19)};
#pragma GCC unroll 5
  for (std::size_t pair = 0; pair < 5; ++pair) store_pair(e.fluxes, pair * kPairBytes, f[pair]);
  // The derivatives from the fluxes as they stand, worked out while the
  // pruning is decided: usually no flux of steps 1 to 19 is pruned, and then
  // they are the final ones. The resting species' derivatives follow from
  // the zero fluxes alone (some are -0); they are written on the first
  // resting evaluation after a full one.
  if (e.resting_parts_zero) {
    species_rates<true>(n, c.monothiol_balance, e.rates);
  } else {
    const NetFluxes zero_fluxes;  // flux21 .. flux39 stand together
    static_assert(offsetof(NetFluxes, flux39) - offsetof(NetFluxes, flux21) == 9 * sizeof(double));
    std::memcpy(&e.fluxes.flux21, &zero_fluxes.flux21, 10 * sizeof(double));
    species_rates(n, c.monothiol_balance, e.rates);
    e.resting_parts_zero = true;
  }

  // The pruning of the full program, over flux1 .. flux19: the others are at
  // most 0 and cannot hold the largest net flux once it is positive.
  DoublePair largest = both(n.flux1);
#pragma GCC unroll 5
  for (std::size_t pair = 0; pair < 5; ++pair) largest = keep_larger(largest, f[pair]);
  const double threshold = larger_lane(largest) * kPruningThreshold;
  if (!(threshold > 0)) return false;
  const DoublePair threshold2 = both(threshold);
  PairMask pruned = less(f[0], threshold2);
#pragma GCC unroll 4
  for (std::size_t pair = 1; pair < 5; ++pair)
    pruned = either_holds(pruned, less(f[pair], threshold2));
  if (!any_lane(pruned)) return true;
#pragma GCC unroll 5
  for (std::size_t pair = 0; pair < 5; ++pair) {
    store_pair(e.fluxes, pair * kPairBytes, zero_where(less(f[pair], threshold2), f[pair]));
  }
  species_rates<true>(e.fluxes, c.monothiol_balance, e.rates);
  return true;
}

}  // namespace tolvanex
