#include "run/block_iterations.h"

#include "report/console_messages.h"

namespace tolvanex {
namespace {

// The report's lines for what one iteration recorded, in the order it found
// them; then the record is cleared.
[[gnu::cold, gnu::noinline]] void hand_over(IterationEvents& events, const OutputStreams& out) {
  for (int i = 0; i < events.first_amount_count; ++i) {
    print_first_amount(events.first_amounts[static_cast<std::size_t>(i)].species,
                       events.first_amounts[static_cast<std::size_t>(i)].amount, out.console);
  }
  if (events.overshoot_corrected) {
    const OvershootCorrected& o = events.overshoot;
    print_overshoot(o.maxratio, o.timestep, o.target, out.console);
  }
  switch (events.trigger) {
    case ReportTrigger::None: break;
    case ReportTrigger::Product: print_product_report(events.trigger_time, out.console); break;
    case ReportTrigger::A: print_A_report(events.trigger_time, out.console); break;
    case ReportTrigger::Time: print_time_report(out.console); break;
    case ReportTrigger::NegativeAmount: write_negative_amount(events.trigger_time, out.trace); break;
  }
  events = IterationEvents{};
}

// The records are gathered here, where the compiler sees that they all lie
// in one RunRecords: one base register reaches them all.
template <FluxPruning pruning>
TOLVANEX_HOT IterationVerdict block_iterations(RunRecords& run, const NetworkConstants& network,
                                               const RunParameters& parameters,
                                               double block_length, const OutputStreams& out) {
  IterationRecords r = iteration_records(run, network, parameters);
  BlockCounters& counters = r.counters;
  IterationEvents& events = r.events;
  while (counters.iterations < block_length) {
    const IterationVerdict verdict = integrator_iteration<pruning>(r);
    if (events.pending) [[unlikely]] hand_over(events, out);
    if (verdict != IterationVerdict::Continue) return verdict;
    counters.iterations += 1;
  }
  return IterationVerdict::Continue;
}

template <FluxPruning pruning>
IterationVerdict block_iterations_baseline(RunRecords& run, const NetworkConstants& network,
                                           const RunParameters& parameters, double block_length,
                                           const OutputStreams& out) {
  return block_iterations<pruning>(run, network, parameters, block_length, out);
}

#if TOLVANEX_AVX_LOOP
// The same code with the AVX (VEX) encodings of the same SSE2 operations:
// three-operand forms that need no register copies. Every operation is the
// same IEEE operation on the same operands, so the results are the same bits
// (fused multiply-add is not enabled, and contraction is off anyway).
template <FluxPruning pruning>
__attribute__((target("avx"))) IterationVerdict block_iterations_avx(
    RunRecords& run, const NetworkConstants& network, const RunParameters& parameters,
    double block_length, const OutputStreams& out) {
  return block_iterations<pruning>(run, network, parameters, block_length, out);
}
#endif

#if TOLVANEX_AVX512_LOOP
// The same code again with the AVX-512 (EVEX) encodings, whose 32 vector
// registers hold values that the other copies keep on the stack. The
// operations stay the same scalar and two-lane ones, on the same operands.
template <FluxPruning pruning>
__attribute__((target("avx512f,avx512vl"))) IterationVerdict block_iterations_avx512(
    RunRecords& run, const NetworkConstants& network, const RunParameters& parameters,
    double block_length, const OutputStreams& out) {
  return block_iterations<pruning>(run, network, parameters, block_length, out);
}
#endif

}  // namespace

LoopCopy widest_loop_copy() {
  // The checks cover the operating system's support for the registers.
#if TOLVANEX_AVX512_LOOP
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) {
    return LoopCopy::Avx512;
  }
#endif
#if TOLVANEX_AVX_LOOP
  if (__builtin_cpu_supports("avx")) return LoopCopy::Avx;
#endif
  return LoopCopy::Baseline;
}

template <FluxPruning pruning>
IterationVerdict run_block_iterations(RunRecords& run, const NetworkConstants& network,
                                      const RunParameters& parameters, double block_length,
                                      const OutputStreams& out, LoopCopy copy) {
  switch (copy) {
#if TOLVANEX_AVX512_LOOP
    case LoopCopy::Avx512:
      return block_iterations_avx512<pruning>(run, network, parameters, block_length, out);
#endif
#if TOLVANEX_AVX_LOOP
    case LoopCopy::Avx:
      return block_iterations_avx<pruning>(run, network, parameters, block_length, out);
#endif
    default:
      return block_iterations_baseline<pruning>(run, network, parameters, block_length, out);
  }
}

template IterationVerdict run_block_iterations<FluxPruning::On>(RunRecords&,
                                                                const NetworkConstants&,
                                                                const RunParameters&, double,
                                                                const OutputStreams&, LoopCopy);
template IterationVerdict run_block_iterations<FluxPruning::Off>(RunRecords&,
                                                                 const NetworkConstants&,
                                                                 const RunParameters&, double,
                                                                 const OutputStreams&, LoopCopy);

}  // namespace tolvanex
