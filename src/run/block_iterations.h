// The iterations of one block: the hot loop of the programs.
//
// On x86-64 the loop is also compiled with AVX encodings and with AVX-512
// encodings (the same operations, with 32 vector registers instead of 16),
// and the widest copy the processor and operating system support is chosen
// at the start of a run. Building with TOLVANEX_NO_AVX512_LOOP defined (CMake
// option TOLVANEX_AVX512_LOOP=OFF) leaves out the AVX-512 copy, with
// TOLVANEX_NO_AVX_LOOP (TOLVANEX_AVX_LOOP=OFF) both: only the baseline code.
// Every copy gives the same bits.
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
#if TOLVANEX_AVX_LOOP && !defined(TOLVANEX_NO_AVX512_LOOP)
#define TOLVANEX_AVX512_LOOP 1
#else
#define TOLVANEX_AVX512_LOOP 0
#endif

// The compiled copies of the block loop, each wider than the one before.
enum class LoopCopy { Baseline, Avx, Avx512 };

// The widest copy that was built and that this machine runs (the processor
// and the operating system support its registers).
LoopCopy widest_loop_copy();

// Runs iterations until the block has counted block_length of them or one
// ends it (the verdict that did is returned), in the given copy of the loop.
// What an iteration records for the report is printed as soon as it returns.
template <FluxPruning pruning>
IterationVerdict run_block_iterations(RunRecords& run, const NetworkConstants& network,
                                      const RunParameters& parameters, double block_length,
                                      const OutputStreams& out, LoopCopy copy);

}  // namespace tolvanex
