// The iterations of one block: the hot loop of the programs.
//
// On x86-64 the loop is also compiled with AVX encodings and chosen at the
// start of a run when the processor has them; building with
// TOLVANEX_NO_AVX_LOOP defined (CMake option TOLVANEX_AVX_LOOP=OFF) leaves
// only the baseline code. Both give the same bits.
#pragma once

#include "integrator/integrator_iteration.h"
#include "report/output_streams.h"
#include "run/run_records.h"

namespace tolvanex {

#if defined(__x86_64__) && defined(__GNUC__) && !defined(TOLVANEX_NO_AVX_LOOP) && \
    !defined(TOLVANEX_PORTABLE_PAIRS)
#define TOLVANEX_AVX_LOOP 1
#else
#define TOLVANEX_AVX_LOOP 0
#endif

// Whether this machine runs the AVX copy (the processor and the operating
// system support the AVX registers, and the copy was built).
bool avx_loop_available();

// Runs iterations until the block has counted block_length of them or one
// ends it (the verdict that did is returned). What an iteration records for
// the report is printed as soon as it returns.
template <FluxPruning pruning>
IterationVerdict run_block_iterations(RunRecords& run, const NetworkConstants& network,
                                      const RunParameters& parameters, double block_length,
                                      const OutputStreams& out, bool use_avx);

}  // namespace tolvanex
