#include "programs/entry_sequence.h"

#include <cstdio>
#include <cstring>

#include "programs/standard_descriptors.h"
#include "report/console_messages.h"
#include "report/output_streams.h"
#include "run/interruption.h"
#include "run/run.h"
#include "setup/run_parameters.h"

namespace tolvanex {
namespace {

template <FluxPruning pruning>
constexpr const char* kProgramName = pruning == FluxPruning::On ? "tolvanex" : "tolvanex_unpruned";

// The exit status of a run that wrote only to the console: `status`, or 1
// when the console could not take it.
int console_status(int status) { return flush_console(stdout) ? status : 1; }

}  // namespace

template <FluxPruning pruning>
int run_program(int argc, const char* const* argv) {
  if (!open_closed_standard_descriptors()) return 1;
  report_broken_pipes_as_write_errors();
  const int user_argument_count = argc - 1;
  if (user_argument_count == 1) {
    // Single words the program would otherwise refuse for their count.
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
      print_help(stdout);
      return console_status(0);
    }
    if (std::strcmp(argv[1], "--version") == 0) {
      print_version(kProgramName<pruning>, stdout);
      return console_status(0);
    }
  }
  if (!is_valid_argument_count(user_argument_count)) {
    // Nothing ran: a script must be able to tell, so this is not success.
    print_usage(user_argument_count, stdout);
    flush_console(stdout);
    return kUsageExitStatus;
  }
  const char* const* user_arguments = argv + 1;
  const char* trace_path = user_arguments[user_argument_count - 1];
  warn_non_numeric_arguments(user_argument_count, user_arguments);

  // From here on a SIGINT or SIGTERM ends the run after its current block (or
  // after set-up, when no block runs), never in the middle of the headers.
  install_interruption_handlers();
  OutputStreams out;
  out.console = stdout;
  if (!open_output_files(trace_path, out)) return 1;

  Run<pruning> run(parse_run_parameters(user_argument_count, user_arguments), out);
  // The console is checked at every block end, as the files are; a lost
  // console ends the run there, with the files closed as usual.
  bool console_written = true;
  while (console_written && !run.over()) {
    if (!run.run_block()) {
      abandon_output_files(out);
      return 1;
    }
    console_written = flush_console(out.console);
  }
  const bool files_closed = close_output_files(out);
  if (console_written) console_written = flush_console(out.console);
  if (!files_closed || !console_written) return 1;
  if (const int signal_number = run.control().stop_signal; signal_number != 0) {
    report_interruption();
    return 128 + signal_number;
  }
  return 0;
}

template int run_program<FluxPruning::On>(int, const char* const*);
template int run_program<FluxPruning::Off>(int, const char* const*);

}  // namespace tolvanex
