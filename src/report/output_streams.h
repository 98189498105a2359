// The three streams a run writes to. The console is standard output in the
// programs; tests hand in files of their own.
//
// Both files are opened for appending and are only ever appended to. A file
// that cannot be opened or written ends the run with a message on standard
// error and exit status 1: a run that writes nowhere for hours and then
// reports success would be worse than no run.
#pragma once

#include <cstdio>

namespace tolvanex {

inline constexpr const char* kFluxFileName = "flux_analysis.txt";

struct OutputStreams {
  std::FILE* console = nullptr;
  std::FILE* trace = nullptr;  // concentration table, named on the command line
  std::FILE* flux = nullptr;   // cumulative net fluxes, flux_analysis.txt
  const char* trace_path = "";
  const char* flux_path = kFluxFileName;
};

// Opens the trace file, then the flux file, for appending. On failure prints
// "tolvanex: cannot open PATH: REASON" and returns false; a flux file that
// fails leaves the trace file closed again, and removed when this call
// created it. A trace file that is the flux file by another path is refused
// the same way, with a message naming both, before anything is written.
bool open_output_files(const char* trace_path, OutputStreams& out);

// Pushes what has been written to both files out to the system. On failure
// prints "tolvanex: cannot write PATH" and returns false.
bool flush_output_files(const OutputStreams& out);

// Pushes the console out; on a failure now or in an earlier write prints
// "tolvanex: cannot write standard output: REASON" and returns false.
bool flush_console(std::FILE* console);

// Closes the trace file, then the flux file, with the same check.
bool close_output_files(OutputStreams& out);

// Closes both files after a failure that has already been reported.
void abandon_output_files(OutputStreams& out);

}  // namespace tolvanex
