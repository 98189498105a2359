#include "support/program_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tolvanex::testing {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary);
  out << contents;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == separator) {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

std::string ProgramRun::file(const std::string& name) const {
  return read_file(name.starts_with("/") ? name : folder + "/" + name);
}

bool ProgramRun::has_file(const std::string& name) const {
  return access((name.starts_with("/") ? name : folder + "/" + name).c_str(), F_OK) == 0;
}

namespace {

// Every folder a test makes lives under one root per test process, removed
// when the process ends.
struct ScratchRoot {
  std::string path;
  ScratchRoot() {
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolvanex-test-XXXXXX";
    if (!mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
  }
  ~ScratchRoot() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    for (auto& entry : std::filesystem::recursive_directory_iterator(path, ignored)) {
      if (entry.is_directory(ignored)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
      }
    }
    std::filesystem::remove_all(path, ignored);
  }
};

const std::string& scratch_root() {
  static ScratchRoot root;
  return root.path;
}

}  // namespace

std::string make_fresh_folder() {
  std::string pattern = scratch_root() + "/run-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

ProgramRun run_program_in(const std::string& program, const std::vector<std::string>& arguments,
                          std::string folder, int timeout_seconds) {
  return start_program_in(program, arguments, std::move(folder), timeout_seconds)->wait();
}

ProgramRun run_program_as(const RunAs& as, const std::string& program,
                          const std::vector<std::string>& arguments, std::string folder,
                          int timeout_seconds) {
  return start_program_in(program, arguments, std::move(folder), timeout_seconds, as)->wait();
}

namespace {

// In a child process: become the given user (when one is given). Supplementary
// groups go first, then the group, then the user, so that nothing of the
// test's own privileges is left.
bool become(const RunAs& as) {
  if (as.uid == static_cast<uid_t>(-1)) return true;
  return setgroups(0, nullptr) == 0 && setgid(as.gid) == 0 && setuid(as.uid) == 0 &&
         getuid() == as.uid && geteuid() == as.uid;
}

}  // namespace

StartedProgram::StartedProgram(pid_t pid, std::string program, std::string folder,
                               std::string capture_folder)
    : pid_(pid),
      program_(std::move(program)),
      folder_(std::move(folder)),
      capture_folder_(std::move(capture_folder)) {}

StartedProgram::~StartedProgram() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

bool StartedProgram::send_signal(int signal_number) const {
  return !reaped_ && kill(pid_, signal_number) == 0;
}

ProgramRun StartedProgram::wait() {
  ProgramRun run;
  run.folder = folder_;
  if (reaped_) return run;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const std::string stdout_file = capture_folder_ + "/stdout";
  const std::string stderr_file = capture_folder_ + "/stderr";
  run.standard_output = read_file(stdout_file);
  run.standard_error = read_file(stderr_file);
  std::remove(stdout_file.c_str());
  std::remove(stderr_file.c_str());
  rmdir(capture_folder_.c_str());
  // A sanitizer report (in the sanitizer build) fails the running test,
  // whatever the test itself goes on to check.
  for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                           "AddressSanitizer:DEADLYSIGNAL", ": runtime error: "}) {
    if (run.standard_error.find(mark) != std::string::npos) {
      ADD_FAILURE() << "sanitizer finding in a run of " << program_ << ":\n" << run.standard_error;
      break;
    }
  }
  return run;
}

std::unique_ptr<StartedProgram> start_program_in(const std::string& program,
                                                 const std::vector<std::string>& arguments,
                                                 std::string folder, int timeout_seconds,
                                                 RunAs as) {
  if (folder.empty()) folder = make_fresh_folder();
  const std::string out_capture = make_fresh_folder();
  const std::string stdout_file = out_capture + "/stdout";
  const std::string stderr_file = out_capture + "/stderr";

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // The capture files are opened as the test's user, before any change of
    // user, so that the program can write them whoever it runs as.
    const int out = open(stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    if (!become(as)) _exit(126);
    if (chdir(folder.c_str()) != 0) _exit(125);
    alarm(static_cast<unsigned>(timeout_seconds));  // SIGALRM ends a run that hangs
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return std::make_unique<StartedProgram>(pid, program, folder, out_capture);
}

bool can_run_as(const RunAs& as, const std::string& folder, const std::string& program,
                std::string* reason) {
  const pid_t pid = fork();
  if (pid < 0) {
    if (reason) *reason = "fork failed";
    return false;
  }
  if (pid == 0) {
    if (!become(as)) _exit(1);
    if (chdir(folder.c_str()) != 0) _exit(2);
    if (access(".", W_OK) != 0) _exit(3);
    if (access(program.c_str(), X_OK) != 0) _exit(4);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code == 0) return true;
  if (reason) {
    switch (code) {
      case 1:
        *reason = "cannot change to uid " + std::to_string(as.uid);
        break;
      case 2:
        *reason = "uid " + std::to_string(as.uid) + " cannot enter " + folder;
        break;
      case 3:
        *reason = "uid " + std::to_string(as.uid) + " cannot write in " + folder;
        break;
      case 4:
        *reason = "uid " + std::to_string(as.uid) + " cannot run " + program;
        break;
      default:
        *reason = "the trial child process failed";
        break;
    }
  }
  return false;
}

std::vector<std::string> read_argument_file(const std::string& path) {
  std::vector<std::string> words;
  std::istringstream lines(read_file(path));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.starts_with("#")) continue;
    std::istringstream in(line);
    std::string word;
    while (in >> word) words.push_back(word);
  }
  return words;
}

