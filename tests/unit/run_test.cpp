// The run between iterations: the cap and the tightening window of one
// iteration, the next block's length, the Basic Timestep between blocks and
// the termination tests.
#include <cstdio>
#include <limits>
#include <string>
#include <tuple>

#include "run/block_end.h"
#include "run/run.h"
#include "unit_support.h"

namespace tolvanex {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// K rises slowly, so the increase rule asks for 100 s and the cap cuts it to
// ten Basic Timesteps of 1 s. Tightening checks run only while the block's
// iteration count is below target2.
TEST(Iteration, CapAndTighteningWindow) {
  std::FILE* sink = std::tmpfile();
  const OutputStreams out{sink, sink, sink, "trace", "flux"};
  for (auto [target2, iterations, checks] :
       {std::tuple{0.0, 0, 0}, {-1.0, 0, 0}, {kNaN, 0, 0}, {5.0, 5, 0}, {5.5, 5, 1}, {1.0, 0, 1}}) {
    RunParameters p{.target2 = target2, .initial_timestep = 1, .pH = 7, .MoleculeType = 2,
                    .pKa_thiol = 10.4, .wanted_time = 100, .A0 = 1e-6};
    for (int i = 1; i <= kStepCount; ++i) p.DeltaG[i] = 100;  // every step off ...
    p.DeltaG[3] = 21.88;                                       // ... but C -> K, k3 about 1e-3/s
    tolvanex::Run<FluxPruning::On> run(p, out);
    RunRecords& r = run.records();
    r.state = SpeciesState{};
    r.state[Species::C] = 1e-6, r.state[Species::K] = 1e-6;
    r.counters.iterations = iterations;
    run.iterate();
    EXPECT_EQ(r.counters.tightening_iterations, checks) << "target2 " << target2;
    EXPECT_EQ(r.step.timestep, 10);
    EXPECT_EQ(r.progress.time, 10);
  }
  std::fclose(sink);
}

// The next block's length after one of `iterations` with `cycles` extra
// cycles that took `elapsed` s at a Basic Timestep of 2^-10 s, `total`
// iterations into the run. Then, at a Basic Timestep of 1 s, its halving or
// doubling strictly beyond 0.1 x and 0.8 x the average step after more than
// 1000 iterations, and a block that counted iterations without moving time.
TEST(BlockEnd, NextLengthBasicTimestepAndTimeThatStandsStill) {
  const double inf = std::numeric_limits<double>::infinity(), few = 100 * 0x1p-10;
  // clang-format off
  const struct {
    int cycles; double target2, length, total = 1e7; int iterations = 10; double elapsed = 1;
  } lengths[] = {
      {0, 7, 1e7}, {5, 7, 1e7} /* exactly half */, {6, 7, 4.5} /* lets 5 run */,
      {6, 7, 3e5, 1e7 - 1} /* young run */, {6, 7, 4.5, 1e7, 11, 11} /* 11 / 2 is 5 */,
      {6, 7, 1e7, 1e7, 10, few} /* exactly 10 x basic */, {6, 1e12, 1e7}, {6, inf, 1e7},
      {6, 2e7 - 2, 1e7}, {6, 2e7 - 4, 1e7 - 1} /* 32-bit counters */, {0, kNaN, 3e5, 0}};
  // clang-format on
  for (const auto& row : lengths) {
    const RunParameters p{.target2 = row.target2};
    const RunProgress progress{.basic_timestep = 0x1p-10,
                               .total_iterations = row.total,
                               .block_elapsed_time = row.elapsed};
    const BlockCounters finished{row.iterations, 0, row.cycles};
    EXPECT_EQ(next_block_length(p, progress, finished), row.length)
        << row.cycles << " " << row.target2;
  }
  using C = BasicTimestepChange;
  // clang-format off
  const struct { double total; int iterations; double elapsed, basic; C change; bool stands; } rows[] = {
      {1001, 10, 0.5, 0.5, C::Halved, false}, {1001, 10, 9, 2, C::Doubled, false},
      {1001, 10, 1, 1, C::None, false}, {1001, 10, 8, 1, C::None, false},
      {1000, 10, 0.5, 1, C::None, false}, {1000, 10, 9, 1, C::None, false},
      {5000, 0, 1e-3, 2, C::Doubled, false} /* +infinity after a block of 0 */,
      {1, 1, 0, 1, C::None, true}, {1, 300000, -1e-9, 1, C::None, true},
      {0, 0, 0, 1, C::None, false}, {1, 1, 1e-300, 1, C::None, false}};
  // clang-format on
  for (const auto& row : rows) {
    RunProgress progress{
        .basic_timestep = 1, .total_iterations = row.total, .block_elapsed_time = row.elapsed};
    const BlockCounters finished{row.iterations};
    EXPECT_EQ(adapt_basic_timestep(progress, finished), row.change) << row.total << " " << row.elapsed;
    EXPECT_EQ(progress.basic_timestep, row.basic);
    EXPECT_EQ(time_stands_still(progress, finished), row.stands);
  }
}

// A0 = 1e-6 and t = 100 s; with R = 1e-14 P grows by 1e-12 mol/L, far below
// every percentage, so the product level and the iteration count decide.
// Each test holds on its own; they are listed in order.
TEST(BlockEnd, TerminationTestsEachOnItsOwn) {
  // clang-format off
  const struct { double type, N, P, R; std::string stops; } rows[] = {
      {2, 0, 0.99e-6, 0, ""},  // exactly 0.99 A0 is not more
      {1, 0, std::nextafter(0.99e-6, 1.0), 0, "Converted "},
      {1, 0, 0.985e-6, 1e-14, "ConvertedAndStable "},
      {2, 0, 0.985e-6, 1e-14, "Stable "},  // the 98 % test is for MerA only
      {1, 2e10, 0.5e-6, 1e-14, ""},        // the other P tests are not for MerA
      {2, 2e10, 0.5e-6, 1e-14, "Stable 2500 3000 10000 "},
      {3, 3e9, 0.5e-6, 1e-14, "Stable 2500 "},
      {7, 5e9, 0.15e-6, 1e-14, "2500 "} /* N > 5e9 for "3000 million" */,
      {7, 5e9 + 1, 0.15e-6, 1e-14, "2500 3000 "}, {1, 3e10, 0, 1e-14, ""},
      {1, 3e10 + 1, 0, 1e-14, "Limit "},
      // A product that is not growing has not converged.
      {1, 2e10, 0.985e-6, 0, ""}, {1, 2e10, 0.985e-6, -1e-14, ""}, {3, 2e10, 0.5e-6, 0, ""},
      {3, 2e10, 0.5e-6, -1e-14, ""}};
  // clang-format on
  const char* names[] = {"Converted", "ConvertedAndStable", "Stable", "2500",
                         "3000",      "10000",              "Limit",  "Still"};
  for (const auto& row : rows) {
    const RunParameters p{.MoleculeType = row.type, .A0 = 1e-6};
    const RunProgress progress{
        .time = 100, .total_iterations = row.N, .rate_of_change_of_P = row.R};
    const Stops stops = termination_tests(p, progress, row.P);
    std::string got;
    for (int i = 0; i < stops.count; ++i)
      got += std::string(names[static_cast<int>(stops.messages[static_cast<std::size_t>(i)])]) + " ";
    EXPECT_EQ(got, row.stops) << row.type << " " << row.N << " " << row.P;
  }
}

}  // namespace
}  // namespace tolvanex
