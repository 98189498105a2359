// SIGINT and SIGTERM end a run after its current block, as a termination
// test would: the block's console report and rows are complete, both files
// end with a complete row, one line goes to standard error, and the exit
// status is 128 + the signal's number.
//
// The run: an example with an initial Basic Timestep of 1e-320 and a wanted
// time of 1000 s. Its steps must double about a thousand times, once per
// block, before they amount to anything, so the run lasts many minutes; its
// first 33 blocks are at most 300,000 iterations each (a small fraction of a
// second), and the signal is sent during them.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/program_runner.h"

namespace tolvanex::testing {
namespace {

const std::string kInterrupted = "tolvanex: interrupted; stopped after the current block\n";

std::vector<std::string> long_run(const std::string& example) {
  std::vector<std::string> arguments =
      read_argument_file(std::string(kSourceDir) + "/examples/" + example + ".args");
  const std::size_t first = arguments.size() - 46;  // target2 in either form
  arguments[first + 1] = "1e-320";                  // initial Basic Timestep
  arguments[first + 4] = "1000";                    // wanted time
  return arguments;
}

// Waits until the trace file holds at least rows complete block rows.
bool wait_for_rows(const std::string& trace_path, bool organomercurial, std::size_t rows,
                   std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    const FileTable table = read_trace_table(read_file(trace_path), organomercurial);
    if (table.well_formed && table.rows.size() >= rows) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool is_printed_number(const std::string& text) {
  if (text.empty() || text.find_first_not_of("+-.e0123456789nanif") != std::string::npos) {
    return false;
  }
  if (text == "inf" || text == "-inf" || text == "nan" || text == "-nan") return true;
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

// The end of the console after the last block report's average-time line:
// "\n average time  %5.3e   target2 %5.3e ", then at most the Basic Timestep
// change; a termination test would have printed its message after that.
bool is_complete_report_end(const std::string& tail, const std::string& target2) {
  const std::string head = "\n average time  ";
  const std::string middle = "   target2 " + target2 + " ";
  const std::size_t at = tail.find(middle);
  if (!tail.starts_with(head) || at == std::string::npos) return false;
  if (!is_printed_number(tail.substr(head.size(), at - head.size()))) return false;
  const std::string rest = tail.substr(at + middle.size());
  if (rest.empty()) return true;
  for (const std::string change :
       {"\n Basic Timestep has been decreased to ", "\n Basic Timestep has been increased to "}) {
    if (rest.starts_with(change)) return is_printed_number(rest.substr(change.size()));
  }
  return false;
}

struct InterruptionCase {
  const char* example;
  int signal_number;
  int exit_status;
};

const InterruptionCase kCases[] = {
    {"mera", SIGINT, 130},
    {"mera", SIGTERM, 143},
    {"organomercurial", SIGINT, 130},
    {"dithiothreitol", SIGTERM, 143},
};

TEST(HardeningInterruption, EveryRowIsKept) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const InterruptionCase& c : kCases) {
      SCOPED_TRACE(std::string(program) + " " + c.example + " signal " +
                   std::to_string(c.signal_number));
      const std::vector<std::string> arguments = long_run(c.example);
      const bool organomercurial = arguments.size() == 47;
      const std::string trace_name = arguments.back();
      auto started = start_program_in(program, arguments, "", 300);
      ASSERT_TRUE(wait_for_rows(started->folder() + "/" + trace_name, organomercurial, 2,
                                std::chrono::seconds(120)))
          << "the run wrote no block rows";
      ASSERT_TRUE(started->send_signal(c.signal_number));
      const auto signalled = std::chrono::steady_clock::now();
      const ProgramRun run = started->wait();
      const double seconds_to_stop =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();

      EXPECT_EQ(run.exit_status, c.exit_status);
      EXPECT_EQ(run.standard_error, kInterrupted);
      // A block is at most 10,000,000 iterations; these are 300,000.
      EXPECT_LT(seconds_to_stop, 60);

      // Every block report is complete, the last one too: it ends with its
      // average-time line, or with the Basic Timestep change that follows it,
      // and no termination test has fired.
      const std::string& console = run.standard_output;
      const int reports = count_occurrences(console, "\n average time  ");
      EXPECT_GE(reports, 2);
      EXPECT_EQ(count_occurrences(console, "\n total iterations "), reports);
      EXPECT_EQ(count_occurrences(console, "\n Current rate of change of P is "), reports);
      const std::string last_report = console.substr(console.rfind("\n average time  "));
      EXPECT_TRUE(is_complete_report_end(last_report, "1.000e+01")) << last_report;
      EXPECT_EQ(count_occurrences(console, "stopped\n"), 0);

      // Both files end with a complete row, one per block report.
      const FileTable trace = read_trace_table(run.file(trace_name), organomercurial);
      const FileTable flux = read_flux_table(run.file("flux_analysis.txt"));
      ASSERT_TRUE(trace.well_formed) << trace.problem;
      ASSERT_TRUE(flux.well_formed) << flux.problem;
      EXPECT_EQ(static_cast<int>(trace.rows.size()), reports);
      EXPECT_EQ(static_cast<int>(flux.rows.size()), reports);
      ASSERT_FALSE(trace.rows.empty());
      EXPECT_EQ(trace.rows.back()[0], flux.rows.back()[0]);
      // Stopped long before the wanted time.
      EXPECT_LT(std::strtod(trace.rows.back()[0].c_str(), nullptr), 1000);
    }
  }
}

// A signal that comes while the run is still being set up: either the
// program had not yet opened its files (then it may die of the signal and
// leave nothing behind), or it has opened them, and then it must not leave
// them created but without their headers: it must stop after the current
// block as for any other signal. The signal is sent after a growing delay,
// 100 microseconds more each time, until five runs in a row have handled it.
TEST(HardeningInterruption, SignalDuringSetUpLeavesNoHeaderlessFiles) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    const std::vector<std::string> arguments = long_run("mera");
    int handled_in_a_row = 0;
    for (int delay_us = 0; delay_us <= 50000 && handled_in_a_row < 5; delay_us += 100) {
      SCOPED_TRACE(std::string(program) + ", SIGTERM after " + std::to_string(delay_us) +
                   " microseconds");
      auto started = start_program_in(program, arguments, "", 300);
      std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
      ASSERT_TRUE(started->send_signal(SIGTERM));
      const ProgramRun run = started->wait();
      EXPECT_EQ(run.exit_status, 143);
      if (!run.has_file(arguments.back())) {
        EXPECT_FALSE(run.has_file("flux_analysis.txt"));
        EXPECT_EQ(run.standard_error, "");
        handled_in_a_row = 0;
        continue;
      }
      EXPECT_EQ(run.standard_error, kInterrupted)
          << "the trace file was created (" << run.file(arguments.back()).size()
          << " bytes), but the signal was not handled";
      const FileTable trace = read_trace_table(run.file(arguments.back()), false);
      const FileTable flux = read_flux_table(run.file("flux_analysis.txt"));
      EXPECT_TRUE(trace.well_formed) << trace.problem;
      EXPECT_TRUE(flux.well_formed) << flux.problem;
      if (run.standard_error != kInterrupted || !trace.well_formed || !flux.well_formed) break;
      ++handled_in_a_row;
    }
    EXPECT_EQ(handled_in_a_row, 5) << program;
  }
}

