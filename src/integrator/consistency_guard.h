// Judges the state after every advance.
//
// A negative (or NaN) intermediate, free-enzyme form or product stops the
// run: two error lines go to the trace file and wanted_time is cleared.
// Otherwise a report is due, ending the block at once, when
//   - the product P rises above 1.01 x its report level,
//   - A falls below 0.99 x its report level, or
//   - more than 2 s have passed and the time is 5 % beyond the last forced report.
#pragma once

#include <cstddef>
#include <cstdio>

#include "model/field_pairs.h"
#include "model/species_state.h"
#include "setup/output_streams.h"
#include "setup/run_parameters.h"

namespace tolvanex {

enum class IterationVerdict { Continue, Report, Error };

struct ReportLevels {
  double P_report_level = 0;    // report when P > 1.01 x this
  double A_report_level = 0;    // report when A < 0.99 x this; A's starting amount
  double last_report_time = 0;  // s, last report forced by a trigger
};

// True when every guarded amount (C .. N, O1, O2, O3, P, Q) is >= 0. With
// skip_resting the caller knows that D, E and Q are still exactly +0.
template <bool skip_resting = false>
TOLVANEX_HOT bool guarded_amounts_valid(const SpeciesState& s) {
  // Written as x >= 0, so that NaN fails as well. C and Q stand alone; D to
  // P are seven pairs of neighbours (D E, F G, I J, K L, M N, O1 O2, O3 P).
  const DoublePair zero = both(0);
  auto non_negative = [&](std::size_t offset) { return at_least(load_pair(s, offset), zero); };
  PairMask valid = non_negative(offsetof(SpeciesState, F));
  if (!skip_resting) valid = both_hold(valid, non_negative(offsetof(SpeciesState, D)));
  valid = both_hold(valid, non_negative(offsetof(SpeciesState, I)));
  valid = both_hold(valid, non_negative(offsetof(SpeciesState, K)));
  valid = both_hold(valid, non_negative(offsetof(SpeciesState, M)));
  valid = both_hold(valid, non_negative(offsetof(SpeciesState, O1)));
  valid = both_hold(valid, non_negative(offsetof(SpeciesState, O3)));
  return s.C >= 0 && all_lanes(valid) && (skip_resting || s.Q >= 0);
}

// The rare outcomes, out of the iteration's straight path: the error lines
// (and the cleared wanted time) for a negative amount, and the triggers,
// tested in order, with their messages and new levels.
IterationVerdict report_negative_amounts(double time, RunParameters& p, const OutputStreams& out);
IterationVerdict apply_report_trigger(const SpeciesState& s, double time, const RunParameters& p,
                                      ReportLevels& levels, const OutputStreams& out);

TOLVANEX_HOT bool report_trigger_holds(const SpeciesState& s, double time,
                                       const ReportLevels& levels) {
  return s.P > 1.01 * levels.P_report_level || s.A < 0.99 * levels.A_report_level ||
         (time > 2 && time > 1.05 * levels.last_report_time);
}

template <bool skip_resting = false>
TOLVANEX_HOT IterationVerdict check_consistency(const SpeciesState& s, double time,
                                                RunParameters& p, ReportLevels& levels,
                                                const OutputStreams& out) {
  if (!guarded_amounts_valid<skip_resting>(s)) return report_negative_amounts(time, p, out);
  if (report_trigger_holds(s, time, levels)) return apply_report_trigger(s, time, p, levels, out);
  return IterationVerdict::Continue;
}

}  // namespace tolvanex
