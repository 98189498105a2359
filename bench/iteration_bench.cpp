// One integrator iteration on realistic mid-run states, per acceptor type and
// for both programs (with and without pruning of negligible net fluxes).
//
// Each benchmark first runs the bundled example of its acceptor type for a
// while to reach a state in the middle of a run, then times iterations that
// go on from there exactly as the block loop runs them (restarting from the
// saved state whenever a report or an error would end a block). Nothing is
// written: messages go to /dev/null.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "integrator/integrator_iteration.h"
#include "run/block_loop.h"
#include "setup/rate_table.h"

namespace tolvanex {
namespace {

std::vector<std::string> example_arguments(const std::string& name) {
  std::ifstream in(std::string(TOLVANEX_SOURCE_DIR) + "/examples/" + name + ".args");
  std::vector<std::string> words;
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("#")) continue;
    std::istringstream words_of_line(line);
    std::string word;
    while (words_of_line >> word) words.push_back(word);
  }
  return words;
}

struct BenchRun {
  RunParameters parameters;
  NetworkConstants network;
  RunRecords records;
  OutputStreams out;

  template <FluxPruning pruning>
  TOLVANEX_HOT IterationVerdict iterate() {
    IterationRecords r = iteration_records(parameters, network, records, out);
    return integrator_iteration<pruning>(r);
  }
};

// The example run after `warm_up` counted iterations, blocks as the block
// loop would start them.
template <FluxPruning pruning>
BenchRun mid_run(const std::string& example, long warm_up, std::FILE* sink) {
  const std::vector<std::string> words = example_arguments(example);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  BenchRun run;
  run.parameters = parse_run_parameters(static_cast<int>(argv.size()), argv.data());
  run.network = network_constants(compute_rate_constants(run.parameters), run.parameters);
  run.records.state = initial_state(run.parameters);
  run.records.progress.basic_timestep = run.parameters.initial_timestep;
  run.records.levels.A_report_level = run.records.state.A;
  run.out = OutputStreams{sink, sink, sink, "trace", "flux"};
  for (long i = 0; i < warm_up; ++i) {
    if (run.iterate<pruning>() == IterationVerdict::Continue) {
      run.records.counters.iterations += 1;
      if (run.records.counters.iterations == 300000) {
        run.records.progress.total_iterations += run.records.counters.iterations;
        run.records.counters = BlockCounters{};
      }
    } else {
      run.records.progress.total_iterations += run.records.counters.iterations;
      run.records.counters = BlockCounters{};
    }
  }
  return run;
}

// The timed loop, compiled like the programs' block loop: once for the
// baseline instruction set and once with AVX encodings (see run/block_loop.h).
template <FluxPruning pruning>
TOLVANEX_HOT void timed_iterations(benchmark::State& state, BenchRun& run, const BenchRun& start) {
  for (auto _ : state) {
    if (run.iterate<pruning>() == IterationVerdict::Continue) {
      run.records.counters.iterations += 1;
    } else {
      run = start;
    }
  }
}

template <FluxPruning pruning>
void timed_baseline(benchmark::State& state, BenchRun& run, const BenchRun& start) {
  timed_iterations<pruning>(state, run, start);
}

#if TOLVANEX_AVX_LOOP
template <FluxPruning pruning>
__attribute__((target("avx"))) void timed_avx(benchmark::State& state, BenchRun& run,
                                              const BenchRun& start) {
  timed_iterations<pruning>(state, run, start);
}
#endif

enum class Encoding { Baseline, Avx };

template <FluxPruning pruning, Encoding encoding>
void iteration(benchmark::State& state, const char* example, long warm_up) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  const BenchRun start = mid_run<pruning>(example, warm_up, sink);
  BenchRun run = start;
  if constexpr (encoding == Encoding::Avx) {
#if TOLVANEX_AVX_LOOP
    if (__builtin_cpu_supports("avx")) {
      timed_avx<pruning>(state, run, start);
    } else {
      state.SkipWithError("this processor has no AVX");
    }
#else
    state.SkipWithError("built without the AVX copy of the loop");
#endif
  } else {
    timed_baseline<pruning>(state, run, start);
  }
  state.SetItemsProcessed(state.iterations());
  std::fclose(sink);
}

// The copy the programs run on this machine (AVX where it has it) and the
// baseline one.
void tolvanex(benchmark::State& state, const char* example, long warm_up) {
  iteration<FluxPruning::On, Encoding::Avx>(state, example, warm_up);
}
void tolvanex_unpruned(benchmark::State& state, const char* example, long warm_up) {
  iteration<FluxPruning::Off, Encoding::Avx>(state, example, warm_up);
}
void tolvanex_baseline(benchmark::State& state, const char* example, long warm_up) {
  iteration<FluxPruning::On, Encoding::Baseline>(state, example, warm_up);
}
void tolvanex_unpruned_baseline(benchmark::State& state, const char* example, long warm_up) {
  iteration<FluxPruning::Off, Encoding::Baseline>(state, example, warm_up);
}

BENCHMARK_CAPTURE(tolvanex, mera, "mera", 500000);
BENCHMARK_CAPTURE(tolvanex, dithiothreitol, "dithiothreitol", 2000000);
BENCHMARK_CAPTURE(tolvanex, glutathione, "glutathione", 2000000);
BENCHMARK_CAPTURE(tolvanex, organomercurial, "organomercurial", 2000);
BENCHMARK_CAPTURE(tolvanex_unpruned, mera, "mera", 500000);
BENCHMARK_CAPTURE(tolvanex_unpruned, dithiothreitol, "dithiothreitol", 2000000);
BENCHMARK_CAPTURE(tolvanex_unpruned, glutathione, "glutathione", 2000000);
BENCHMARK_CAPTURE(tolvanex_unpruned, organomercurial, "organomercurial", 2000);
BENCHMARK_CAPTURE(tolvanex_baseline, glutathione, "glutathione", 2000000);
BENCHMARK_CAPTURE(tolvanex_unpruned_baseline, glutathione, "glutathione", 2000000);

}  // namespace
}  // namespace tolvanex

BENCHMARK_MAIN();
