// The decisions at the end of a block: the next block's length, the Basic
// Timestep's halving or doubling, and the tests that stop the run. They
// return what they decided; the run reports it.
#pragma once

#include <array>

#include "integrator/progress.h"
#include "report/console_messages.h"
#include "setup/run_parameters.h"

namespace tolvanex {

inline constexpr double kShortRunBlockLength = 300000;  // while fewer than 1e7 iterations
inline constexpr double kLongRunBlockLength = 10000000;

// The length of the next block, from the block just finished.
double next_block_length(const RunParameters& p, const RunProgress& progress,
                         const BlockCounters& finished_block);

enum class BasicTimestepChange { None, Halved, Doubled };

// Halves or doubles the Basic Timestep after a block.
BasicTimestepChange adapt_basic_timestep(RunProgress& progress, const BlockCounters& finished_block);

// The termination tests that hold, each on its own, in the order they are
// tested (at most one of each).
struct Stops {
  int count = 0;
  std::array<StopMessage, 8> messages{};
  void add(StopMessage m) { messages[static_cast<std::size_t>(count++)] = m; }
};
Stops termination_tests(const RunParameters& p, const RunProgress& progress, double P);

// A block that counted iterations without moving the simulated time forward
// (a step of 0, or a negative one) would repeat for ever.
bool time_stands_still(const RunProgress& progress, const BlockCounters& finished);

}  // namespace tolvanex
