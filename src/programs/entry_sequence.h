// The program itself: from the command line to the closed output files.
//
// 1. A wrong argument count prints the usage text (exit 2, no file touched).
// 2. The trace file, then flux_analysis.txt, are opened for appending.
// 3. The arguments become the run parameters; the run is set up, writing
//    the set-up notes, headers, rate constants and time-0 rows.
// 4. Blocks run while the wanted time is above the simulated time.
// 5. Both files are closed, trace file first.
#pragma once

#include "integrator/integrator_iteration.h"

namespace tolvanex {

// Exit status of a run refused for its argument count (nothing ran).
inline constexpr int kUsageExitStatus = 2;

// The whole program; returns its exit status. Standard output is the console.
template <FluxPruning pruning>
int run_program(int argc, const char* const* argv);

}  // namespace tolvanex
