// Odd arguments, which are read as atof reads them and never refused: a run
// whose simulated time cannot advance stops after one block, and a run on
// any bad value ends by itself with status 0 and both files complete.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <utility>
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

// How a run ends: the no-advance stop after one block at time 0, the
// consistency guard after one block at time -50, or conversion after many.
enum class End { NoAdvance, Guard, Converted };

// A Basic Timestep (position 2) of text, which atof reads as 0, gives every
// rule a step of 0. A negative acceptor (position 7) turns the thiolate
// route backwards, so dS > 0 with S = S0: the overshoot rule leaves no room
// and every step is 0. A Basic Timestep of -5 makes the first step -50 (the
// overshoot rule gives -0, the cap 10 x -5 then -50), and the guard finds a
// negative intermediate: the run must end although its time is still below
// the wanted time. The unchanged examples advance.
const struct StopCase {
  const char* example;
  std::vector<std::pair<int, std::string>> changes;  // (position, value)
  End end;
} kStopCases[] = {
    {"organomercurial", {{2, "abc"}}, End::NoAdvance},
    {"dithiothreitol", {{7, "-1e-3"}}, End::NoAdvance},
    {"mera", {{2, "-5"}}, End::Guard},
    {"mera", {}, End::Converted},
    {"organomercurial", {}, End::Converted},
};

TEST(HardeningStop, OnlyRunsThatCannotAdvanceAreStopped) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const StopCase& c : kStopCases) {
      const auto arguments = example_arguments(c.example, c.changes);
      SCOPED_TRACE(std::string(program) + ": " + c.example + " case " +
                   std::to_string(&c - kStopCases));
      const ProgramRun run = run_program_in(program, arguments, "", 30);
      ASSERT_EQ(run.exit_status, 0) << run.standard_error;
      EXPECT_EQ(run.standard_error, "");
      EXPECT_EQ(count_occurrences(run.standard_output, kNoAdvance), c.end == End::NoAdvance);
      EXPECT_TRUE(c.end == End::Guard ||
                  run.standard_output.ends_with(c.end == End::NoAdvance ? kNoAdvance : kConverted));
      EXPECT_EQ(count_occurrences(run.file(arguments.back()), "  Error: computations yield"),
                c.end == End::Guard);
      const auto [trace, flux] = expect_complete_files(run, arguments);
      if (c.end == End::Converted) {
        EXPECT_GT(trace.rows.size(), 10u);
        continue;
      }
      ASSERT_EQ(trace.rows.size(), 1u);
      ASSERT_EQ(flux.rows.size(), 1u);
      const std::string time = c.end == End::Guard ? "-5.0000000000e+01" : "0.0000000000e+00";
      EXPECT_EQ(trace.rows[0][0], time);
      EXPECT_EQ(flux.rows[0][0], time);
    }
  }
}

// The battery: every position in turn given each of these values, on the
// MerA example (the organomercurial one for the first argument of the
// 47-argument form, position 0) with a wanted time of 1e-4 s. Left out,
// because they make runs that are long by their very rules while they do
// progress: a target2 (position 1) of inf or 1e308, with which the tightening
// check (up to 30 trial evaluations) runs in every iteration and the Basic
// Timestep halves block after block; a Basic Timestep of 1e-320, which needs
// about a thousand doublings, one per block, before a step matters.
// Shortened to a wanted time of 1e-300 s, so that their first block ends
// them: a barrier (positions 8 to 45) below 1 kcal/mol, which gives a rate
// constant near or far above the prefactor 6.2e12/s, and a pH below 0 (an H+
// concentration of 1e5 mol/L for -5): their steps shrink to 1e-14 s and
// below, and even 1e-6 s can take 1e10 iterations.
const char* const kBadValues[] = {"",     "abc", "1e-6xyz", "0x1p-20", "  7.4", "inf",
                                  "-inf", "nan", "-5",      "1e308",   "1e-320"};

