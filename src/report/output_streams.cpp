#include "report/output_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tolvanex {
namespace {

// A file this run created, to be removed again when the run is refused
// before writing to it: the path it was created by, or through a dangling
// symbolic link the link's target; empty when the file existed.
struct CreatedFile {
  char path[PATH_MAX] = "";
  void remove() const {
    if (path[0] != '\0') unlink(path);
  }
};

// Opens PATH for appending as fopen(PATH, "a") does, creating it when
// missing. On failure prints "tolvanex: cannot open PATH: REASON".
std::FILE* open_for_appending(const char* path, CreatedFile& created) {
  int descriptor = open(path, O_WRONLY | O_APPEND);
  if (descriptor < 0 && errno == ENOENT) {
    descriptor = open(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL, 0666);
    if (descriptor >= 0) {
      std::snprintf(created.path, sizeof created.path, "%s", path);
    } else if (errno == EEXIST) {  // a dangling symbolic link: its target is made
      descriptor = open(path, O_WRONLY | O_APPEND | O_CREAT, 0666);
      if (descriptor >= 0 && !realpath(path, created.path)) created.path[0] = '\0';
    }
  }
  std::FILE* f = descriptor < 0 ? nullptr : fdopen(descriptor, "a");
  if (!f) {
    std::fprintf(stderr, "tolvanex: cannot open %s: %s\n", path, std::strerror(errno));
    if (descriptor >= 0) close(descriptor);
    created.remove();
  }
  return f;
}

// Both streams write to one file (by any path, link or symbolic link), so
// their lines would mix. A character device such as /dev/null can take both.
bool same_file(std::FILE* a, std::FILE* b) {
  struct stat sa {}, sb {};
  return fstat(fileno(a), &sa) == 0 && fstat(fileno(b), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino && !S_ISCHR(sa.st_mode);
}

// Closes a stream nothing was written to, and removes its file when this
// run created it.
void close_unused(std::FILE*& f, const CreatedFile& created) {
  std::fclose(f);
  f = nullptr;
  created.remove();
}

bool report_write_failure(const char* path) {
  std::fprintf(stderr, "tolvanex: cannot write %s\n", path);
  return false;
}

bool flush_one(std::FILE* f, const char* path) {
  if (std::fflush(f) != 0 || std::ferror(f)) return report_write_failure(path);
  return true;
}

}  // namespace

bool open_output_files(const char* trace_path, OutputStreams& out) {
  out.trace_path = trace_path;
  out.flux_path = kFluxFileName;
  CreatedFile trace_created, flux_created;
  out.trace = open_for_appending(trace_path, trace_created);
  if (!out.trace) return false;
  out.flux = open_for_appending(kFluxFileName, flux_created);
  if (out.flux && same_file(out.trace, out.flux)) {
    std::fprintf(stderr,
                 "tolvanex: the trace file %s is the flux file %s; give the trace file another "
                 "name\n",
                 trace_path, kFluxFileName);
    close_unused(out.flux, flux_created);
  }
  if (!out.flux) {
    close_unused(out.trace, trace_created);
    return false;
  }
  return true;
}

bool flush_output_files(const OutputStreams& out) {
  return flush_one(out.trace, out.trace_path) && flush_one(out.flux, out.flux_path);
}

bool flush_console(std::FILE* console) {
  // A write that failed while stdio emptied a full buffer dropped that
  // buffer and left its reason in errno; fflush gives its own when it has
  // more to write and fails again.
  const int earlier_reason = errno;
  const bool flushed = std::fflush(console) == 0;
  if (flushed && !std::ferror(console)) return true;
  const int reason = flushed ? earlier_reason : errno;
  std::fprintf(stderr, "tolvanex: cannot write standard output: %s\n",
               std::strerror(reason != 0 ? reason : EIO));
  return false;
}

bool close_output_files(OutputStreams& out) {
  bool ok = true;
  if (out.trace) {
    const bool failed = std::ferror(out.trace) != 0;
    if (std::fclose(out.trace) != 0 || failed) ok = report_write_failure(out.trace_path);
    out.trace = nullptr;
  }
  if (out.flux) {
    const bool failed = std::ferror(out.flux) != 0;
    if (std::fclose(out.flux) != 0 || failed) ok = report_write_failure(out.flux_path);
    out.flux = nullptr;
  }
  return ok;
}

void abandon_output_files(OutputStreams& out) {
  if (out.trace) std::fclose(out.trace);
  if (out.flux) std::fclose(out.flux);
  out.trace = nullptr;
  out.flux = nullptr;
}

}  // namespace tolvanex
