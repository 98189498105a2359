#include "support/program_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace tolvanex::testing {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1) {
    pieces.push_back(text.substr(from, at - from));
  }
  pieces.push_back(text.substr(from));
  return pieces;
}

int count_occurrences(const std::string& contents, const std::string& text) {
  int count = 0;
  for (auto at = contents.find(text); !text.empty() && at != std::string::npos;
       at = contents.find(text, at + text.size())) {
    ++count;
  }
  return count;
}

std::vector<std::string> read_argument_file(const std::string& path) {
  std::vector<std::string> words;
  std::istringstream lines(read_file(path));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line.starts_with("#") ? "" : line);
    for (std::string word; in >> word;) words.push_back(word);
  }
  return words;
}

std::vector<std::string> example_arguments(
    const std::string& name, const std::vector<std::pair<int, std::string>>& changes) {
  auto arguments = read_argument_file(std::string(kSourceDir) + "/examples/" + name + ".args");
  for (const auto& [at, value] : changes) arguments.at(arguments.size() - 47 + at) = value;
  return arguments;
}

std::string ProgramRun::file(const std::string& name) const {
  return read_file(name.starts_with("/") ? name : folder + "/" + name);
}

bool ProgramRun::has_file(const std::string& name) const {
  return access((name.starts_with("/") ? name : folder + "/" + name).c_str(), F_OK) == 0;
}

std::string make_fresh_folder() {
  // One scratch folder per test process, which other users may enter (for
  // the runs as another user) but not list.
  static const struct ScratchRoot {
    std::string path;
    ScratchRoot() {
      path = std::filesystem::temp_directory_path().string() + "/tolvanex-test-XXXXXX";
      if (!mkdtemp(path.data()) || chmod(path.c_str(), 0711) != 0) throw std::runtime_error(path);
    }
    ~ScratchRoot() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  } root;
  std::string folder = root.path + "/run-XXXXXX";
  if (!mkdtemp(folder.data())) throw std::runtime_error(folder);
  return folder;
}

StartedProgram::StartedProgram(const std::string& program,
                               const std::vector<std::string>& arguments, std::string folder,
                               int timeout_seconds, uid_t user)
    : program_(program),
      folder_(folder.empty() ? make_fresh_folder() : folder),
      capture_(make_fresh_folder()) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const std::string out = capture_ + "/out", err = capture_ + "/err";
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);  // before the change of user
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    if (user != kOwnUser && (setgroups(0, nullptr) || setgid(user) || setuid(user))) _exit(126);
    if (chdir(folder_.c_str()) != 0) _exit(125);
    for (int s : {SIGINT, SIGTERM, SIGALRM}) signal(s, SIG_DFL);  // even if the tests ignore them
    alarm(static_cast<unsigned>(timeout_seconds));
    execv(program.c_str(), argv.data());
    _exit(127);
  }
}

StartedProgram::~StartedProgram() {
  if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
}

ProgramRun StartedProgram::wait() {
  ProgramRun run;
  run.folder = folder_;
  int status = 0;
  if (pid_ <= 0 || waitpid(std::exchange(pid_, -1), &status, 0) < 0) return run;
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.standard_output = read_file(capture_ + "/out");
  run.standard_error = read_file(capture_ + "/err");
  for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                           "AddressSanitizer:DEADLYSIGNAL", ": runtime error: "}) {
    if (run.standard_error.find(mark) != std::string::npos) {
      ADD_FAILURE() << "sanitizer finding in a run of " << program_ << ":\n" << run.standard_error;
      break;
    }
  }
  return run;
}

ProgramRun run_program_in(const std::string& program, const std::vector<std::string>& arguments,
                          std::string folder, int timeout_seconds, uid_t user) {
  return StartedProgram(program, arguments, std::move(folder), timeout_seconds, user).wait();
}

