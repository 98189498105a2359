// Run-long progress and the counters of the current block. The run owns
// them; an iteration reads the Basic Timestep, the time and the counts,
// advances the time and adds to the tightening counters.
#pragma once

#include <cstdint>

namespace tolvanex {

struct RunProgress {
  double time = 0;              // simulated seconds
  double basic_timestep = 0;    // every iteration starts its step from it
  double total_iterations = 0;  // counted iterations of all finished blocks (a double:
                                // runs pass 2^31 on their way to 3e10)
  double block_length = 0;      // iterations the current block may count
  double previous_block_time = 0;
  double previous_block_P = 0;
  double block_elapsed_time = 0;
  double block_change_of_P = 0;
  double rate_of_change_of_P = 0;  // mol/L/s over the last block
};

// Zeroed at the head of every block.
struct BlockCounters {
  std::int32_t iterations = 0;             // counted iterations of this block
  std::int32_t tightening_iterations = 0;  // iterations that went through the tightening check
  std::int32_t extra_cycles = 0;           // divisions of the step by 3 in those checks
  double maxratio_sum = 0;                 // sum of maxratio over the tightening iterations
};

}  // namespace tolvanex