int count_occurrences(const std::string& contents, const std::string& text) {
  if (text.empty()) return 0;
  int count = 0;
  for (std::size_t at = contents.find(text); at != std::string::npos;
       at = contents.find(text, at + text.size())) {
    ++count;
  }
  return count;
}

namespace {

const std::string kTraceBanner = " \n  tolvanex \n";
const std::string kTraceColumnHeader =
    " \n  \n  \n Time    \t HgMerB  \t   Thiol      \t   Int1     \t   Anionic  Int1      \t   "
    "Anionic  Int2 C159-bound  \t  Int3' C159-bound      \t  Int1 (H+ on Asp)       \t Int2 "
    "C159-bound:Thiol  \t Int4 (Cys159-bound)  \t  Int2 (Cys96-bound)  \t Int2 "
    "(Cys96-bound):Thiol  \t Int4 (Asp99-bound)   \t Int3' C96-bound   \t apoMerB  \t "
    "Hg(SCH3)2   \t  Anionic  Int2 C96-bound\t ";
const std::string kFluxColumnHeader =
    " \n  \n  \n Time  \t  flux1      \t   flux3      \t   flux5     \t   flux7      \t  flux9 "
    "\t   flux11      \t   flux13      \t   flux15     \t   flux17      \t  flux19 \t  flux21     "
    " \t   flux23      \t   flux25     \t   flux27      \t  flux29 \t  flux31      \t   flux33    "
    "  \t   flux35     \t   flux37      \t  flux39 \n     ";
const std::string kGuardError =
    "  Error: computations yield negative concentrations of intermediates or free amounts of "
    "substrate larger than the inicial ones";

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A number as printf's %e prints it, infinities and not-a-numbers included.
bool is_printed_number(const std::string& token) {
  if (token == "nan" || token == "-nan" || token == "inf" || token == "-inf") return true;
  if (token.empty()) return false;
  char* end = nullptr;
  std::strtod(token.c_str(), &end);
  return end == token.c_str() + token.size() && token.find_first_of("eE") != std::string::npos;
}

// The numbers of one row: the pieces between tabs, each a number framed by
// blanks; a last piece of blanks only (the row's closing "\t ") is allowed.
bool row_numbers(const std::string& line, std::vector<std::string>& numbers, std::string& problem) {
  numbers.clear();
  const std::vector<std::string> pieces = split(line, '\t');
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string token = trimmed(pieces[i]);
    if (token.empty() && i + 1 == pieces.size()) break;
    if (!is_printed_number(token)) {
      problem = "not a number: '" + pieces[i] + "' in row '" + line + "'";
      return false;
    }
    numbers.push_back(token);
  }
  return true;
}

bool count_lines_starting(const std::string& contents, const std::string& start, int expected,
                          std::string& problem) {
  int count = 0;
  for (const std::string& line : split(contents, '\n')) {
    if (line.starts_with(start)) ++count;
  }
  if (count != expected) {
    problem = std::to_string(count) + " lines start with '" + start + "'";
    return false;
  }
  return true;
}

bool all_zero(const std::vector<std::string>& numbers, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to && i < numbers.size(); ++i) {
    if (std::strtod(numbers[i].c_str(), nullptr) != 0) return false;
  }
  return true;
}

}  // namespace

