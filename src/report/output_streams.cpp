#include "report/output_streams.h"

#include <cerrno>
#include <cstring>

namespace tolvanex {
namespace {

std::FILE* open_for_appending(const char* path) {
  std::FILE* f = std::fopen(path, "a");
  if (!f) std::fprintf(stderr, "tolvanex: cannot open %s: %s\n", path, std::strerror(errno));
  return f;
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
  out.trace = open_for_appending(trace_path);
  if (!out.trace) return false;
  out.flux = open_for_appending(kFluxFileName);
  if (!out.flux) {
    std::fclose(out.trace);
    out.trace = nullptr;
    return false;
  }
  return true;
}

bool flush_output_files(const OutputStreams& out) {
  return flush_one(out.trace, out.trace_path) && flush_one(out.flux, out.flux_path);
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