// Runs the battery on one program, four runs at a time, checking each run
// as it ends.
void run_battery(const char* program) {
  struct Case {
    int position;
    std::string value;
    std::vector<std::string> arguments;
  };
  std::deque<std::pair<Case, StartedProgram>> running;
  auto finish_oldest = [&] {
    const Case c = std::move(running.front().first);
    const ProgramRun run = running.front().second.wait();
    running.pop_front();
    SCOPED_TRACE("position " + std::to_string(c.position) + " = '" + c.value + "'");
    if (c.arguments.back().empty()) {  // names no file: the open fails before any output
      EXPECT_EQ(run.exit_status, 1);
      EXPECT_EQ(run.standard_error, "tolvanex: cannot open : No such file or directory\n");
      EXPECT_FALSE(run.has_file("flux_analysis.txt"));
      return;
    }
    ASSERT_EQ(run.exit_status, 0);  // before the files are read: a run that hung leaves big ones
    if (c.position == 4) {          // none of the values is a known type of molecule
      EXPECT_TRUE(run.standard_error.starts_with("tolvanex: warning: type of molecule "));
      EXPECT_EQ(count_occurrences(run.standard_error, "\n"), 1) << run.standard_error;
    } else {
      EXPECT_EQ(run.standard_error, "");
    }
    expect_complete_files(run, c.arguments);
  };
  for (int position = 0; position <= 46; ++position) {
    for (const std::string value : kBadValues) {
      if ((position == 1 && (value == "inf" || value == "1e308")) ||
          (position == 2 && value == "1e-320")) {
        continue;
      }
      const double number = std::atof(value.c_str());
      const bool shortened =
          (position >= 8 && position <= 45 && number < 1) || (position == 3 && number < 0);
      if (running.size() >= 4) finish_oldest();
      Case c{position, value,
             example_arguments(position == 0 ? "organomercurial" : "mera",
                               {{5, shortened ? "1e-300" : "1e-4"}, {position, value}})};
      running.emplace_back(std::piecewise_construct, std::forward_as_tuple(c),
                           std::forward_as_tuple(program, c.arguments, "", 60));
    }
  }
  while (!running.empty()) finish_oldest();
}

TEST(HardeningBattery, FullProgram) { run_battery(kFullProgram); }

TEST(HardeningBattery, UnprunedProgram) { run_battery(kUnprunedProgram); }

// The file checks have teeth: the same files cut short, with two numbers run
// together or without their header fail them.
TEST(HardeningBattery, FileChecksRejectIncompleteFiles) {
  const auto arguments = example_arguments("mera", {{5, "1e-4"}});
  const ProgramRun run = run_program_in(kFullProgram, arguments);
  ASSERT_GE(expect_complete_files(run, arguments).trace.rows.size(), 3u);
  const std::string trace = run.file(arguments.back()), flux = run.file("flux_analysis.txt");
  EXPECT_FALSE(read_trace_table(trace, true).well_formed);  // 17 columns are not 18
  for (const std::string* text : {&trace, &flux}) {
    std::string joined = *text;  // the first tab of the last but one line removed
    joined.erase(joined.find('\t', joined.rfind('\n', joined.rfind('\n') - 1)), 1);
    for (const std::string& broken :
         {text->substr(0, text->size() - 1), text->substr(0, text->rfind('\t')),
          text->substr(0, text->rfind('\n') + 1), joined,
          text->substr(0, text->find(text == &trace ? "apoMerB" : "flux39"))}) {
      EXPECT_FALSE(text == &trace ? read_trace_table(broken, false).well_formed
                                  : read_flux_table(broken).well_formed)
          << broken.substr(broken.size() - 80);
    }
  }
}

// A sanitizer report on a program's standard error fails the test that ran
// it, even one that looks at nothing but the files.
TEST(HardeningBattery, SanitizerReportsFailTheTest) {
  const std::string script = make_fresh_folder() + "/report.sh";
  write_file(script, "#!/bin/sh\necho 'a.cpp:12:3: runtime error: signed integer overflow' >&2\n");
  chmod(script.c_str(), 0755);
  EXPECT_NONFATAL_FAILURE(run_program_in(script, {}), "sanitizer finding");
  write_file(script, "#!/bin/sh\necho 'tolvanex: cannot write x' >&2\nexit 1\n");
  EXPECT_EQ(run_program_in(script, {}).exit_status, 1);  // and nothing else does
}

}  // namespace
}  // namespace tolvanex::testing
