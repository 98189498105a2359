// Choice of the step length of one iteration.
//
// No error estimate is used: the step follows from relative changes
// r = timestep |dX| / X of the species, starting from the Basic Timestep.
//  - first amount: a species at exactly 0 that starts to form gets the step
//    that forms 1e-39 mol/L of it;
//  - increase: early in the run the fastest-rising species rises by 10 %;
//  - decrease and target: the fastest-falling (limiting) species loses 1/target
//    of its amount, target depending on how much of it is left against A0;
//  - overshoot: S may rise by at most a tenth of the room left below S0;
//  - tightening (first target2 iterations of each block): the step is divided
//    by 3, up to 30 times, while a trial step turns a growing intermediate
//    into a falling one (timestep_tightening.h);
//  - cap: at most 10 x the Basic Timestep.
// Ties between equal ratios go to the species earlier in each fixed list.
#pragma once

#include <cmath>
#include <cstddef>

#include "integrator/iteration_events.h"
#include "integrator/model_evaluation.h"
#include "integrator/progress.h"
#include "integrator/timestep_tightening.h"
#include "model/reaction_network.h"
#include "setup/run_parameters.h"
#include "simd/compiler_hints.h"
#include "simd/double_pair.h"

namespace tolvanex {

struct StepControl {
  double timestep = 0;            // s
  int first_amount_flag = 0;      // 1 when the first-amount rule shortened the step
  double max_increase_ratio = 0;  // largest ratio among rising species
  double ratio_A = 0;             // ratio of A in this iteration, 0 if A did not change
  double ratio_MerB = -1;         // ratio of MerB; kept across iterations. Starts at a
                                  // value no maxratio (>= 0) can equal, so that the
                                  // target rule tests for A alone until MerB changes.
  double maxratio = 0;            // largest ratio among falling species
  double limiting_amount = 0;     // amount of the species holding maxratio
  double target = 0;              // the limiting species loses 1/target of its amount
};

inline constexpr double kFirstAmount = 1e-39;  // mol/L formed by a species' first step
inline constexpr double kTimestepCapFactor = 10;

// Rarely taken parts, kept out of the iteration's straight path. (They take
// and return values rather than the step record, so that the iteration can
// keep that record in registers.)

// The first-amount rule proper: walks the first-amount list in order with
// the step as it stands, records every species that forms its first amount,
// and gives the step and first_amount_flag that result.
struct FirstAmountOutcome {
  double timestep;
  int first_amount_flag;
};
FirstAmountOutcome apply_first_amounts(const SpeciesState& s, const SpeciesRates& d,
                                       double timestep, IterationEvents& events);

// S would pass S0 within the step: records the correction and gives the step
// that lets S rise by a tenth of the room left.
double correct_overshoot(const SpeciesState& s, double dS, const RunParameters& p, double timestep,
                         double maxratio, double target, IterationEvents& events);

// The rules of every iteration.

// The increase and decrease lists hold the same species, the walked ones of
// the species table, which lead the state's array in the order of the
// decrease list. (The increase list's other order only matters for ties, and
// a tie between rising species changes nothing.)
inline constexpr int kListedSpecies = static_cast<int>(kWalkedCount);
// A and MerB lead the walk, so that when they fall they are the first
// entries of the falling list.
static_assert(index_of(Species::A) == 0 && index_of(Species::MerB) == 1);

// The falling species of an iteration, in list order, waiting for the step
// that the increase rule leaves. Their ratios are worked out two at a time,
// so the lists have room for a copy of the last entry after an odd count.
struct FallingSpecies {
  int count = 0;
  double amount[kListedSpecies + 1];     // X
  double loss_rate[kListedSpecies + 1];  // |dX|
};

// One walk over the listed species: every present species is rising (its
// ratio counts for the increase rule, when that rule runs) or falling (it is
// kept for the decrease scan) or neither. An absent species of the
// first-amount list that would form more than its first amount with this
// step is noted: the first-amount rule then has work to do. (A species that
// would not cannot do so with the shorter step another one's first amount
// leaves, so one test with the step as it stands finds them all.)
struct WalkResult {
  double max_increase_ratio = 0;
  bool first_amount_due = false;
  bool A_rises = false, MerB_rises = false;
  double ratio_A = 0, ratio_MerB = 0;  // their ratios when they rise
};

template <bool increase_rule_runs, bool resting>
TOLVANEX_HOT WalkResult walk_listed_species(const SpeciesState& s, const SpeciesRates& d,
                                            double timestep, FallingSpecies& falling) {
  WalkResult result;
  long count = 0;  // in a register; stored at the end
  // With a positive step, dX * timestep > 1e-39 needs dX > 0: testing that
  // first keeps the usual absent species (dX = 0) to one comparison.
  const bool positive_step = timestep > 0;
  const double zero = register_held(0.0);
#pragma GCC unroll 21
  for (int i = 0; i < kListedSpecies; ++i) {
    if (resting && kSpeciesMask<&SpeciesInfo::resting>[i]) continue;  // +0, with a derivative of 0
    const double X = s.amount[i];
    const double dX = d.rate[i];
    if (X > zero) {
      if (dX > zero) [[likely]] {
        if (increase_rule_runs) {
          const double r = timestep * dX / X;  // |dX| is dX itself
          if (r > result.max_increase_ratio) {
            keep_as_branch();
            result.max_increase_ratio = r;
          }
          if (i == index_of(Species::A)) result.A_rises = true, result.ratio_A = r;
          if (i == index_of(Species::MerB)) result.MerB_rises = true, result.ratio_MerB = r;
        }
      } else if (dX < zero) {
        falling.amount[count] = X;
        falling.loss_rate[count] = -dX;  // |dX|, exactly
        count += 1;
      }
    } else if (kFirstAmountMask[i] && (dX > 0 || !positive_step) && X == 0 &&
               dX * timestep > kFirstAmount) {
      result.first_amount_due = true;
    }
  }
  falling.count = static_cast<int>(count);
  return result;
}

inline void apply_first_amount_rule(const SpeciesState& s, const SpeciesRates& d, StepControl& step,
                                    IterationEvents& events) {
  const FirstAmountOutcome first = apply_first_amounts(s, d, step.timestep, events);
  step.timestep = first.timestep;
  step.first_amount_flag = first.first_amount_flag;
}

// First-amount, increase and decrease rules. A species that starts to form
// gets the step that forms 1e-39 mol/L of it. While the product is scarce or
// the run is young, the fastest-rising species then rises by exactly 10 %
// (the step may grow or shrink). Then the limiting species is the falling
// one with the largest ratio, the earliest in the list on a tie. A's and
// MerB's ratios are kept for the target rule.
template <bool resting>
TOLVANEX_HOT void first_amount_increase_and_decrease_rules(const SpeciesState& s,
                                                           const SpeciesRates& d,
                                                           const RunParameters& p,
                                                           const RunProgress& progress,
                                                           StepControl& step,
                                                           IterationEvents& events) {
  step.first_amount_flag = 0;
  step.ratio_A = 0;
  FallingSpecies falling;
  // The walk differs by whether the increase rule runs; the first-amount
  // rule, when due, shortens the step before the rising ratios count.
  if (s[Species::P] < 0.001 * p.A0 || progress.total_iterations < 2e7) {
    WalkResult walk = walk_listed_species<true, resting>(s, d, step.timestep, falling);
    if (walk.first_amount_due) {
      apply_first_amount_rule(s, d, step, events);
      walk = walk_listed_species<true, resting>(s, d, step.timestep, falling);
    }
    if (walk.A_rises) step.ratio_A = walk.ratio_A;
    if (walk.MerB_rises) step.ratio_MerB = walk.ratio_MerB;
    step.max_increase_ratio = walk.max_increase_ratio;
    if (step.max_increase_ratio > 0 && step.first_amount_flag == 0) {
      step.timestep = step.timestep * 0.1 / step.max_increase_ratio;
    }
  } else if (walk_listed_species<false, resting>(s, d, step.timestep, falling).first_amount_due) {
    apply_first_amount_rule(s, d, step, events);
  }

  double maxratio = 0;
  double limiting_amount = step.limiting_amount;
  const double t = step.timestep;
  auto consider = [&](double r, double X) {
    if (r > maxratio) {
      keep_as_branch();
      limiting_amount = X;
      maxratio = r;
    }
  };
  // The ratios two at a time, each lane with the operations of the rule,
  // considered in list order. After an odd count the last pair's second
  // entry repeats the last species: considered again, it cannot be larger
  // than the maximum that already includes it. (No branch on the count's
  // parity: it changes from iteration to iteration.)
  const int n = falling.count;
  if (n > 0) {
    falling.amount[n] = falling.amount[n - 1];
    falling.loss_rate[n] = falling.loss_rate[n - 1];
    const DoublePair step_pair = both(t);
    auto consider_pair = [&](int i) {
      const DoublePair X = load_pair(falling.amount + i);
      const DoublePair r = divide(multiply(step_pair, load_pair(falling.loss_rate + i)), X);
      consider(first_lane(r), first_lane(X));
      consider(second_lane(r), second_lane(X));
      return r;
    };
    const DoublePair first_ratios = consider_pair(0);
    for (int i = 2; i < n; i += 2) consider_pair(i);
    // A and MerB lead the list, so when they fall they are its first entries.
    const bool A_falls = s[Species::A] > 0 && d[Species::A] < 0;
    if (A_falls) step.ratio_A = first_lane(first_ratios);
    if (s[Species::MerB] > 0 && d[Species::MerB] < 0) {
      step.ratio_MerB = A_falls ? second_lane(first_ratios) : first_lane(first_ratios);
    }
  }
  step.maxratio = maxratio;
  step.limiting_amount = limiting_amount;
}

// The fraction 1/target of the limiting species that one step may remove.
TOLVANEX_HOT double choose_target(const SpeciesState& s, const RunParameters& p,
                                  const RunProgress& progress, const BlockCounters& counters,
                                  const StepControl& step) {
  const double maxratio = step.maxratio;
  const double limiting = step.limiting_amount;
  if (step.first_amount_flag == 1 && (maxratio == step.ratio_A || maxratio == step.ratio_MerB)) {
    // A or MerB limits in an iteration that created a first amount.
    return counters.iterations < 300000 && progress.total_iterations < 300000 ? 2000 : 100;
  }
  if (!(maxratio >= 1)) return 30;
  // The step would remove at least the whole limiting species.
  if (limiting > 0.1 * p.A0) return 20;
  if (limiting > 0.03 * p.A0) return 10;
  if (limiting > 0.01 * p.A0) return 5;
  const bool not_A = limiting != s[Species::A];
  if (not_A && limiting < 1e-9 * p.A0) return 1.001;
  if (not_A && limiting < 0.01 * p.A0) return 2;
  return 30;
}

// x / target. The target of 2, the usual one while a nearly spent species
// limits, is a power of two: x * 0.5 is then the same correctly rounded
// value of the same real number x / 2, for every x (infinities, zeros of
// either sign and NaN included), and a multiplication takes a few cycles
// where a division takes over a dozen, on the path from one step to the next.
TOLVANEX_HOT double divide_by_target(double x, double target) {
  if (target == 2) {
    keep_as_branch();
    return x * 0.5;
  }
  return x / target;
}

TOLVANEX_HOT void target_rule(const SpeciesState& s, const RunParameters& p,
                              const RunProgress& progress, const BlockCounters& counters,
                              StepControl& step) {
  step.target = choose_target(s, p, progress, counters, step);
  const double maxratio = step.maxratio;
  // With nothing falling (maxratio 0) there is no limiting species to scale by.
  if (!(step.target == 30 && maxratio <= 1) && maxratio != 0) {
    step.timestep = divide_by_target(step.timestep / maxratio, step.target);
  }
  const bool limiting_is_not_A = step.first_amount_flag != 1 && maxratio != step.ratio_A;
  if (maxratio > 0 && maxratio < 1 && limiting_is_not_A) step.target = 1 / maxratio;
  if (maxratio > 0 && maxratio < 0.01 && limiting_is_not_A) {
    step.timestep = step.timestep * 0.05 / maxratio;
    step.target = 20;
  }
}

// S must not pass S0 within one step.
TOLVANEX_HOT void overshoot_rule(const SpeciesState& s, const SpeciesRates& d,
                                 const RunParameters& p, StepControl& step,
                                 IterationEvents& events) {
  if (s[Species::S] + step.timestep * d[Species::S] > p.S0) {
    step.timestep =
        correct_overshoot(s, d[Species::S], p, step.timestep, step.maxratio, step.target, events);
  }
}

// First-amount, increase, decrease, target and overshoot rules, starting
// from step.timestep. Records the first amounts formed and the overshoot
// corrected.
template <bool resting = false>
TOLVANEX_HOT void choose_timestep(const SpeciesState& s, const ModelEvaluation& e,
                                  const RunParameters& p, const RunProgress& progress,
                                  const BlockCounters& counters, StepControl& step,
                                  IterationEvents& events) {
  first_amount_increase_and_decrease_rules<resting>(s, e.rates, p, progress, step, events);
  target_rule(s, p, progress, counters, step);
  overshoot_rule(s, e.rates, p, step, events);
}

}  // namespace tolvanex
