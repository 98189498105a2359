// The progress report printed on the console at the end of every block:
// the species still falling in the last step, the run's totals, the last
// step's change of every species, every net flux with its running total,
// and the block's statistics. The two table rows of the block are written
// to the files between its opening part (up to the "total iterations"
// line) and the rest.
#pragma once

#include <cstdio>

#include "integrator/step_control.h"
#include "model/reaction_network.h"
#include "run/run_progress.h"
#include "setup/run_parameters.h"

namespace tolvanex {

// What the report reads; nothing in it is changed.
struct BlockReportView {
  const RunParameters& parameters;
  const SpeciesState& state;
  const ModelEvaluation& last_evaluation;  // of the block's last iteration
  const FluxTotals& totals;
  const StepControl& last_step;
  const RunProgress& progress;
  const BlockCounters& counters;
};

// Separator, ratio lines, step fraction, totals line.
void print_block_report_opening(const BlockReportView& v, std::FILE* console);

// Time, change lines, flux lines, block statistics, average timestep.
void print_block_report_closing(const BlockReportView& v, std::FILE* console);

}  // namespace tolvanex