FileTable read_trace_table(const std::string& contents, bool organomercurial) {
  FileTable table;
  const std::size_t columns = organomercurial ? 18 : 17;
  if (!contents.starts_with(kTraceBanner)) {
    table.problem = "the trace file does not begin with the banner";
    return table;
  }
  if (!count_lines_starting(contents, "DeltaG*(", 38, table.problem)) return table;
  const std::string header = kTraceColumnHeader + (organomercurial ? "organic product \n" : "");
  const std::size_t at = contents.find(header);
  if (at == std::string::npos || count_occurrences(contents, kTraceColumnHeader) != 1) {
    table.problem = "the trace file has no complete column header, or more than one";
    return table;
  }
  const std::vector<std::string> lines = split(contents.substr(at + header.size()), '\n');
  // The rows begin with their own line feed, so the header's line is empty.
  if (lines.size() < 2 || !lines[0].empty()) {
    table.problem = "no time-0 row after the column header";
    return table;
  }
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    // The consistency guard's error lines, between a row and the next:
    // " \n  \n  \n  Error: ...\n elapsed time is %12.9e  \n ".
    if (i > 1 && i + 4 < lines.size() && line == "  " && lines[i + 1] == "  " &&
        lines[i + 2] == kGuardError && lines[i + 3].starts_with(" elapsed time is ") &&
        lines[i + 3].ends_with("  ") && lines[i + 4] == " ") {
      if (!is_printed_number(trimmed(lines[i + 3].substr(17)))) {
        table.problem = "malformed line '" + lines[i + 3] + "'";
        return table;
      }
      ++table.error_reports;
      i += 4;
      continue;
    }
    std::vector<std::string> numbers;
    if (!row_numbers(line, numbers, table.problem)) return table;
    if (numbers.size() != columns) {
      table.problem = "a row with " + std::to_string(numbers.size()) + " numbers instead of " +
                      std::to_string(columns) + ": '" + line + "'";
      return table;
    }
    if (i == 1) {
      table.time_zero_row = numbers;
    } else {
      table.rows.push_back(numbers);
    }
  }
  if (table.time_zero_row.empty()) {
    table.problem = "no time-0 row";
    return table;
  }
  if (!all_zero(table.time_zero_row, 0, 1) || !all_zero(table.time_zero_row, 3, columns)) {
    table.problem = "the time-0 row holds more than A and S";
    return table;
  }
  // The last row of a run has no line end of its own: the file ends with it.
  const std::string& last = lines.back();
  std::vector<std::string> numbers;
  if (!row_numbers(last, numbers, table.problem) || numbers.size() != columns ||
      !(organomercurial ? last.ends_with(" ") : last.ends_with("\t "))) {
    table.problem = "the trace file does not end with a complete row: '" + last + "'";
    return table;
  }
  table.well_formed = true;
  return table;
}

FileTable read_flux_table(const std::string& contents) {
  FileTable table;
  if (!contents.starts_with("\n\n Flux analysis for run ")) {
    table.problem = "the flux file does not begin with its run line";
    return table;
  }
  if (!count_lines_starting(contents, "DeltaG*(", 38, table.problem)) return table;
  const std::size_t at = contents.find(kFluxColumnHeader);
  if (at == std::string::npos || count_occurrences(contents, kFluxColumnHeader) != 1) {
    table.problem = "the flux file has no complete column header, or more than one";
    return table;
  }
  const std::vector<std::string> lines =
      split(contents.substr(at + kFluxColumnHeader.size()), '\n');
  std::vector<std::string> numbers;
  if (!row_numbers(lines[0], numbers, table.problem)) return table;
  if (lines.size() == 1) {
    // Only the time-0 row: it has no line end.
    if (numbers.size() != 21 || !lines[0].ends_with("\t ")) {
      table.problem = "an incomplete time-0 row: '" + lines[0] + "'";
      return table;
    }
    table.time_zero_row = numbers;
  } else {
    // The first block row continues the time-0 row's line.
    if (numbers.size() != 41) {
      table.problem = "the time-0 line holds " + std::to_string(numbers.size()) +
                      " numbers instead of 21 + 20: '" + lines[0] + "'";
      return table;
    }
    table.time_zero_row.assign(numbers.begin(), numbers.begin() + 21);
    table.rows.emplace_back(numbers.begin() + 21, numbers.end());
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
      if (!lines[i].starts_with(" ") || !row_numbers(lines[i], numbers, table.problem)) {
        if (table.problem.empty()) table.problem = "a row without its leading blank";
        return table;
      }
      if (numbers.size() != 20) {
        table.problem = "a row with " + std::to_string(numbers.size()) +
                        " numbers instead of 20: '" + lines[i] + "'";
        return table;
      }
      table.rows.push_back(numbers);
    }
    // Every block row ends with a line feed and a blank.
    if (lines.back() != " ") {
      table.problem = "the flux file does not end with a complete row: '" + lines.back() + "'";
      return table;
    }
  }
  if (!all_zero(table.time_zero_row, 0, 21)) {
    table.problem = "the time-0 row is not all zero";
    return table;
  }
  table.well_formed = true;
  return table;
}

}  // namespace tolvanex::testing
