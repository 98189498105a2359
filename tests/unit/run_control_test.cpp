// Run control: the guard's verdict after every advance, the next block's
// length, the Basic Timestep between blocks, the termination tests and the
// stop of a run whose time no longer moves.
#include "unit_support.h"

namespace tolvanex {
namespace {

const std::string kStars = "\n*************************************************************** \n";
const double kNaN = std::numeric_limits<double>::quiet_NaN();
using V = IterationVerdict;

// C to Q are guarded: a negative amount (a NaN too, but for Q) stops the run
// with two trace lines, before any report trigger is looked at. Otherwise the
// time trigger reports.
TEST(Guard, ANegativeIntermediateEnzymeOrProductStopsTheRun) {
  const std::string error =
      " \n  \n  \n  Error: computations yield negative concentrations of intermediates or free "
      "amounts of substrate larger than the inicial ones\n elapsed time is 1.234567890e+01  \n ";
  const char* names[] = {"C", "D", "E",    "F",  "G",    "I",       "J",      "K",
                         "L", "M", "N",    "O1", "O2",   "O3",      "P",      "Q",
                         "A", "S", "MerB", "ES", "PHMB", "organic", "apoMerB"};
  for (int i = 0; i < 23; ++i) {
    for (double bad : {-1e-300, kNaN, -0.0}) {
      if (i == 15 && std::isnan(bad)) continue;
      const bool fails = i < 16 && bad != 0;
      SpeciesState s;
      s.*kSpecies.at(names[i]) = bad;
      RunParameters p{.wanted_time = 500};
      ReportLevels levels;
      ConsoleCapture console, trace;
      const V verdict = check_consistency(s, 12.3456789, p, levels, {console.file, trace.file});
      EXPECT_EQ(verdict, fails ? V::Error : V::Report) << names[i] << " = " << bad;
      EXPECT_EQ(trace.text(), fails ? error : "") << names[i] << " = " << bad;
      EXPECT_EQ(console.text().empty(), fails);
      EXPECT_TRUE(p.run_stopped == fails && p.wanted_time == (fails ? 0 : 500));
    }
  }
}

// Product, A and time triggers in this order, each with its new levels; A0 =
// 1e-6 mol/L, so A reports every 1e-8 mol/L and P every 1e-9 mol/L.
TEST(Guard, ReportTriggersInOrderWithTheirNewLevels) {
  const std::string product =
      kStars + "\n Product changed significantly. printed new data at time ";
  const std::string fell = kStars + "A has changed significantly. printed new data at time ";
  const std::string at_half = product + " 5.0000e-01     \n  ",
                    at_1_5 = fell + " 1.5000e+00      \n  ";
  // clang-format off
  const struct {
    double A, P, P_level, A_level, last, time;
    std::string message;
    double new_P_level, new_A_level;
  } rows[] = {
      // P below its step: the next report when it has doubled; A fell as well.
      {0.95e-6, 5e-10, 0, 1e-6, 0, 0.5, at_half, 1e-9, 0.94e-6},
      {1e-6, 3e-9, 0, 1e-6, 0, 0.5, at_half, 4e-9, 0.99e-6},
      {1e-6, 1.01 * 2e-9, 2e-9, 1e-6, 0, 0.5, "", 2e-9, 1e-6},   // exactly 1.01 x is no rise
      {0.98e-6, 1e-10, 1e-9, 1e-6, 0, 1.5, at_1_5, 1.1e-9, 0.97e-6},
      {3.5e-8, 0, 1, 5e-8, 0, 1.5, at_1_5, 1e-9, 3.5e-11},       // below 3 steps: 0.001 A
      {0.99e-6, 0, 0, 1e-6, 0, 1.5, "", 0, 1e-6},                // exactly 0.99 x is no fall
      {1e-6, 0, 0, 1e-6, 0, 2, "", 0, 1e-6}, {1e-6, 0, 0, 1e-6, 0, 2.5, kStars, 0, 1e-6},
      {1e-6, 0, 0, 1e-6, 2.5, 2.6, "", 0, 1e-6},                 // not 5 % after the last
      {1e-6, 0, 0, 1e-6, 2.5, 2.7, kStars, 0, 1e-6}};
  // clang-format on
  for (const auto& row : rows) {
    SpeciesState s;
    s.A = row.A, s.P = row.P;
    RunParameters p{.A_report_step = 1e-8, .P_report_step = 1e-9};
    ReportLevels levels{row.P_level, row.A_level, row.last};
    ConsoleCapture console;
    const V verdict = check_consistency(s, row.time, p, levels, {console.file});
    SCOPED_TRACE(testing::Message() << "A " << row.A << " P " << row.P << " time " << row.time);
    EXPECT_EQ(verdict, row.message.empty() ? V::Continue : V::Report);
    EXPECT_EQ(console.text(), row.message);
    EXPECT_DOUBLE_EQ(levels.P_report_level, row.new_P_level);
    EXPECT_DOUBLE_EQ(levels.A_report_level, row.new_A_level);
    EXPECT_EQ(levels.last_report_time, row.message.empty() ? row.last : row.time);
  }
}

// The next block's length after one of `iterations` with `cycles` extra
// cycles that took `elapsed` s at a Basic Timestep of 2^-10 s, `total`
// iterations into the run. Then, at a Basic Timestep of 1 s, its halving or
// doubling strictly beyond 0.1 x and 0.8 x the average step after more than
// 1000 iterations, and the stop of a block that counted iterations without
// moving time.
TEST(BlockEnd, NextLengthBasicTimestepAndTimeThatStandsStill) {
  const double inf = std::numeric_limits<double>::infinity(), few = 100 * 0x1p-10;
  // clang-format off
  const struct {
    int cycles; double target2, length, total = 1e7; int iterations = 10; double elapsed = 1;
  } lengths[] = {
      {0, 7, 1e7}, {5, 7, 1e7} /* exactly half */, {6, 7, 4.5} /* lets 5 run */,
      {6, 7, 3e5, 1e7 - 1} /* young run */, {6, 7, 4.5, 1e7, 11, 11} /* 11 / 2 is 5 */,
      {6, 7, 1e7, 1e7, 10, few} /* exactly 10 x basic */, {6, 1e12, 1e7}, {6, 4.3e9, 1e7},
      {6, inf, 1e7}, {6, 2e7 - 2, 1e7}, {6, 2e7 - 4, 1e7 - 1} /* 32-bit counters */,
      {0, kNaN, 1e7}, {0, -8, 1e7}, {0, 0, 1e7}, {0, kNaN, 3e5, 0}, {0, 0, 3e5, 0}};
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
  const std::string up = "\n Basic Timestep has been increased to 2.000e+00";
  const std::string stop =
      "\nSimulated time did not advance during the last block. The computation has therefore "
      "been stopped\n";
  // clang-format off
  const struct {
    double total; int iterations; double elapsed, basic; std::string message;
  } rows[] = {
      {1001, 10, 0.5, 0.5, "\n Basic Timestep has been decreased to 5.000e-01"},
      {1001, 10, 9, 2, up}, {1001, 10, 1, 1, ""}, {1001, 10, 8, 1, ""}, {1000, 10, 0.5, 1, ""},
      {1000, 10, 9, 1, ""}, {5000, 0, 1e-3, 2, up} /* +infinity after a block of 0 */,
      {1, 1, 0, 1, stop}, {1, 300000, -1e-9, 1, stop}, {0, 0, 0, 1, ""}, {1, 1, 1e-300, 1, ""}};
  // clang-format on
  for (const auto& row : rows) {
    RunParameters p{.wanted_time = 10};
    RunProgress progress{
        .basic_timestep = 1, .total_iterations = row.total, .block_elapsed_time = row.elapsed};
    const BlockCounters finished{row.iterations};
    ConsoleCapture console;
    adapt_basic_timestep(progress, finished, console.file);
    stop_if_time_stands_still(p, progress, finished, console.file);
    EXPECT_EQ(console.text(), row.message) << row.total << " " << row.elapsed;
    EXPECT_EQ(progress.basic_timestep, row.basic);
    EXPECT_TRUE(p.run_stopped == (row.message == stop) &&
                p.wanted_time == (p.run_stopped ? 0 : 10));
  }
}

// A0 = 1e-6 and t = 100 s; with R = 1e-14 P grows by 1e-12 mol/L, far below
// every percentage, so the product level and the iteration count decide. The
// tests hold each on its own and print in order.
TEST(Termination, EachTestHoldsOnItsOwnAndPrintsInOrder) {
  auto more_than = [](std::string millions, const char* blank, std::string percent) {
    return "\nMore than " + millions +
           " million iterations have been performed for a total "
           "elapsed time of 1.00e+02 s.\n" +
           blank +
           " Extending the simulation to twice the "
           "current time would change P by less than " +
           percent +
           " percent of present product "
           "concentration. The computation has therefore been stopped\n";
  };
  const std::string k2500 = more_than("2500", " ", "1"), k3000 = more_than("3000", " ", "2"),
                    k10000 = more_than("10000", "", "3");
  const std::string stopped = " The computation has therefore been stopped\n";
  const std::string converted = "\n. Substrate has been almost completely converted. ";
  const std::string half =
      "Extending the simulation to twice the current time would change P by "
      "less than 0.5 percent of present product concentration." +
      stopped;
  const std::string k30000 =
      "\nMore than 30000 million iterations have been performed for a total elapsed time of "
      "1.00e+02 s.\n Extra 1.00e+02 seconds of kinetic information would change P by at most  "
      "1.00e-12 mol/L. The computation has been stopped to avoid wasting CPU resources.\n";
  // clang-format off
  const struct { double type, N, P, R; std::string message; } rows[] = {
      {2, 0, 0.99e-6, 0, ""},  // exactly 0.99 A0 is not more
      {1, 0, std::nextafter(0.99e-6, 1.0), 0, converted + stopped},
      {1, 0, 0.985e-6, 1e-14, converted + half},
      {2, 0, 0.985e-6, 1e-14, "\n" + half},  // the 98 % test is for MerA only
      {1, 2e10, 0.5e-6, 1e-14, ""},                    // the other P tests are not for MerA
      {2, 2e10, 0.5e-6, 1e-14, "\n" + half + k2500 + k3000 + k10000},
      {3, 3e9, 0.5e-6, 1e-14, "\n" + half + k2500},
      {7, 5e9, 0.15e-6, 1e-14, k2500} /* N > 5e9 for "3000 million" */,
      {7, 5e9 + 1, 0.15e-6, 1e-14, k2500 + k3000}, {1, 3e10, 0, 1e-14, ""},
      {1, 3e10 + 1, 0, 1e-14, k30000},  // t, t again, then R x t
      // A product that is not growing has not converged.
      {1, 2e10, 0.985e-6, 0, ""}, {1, 2e10, 0.985e-6, -1e-14, ""}, {3, 2e10, 0.5e-6, 0, ""},
      {3, 2e10, 0.5e-6, -1e-14, ""}};
  // clang-format on
  for (const auto& row : rows) {
    RunParameters p{.MoleculeType = row.type, .wanted_time = 1e4, .A0 = 1e-6};
    const RunProgress progress{
        .time = 100, .total_iterations = row.N, .rate_of_change_of_P = row.R};
    ConsoleCapture console;
    apply_termination_tests(p, progress, row.P, console.file);
    EXPECT_EQ(console.text(), row.message) << row.type << " " << row.N << " " << row.P;
    EXPECT_TRUE(p.run_stopped == !row.message.empty() &&
                p.wanted_time == (p.run_stopped ? 0 : 1e4));
  }
}

}  // namespace
}  // namespace tolvanex