namespace {

// The numbers of a row: the pieces between tabs, each a number framed by
// blanks; the last piece may be blanks only. Nothing when a piece is no number.
std::vector<std::string> row_numbers(const std::string& line) {
  std::vector<std::string> numbers;
  const std::vector<std::string> pieces = split(line, '\t');
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const auto first = pieces[i].find_first_not_of(' ');
    if (first == std::string::npos) return i + 1 == pieces.size() ? numbers : decltype(numbers){};
    numbers.push_back(pieces[i].substr(first, pieces[i].find_last_not_of(' ') + 1 - first));
    char* end = nullptr;
    std::strtod(numbers.back().c_str(), &end);
    if (*end != '\0') return {};
  }
  return numbers;
}

// The rows after a file's column header, whose end is given (the file is
// written in order: the rest of the header comes before it), when the file's
// opening, its 38 rate constant lines and one column header are there. The
// rows come one a line, the time-0 row first, with the lines of consistency
// guard reports between them; a complete file ends with a row's ending.
FileTable read_table(const std::string& contents, const std::string& opening,
                     const std::string& header_end, std::size_t time_zero_columns,
                     std::size_t columns, const std::string& row_ending) {
  FileTable table;
  table.problem = "no complete header";
  if (!contents.starts_with(opening) || count_occurrences(contents, "\nDeltaG*(") != 38 ||
      count_occurrences(contents, header_end) != 1) {
    return table;
  }
  std::string rest = contents.substr(contents.find(header_end) + header_end.size());
  if (time_zero_columns == 21) {  // flux: the first block row goes on the time-0 row's line
    std::size_t end = std::string::npos;
    for (int tabs = 0; tabs < 21 && (end = rest.find('\t', end + 1)) != std::string::npos;) ++tabs;
    if (end != std::string::npos) rest.insert(end + 1, "\n");
  }
  for (const std::string& line : split(rest, '\n')) {
    if (line.empty() || line == " " || line == "  " || line.starts_with("  Error: ") ||
        line.starts_with(" elapsed time is ")) {
      continue;
    }
    table.rows.push_back(row_numbers(line));
    if (table.rows.back().size() != (table.rows.size() == 1 ? time_zero_columns : columns)) {
      table.problem = "an incomplete row: '" + line + "'";
      return table;
    }
  }
  // A guard report ends with "\n ", as a flux row does, but a trace row never.
  table.well_formed = !table.rows.empty() && rest.ends_with(row_ending) &&
                      (row_ending == "\n " || !rest.ends_with("\n "));
  table.problem = table.well_formed ? "" : "no complete last row";
  if (!table.rows.empty()) table.rows.erase(table.rows.begin());
  return table;
}

}  // namespace

FileTable read_trace_table(const std::string& contents, bool organomercurial) {
  // A row ends with a blank, after a tab unless it holds the organic product.
  return read_table(
      contents, " \n  tolvanex \n",
      "Anionic  Int2 C96-bound\t " + std::string(organomercurial ? "organic product \n" : ""),
      organomercurial ? 18 : 17, organomercurial ? 18 : 17, organomercurial ? " " : "\t ");
}

FileTable read_flux_table(const std::string& contents) {
  return read_table(contents, "\n\n Flux analysis for run ", "flux37      \t  flux39 \n     ", 21,
                    20, "\n ");
}

RunFiles expect_complete_files(const ProgramRun& run, const std::vector<std::string>& arguments) {
  RunFiles files{read_trace_table(run.file(arguments.back()), arguments.size() == 47),
                 read_flux_table(run.file("flux_analysis.txt"))};
  const auto reports =
      static_cast<std::size_t>(count_occurrences(run.standard_output, "\n average time  "));
  EXPECT_TRUE(files.trace.well_formed) << files.trace.problem;
  EXPECT_TRUE(files.flux.well_formed) << files.flux.problem;
  EXPECT_EQ(files.trace.rows.size(), reports);
  EXPECT_EQ(files.flux.rows.size(), reports);
  return files;
}

}  // namespace tolvanex::testing
