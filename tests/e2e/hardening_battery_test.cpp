// Bad arguments: every position of the command line in turn given text that
// is no number, half a number, hexadecimal, leading blanks, infinities, NaN,
// a negative number, a huge and a subnormal one. Arguments are read as atof
// reads them and never refused, so every run must end by itself with status
// 0, nothing on standard error (beyond the warning for an unknown type of
// molecule), and both files well formed: complete headers, every row with
// its full column count, as many rows in each file as block reports on the
// console, and the same times in both.
//
// The runs are the MerA example (and, for the organomercurial argument of the
// 47-argument form, the organomercurial example) with a short wanted time,
// 1e-4 s, which the unchanged MerA run reaches in 28 blocks.
//
// Left out, because they make runs that are long by their very rules while
// they do progress:
//  - target2 (position 1) of inf or 1e308: the tightening check (up to 30
//    trial evaluations) runs in every iteration of every block and keeps the
//    steps short, the Basic Timestep halves block after block (to 3e-17 s
//    within ten seconds of computing), and 1e-4 s stays out of reach;
//  - a Basic Timestep (position 2) of 1e-320: it needs about a thousand
//    doublings, one per block, before a step is long enough to matter.
// Shortened: a barrier (positions 8 to 45) below 1 kcal/mol gives a rate
// constant near the prefactor 6.2e12/s or, for a negative one, far above it
// (2.9e16/s for -5), and a pH of -5 an H+ concentration of 1e5 mol/L; the
// steps then shrink to 1e-14 s and far below, and even 1e-6 s of simulated
// time can take 1e10 iterations and more. These runs get a wanted time of
// 1e-300 s, so that their first block (300,000 iterations at most) ends them.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/program_runner.h"

