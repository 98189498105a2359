#include "run/block_loop.h"

#include "report/console_report.h"
#include "report/output_files.h"
#include "run/interruption.h"
#include "setup/output_streams.h"

namespace tolvanex {

double next_block_length(const RunParameters& p, const RunProgress& progress,
                         const BlockCounters& finished) {
  double length = kLongRunBlockLength;
  // When the last block spent most of its effort in tightening cycles while
  // its steps were long, keep the next block within the tightening window.
  if (finished.extra_cycles > 0 && finished.extra_cycles > finished.iterations / 2 &&
      10 * progress.basic_timestep < progress.block_elapsed_time / finished.iterations) {
    length = p.target2 / 2 + 1;
    // Never longer than a normal block: the block counters are 32-bit.
    if (length > kLongRunBlockLength) length = kLongRunBlockLength;
  }
  if (progress.total_iterations < 10000000) length = kShortRunBlockLength;
  return length;
}

void adapt_basic_timestep(RunProgress& progress, const BlockCounters& finished,
                          std::FILE* console) {
  const double average_timestep = progress.block_elapsed_time / finished.iterations;
  if (average_timestep < 0.1 * progress.basic_timestep && progress.total_iterations > 1000) {
    progress.basic_timestep = progress.basic_timestep * 0.5;
    std::fprintf(console, "\n Basic Timestep has been decreased to %4.3e", progress.basic_timestep);
  } else if (average_timestep > 0.8 * progress.basic_timestep && progress.total_iterations > 1000) {
    progress.basic_timestep = progress.basic_timestep * 2;
    std::fprintf(console, "\n Basic Timestep has been increased to %4.3e", progress.basic_timestep);
  }
}

void apply_termination_tests(RunParameters& p, const RunProgress& progress, double P,
                             std::FILE* console) {
  const double t = progress.time;
  const double R = progress.rate_of_change_of_P;
  const double N = progress.total_iterations;
  const double A0 = p.A0;
  const bool mera = is_mera(p.MoleculeType);
  // R x t: how much P would still change if the run went on to twice its time.
  auto stop = [&](const char* message) {
    std::fputs(message, console);
    stop_run(p);
  };
  if (P > 0.99 * A0) {
    stop(
        "\n. Substrate has been almost completely converted.  The computation has therefore been "
        "stopped\n");
  }
  if (mera && P > 0.98 * A0 && R > 0 && 0.005 * P > R * t) {
    stop(
        "\n. Substrate has been almost completely converted. Extending the simulation to twice "
        "the current time would change P by less than 0.5 percent of present product "
        "concentration. The computation has therefore been stopped\n");
  }
  if (!mera && P > 0.2 * A0 && R > 0 && 0.005 * P > R * t) {
    stop(
        "\nExtending the simulation to twice the current time would change P by less than 0.5 "
        "percent of present product concentration. The computation has therefore been "
        "stopped\n");
  }
  if (!mera && P > 0.1 * A0 && R > 0 && 0.01 * P > R * t && N > 2.5e9) {
    std::fprintf(console,
                 "\nMore than 2500 million iterations have been performed for a total elapsed time "
                 "of %4.2e s.\n  Extending the simulation to twice the current time would change "
                 "P by less than 1 percent of present product concentration. The computation has "
                 "therefore been stopped\n",
                 t);
    stop_run(p);
  }
  // The bound is 5e9 iterations although the message names 3000 million.
  if (!mera && P > 0.1 * A0 && R > 0 && N > 5e9 && 0.02 * P > R * t) {
    std::fprintf(console,
                 "\nMore than 3000 million iterations have been performed for a total elapsed time "
                 "of %4.2e s.\n  Extending the simulation to twice the current time would change "
                 "P by less than 2 percent of present product concentration. The computation has "
                 "therefore been stopped\n",
                 t);
    stop_run(p);
  }
  if (!mera && P > 0.1 * A0 && R > 0 && N > 1e10 && 0.03 * P > R * t) {
    std::fprintf(console,
                 "\nMore than 10000 million iterations have been performed for a total elapsed "
                 "time of %4.2e s.\n Extending the simulation to twice the current time would "
                 "change P by less than 3 percent of present product concentration. The "
                 "computation has therefore been stopped\n",
                 t);
    stop_run(p);
  }
  if (N > 3e10) {
    std::fprintf(console,
                 "\nMore than 30000 million iterations have been performed for a total elapsed "
                 "time of %4.2e s.\n Extra %4.2e seconds of kinetic information would change P by "
                 "at most  %4.2e mol/L. The computation has been stopped to avoid wasting CPU "
                 "resources.\n",
                 t, t, R * t);
    stop_run(p);
  }
}

void stop_if_time_stands_still(RunParameters& p, const RunProgress& progress,
                               const BlockCounters& finished, std::FILE* console) {
  if (finished.iterations > 0 && !(progress.block_elapsed_time > 0)) {
    std::fputs(
        "\nSimulated time did not advance during the last block. The computation has "
        "therefore been stopped\n",
        console);
    stop_run(p);
  }
}

namespace {

// The blocks of a run. Compiled once for the processor family the program is
// built for and, where the machine can use it, once more with AVX encodings
// (see run_block_loop below).
template <FluxPruning pruning>
TOLVANEX_HOT bool run_blocks(RunParameters& p, const NetworkConstants& network, RunRecords& run,
                             const OutputStreams& out) {
  RunProgress& progress = run.progress;
  BlockCounters& counters = run.counters;
  IterationRecords records = iteration_records(p, network, run, out);
  if (!(p.wanted_time > 0)) return true;
  do {
    progress.block_length = next_block_length(p, progress, counters);
    counters = BlockCounters{};
    while (counters.iterations < progress.block_length) {
      if (integrator_iteration<pruning>(records) != IterationVerdict::Continue) break;
      counters.iterations += 1;
    }

    progress.block_elapsed_time = progress.time - progress.previous_block_time;
    progress.block_change_of_P = run.state.P - progress.previous_block_P;
    progress.previous_block_time = progress.time;
    progress.previous_block_P = run.state.P;
    progress.rate_of_change_of_P = progress.block_change_of_P / progress.block_elapsed_time;
    progress.total_iterations += counters.iterations;

    const BlockReportView view{p,        run.state, run.evaluation, run.totals,
                               run.step, progress,  counters};
    print_block_report_opening(view, out.console);
    append_block_rows(progress.time, run.state, run.totals, p.organomercurial, out);
    if (!flush_output_files(out)) return false;
    print_block_report_closing(view, out.console);

    adapt_basic_timestep(progress, counters, out.console);
    apply_termination_tests(p, progress, run.state.P, out.console);
    stop_if_time_stands_still(p, progress, counters, out.console);
    if (interruption_signal() != 0) stop_run(p);
  } while (progress.time < p.wanted_time && !p.run_stopped);
  return true;
}

template <FluxPruning pruning>
bool run_blocks_baseline(RunParameters& p, const NetworkConstants& network, RunRecords& run,
                         const OutputStreams& out) {
  return run_blocks<pruning>(p, network, run, out);
}

#if TOLVANEX_AVX_LOOP
// The same code with the AVX (VEX) encodings of the same SSE2 operations:
// three-operand forms that need no register copies. Every operation is the
// same IEEE operation on the same operands, so the results are the same bits
// (fused multiply-add is not enabled, and contraction is off anyway).
template <FluxPruning pruning>
__attribute__((target("avx"))) bool run_blocks_avx(RunParameters& p,
                                                   const NetworkConstants& network,
                                                   RunRecords& run, const OutputStreams& out) {
  return run_blocks<pruning>(p, network, run, out);
}
#endif

}  // namespace

template <FluxPruning pruning>
bool run_block_loop(RunParameters& p, const NetworkConstants& network, RunRecords& run,
                    const OutputStreams& out) {
#if TOLVANEX_AVX_LOOP
  // The check covers the operating system's support for the AVX registers.
  if (__builtin_cpu_supports("avx")) return run_blocks_avx<pruning>(p, network, run, out);
#endif
  return run_blocks_baseline<pruning>(p, network, run, out);
}

template bool run_block_loop<FluxPruning::On>(RunParameters&, const NetworkConstants&, RunRecords&,
                                              const OutputStreams&);
template bool run_block_loop<FluxPruning::Off>(RunParameters&, const NetworkConstants&, RunRecords&,
                                               const OutputStreams&);

}  // namespace tolvanex
