#include "programs/entry_sequence.h"

#include <cstdio>

#include "report/console_messages.h"
#include "report/output_streams.h"
#include "run/interruption.h"
#include "run/run.h"
#include "setup/run_parameters.h"

namespace tolvanex {

template <FluxPruning pruning>
int run_program(int argc, const char* const* argv) {
  const int user_argument_count = argc - 1;
  if (!is_valid_argument_count(user_argument_count)) {
    // Nothing ran: a script must be able to tell, so this is not success.
    print_usage(user_argument_count, stdout);
    return kUsageExitStatus;
  }
  const char* const* user_arguments = argv + 1;
  const char* trace_path = user_arguments[user_argument_count - 1];

  // From here on a SIGINT or SIGTERM ends the run after its current block (or
  // after set-up, when no block runs), never in the middle of the headers.
  install_interruption_handlers();
  OutputStreams out;
  out.console = stdout;
  if (!open_output_files(trace_path, out)) return 1;

  Run<pruning> run(parse_run_parameters(user_argument_count, user_arguments), out);
  while (!run.over()) {
    if (!run.run_block()) {
      abandon_output_files(out);
      return 1;
    }
  }
  if (!close_output_files(out)) return 1;
  if (const int signal_number = interruption_signal(); signal_number != 0) {
    std::fflush(out.console);
    report_interruption();
    return 128 + signal_number;
  }
  return 0;
}

template int run_program<FluxPruning::On>(int, const char* const*);
template int run_program<FluxPruning::Off>(int, const char* const*);

}  // namespace tolvanex
