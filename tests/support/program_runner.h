// Runs one of the programs in a fresh empty folder and collects what it
// left behind: standard output and error, exit status, and the files.
#pragma once

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
  int exit_status = -1;  // 128 + N when killed by signal N
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
