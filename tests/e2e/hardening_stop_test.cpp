// Runs whose simulated time cannot advance end by themselves, quickly, with
// exit status 0 and both files complete; runs whose time advances never see
// the no-advance stop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/program_runner.h"

namespace tolvanex::testing {
namespace {

const std::string kNoAdvance =
    "\nSimulated time did not advance during the last block. The computation has therefore been "
    "stopped\n";
const std::string kConverted =
    "\n. Substrate has been almost completely converted.  The computation has therefore been "
    "stopped\n";
const std::string kAReport = "A has changed significantly. printed new data at time  ";
const std::string kBlockReportEnd = "\n average time  ";

// Positions of the 46-argument form, counted from 1.
constexpr int kTimestep = 2;
constexpr int kEnzyme = 6;
constexpr int kAcceptor = 7;

std::vector<std::string> example(const std::string& name) {
  return read_argument_file(std::string(kSourceDir) + "/examples/" + name + ".args");
}

// The example's arguments with the position (counted from the end of the
// 46 user arguments, so the same for the 47-argument form) set to value.
std::vector<std::string> with(std::vector<std::string> arguments, int position,
                              const std::string& value) {
  arguments[arguments.size() - 46 + position - 1] = value;
  return arguments;
}

struct Tables {
  FileTable trace;
  FileTable flux;
};

Tables read_tables(const ProgramRun& run, const std::string& trace_name, bool organomercurial) {
  Tables t{read_trace_table(run.file(trace_name), organomercurial),
           read_flux_table(run.file("flux_analysis.txt"))};
  EXPECT_TRUE(t.trace.well_formed) << t.trace.problem;
  EXPECT_TRUE(t.flux.well_formed) << t.flux.problem;
  return t;
}

enum class Outcome {
  // Every step is 0: the first block counts all of its 300,000 iterations at
  // time 0 and the run stops on the no-advance test.
  NoAdvance,
  // The first step runs backwards and the guard finds a negative intermediate.
  GuardError,
  // A negative enzyme: A falls below 0.99 x its level at once (an A report in
  // the first iteration), and P = 0 is above 0.99 x A0 (termination test 1).
  ConvertedAtOnce,
};

struct StuckCase {
  const char* what;
  const char* example;
  int position;
  const char* value;
  Outcome outcome;
  const char* console_end;  // what the console ends with (after the last block report)
  const char* row_time;     // the one block row's time
  const char* row_A;        // and its HgMerB and Thiol columns
  const char* row_S;
};

// A Basic Timestep of 0 gives every rule a step of 0 (every ratio is 0, no
// first amount is formed, S cannot pass S0), so nothing moves; the average
// step 0 is not below 0.1 x 0, so the Basic Timestep stays.
//
// A Basic Timestep of -5: the acceptor is consumed (dS < 0), so S + (-5) dS
// passes S0 with no room left: the overshoot rule makes the step -0, the cap
// (-0 > 10 x -5) then makes it -50, and C = -50 dC < 0 fails the guard. The
// run must stop although the time (-50) is still below the wanted time.
//
// A negative acceptor splits into negative thiol and thiolate, which turns
// flux23 (D from A and thiolate, backwards) positive, so dS > 0 with S = S0:
// no room under the overshoot rule, and every step is 0. The average step 0
// is below 0.1 x 1e-6 after 300,000 iterations: the Basic Timestep halves.
const StuckCase kStuckCases[] = {
    {"timestep 0", "mera", kTimestep, "0", Outcome::NoAdvance,
     "\n average time  0.000e+00   target2 1.000e+01 ", "0.0000000000e+00", "1.00000e-06",
     "1.00000e-03"},
    {"timestep abc", "mera", kTimestep, "abc", Outcome::NoAdvance,
     "\n average time  0.000e+00   target2 1.000e+01 ", "0.0000000000e+00", "1.00000e-06",
     "1.00000e-03"},
    {"timestep empty", "dithiothreitol", kTimestep, "", Outcome::NoAdvance,
     "\n average time  0.000e+00   target2 1.000e+01 ", "0.0000000000e+00", "1.00000e-06",
     "1.00000e-03"},
    {"timestep 0, organomercurial", "organomercurial", kTimestep, "0", Outcome::NoAdvance,
     "\n average time  0.000e+00   target2 1.000e+01 ", "0.0000000000e+00", "0.00000e+00",
     "1.00000e-03"},
    {"acceptor -1e-3", "mera", kAcceptor, "-1e-3", Outcome::NoAdvance,
     "\n average time  0.000e+00   target2 1.000e+01 \n Basic Timestep has been decreased to "
     "5.000e-07",
     "0.0000000000e+00", "1.00000e-06", "-1.00000e-03"},
    {"acceptor -1e-3, dithiol", "dithiothreitol", kAcceptor, "-1e-3", Outcome::NoAdvance,
     "\n average time  0.000e+00   target2 1.000e+01 \n Basic Timestep has been decreased to "
     "5.000e-07",
     "0.0000000000e+00", "1.00000e-06", "-1.00000e-03"},
    {"timestep -5", "mera", kTimestep, "-5", Outcome::GuardError, "", "-5.0000000000e+01", nullptr,
     nullptr},
    {"enzyme -1e-6", "mera", kEnzyme, "-1e-6", Outcome::ConvertedAtOnce, kConverted.c_str(),
     "0.0000000000e+00", "-1.00000e-06", "1.00000e-03"},
};

TEST(HardeningStop, RunsThatCannotAdvanceEndAfterOneBlock) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const StuckCase& c : kStuckCases) {
      SCOPED_TRACE(std::string(program) + ": " + c.what);
      const std::vector<std::string> arguments = with(example(c.example), c.position, c.value);
      const bool organomercurial = arguments.size() == 47;
      const ProgramRun run = run_program_in(program, arguments, "", 60);
      ASSERT_EQ(run.exit_status, 0) << run.standard_error;
      EXPECT_EQ(run.standard_error, "");
      EXPECT_EQ(count_occurrences(run.standard_output, kBlockReportEnd), 1);
      const Tables t = read_tables(run, arguments.back(), organomercurial);
      ASSERT_EQ(t.trace.rows.size(), 1u);
      ASSERT_EQ(t.flux.rows.size(), 1u);
      EXPECT_EQ(t.trace.rows[0][0], c.row_time);
      EXPECT_EQ(t.flux.rows[0][0], c.row_time);
      if (c.row_A) {
        EXPECT_EQ(t.trace.rows[0][1], c.row_A);
      }
      if (c.row_S) {
        EXPECT_EQ(t.trace.rows[0][2], c.row_S);
      }
      switch (c.outcome) {
        case Outcome::NoAdvance:
          EXPECT_TRUE(run.standard_output.ends_with(c.console_end + kNoAdvance))
              << run.standard_output.substr(run.standard_output.size() - 300);
          EXPECT_EQ(count_occurrences(run.standard_output, kNoAdvance), 1);
          EXPECT_NE(
              run.standard_output.find(
                  "\n   300000  iterations were performed for   0.00000e+00  s of simulation."),
              std::string::npos);
          // Nothing moved: every flux total is still 0.
          for (std::size_t i = 1; i < t.flux.rows[0].size(); ++i) {
            EXPECT_EQ(std::strtod(t.flux.rows[0][i].c_str(), nullptr), 0) << i;
          }
          EXPECT_EQ(t.trace.error_reports, 0);
          break;
        case Outcome::GuardError:
          EXPECT_EQ(t.trace.error_reports, 1);
          EXPECT_NE(run.file(arguments.back()).find(" elapsed time is -5.000000000e+01  \n"),
                    std::string::npos);
          EXPECT_NE(run.standard_output.find("\n        0  iterations were performed for   "
                                             "-5.00000e+01  s of simulation."),
                    std::string::npos);
          EXPECT_EQ(count_occurrences(run.standard_output, kNoAdvance), 0);
          break;
        case Outcome::ConvertedAtOnce:
          EXPECT_EQ(count_occurrences(run.standard_output, kAReport), 1);
          EXPECT_TRUE(run.standard_output.ends_with(c.console_end));
          EXPECT_EQ(count_occurrences(run.standard_output, kNoAdvance), 0);
          EXPECT_EQ(t.trace.error_reports, 0);
          break;
      }
    }
  }
}

