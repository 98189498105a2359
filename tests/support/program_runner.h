// Runs one of the programs in a fresh empty folder and collects what it
// left behind: standard output and error, exit status, and the files.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace tolvanex::testing {

inline const char* const kFullProgram = TOLVANEX_PROGRAM;
inline const char* const kUnprunedProgram = TOLVANEX_UNPRUNED_PROGRAM;
inline const char* const kSourceDir = TOLVANEX_SOURCE_DIR;

struct ProgramRun {
  std::string folder;  // the working folder the program ran in (kept until the test ends)
  std::string standard_output;
  std::string standard_error;
  int exit_status = -1;                             // 128 + N when killed by signal N
  std::string file(const std::string& name) const;  // contents, "" when missing
  bool has_file(const std::string& name) const;
};

// A fresh empty folder under the system's temporary folder.
std::string make_fresh_folder();

// Runs program with the arguments (not counting its name) in folder; when
// folder is empty a fresh one is made. Stops it after timeout_seconds.
ProgramRun run_program_in(const std::string& program, const std::vector<std::string>& arguments,
                          std::string folder = "", int timeout_seconds = 120);

// The words of an arguments file: '#' lines are comments, the rest is split on blanks.
std::vector<std::string> read_argument_file(const std::string& path);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);

// Splits on a separator character (the last piece may be empty).
std::vector<std::string> split(const std::string& text, char separator);

}  // namespace tolvanex::testing

// ---------------------------------------------------------------------------
// Programs started in the background, optionally as another user, and the
// row structure of the two output files.

namespace tolvanex::testing {

// A user and group to run a program as; uid -1 means the test's own user.
struct RunAs {
  uid_t uid = static_cast<uid_t>(-1);
  gid_t gid = static_cast<gid_t>(-1);
};

// A program that has been started and not yet waited for.
class StartedProgram {
 public:
  StartedProgram(pid_t pid, std::string program, std::string folder, std::string capture_folder);
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;
  ~StartedProgram();  // kills and reaps a program that was not waited for

  const std::string& folder() const { return folder_; }
  pid_t pid() const { return pid_; }
  bool send_signal(int signal_number) const;  // false once it has been reaped
  // Waits and collects, once. A sanitizer report on standard error fails the
  // running test.
  ProgramRun wait();

 private:
  pid_t pid_;
  std::string program_;
  std::string folder_;
  std::string capture_folder_;
  bool reaped_ = false;
};

// Starts program in folder (a fresh one when empty) with its standard output
// and error going to files; stops it with SIGALRM after timeout_seconds. With
// a RunAs the program runs as that user (the test must be privileged).
std::unique_ptr<StartedProgram> start_program_in(const std::string& program,
                                                 const std::vector<std::string>& arguments,
                                                 std::string folder = "", int timeout_seconds = 120,
                                                 RunAs as = {});

// The same as run_program_in, run as another user.
ProgramRun run_program_as(const RunAs& as, const std::string& program,
                          const std::vector<std::string>& arguments, std::string folder = "",
                          int timeout_seconds = 120);

// Can a program running as this user enter folder, write in it and run
// program? Tried out in a child process; gives the reason when it cannot.
bool can_run_as(const RunAs& as, const std::string& folder, const std::string& program,
                std::string* reason);

// The rows of a trace file or flux file that holds exactly one run.
struct FileTable {
  bool well_formed = false;
  std::string problem;                         // why it is not well formed
  std::vector<std::vector<std::string>> rows;  // block rows, as printed (time-0 row not included)
  std::vector<std::string> time_zero_row;
  int error_reports = 0;  // "Error: computations yield ..." blocks (trace)
};

// A trace file: banner, 38 "DeltaG*" lines, the complete column header, the
// time-0 row and then block rows, each with 17 numbers (18 in organomercurial
// mode), with the consistency guard's error lines where they belong. The
// file must end with a complete row.
FileTable read_trace_table(const std::string& contents, bool organomercurial);

// A flux file: run line, 38 "DeltaG*" lines, the column header, the time-0
// row of 21 numbers (on whose line the first block row continues) and block
// rows of 20 numbers, each ending with a line feed and a blank.
FileTable read_flux_table(const std::string& contents);

// How often text occurs in contents (non-overlapping).
int count_occurrences(const std::string& contents, const std::string& text);

}  // namespace tolvanex::testing
