// Output files that cannot be opened or written: the run ends with exit
// status 1 and one message on standard error naming the file, instead of
// computing for hours into nowhere and reporting success. A trace file that
// cannot be opened leaves no flux file behind.
//
// Permission bits mean nothing to root, so the cases that need them run the
// program as an unprivileged user (nobody, 65534) when the tests run as root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/program_runner.h"

namespace tolvanex::testing {
namespace {

std::vector<std::string> example(const std::string& name) {
  return read_argument_file(std::string(kSourceDir) + "/examples/" + name + ".args");
}

std::vector<std::string> with_trace(std::vector<std::string> arguments, const std::string& path) {
  arguments.back() = path;
  return arguments;
}

std::vector<std::string> with_wanted_time(std::vector<std::string> arguments,
                                          const std::string& value) {
  arguments[arguments.size() - 42] = value;
  return arguments;
}

std::string cannot_open(const std::string& path, int error_number) {
  return "tolvanex: cannot open " + path + ": " + std::strerror(error_number) + "\n";
}

std::string parent_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

// ---------------------------------------------------------------------------
// Running as a user to whom permission bits apply.

constexpr uid_t kNobody = 65534;

bool privileged() { return geteuid() == 0; }

RunAs unprivileged_user() { return privileged() ? RunAs{kNobody, kNobody} : RunAs{}; }

// A folder the unprivileged user can enter; writable by that user when
// writable is true, otherwise readable and enterable only.
std::string folder_for_unprivileged_user(bool writable) {
  const std::string folder = make_fresh_folder();
  chmod(parent_of(folder).c_str(), 0711);  // the scratch root: enter, not list
  if (privileged()) {
    if (writable && chown(folder.c_str(), kNobody, kNobody) != 0) return "";
    chmod(folder.c_str(), writable ? 0755 : 0555);
  } else {
    chmod(folder.c_str(), writable ? 0755 : 0555);
  }
  return folder;
}

// Skips the test (with the reason) when no unprivileged user can run the
// program in folder.
#define SKIP_UNLESS_UNPRIVILEGED_RUN_POSSIBLE(probe_folder, program)                        \
  do {                                                                                      \
    std::string reason;                                                                     \
    if ((probe_folder).empty() ||                                                           \
        !can_run_as(unprivileged_user(), (probe_folder), (program), &reason)) {             \
      GTEST_SKIP() << "cannot run the program as an unprivileged user, so permission bits " \
                      "cannot be tested: "                                                  \
                   << (reason.empty() ? "no folder for that user" : reason);                \
    }                                                                                       \
  } while (false)

// ---------------------------------------------------------------------------

TEST(HardeningFaults, TraceFileInAMissingFolder) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const char* name : {"mera", "organomercurial"}) {
      SCOPED_TRACE(std::string(program) + " " + name);
      const ProgramRun run =
          run_program_in(program, with_trace(example(name), "missing/run.trace"), "", 60);
      EXPECT_EQ(run.exit_status, 1);
      EXPECT_EQ(run.standard_error, cannot_open("missing/run.trace", ENOENT));
      EXPECT_EQ(run.standard_output, "");  // nothing is printed before both files are open
      EXPECT_FALSE(run.has_file("flux_analysis.txt"));
      EXPECT_FALSE(run.has_file("missing"));
    }
  }
}

TEST(HardeningFaults, TraceFileThatIsAFolder) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    SCOPED_TRACE(program);
    const std::string folder = make_fresh_folder();
    mkdir((folder + "/results").c_str(), 0755);
    const ProgramRun run =
        run_program_in(program, with_trace(example("mera"), "results"), folder, 60);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.standard_error, cannot_open("results", EISDIR));
    EXPECT_FALSE(run.has_file("flux_analysis.txt"));
  }
}

TEST(HardeningFaults, TraceFileInAReadOnlyFolder) {
  const std::string folder = folder_for_unprivileged_user(true);
  SKIP_UNLESS_UNPRIVILEGED_RUN_POSSIBLE(folder, kFullProgram);
  const std::string locked = folder + "/locked";
  mkdir(locked.c_str(), 0555);
  chmod(locked.c_str(), 0555);
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    SCOPED_TRACE(program);
    const ProgramRun run = run_program_as(
        unprivileged_user(), program, with_trace(example("mera"), "locked/run.trace"), folder, 60);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.standard_error, cannot_open("locked/run.trace", EACCES));
    EXPECT_EQ(run.standard_output, "");
    EXPECT_FALSE(run.has_file("flux_analysis.txt"));
    EXPECT_FALSE(run.has_file("locked/run.trace"));
  }
}

