// The program itself: from the command line to the closed output files.
//
// 0. A closed standard descriptor is opened on /dev/null; SIGPIPE is
//    ignored, so that a pipe without a reader is a write error.
// 1. --help or -h alone prints the usage text, --version the version (exit
//    0); any other wrong argument count prints the usage text (exit 2). No
//    file is touched.
// 2. A warning for each numeric argument that is not wholly a number.
// 3. The trace file, then flux_analysis.txt, are opened for appending.
// 4. The arguments become the run parameters; the run is set up, writing
//    the set-up notes, headers, rate constants and time-0 rows.
// 5. Blocks run while the wanted time is above the simulated time; the
//    console is flushed and checked after each.
// 6. Both files are closed, trace file first; the console is checked.
//
// Exit status: 0; 1 when a file or the console could not be opened or
// written; 2 for a wrong argument count; 128 + the signal when SIGINT or
// SIGTERM ended the run early.
#pragma once

#include "integrator/flux_pruning.h"

namespace tolvanex {

// Exit status of a run refused for its argument count (nothing ran).
inline constexpr int kUsageExitStatus = 2;

// The whole program; returns its exit status. Standard output is the console.
template <FluxPruning pruning>
int run_program(int argc, const char* const* argv);

}  // namespace tolvanex