// Runs whose time advances: every block moves the time forward and none of
// them meets the no-advance stop; the runs end on their own tests.
TEST(HardeningStop, RunsWhoseTimeAdvancesAreNotStopped) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const char* name : {"mera", "organomercurial"}) {
      SCOPED_TRACE(std::string(program) + ": " + name);
      const std::vector<std::string> arguments = example(name);
      const ProgramRun run = run_program_in(program, arguments, "", 120);
      ASSERT_EQ(run.exit_status, 0) << run.standard_error;
      EXPECT_EQ(run.standard_error, "");
      EXPECT_EQ(count_occurrences(run.standard_output, kNoAdvance), 0);
      EXPECT_EQ(count_occurrences(run.standard_output, "Simulated time"), 0);
      EXPECT_TRUE(run.standard_output.ends_with(kConverted));
      const Tables t = read_tables(run, arguments.back(), arguments.size() == 47);
      ASSERT_GT(t.trace.rows.size(), 10u);
      EXPECT_EQ(t.trace.rows.size(), t.flux.rows.size());
      EXPECT_EQ(static_cast<int>(t.trace.rows.size()),
                count_occurrences(run.standard_output, kBlockReportEnd));
      double previous = 0;
      for (const auto& row : t.trace.rows) {
        const double time = std::strtod(row[0].c_str(), nullptr);
        EXPECT_GT(time, previous);
        previous = time;
      }
    }
  }
}

// A wanted time that is reached in the first block, for comparison: one
// block, no stop message at all.
TEST(HardeningStop, ReachingTheWantedTimeIsNoStop) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    SCOPED_TRACE(program);
    const std::vector<std::string> arguments = with(example("mera"), 5, "1e-9");
    const ProgramRun run = run_program_in(program, arguments, "", 60);
    ASSERT_EQ(run.exit_status, 0);
    EXPECT_EQ(count_occurrences(run.standard_output, "stopped"), 0);
    const Tables t = read_tables(run, arguments.back(), false);
    ASSERT_EQ(t.trace.rows.size(), 1u);
    EXPECT_GT(std::strtod(t.trace.rows[0][0].c_str(), nullptr), 1e-9);
  }
}

}  // namespace
}  // namespace tolvanex::testing
