#include "run/run.h"

#include <algorithm>

#include "report/console_messages.h"
#include "report/console_report.h"
#include "report/output_files.h"
#include "run/block_end.h"
#include "run/block_iterations.h"
#include "run/interruption.h"
#include "setup/rate_table.h"

namespace tolvanex {

template <FluxPruning pruning>
Run<pruning>::Run(const RunParameters& parameters, const OutputStreams& out, RunOptions options)
    : parameters_(parameters),
      out_(out),
      loop_copy_(std::min(options.widest_loop_copy, widest_loop_copy())),
      control_{parameters.wanted_time, false} {
  SpeciesState& state = records_.state;
  state = initial_state(parameters_);
  if (parameters_.organomercurial) {
    print_organomercurial_start(state[Species::PHMB], state[Species::MerB], out_.console);
  }
  if (!has_known_acceptor(parameters_.MoleculeType)) {
    warn_unknown_molecule_type(parameters_.MoleculeType);
  }
  records_.levels.A_report_level = state[Species::A];
  records_.progress.basic_timestep = parameters_.initial_timestep;

  write_header_start(parameters_, state, out_);
  const RateTable rates = compute_rate_constants(parameters_);
  write_rate_constant_lines(parameters_, rates, out_);
  write_header_end(parameters_, state, out_);

  network_ = network_constants(rates, parameters_);
  if (!options.resting_route) network_.resting_route_possible = false;
}

template <FluxPruning pruning>
IterationVerdict Run<pruning>::iterate() {
  IterationRecords r = iteration_records(records_, network_, parameters_);
  return integrator_iteration<pruning>(r);
}

template <FluxPruning pruning>
bool Run<pruning>::run_block() {
  RunProgress& progress = records_.progress;
  BlockCounters& counters = records_.counters;
  const SpeciesState& state = records_.state;

  progress.block_length = next_block_length(parameters_, progress, counters);
  counters = BlockCounters{};
  if (run_block_iterations<pruning>(records_, network_, parameters_, progress.block_length, out_,
                                    loop_copy_) == IterationVerdict::Error) {
    control_.stop();
  }

  progress.block_elapsed_time = progress.time - progress.previous_block_time;
  progress.block_change_of_P = state[Species::P] - progress.previous_block_P;
  progress.previous_block_time = progress.time;
  progress.previous_block_P = state[Species::P];
  progress.rate_of_change_of_P = progress.block_change_of_P / progress.block_elapsed_time;
  progress.total_iterations += counters.iterations;

  const StepControl& step = records_.step;
  const BlockReport report{state,
                           records_.evaluation.rates,
                           records_.evaluation.fluxes,
                           step.timestep,
                           step.maxratio,
                           step.target,
                           step.first_amount_flag,
                           records_.totals,
                           progress.time,
                           progress.total_iterations,
                           progress.block_elapsed_time,
                           progress.rate_of_change_of_P,
                           counters.iterations,
                           counters.tightening_iterations,
                           counters.extra_cycles,
                           counters.maxratio_sum,
                           parameters_.organomercurial,
                           parameters_.target2};
  print_block_report_opening(report, out_.console);
  append_block_rows(progress.time, state, records_.totals, parameters_.organomercurial, out_);
  if (!flush_output_files(out_)) return false;
  print_block_report_closing(report, out_.console);

  const BasicTimestepChange change = adapt_basic_timestep(progress, counters);
  if (change != BasicTimestepChange::None) {
    print_basic_timestep_change(change == BasicTimestepChange::Doubled, progress.basic_timestep,
                                out_.console);
  }
  const Stops stops = termination_tests(parameters_, progress, state[Species::P]);
  for (int i = 0; i < stops.count; ++i) {
    print_stop(stops.messages[static_cast<std::size_t>(i)], progress.time,
               progress.rate_of_change_of_P, out_.console);
    control_.stop();
  }
  if (time_stands_still(progress, counters)) {
    print_stop(StopMessage::TimeStandsStill, progress.time, progress.rate_of_change_of_P,
               out_.console);
    control_.stop();
  }
  if (const int signal_number = interruption_signal(); signal_number != 0) {
    control_.interrupt(signal_number, progress.time);
  }
  return true;
}

template class Run<FluxPruning::On>;
template class Run<FluxPruning::Off>;

}  // namespace tolvanex
