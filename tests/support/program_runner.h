// Runs one of the programs in a fresh empty folder and collects what it
// left behind: standard output and error, exit status, and the files.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace tolvanex::testing {

inline const char* const kFullProgram = TOLVANEX_PROGRAM;
inline const char* const kUnprunedProgram = TOLVANEX_UNPRUNED_PROGRAM;
inline const char* const kSourceDir = TOLVANEX_SOURCE_DIR;
inline constexpr uid_t kOwnUser = static_cast<uid_t>(-1);

struct ProgramRun {
  std::string folder;  // the working folder the program ran in (kept until the test ends)
  std::string standard_output;
  std::string standard_error;
  int exit_status = -1;                             // 128 + N when killed by signal N
  std::string file(const std::string& name) const;  // contents, "" when missing
  bool has_file(const std::string& name) const;
};

// A fresh empty folder, removed with all the others when the tests end.
std::string make_fresh_folder();

// A program started in folder (a fresh one when empty), as user (uid and gid)
// when one is given (the test must be root). Exit status 126, 125 or 127: it
// could not change user, enter the folder or start the program. SIGALRM ends
// it after timeout_seconds; it is killed when not waited for.
class StartedProgram {
 public:
  StartedProgram(const std::string& program, const std::vector<std::string>& arguments,
                 std::string folder = "", int timeout_seconds = 120, uid_t user = kOwnUser);
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;
  ~StartedProgram();
  const std::string& folder() const { return folder_; }
  bool send_signal(int signal_number) const { return pid_ > 0 && kill(pid_, signal_number) == 0; }
  ProgramRun wait();  // a sanitizer report on standard error fails the test

 private:
  std::string program_, folder_, capture_;
  pid_t pid_ = -1;
};

ProgramRun run_program_in(const std::string& program, const std::vector<std::string>& arguments,
                          std::string folder = "", int timeout_seconds = 120,
                          uid_t user = kOwnUser);

// The words of an arguments file: '#' lines are comments, the rest is split on blanks.
std::vector<std::string> read_argument_file(const std::string& path);

// The arguments of examples/NAME.args, changed in order: positions 1 to 46
// are those of the 46-argument form, 0 is the first of the 47-argument form.
std::vector<std::string> example_arguments(
    const std::string& name, const std::vector<std::pair<int, std::string>>& changes = {});

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);

// Splits on a separator character (the last piece may be empty).
std::vector<std::string> split(const std::string& text, char separator);

// How often text occurs in contents (non-overlapping).
int count_occurrences(const std::string& contents, const std::string& text);

// The block rows of a trace or flux file holding one run, the time-0 row not
// included. Well formed: complete headers, every row with its full count of
// numbers (trace 17, or 18 for an organomercurial; flux 21 at time 0, then
// 20), the consistency guard's reports between trace rows, and a complete
// last row.
struct FileTable {
  bool well_formed = false;
  std::string problem;  // why it is not well formed
  std::vector<std::vector<std::string>> rows;
};
FileTable read_trace_table(const std::string& contents, bool organomercurial);
FileTable read_flux_table(const std::string& contents);

// The files of a run with these arguments, checked (a test failure when not):
// both well formed, each with one row per block report on the console.
struct RunFiles {
  FileTable trace, flux;
};
RunFiles expect_complete_files(const ProgramRun& run, const std::vector<std::string>& arguments);

}  // namespace tolvanex::testing
