// Run control: the guard's verdict after every advance, the next block's
// length, the halving and doubling of the Basic Timestep, the termination
// tests and the stop of a run whose time no longer moves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "run/block_loop.h"

namespace tolvanex {
namespace {

struct Capture {
  std::FILE* file = std::tmpfile();
  std::string text() {
    std::string s;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) s += static_cast<char>(c);
    return s;
  }
  ~Capture() { std::fclose(file); }
};

const std::string kStars = "\n*************************************************************** \n";
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A0 = 1e-6: A reports every 1e-8 mol/L, P every 1e-9 mol/L of product.
struct GuardCase {
  SpeciesState s;
  RunParameters p;
  ReportLevels levels;
  Capture console, trace;
  GuardCase() {
    p.A0 = 1e-6, p.A_report_step = 1e-8, p.P_report_step = 1e-9, p.wanted_time = 500;
    s.A = 1e-6, levels.A_report_level = 1e-6;
  }
  IterationVerdict check(double time) {
    OutputStreams out;
    out.console = console.file, out.trace = trace.file;
    return check_consistency(s, time, p, levels, out);
  }
};

TEST(Guard, ANegativeProductStopsTheRunWithTwoTraceLines) {
  GuardCase g;
  g.s.P = -1e-300;
  g.levels.P_report_level = 1;
  EXPECT_EQ(g.check(1.23456789), IterationVerdict::Error);
  EXPECT_EQ(
      g.trace.text(),
      " \n  \n  \n  Error: computations yield negative concentrations of intermediates or free "
      "amounts of substrate larger than the inicial ones\n elapsed time is 1.234567890e+00  "
      "\n ");
  EXPECT_EQ(g.console.text(), "");
  EXPECT_EQ(g.p.wanted_time, 0);
  EXPECT_TRUE(g.p.run_stopped);
  EXPECT_EQ(g.levels.P_report_level, 1);  // no trigger is looked at
}

TEST(Guard, OnlyIntermediatesFreeEnzymeAndProductAreGuarded) {
  using S = SpeciesState;
  for (auto field : {&S::C, &S::D, &S::E, &S::F, &S::G, &S::I, &S::J, &S::K, &S::L, &S::M, &S::N,
                     &S::O1, &S::O2, &S::O3, &S::P, &S::Q}) {
    // A NaN is named a failure for C to P; Q is only required to be >= 0.
    for (double bad : {-1e-300, field == &S::Q ? -1e-300 : kNaN}) {
      GuardCase g;
      g.s.*field = bad;
      EXPECT_EQ(g.check(0.5), IterationVerdict::Error) << bad;
    }
    GuardCase zero;
    zero.s.*field = -0.0;
    EXPECT_EQ(zero.check(0.5), IterationVerdict::Continue);
  }
  for (auto field : {&S::A, &S::S, &S::MerB, &S::ES, &S::PHMB, &S::organic, &S::apoMerB}) {
    GuardCase g;
    g.s.*field = -1e-9;
    EXPECT_NE(g.check(0.5), IterationVerdict::Error);
    EXPECT_EQ(g.p.wanted_time, 500);
    EXPECT_EQ(g.trace.text(), "");
  }
}

TEST(Guard, ProductTriggerComesFirstAndSetsBothLevels) {
  GuardCase g;
  g.s.A = 0.95e-6;  // A has fallen as well
  g.s.P = 5e-10;    // below its report step: the next report waits for P to double
  EXPECT_EQ(g.check(0.5), IterationVerdict::Report);
  EXPECT_EQ(
      g.console.text(),
      kStars + "\n Product changed significantly. printed new data at time  5.0000e-01     \n  ");
  EXPECT_DOUBLE_EQ(g.levels.P_report_level, 1e-9);
  EXPECT_DOUBLE_EQ(g.levels.A_report_level, 0.94e-6);
  EXPECT_EQ(g.levels.last_report_time, 0.5);
  GuardCase large;  // above the step: P + step
  large.s.P = 3e-9;
  EXPECT_EQ(large.check(0.5), IterationVerdict::Report);
  EXPECT_DOUBLE_EQ(large.levels.P_report_level, 4e-9);
  GuardCase edge;  // exactly 1.01 x the level is no rise
  edge.levels.P_report_level = 2e-9;
  edge.s.P = 1.01 * 2e-9;
  EXPECT_EQ(edge.check(0.5), IterationVerdict::Continue);
}

TEST(Guard, ATriggerAndTheThreeStepsRule) {
  GuardCase g;
  g.s.A = 0.98e-6, g.s.P = 1e-10, g.levels.P_report_level = 1e-9;
  EXPECT_EQ(g.check(1.5), IterationVerdict::Report);
  EXPECT_EQ(g.console.text(),
            kStars + "A has changed significantly. printed new data at time  1.5000e+00      \n  ");
  EXPECT_DOUBLE_EQ(g.levels.P_report_level, 1.1e-9);
  EXPECT_DOUBLE_EQ(g.levels.A_report_level, 0.97e-6);
  EXPECT_EQ(g.levels.last_report_time, 1.5);
  GuardCase scarce;  // A - step = 2.5e-8 is below 3 steps: 0.001 A instead
  scarce.s.A = 3.5e-8, scarce.levels.A_report_level = 5e-8, scarce.levels.P_report_level = 1;
  EXPECT_EQ(scarce.check(1.5), IterationVerdict::Report);
  EXPECT_DOUBLE_EQ(scarce.levels.A_report_level, 3.5e-11);
  GuardCase edge;  // exactly 0.99 x the level is no fall
  edge.s.A = 0.99 * 1e-6;
  EXPECT_EQ(edge.check(1.5), IterationVerdict::Continue);
}

TEST(Guard, TimeTriggerAfterTwoSecondsAndFivePercent) {
  GuardCase g;
  EXPECT_EQ(g.check(2), IterationVerdict::Continue);
  EXPECT_EQ(g.check(2.5), IterationVerdict::Report);
  EXPECT_EQ(g.console.text(), kStars);
  EXPECT_EQ(g.check(2.6), IterationVerdict::Continue);  // not above 1.05 x 2.5
  EXPECT_EQ(g.check(2.7), IterationVerdict::Report);
  EXPECT_EQ(g.levels.last_report_time, 2.7);
  EXPECT_EQ(g.levels.P_report_level, 0);
  EXPECT_EQ(g.levels.A_report_level, 1e-6);
}

// A finished block of 10 iterations whose steps averaged about 100 x the
// Basic Timestep, late in a run: the extra cycles decide the next length.
double next_length(int extra_cycles, double target2, double total = 1e7, int iterations = 10,
                   double elapsed = 1) {
  RunParameters p;
  p.target2 = target2;
  RunProgress progress;
  progress.total_iterations = total;
  progress.basic_timestep = 0x1p-10;
  progress.block_elapsed_time = elapsed;
  BlockCounters finished;
  finished.iterations = iterations;
  finished.extra_cycles = extra_cycles;
  return next_block_length(p, progress, finished);
}

TEST(BlockLength, ShortBlocksFollowBlocksBusyWithTightening) {
  EXPECT_EQ(next_length(0, 7), 1e7);
  EXPECT_EQ(next_length(5, 7), 1e7);                 // exactly half the iterations
  EXPECT_EQ(next_length(6, 7), 4.5);                 // lets the block run 5 iterations
  EXPECT_EQ(next_length(6, 7, 11, 11, 11), 300000);  // young run
  EXPECT_EQ(next_length(6, 7, 1e7, 11, 11), 4.5);
  EXPECT_EQ(next_length(6, 7, 1e7, 10, 100 * 0x1p-10), 1e7);  // average exactly 10 x basic
  // The block counters are 32-bit: never more than 10,000,000.
  for (double target2 : {1e12, 4.3e9, std::numeric_limits<double>::infinity(), 2e7 - 2})
    EXPECT_EQ(next_length(6, target2), 1e7) << target2;
  EXPECT_EQ(next_length(6, 2e7 - 4), 1e7 - 1);
  // NaN, negative or zero target2 never tightens, so no block collects cycles.
  for (double target2 : {kNaN, -8.0, 0.0}) {
    EXPECT_EQ(next_length(0, target2), 1e7);
    EXPECT_EQ(next_length(0, target2, 0), 300000);
  }
}

std::string adapt(double total, int iterations, double elapsed, double expected_basic) {
  RunProgress progress;
  progress.basic_timestep = 1;
  progress.total_iterations = total;
  progress.block_elapsed_time = elapsed;
  BlockCounters finished;
  finished.iterations = iterations;
  Capture console;
  adapt_basic_timestep(progress, finished, console.file);
  EXPECT_EQ(progress.basic_timestep, expected_basic) << total << " " << elapsed;
  return console.text();
}

TEST(BlockLoopTimestep, HalvedOrDoubledOnlyStrictlyBeyondItsBounds) {
  EXPECT_EQ(adapt(1001, 10, 0.5, 0.5), "\n Basic Timestep has been decreased to 5.000e-01");
  EXPECT_EQ(adapt(1001, 10, 9, 2), "\n Basic Timestep has been increased to 2.000e+00");
  EXPECT_EQ(adapt(1001, 10, 1, 1), "");    // average exactly 0.1 x basic
  EXPECT_EQ(adapt(1001, 10, 8, 1), "");    // exactly 0.8 x
  EXPECT_EQ(adapt(1000, 10, 0.5, 1), "");  // not more than 1000 iterations
  EXPECT_EQ(adapt(1000, 10, 9, 1), "");
  // A block that ended at its first iteration averages +infinity.
  EXPECT_EQ(adapt(5000, 0, 1e-3, 2), "\n Basic Timestep has been increased to 2.000e+00");
}

const std::string kConverted =
    "\n. Substrate has been almost completely converted.  The computation has therefore been "
    "stopped\n";
const std::string kMerAConverged =
    "\n. Substrate has been almost completely converted. Extending the simulation to twice the "
    "current time would change P by less than 0.5 percent of present product concentration. The "
    "computation has therefore been stopped\n";
const std::string kConverged =
    "\nExtending the simulation to twice the current time would change P by less than 0.5 percent "
    "of present product concentration. The computation has therefore been stopped\n";
std::string more_than(const char* millions, const char* blank, const char* percent) {
  return std::string("\nMore than ") + millions +
         " million iterations have been performed for a total elapsed time of 1.00e+02 s.\n" +
         blank +
         " Extending the simulation to twice the current time would change P by less than " +
         percent +
         " percent of present product concentration. The computation has therefore been "
         "stopped\n";
}
const std::string k2500 = more_than("2500", " ", "1"), k3000 = more_than("3000", " ", "2"),
                  k10000 = more_than("10000", "", "3");
const std::string k30000 =
    "\nMore than 30000 million iterations have been performed for a total elapsed time of "
    "1.00e+02 s.\n Extra 1.00e+02 seconds of kinetic information would change P by at most  "
    "1.00e-12 mol/L. The computation has been stopped to avoid wasting CPU resources.\n";

// A0 = 1e-6 and t = 100 s; P grows by R x t = 1e-12 mol/L, far below every
// percentage, so the product level and the iteration count decide.
std::string terminate(double type, double N, double P, double R = 1e-14) {
  RunParameters p;
  p.A0 = 1e-6, p.MoleculeType = type, p.wanted_time = 1e4;
  RunProgress progress;
  progress.time = 100, progress.rate_of_change_of_P = R, progress.total_iterations = N;
  Capture console;
  apply_termination_tests(p, progress, P, console.file);
  const std::string text = console.text();
  EXPECT_EQ(p.wanted_time == 0, !text.empty());
  EXPECT_EQ(p.run_stopped, !text.empty());
  return text;
}

TEST(Termination, EachTestHoldsOnItsOwnAndPrintsInOrder) {
  EXPECT_EQ(terminate(2, 0, 0.99 * 1e-6, 0), "");  // exactly 0.99 A0 is not more
  EXPECT_EQ(terminate(1, 0, std::nextafter(0.99 * 1e-6, 1.0), 0), kConverted);
  EXPECT_EQ(terminate(1, 0, 0.985e-6), kMerAConverged);
  EXPECT_EQ(terminate(2, 0, 0.985e-6), kConverged);  // the 98 % test is for MerA only
  EXPECT_EQ(terminate(1, 2e10, 0.5e-6), "");         // the other P tests are not for MerA
  EXPECT_EQ(terminate(2, 2e10, 0.5e-6), kConverged + k2500 + k3000 + k10000);
  EXPECT_EQ(terminate(3, 3e9, 0.5e-6), kConverged + k2500);  // both print, in order
  EXPECT_EQ(terminate(7, 5e9, 0.15e-6), k2500);              // "3000 million" needs N > 5e9
  EXPECT_EQ(terminate(7, 5e9 + 1, 0.15e-6), k2500 + k3000);
  EXPECT_EQ(terminate(1, 3e10, 0), "");
  EXPECT_EQ(terminate(1, 3e10 + 1, 0), k30000);  // t, t again, then R x t
}

TEST(Termination, AProductThatIsNotGrowingHasNotConverged) {
  for (double R : {0.0, -1e-14}) {
    EXPECT_EQ(terminate(1, 2e10, 0.985e-6, R), "");
    EXPECT_EQ(terminate(3, 2e10, 0.5e-6, R), "");
  }
}

TEST(Termination, TimeThatStandsStillStopsTheRun) {
  const std::string message =
      "\nSimulated time did not advance during the last block. The computation has therefore "
      "been stopped\n";
  const struct {
    int iterations;
    double elapsed;
    bool stops;
  } rows[] = {{1, 0, true}, {300000, -1e-9, true}, {0, 0, false}, {1, 1e-300, false}};
  for (const auto& row : rows) {
    RunParameters p;
    p.wanted_time = 10;
    RunProgress progress;
    progress.block_elapsed_time = row.elapsed;
    BlockCounters finished;
    finished.iterations = row.iterations;
    Capture console;
    stop_if_time_stands_still(p, progress, finished, console.file);
    EXPECT_EQ(console.text(), row.stops ? message : "") << row.iterations << " " << row.elapsed;
    EXPECT_EQ(p.run_stopped, row.stops);
    EXPECT_EQ(p.wanted_time, row.stops ? 0 : 10);
  }
}

}  // namespace
}  // namespace tolvanex