TEST(HardeningFaults, ExistingReadOnlyTraceFile) {
  const std::string folder = folder_for_unprivileged_user(true);
  SKIP_UNLESS_UNPRIVILEGED_RUN_POSSIBLE(folder, kFullProgram);
  const std::string earlier = " \n  tolvanex \n an earlier run\n";
  write_file(folder + "/kept.trace", earlier);
  chmod((folder + "/kept.trace").c_str(), 0444);
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    SCOPED_TRACE(program);
    const ProgramRun run = run_program_as(unprivileged_user(), program,
                                          with_trace(example("mera"), "kept.trace"), folder, 60);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.standard_error, cannot_open("kept.trace", EACCES));
    EXPECT_FALSE(run.has_file("flux_analysis.txt"));
    EXPECT_EQ(run.file("kept.trace"), earlier);
  }
}

// The trace file opens, the flux file in the working folder does not.
TEST(HardeningFaults, WorkingFolderNotWritable) {
  const std::string writable = folder_for_unprivileged_user(true);
  const std::string folder = folder_for_unprivileged_user(false);
  SKIP_UNLESS_UNPRIVILEGED_RUN_POSSIBLE(writable, kFullProgram);
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    SCOPED_TRACE(program);
    const std::string trace =
        writable + "/" + (program == kFullProgram ? "full" : "unpruned") + ".trace";
    const ProgramRun run = run_program_as(unprivileged_user(), program,
                                          with_trace(example("mera"), trace), folder, 60);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.standard_error, cannot_open("flux_analysis.txt", EACCES));
    EXPECT_EQ(run.standard_output, "");
    EXPECT_FALSE(run.has_file("flux_analysis.txt"));
    // Both files are opened before anything is written: the trace file may
    // have been created, but it holds nothing.
    EXPECT_EQ(run.file(trace), "");
  }
}

TEST(HardeningFaults, ExistingReadOnlyFluxFile) {
  const std::string folder = folder_for_unprivileged_user(true);
  SKIP_UNLESS_UNPRIVILEGED_RUN_POSSIBLE(folder, kFullProgram);
  write_file(folder + "/flux_analysis.txt", "earlier fluxes\n");
  chmod((folder + "/flux_analysis.txt").c_str(), 0444);
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    SCOPED_TRACE(program);
    const ProgramRun run = run_program_as(unprivileged_user(), program,
                                          with_trace(example("mera"), "run.trace"), folder, 60);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.standard_error, cannot_open("flux_analysis.txt", EACCES));
    EXPECT_EQ(run.file("flux_analysis.txt"), "earlier fluxes\n");
    EXPECT_EQ(run.file("run.trace"), "");
  }
}

// A device that takes no data: the failure shows when the first block's rows
// are pushed out, so the run ends after its first block (the glutathione run
// would otherwise go on for some 50 blocks).
TEST(HardeningFaults, TraceFileThatCannotBeWritten) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no writable /dev/full on this machine";
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    SCOPED_TRACE(program);
    const ProgramRun run =
        run_program_in(program, with_trace(example("glutathione"), "/dev/full"), "", 60);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.standard_error, "tolvanex: cannot write /dev/full\n");
    EXPECT_LE(count_occurrences(run.standard_output, "\n total iterations "), 1);
    EXPECT_EQ(count_occurrences(run.standard_output, "stopped"), 0);
  }
}

// No block at all: what the headers wrote is lost when the file is closed.
TEST(HardeningFaults, TraceFileThatCannotBeWrittenWithoutBlocks) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no writable /dev/full on this machine";
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    SCOPED_TRACE(program);
    const ProgramRun run = run_program_in(
        program, with_wanted_time(with_trace(example("mera"), "/dev/full"), "0"), "", 60);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.standard_error, "tolvanex: cannot write /dev/full\n");
    EXPECT_EQ(count_occurrences(run.standard_output, "\n total iterations "), 0);
  }
}

// The flux file is the one that cannot be written.
TEST(HardeningFaults, FluxFileThatCannotBeWritten) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no writable /dev/full on this machine";
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const char* wanted_time : {"1000", "0"}) {
      SCOPED_TRACE(std::string(program) + " wanted time " + wanted_time);
      const std::string folder = make_fresh_folder();
      ASSERT_EQ(symlink("/dev/full", (folder + "/flux_analysis.txt").c_str()), 0);
      const ProgramRun run = run_program_in(
          program, with_wanted_time(example("glutathione"), wanted_time), folder, 60);
      EXPECT_EQ(run.exit_status, 1);
      EXPECT_EQ(run.standard_error, "tolvanex: cannot write flux_analysis.txt\n");
      EXPECT_LE(count_occurrences(run.standard_output, "\n total iterations "), 1);
    }
  }
}

}  // namespace
}  // namespace tolvanex::testing
