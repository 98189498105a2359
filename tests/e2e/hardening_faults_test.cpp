// Faults from outside. An output file that cannot be opened or written ends
// the run with exit status 1 and one message on standard error naming it; a
// trace file that cannot be opened leaves no flux file behind. SIGINT and
// SIGTERM end a run after its current block, as a termination test would:
// both files end with a complete row, one per block report, one line goes to
// standard error, and the exit status is 128 + the signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/program_runner.h"

namespace tolvanex::testing {
namespace {

// /dev/full takes no data: the failure shows when the first block's rows are
// pushed out (the glutathione run would go on for some 50 blocks), or, with
// a wanted time of 0 and so no block, when the file is closed.
TEST(HardeningFaults, FilesThatCannotBeOpenedOrWritten) {
  const struct {
    const char* trace;
    const char* wanted_time;
    bool flux_is_dev_full;
    std::string message;
  } faults[] = {
      {"missing/run.trace", "1000", false,
       "tolvanex: cannot open missing/run.trace: No such file or directory\n"},
      {"/dev/full", "1000", false, "tolvanex: cannot write /dev/full\n"},
      {"/dev/full", "0", false, "tolvanex: cannot write /dev/full\n"},
      {"run.trace", "1000", true, "tolvanex: cannot write flux_analysis.txt\n"},
  };
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const auto& f : faults) {
      SCOPED_TRACE(std::string(program) + " " + f.message);
      const std::string folder = make_fresh_folder();
      if (f.flux_is_dev_full) symlink("/dev/full", (folder + "/flux_analysis.txt").c_str());
      const auto arguments = example_arguments("glutathione", {{5, f.wanted_time}, {46, f.trace}});
      const ProgramRun run = run_program_in(program, arguments, folder, 60);
      EXPECT_EQ(run.exit_status, 1);
      EXPECT_EQ(run.standard_error, f.message);
      EXPECT_LE(count_occurrences(run.standard_output, "\n average time  "), 1);
      EXPECT_TRUE(!f.message.starts_with("tolvanex: cannot open") ||
                  (run.standard_output.empty() && !run.has_file("flux_analysis.txt")));
    }
  }
}

// A read-only folder, an existing read-only trace file, and a working folder
// where flux_analysis.txt cannot be created. Permission bits mean nothing to
// root, so a test run as root runs the programs as nobody.
TEST(HardeningFaults, PermissionDenied) {
  const uid_t user = geteuid() == 0 ? 65534 : kOwnUser;
  const std::string folder = make_fresh_folder(), locked = make_fresh_folder();
  if (user != kOwnUser && chown(folder.c_str(), user, user) != 0) GTEST_SKIP() << "no chown";
  mkdir((folder + "/locked").c_str(), 0555);
  write_file(folder + "/kept.trace", "an earlier run\n");
  chmod((folder + "/kept.trace").c_str(), 0444);
  chmod(locked.c_str(), 0555);
  const struct {
    std::string run_in, trace, file;
  } cases[] = {{folder, "locked/run.trace", "locked/run.trace"},
               {folder, "kept.trace", "kept.trace"},
               {locked, folder + "/new.trace", "flux_analysis.txt"}};
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(program) + " " + c.file);
      const ProgramRun run =
          run_program_in(program, example_arguments("mera", {{46, c.trace}}), c.run_in, 60, user);
      if (run.exit_status >= 125) {  // see StartedProgram
        GTEST_SKIP() << "cannot run the programs as uid " << user << " (" << run.exit_status << ")";
      }
      EXPECT_EQ(run.exit_status, 1);
      EXPECT_EQ(run.standard_error, "tolvanex: cannot open " + c.file + ": Permission denied\n");
      EXPECT_EQ(run.standard_output, "");
      EXPECT_FALSE(run.has_file("flux_analysis.txt"));
    }
  }
  EXPECT_EQ(read_file(folder + "/kept.trace"), "an earlier run\n");
  EXPECT_EQ(read_file(folder + "/new.trace"), "");  // both files open before any output
}

const std::string kInterrupted = "tolvanex: interrupted; stopped after the current block\n";

