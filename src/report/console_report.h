// The progress report printed on the console at the end of every block:
// the species still falling in the last step, the run's totals, the last
// step's change of every species, every net flux with its running total,
// and the block's statistics. The two table rows of the block are written
// to the files between its opening part (up to the "total iterations"
// line) and the rest.
#pragma once

#include <cstdint>
#include <cstdio>

#include "model/reaction_network.h"

namespace tolvanex {

// What the report reads, as the run hands it over at the end of a block.
struct BlockReport {
  const SpeciesState& state;
  const SpeciesRates& rates;  // of the block's last iteration, as are the next four
  const NetFluxes& fluxes;
  double timestep;
  double maxratio;
  double target;
  int first_amount_flag;
  const FluxTotals& totals;
  double time;
  double total_iterations;
  double block_elapsed_time;
  double rate_of_change_of_P;
  std::int32_t iterations;  // of the block, and of those the tightening figures
  std::int32_t tightening_iterations;
  std::int32_t extra_cycles;
  double maxratio_sum;
  bool organomercurial;
  double target2;
};

// Separator, ratio lines, step fraction, totals line.
void print_block_report_opening(const BlockReport& r, std::FILE* console);

// Time, change lines, flux lines, block statistics, average timestep.
void print_block_report_closing(const BlockReport& r, std::FILE* console);

}  // namespace tolvanex
