// Judges the state after every advance.
//
// A negative (or NaN) intermediate, free-enzyme form or product stops the
// run: two error lines go to the trace file and wanted_time is cleared.
// Otherwise a report is due, ending the block at once, when
//   - the product P rises above 1.01 x its report level,
//   - A falls below 0.99 x its report level, or
//   - more than 2 s have passed and the time is 5 % beyond the last forced report.
#pragma once

#include <cstdio>

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

// True when every guarded amount (C .. N, O1, O2, O3, P, Q) is >= 0.
bool guarded_amounts_valid(const SpeciesState& s);

IterationVerdict check_consistency(const SpeciesState& s, double time, RunParameters& p,
                                   ReportLevels& levels, const OutputStreams& out);

}  // namespace tolvanex