// An initial Basic Timestep of 1e-320 must double about a thousand times,
// once per block, before a step amounts to anything: the run lasts many
// minutes, and its first blocks are 300,000 iterations at most.
std::vector<std::string> long_run(const std::string& example) {
  return example_arguments(example, {{2, "1e-320"}, {5, "1000"}});
}

// Waits (two minutes at most) until the trace file holds at least rows rows.
bool wait_for_rows(const std::string& trace_path, bool organomercurial, std::size_t rows) {
  for (int i = 0; i < 6000; ++i) {
    const FileTable trace = read_trace_table(read_file(trace_path), organomercurial);
    if (trace.well_formed && trace.rows.size() >= rows) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(HardeningInterruption, EveryRowIsKept) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const auto& [name, signal_number] :
         {std::pair{"mera", SIGINT}, std::pair{"organomercurial", SIGTERM}}) {
      SCOPED_TRACE(std::string(program) + " " + name + " signal " + std::to_string(signal_number));
      const std::vector<std::string> arguments = long_run(name);
      StartedProgram started(program, arguments, "", 300);
      ASSERT_TRUE(
          wait_for_rows(started.folder() + "/" + arguments.back(), arguments.size() == 47, 2));
      ASSERT_TRUE(started.send_signal(signal_number));
      const ProgramRun run = started.wait();
      EXPECT_EQ(run.exit_status, 128 + signal_number);
      EXPECT_EQ(run.standard_error, kInterrupted);
      EXPECT_EQ(count_occurrences(run.standard_output, "stopped\n"), 0);  // no test fired
      EXPECT_GE(expect_complete_files(run, arguments).trace.rows.size(), 2u);
    }
  }
}

// A signal during set-up: either the program has not yet opened its files
// (it may then die of the signal and leave none), or it has, and then it must
// not leave them without their headers, but stop after the current block.
// The signal comes 100 microseconds later each time, until five runs in a
// row have handled it.
TEST(HardeningInterruption, SignalDuringSetUpLeavesNoHeaderlessFiles) {
  const std::vector<std::string> arguments = long_run("mera");
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    int handled_in_a_row = 0;
    for (int delay_us = 0; delay_us <= 50000 && handled_in_a_row < 5; delay_us += 100) {
      SCOPED_TRACE(std::string(program) + ", SIGTERM after " + std::to_string(delay_us) + " us");
      StartedProgram started(program, arguments, "", 300);
      std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
      ASSERT_TRUE(started.send_signal(SIGTERM));
      const ProgramRun run = started.wait();
      EXPECT_EQ(run.exit_status, 143);
      handled_in_a_row = run.has_file(arguments.back()) ? handled_in_a_row + 1 : 0;
      if (handled_in_a_row == 0) {
        EXPECT_FALSE(run.has_file("flux_analysis.txt"));
        continue;
      }
      ASSERT_EQ(run.standard_error, kInterrupted) << "files made, but the signal not handled";
      expect_complete_files(run, arguments);
      if (HasFailure()) return;
    }
    EXPECT_EQ(handled_in_a_row, 5) << program;
  }
}

// A run started with SIGINT ignored (a background job of a script, or under
// nohup) keeps ignoring it; SIGTERM still stops it after its block.
TEST(HardeningInterruption, IgnoredInterruptStaysIgnored) {
  const std::vector<std::string> run_arguments = long_run("mera");
  std::vector<std::string> arguments = {"-c", "trap '' INT; exec \"$0\" \"$@\"", kFullProgram};
  arguments.insert(arguments.end(), run_arguments.begin(), run_arguments.end());
  StartedProgram started("/bin/sh", arguments, "", 300);
  const std::string trace = started.folder() + "/" + run_arguments.back();
  ASSERT_TRUE(wait_for_rows(trace, false, 2));
  ASSERT_TRUE(started.send_signal(SIGINT));
  const std::size_t rows_then = read_trace_table(read_file(trace), false).rows.size();
  ASSERT_TRUE(wait_for_rows(trace, false, rows_then + 2)) << "stopped on an ignored SIGINT";
  ASSERT_TRUE(started.send_signal(SIGTERM));
  const ProgramRun run = started.wait();
  EXPECT_EQ(run.exit_status, 143);
  EXPECT_EQ(run.standard_error, kInterrupted);
}

}  // namespace
}  // namespace tolvanex::testing
