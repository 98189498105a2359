// The block loop on realistic mid-run states, per acceptor type and for both
// programs, in the copy of the loop the programs run on this machine (AVX
// where it has it) and in the baseline copy. Time per iteration.
//
// Each benchmark sets up a run of a bundled example through Run, as the
// programs do, runs blocks until it is `warm_up` iterations in, then times
// further blocks, starting again from there when the run ends. Nothing is written: the files and console go to /dev/null.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "run/run.h"

namespace tolvanex {
namespace {

RunParameters example_parameters(const std::string& name) {
  std::ifstream in(std::string(TOLVANEX_SOURCE_DIR) + "/examples/" + name + ".args");
  std::vector<std::string> words;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words_of_line(line.starts_with("#") ? "" : line);
    for (std::string word; words_of_line >> word;) words.push_back(word);
  }
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  RunParameters p = parse_run_parameters(static_cast<int>(argv.size()), argv.data());
  p.wanted_time = 1e300;  // the run goes on for as long as it is timed
  return p;
}

template <FluxPruning pruning>
void blocks(benchmark::State& state, const char* example, double warm_up, LoopCopy widest) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  const OutputStreams out{sink, sink, sink, "/dev/null", "/dev/null"};
  const RunParameters parameters = example_parameters(example);
  auto start = std::make_unique<Run<pruning>>(parameters, out, RunOptions{.widest_loop_copy = widest});
  while (start->records().progress.total_iterations < warm_up && !start->over()) start->run_block();
  auto run = std::make_unique<Run<pruning>>(*start);
  double iterations = 0;
  for (auto _ : state) {
    if (run->over()) {  // a termination test ended it: start again from the warm state
      state.PauseTiming();
      *run = *start;
      state.ResumeTiming();
    }
    const double before = run->records().progress.total_iterations;
    run->run_block();
    iterations += run->records().progress.total_iterations - before;
  }
  state.counters["ns_per_iteration"] = benchmark::Counter(
      iterations * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  std::fclose(sink);
}

void tolvanex(benchmark::State& s, const char* example, double warm_up) {
  blocks<FluxPruning::On>(s, example, warm_up, LoopCopy::Avx512);
}
void tolvanex_unpruned(benchmark::State& s, const char* example, double warm_up) {
  blocks<FluxPruning::Off>(s, example, warm_up, LoopCopy::Avx512);
}
void tolvanex_baseline(benchmark::State& s, const char* example, double warm_up) {
  blocks<FluxPruning::On>(s, example, warm_up, LoopCopy::Baseline);
}
void tolvanex_unpruned_baseline(benchmark::State& s, const char* example, double warm_up) {
  blocks<FluxPruning::Off>(s, example, warm_up, LoopCopy::Baseline);
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