namespace tolvanex::testing {
namespace {

const char* const kBadValues[] = {"",     "abc", "1e-6xyz", "0x1p-20", "  7.4", "inf",
                                  "-inf", "nan", "-5",      "1e308",   "1e-320"};

constexpr int kTarget2 = 1;
constexpr int kTimestep = 2;
constexpr int kPH = 3;
constexpr int kMoleculeType = 4;
constexpr int kWantedTime = 5;
constexpr int kFirstBarrier = 8;
constexpr int kLastBarrier = 45;
constexpr int kTraceName = 46;

const char* const kWantedTimeUsed = "1e-4";
const char* const kShortWantedTime = "1e-300";

const std::string kMoleculeWarning = "tolvanex: warning: type of molecule ";

bool left_out(int position, const std::string& value) {
  if (position == kTarget2) return value == "inf" || value == "1e308";
  if (position == kTimestep) return value == "1e-320";
  return false;
}

bool needs_short_wanted_time(int position, const std::string& value) {
  const double number = std::atof(value.c_str());
  if (position >= kFirstBarrier && position <= kLastBarrier) return number < 1;
  if (position == kPH) return number < 0;
  return false;
}

struct BatteryCase {
  std::string what;
  std::vector<std::string> arguments;
  bool organomercurial = false;
  bool molecule_type_unknown = false;
  bool trace_cannot_open = false;
};

std::vector<std::string> example(const std::string& name) {
  return read_argument_file(std::string(kSourceDir) + "/examples/" + name + ".args");
}

std::vector<BatteryCase> battery() {
  std::vector<BatteryCase> cases;
  const std::vector<std::string> base = example("mera");
  for (int position = 1; position <= 46; ++position) {
    for (const char* value : kBadValues) {
      if (left_out(position, value)) continue;
      BatteryCase c;
      c.what = "position " + std::to_string(position) + " = '" + value + "'";
      c.arguments = base;
      c.arguments[kWantedTime - 1] =
          needs_short_wanted_time(position, value) ? kShortWantedTime : kWantedTimeUsed;
      c.arguments[position - 1] = value;
      c.molecule_type_unknown = position == kMoleculeType;  // none of the values is 1, 2 or 3
      c.trace_cannot_open = position == kTraceName && std::string(value).empty();
      cases.push_back(c);
    }
  }
  const std::vector<std::string> organomercurial = example("organomercurial");
  for (const char* value : kBadValues) {
    BatteryCase c;
    c.what = "organomercurial argument = '" + std::string(value) + "'";
    c.arguments = organomercurial;
    c.arguments[1 + kWantedTime - 1] = kWantedTimeUsed;
    c.arguments[0] = value;
    c.organomercurial = true;
    cases.push_back(c);
  }
  return cases;
}

void check(const BatteryCase& c, const ProgramRun& run) {
  SCOPED_TRACE(c.what);
  const std::string& trace_name = c.arguments.back();
  if (c.trace_cannot_open) {
    // An empty path names no file: the open fails before anything is written.
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.standard_error, "tolvanex: cannot open : No such file or directory\n");
    EXPECT_EQ(run.standard_output, "");
    EXPECT_FALSE(run.has_file("flux_analysis.txt"));
    return;
  }
  ASSERT_EQ(run.exit_status, 0) << run.standard_error;
  if (c.molecule_type_unknown) {
    EXPECT_TRUE(run.standard_error.starts_with(kMoleculeWarning)) << run.standard_error;
    EXPECT_EQ(count_occurrences(run.standard_error, "\n"), 1) << run.standard_error;
    EXPECT_TRUE(run.standard_error.ends_with("\n"));
  } else {
    EXPECT_EQ(run.standard_error, "");
  }
  const FileTable trace = read_trace_table(run.file(trace_name), c.organomercurial);
  const FileTable flux = read_flux_table(run.file("flux_analysis.txt"));
  ASSERT_TRUE(trace.well_formed) << trace.problem;
  ASSERT_TRUE(flux.well_formed) << flux.problem;
  const int reports = count_occurrences(run.standard_output, "\n average time  ");
  EXPECT_EQ(static_cast<int>(trace.rows.size()), reports);
  ASSERT_EQ(trace.rows.size(), flux.rows.size());
  for (std::size_t i = 0; i < trace.rows.size(); ++i) {
    EXPECT_EQ(trace.rows[i][0], flux.rows[i][0]) << "row " << i;
  }
  EXPECT_EQ(count_occurrences(run.file("flux_analysis.txt"),
                              "Flux analysis for run " + trace_name + " \n"),
            1);
}

// Runs the cases of one program, a few at a time (the machine's cores), and
// checks each as it ends.
void run_battery(const char* program) {
  const std::vector<BatteryCase> cases = battery();
  const unsigned parallel = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  std::deque<std::pair<const BatteryCase*, std::unique_ptr<StartedProgram>>> running;
  auto finish_oldest = [&] {
    const BatteryCase* c = running.front().first;
    const ProgramRun run = running.front().second->wait();
    running.pop_front();
    check(*c, run);
  };
  for (const BatteryCase& c : cases) {
    if (running.size() >= parallel) finish_oldest();
    running.emplace_back(&c, start_program_in(program, c.arguments, "", 120));
  }
  while (!running.empty()) finish_oldest();
}

// The file checks above have teeth: a real run's files pass, and the same
// files cut short or with a number missing do not.
TEST(HardeningBattery, FileChecksRejectIncompleteFiles) {
  std::vector<std::string> arguments = example("mera");
  arguments[kWantedTime - 1] = kWantedTimeUsed;
  const ProgramRun run = run_program_in(kFullProgram, arguments, "", 60);
  ASSERT_EQ(run.exit_status, 0);
  const std::string trace = run.file(arguments.back());
  const std::string flux = run.file("flux_analysis.txt");
  const FileTable trace_table = read_trace_table(trace, false);
  const FileTable flux_table = read_flux_table(flux);
  ASSERT_TRUE(trace_table.well_formed) << trace_table.problem;
  ASSERT_TRUE(flux_table.well_formed) << flux_table.problem;
  ASSERT_GE(trace_table.rows.size(), 3u);
  EXPECT_EQ(trace_table.rows.size(), flux_table.rows.size());
  EXPECT_FALSE(read_trace_table(trace, true).well_formed);  // 17 columns are not 18

  auto without_a_column_in_a_middle_row = [](std::string text, const std::string& row_start) {
    const std::size_t row = text.rfind(row_start, text.rfind(row_start) - 1);
    const std::size_t tab = text.find('\t', row);
    const std::size_t next_tab = text.find('\t', tab + 1);
    return text.erase(tab, next_tab - tab);
  };
  const std::vector<std::pair<std::string, std::string>> broken_traces = {
      {"cut inside the last number", trace.substr(0, trace.size() - 6)},
      {"cut before the closing blank", trace.substr(0, trace.rfind('\t'))},
      {"last number missing", trace.substr(0, trace.rfind('\t', trace.rfind('\t') - 1) + 1)},
      {"cut after the line feed of the last row", trace.substr(0, trace.rfind('\n') + 1)},
      {"a middle row one column short", without_a_column_in_a_middle_row(trace, "\n")},
      {"no column header", trace.substr(0, trace.find(" \n  \n  \n Time"))},
      {"column header cut", trace.substr(0, trace.find("apoMerB  \t"))},
      {"a rate constant line missing",
       std::string(trace).erase(trace.find("DeltaG*(7 )"),
                                trace.find("DeltaG*(8 )") - trace.find("DeltaG*(7 )"))},
      {"a word in a row", std::string(trace).insert(trace.rfind('\t'), "\t x")},
  };
  for (const auto& [what, text] : broken_traces) {
    EXPECT_FALSE(read_trace_table(text, false).well_formed) << what;
  }
  const std::vector<std::pair<std::string, std::string>> broken_fluxes = {
      {"without the last row's closing blank", flux.substr(0, flux.size() - 1)},
      {"without the last row's line end", flux.substr(0, flux.size() - 2)},
      {"cut inside the last number", flux.substr(0, flux.size() - 7)},
      {"a middle row one column short", without_a_column_in_a_middle_row(flux, "\n ")},
      {"no column header", flux.substr(0, flux.find(" \n  \n  \n Time"))},
  };
  for (const auto& [what, text] : broken_fluxes) {
    EXPECT_FALSE(read_flux_table(text).well_formed) << what;
  }
}

// A sanitizer report on a program's standard error fails the test that ran
// it, even a test that looks at nothing but the files: the battery's runs in
// the sanitizer build are covered whatever their checks.
TEST(HardeningBattery, SanitizerReportsFailTheTest) {
  const std::string script = make_fresh_folder() + "/report.sh";
  write_file(script,
             "#!/bin/sh\necho 'run.cpp:12:3: runtime error: signed integer overflow' >&2\n");
  chmod(script.c_str(), 0755);
  EXPECT_NONFATAL_FAILURE(run_program_in(script, {}, "", 10), "sanitizer finding");
  const std::string quiet = make_fresh_folder() + "/quiet.sh";
  write_file(quiet, "#!/bin/sh\necho 'tolvanex: cannot write x' >&2\nexit 1\n");
  chmod(quiet.c_str(), 0755);
  EXPECT_EQ(run_program_in(quiet, {}, "", 10).exit_status, 1);
}

TEST(HardeningBattery, FullProgram) { run_battery(kFullProgram); }

TEST(HardeningBattery, UnprunedProgram) { run_battery(kUnprunedProgram); }

}  // namespace
}  // namespace tolvanex::testing
