// One run, from its parameters to its last block.
//
// Set-up gives the starting state and report levels, works out the rate
// constants and writes the set-up notes and both files' headers and time-0
// rows. Each block then runs its iterations and ends with the bookkeeping,
// the console report with one row appended to each file, the halving or
// doubling of the Basic Timestep, and the termination tests. Blocks follow
// one another while the simulated time is below the wanted time; a stop (a
// termination test, a negative amount, a block that does not move the time,
// SIGINT or SIGTERM) ends the run after the current block.
#pragma once

#include "integrator/integrator_iteration.h"
#include "report/output_streams.h"
#include "run/block_iterations.h"
#include "run/run_records.h"
#include "run/run_control.h"
#include "setup/run_parameters.h"

namespace tolvanex {

struct RunOptions {
  bool resting_route = true;  // the full program's shortcut, where the network allows it
  // The widest copy of the block loop to run, where the machine has it.
  LoopCopy widest_loop_copy = LoopCopy::Avx512;
};

template <FluxPruning pruning>
class Run {
 public:
  Run(const RunParameters& parameters, const OutputStreams& out, RunOptions options = {});

  // No further block is due.
  bool over() const { return !control_.goes_on(records_.progress.time); }

  // One block and its end. False when a file could not be written (the
  // message is already on standard error).
  bool run_block();

  // One iteration outside the block loop, in the baseline copy; what it
  // records for the report is left in records().events.
  IterationVerdict iterate();

  RunRecords& records() { return records_; }
  const RunControl& control() const { return control_; }

 private:
  RunParameters parameters_;
  NetworkConstants network_;
  OutputStreams out_;
  LoopCopy loop_copy_;
  RunControl control_;
  RunRecords records_;
};

}  // namespace tolvanex
