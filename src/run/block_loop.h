// The run, block by block.
//
// A block runs iterations until it has counted its block length or an
// iteration ends it early (a report is due, or the state went negative).
// At its end: bookkeeping, the console report with one row appended to each
// file, the halving or doubling of the Basic Timestep, and the termination
// tests. Blocks follow one another while the simulated time is below the
// wanted time; clearing the wanted time ends the run after the current block.
#pragma once

#include "integrator/integrator_iteration.h"
#include "setup/output_streams.h"

namespace tolvanex {

inline constexpr double kShortRunBlockLength = 300000;  // while fewer than 1e7 iterations
inline constexpr double kLongRunBlockLength = 10000000;

// Everything the run owns besides the parameters and constants.
struct RunRecords {
  SpeciesState state;
  RunProgress progress;
  BlockCounters counters;
  FluxTotals totals;
  ReportLevels levels;
  StepControl step;
  ModelEvaluation evaluation;
};

// The records one iteration works on, gathered from the run's.
inline IterationRecords iteration_records(RunParameters& p, const NetworkConstants& network,
                                          RunRecords& run, const OutputStreams& out) {
  return {run.state,  network,    p,        run.progress,   run.counters,
          run.totals, run.levels, run.step, run.evaluation, out};
}

// The length of the next block, from the block just finished.
double next_block_length(const RunParameters& p, const RunProgress& progress,
                         const BlockCounters& finished_block);

// Halves or doubles the Basic Timestep after a block and prints the change.
void adapt_basic_timestep(RunProgress& progress, const BlockCounters& finished_block,
                          std::FILE* console);

// Runs every termination test on its own, in order; each one that holds
// prints its message and clears wanted_time.
void apply_termination_tests(RunParameters& p, const RunProgress& progress, double P,
                             std::FILE* console);

// A block that counted iterations without moving the simulated time forward
// (a step of 0, or a negative one) would repeat for ever: stop the run.
void stop_if_time_stands_still(RunParameters& p, const RunProgress& progress,
                               const BlockCounters& finished, std::FILE* console);

// On x86-64 the block loop is also compiled with AVX encodings and chosen at
// the start of a run when the processor has them; building with
// TOLVANEX_NO_AVX_LOOP defined (CMake option TOLVANEX_AVX_LOOP=OFF) leaves
// only the baseline code. Both give the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(TOLVANEX_NO_AVX_LOOP) && \
    !defined(TOLVANEX_PORTABLE_PAIRS)
#define TOLVANEX_AVX_LOOP 1
#else
#define TOLVANEX_AVX_LOOP 0
#endif

// Runs blocks until the run is over. Returns false when a file could not be
// written (the message is already on standard error).
template <FluxPruning pruning>
bool run_block_loop(RunParameters& p, const NetworkConstants& network, RunRecords& run,
                    const OutputStreams& out);

}  // namespace tolvanex
