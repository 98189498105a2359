// Judges the state after every advance.
//
// A negative (or NaN) amount of a guarded species (the intermediates, the
// free-enzyme forms and the product) ends the run: the verdict is Error, and
// the negative amount is recorded for the trace file. Otherwise a report is
// due, ending the block at once, when
//   - the product P rises above 1.01 x its report level,
//   - A falls below 0.99 x its report level, or
//   - more than 2 s have passed and the time is 5 % beyond the last forced report.
#pragma once

#include <cstddef>

#include "integrator/iteration_events.h"
#include "model/species_state.h"
#include "setup/run_parameters.h"
#include "simd/compiler_hints.h"
#include "simd/double_pair.h"
#include "simd/unrolled.h"

namespace tolvanex {

enum class IterationVerdict { Continue, Report, Error };

struct ReportLevels {
  double P_report_level = 0;    // report when P > 1.01 x this
  double A_report_level = 0;    // report when A < 0.99 x this; A's starting amount
  double last_report_time = 0;  // s, last report forced by a trigger
};

// True when every guarded amount is >= 0 (written as x >= 0, so that NaN
// fails as well). Neighbours that are both guarded are tested as a pair.
// With skip_resting the caller knows that the resting species are still
// exactly +0; a pair with one lane to test tests both.
template <bool skip_resting = false>
TOLVANEX_HOT bool guarded_amounts_valid(const SpeciesState& s) {
  const DoublePair zero = both(0);
  PairMask valid = at_least(zero, zero);  // all lanes true
  bool singles_valid = true;
  for_each_index<(kSpeciesCount + 1) / 2>([&](auto pair) __attribute__((always_inline)) {
    constexpr std::size_t a = 2 * pair, b = 2 * pair + 1;
    constexpr auto tested = [](std::size_t i) {
      return i < kSpeciesCount && kSpeciesTable[i].guarded &&
             !(skip_resting && kSpeciesTable[i].resting);
    };
    constexpr bool b_guarded = b < kSpeciesCount && kSpeciesTable[b].guarded;
    if constexpr (kSpeciesTable[a].guarded && b_guarded && (tested(a) || tested(b))) {
      valid = both_hold(valid, at_least(load_pair(&s.amount[a]), zero));
    } else if constexpr (tested(a) && !b_guarded) {
      singles_valid = singles_valid && s.amount[a] >= 0;
    } else if constexpr (tested(b) && !kSpeciesTable[a].guarded) {
      singles_valid = singles_valid && s.amount[b] >= 0;
    }
  });
  return singles_valid && all_lanes(valid);
}

// The rare outcomes, out of the iteration's straight path: a negative amount,
// and the triggers, tested in order, with their new levels.
IterationVerdict negative_amount_found(double time, IterationEvents& events);
IterationVerdict apply_report_trigger(const SpeciesState& s, double time, const RunParameters& p,
                                      ReportLevels& levels, IterationEvents& events);

TOLVANEX_HOT bool report_trigger_holds(const SpeciesState& s, double time,
                                       const ReportLevels& levels) {
  return s[Species::P] > 1.01 * levels.P_report_level ||
         s[Species::A] < 0.99 * levels.A_report_level ||
         (time > 2 && time > 1.05 * levels.last_report_time);
}

template <bool skip_resting = false>
TOLVANEX_HOT IterationVerdict check_consistency(const SpeciesState& s, double time,
                                                const RunParameters& p, ReportLevels& levels,
                                                IterationEvents& events) {
  if (!guarded_amounts_valid<skip_resting>(s)) return negative_amount_found(time, events);
  if (report_trigger_holds(s, time, levels)) {
    return apply_report_trigger(s, time, p, levels, events);
  }
  return IterationVerdict::Continue;
}

}  // namespace tolvanex
