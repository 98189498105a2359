#include "support/program_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
  ProgramRun run;
  run.folder = folder.empty() ? make_fresh_folder() : folder;
  const std::string out_capture = make_fresh_folder();
  const std::string stdout_file = out_capture + "/stdout";
  const std::string stderr_file = out_capture + "/stderr";

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(run.folder.c_str()) != 0) _exit(125);
    const int out = open(stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    alarm(static_cast<unsigned>(timeout_seconds));  // SIGALRM ends a run that hangs
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.standard_output = read_file(stdout_file);
  run.standard_error = read_file(stderr_file);
  std::remove(stdout_file.c_str());
  std::remove(stderr_file.c_str());
  rmdir(out_capture.c_str());
  return run;
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

}  // namespace tolvanex::testing
