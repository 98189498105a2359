#include "setup/entry_sequence.h"

#include <cstdio>

#include "model/species_state.h"
#include "report/output_files.h"
#include "run/block_loop.h"
#include "run/interruption.h"
#include "setup/output_streams.h"
#include "setup/rate_table.h"
#include "setup/run_parameters.h"

namespace tolvanex {

void print_usage(int user_argument_count, std::FILE* console) {
  std::fprintf(console,
               "You have %d arguments, instead of 46 or 47 . \nYou should run the program with "
               "the following syntax:\ntolvanex [concentration of organomercurial (optional)] "
               "[number of steps with timestep tightening] [initial_timestep][pH] [type of "
               "molecule] [how many seconds of kinetic information you want] [HgMerB (or free "
               "MerB) concentration] [concentration of the Hg-removing molecules tested] "
               "[barriers in kcal.mol-1 for the 38 reaction steps] [name of output file]\n Type "
               "of molecule is : 1 for MerA, 2 for dithiothreitol, 3 for GSH",
               user_argument_count);
}

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

  RunParameters p = parse_run_parameters(user_argument_count, user_arguments);
  RunRecords run;
  run.state = initial_state(p);
  if (p.organomercurial) {
    std::fprintf(out.console, "\n PHMB= %12.10e 7 \t MerB=%12.10e \n", run.state.PHMB,
                 run.state.MerB);
  }
  if (!has_known_acceptor(p.MoleculeType)) {
    std::fprintf(stderr,
                 "tolvanex: warning: type of molecule %g is none of 1 (MerA), 2 (dithiol) or 3 "
                 "(monothiol); the acceptor takes part in no reaction\n",
                 p.MoleculeType);
  }
  run.levels.A_report_level = run.state.A;
  run.progress.basic_timestep = p.initial_timestep;

  write_header_start(p, run.state.A, run.state.S, out);
  const RateTable rates = compute_rate_constants(p);
  write_rate_constant_lines(p, rates, out);
  write_header_end(p, run.state.A, run.state.S, out);

  const NetworkConstants network = network_constants(rates, p);
  if (!run_block_loop<pruning>(p, network, run, out)) {
    abandon_output_files(out);
    return 1;
  }
  if (!close_output_files(out)) return 1;
  if (const int signal_number = interruption_signal(); signal_number != 0) {
    std::fflush(out.console);
    std::fprintf(stderr, "tolvanex: interrupted; stopped after the current block\n");
    return 128 + signal_number;
  }
  return 0;
}

template int run_program<FluxPruning::On>(int, const char* const*);
template int run_program<FluxPruning::Off>(int, const char* const*);

}  // namespace tolvanex