// A run that ends by itself is not touched by the handlers: status 0 and
// nothing on standard error.
TEST(HardeningInterruption, RunsThatAreNotSignalledEndWithStatusZero) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    SCOPED_TRACE(program);
    const ProgramRun run = run_program_in(
        program, read_argument_file(std::string(kSourceDir) + "/examples/mera.args"), "", 60);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.standard_error, "");
  }
}

// A run started with SIGINT ignored (a background job of a script, or under
// nohup) keeps ignoring it; SIGTERM still stops it after its block.
TEST(HardeningInterruption, IgnoredInterruptStaysIgnored) {
  const std::vector<std::string> run_arguments = long_run("mera");
  std::vector<std::string> arguments = {"-c", "trap '' INT; exec \"$0\" \"$@\"", kFullProgram};
  arguments.insert(arguments.end(), run_arguments.begin(), run_arguments.end());
  auto started = start_program_in("/bin/sh", arguments, "", 300);
  const std::string trace = started->folder() + "/" + run_arguments.back();
  ASSERT_TRUE(wait_for_rows(trace, false, 2, std::chrono::seconds(120)));
  ASSERT_TRUE(started->send_signal(SIGINT));
  // Still running: more rows come after the ignored signal.
  const std::size_t rows_then = read_trace_table(read_file(trace), false).rows.size();
  ASSERT_TRUE(wait_for_rows(trace, false, rows_then + 2, std::chrono::seconds(120)))
      << "the run stopped on an ignored SIGINT";
  ASSERT_TRUE(started->send_signal(SIGTERM));
  const ProgramRun run = started->wait();
  EXPECT_EQ(run.exit_status, 143);
  EXPECT_EQ(run.standard_error, kInterrupted);
}

}  // namespace
}  // namespace tolvanex::testing
