// One iteration of the integrator: evaluate the model on the current state,
// choose the step, advance by one explicit Euler step, judge the new state.
//
//   dX/dt = sum of the net fluxes producing X minus those consuming it
//   X(t + dt) = X(t) + dt dX/dt(t)
#pragma once

#include "integrator/consistency_guard.h"
#include "integrator/step_control.h"
#include "model/reaction_network.h"

namespace tolvanex {

// Which of the two programs is being built: the full one drops negligible
// net fluxes after every evaluation, the other keeps them all.
enum class FluxPruning { On, Off };

// Everything one iteration reads and changes; owned by the run.
struct IterationRecords {
  SpeciesState& state;
  const NetworkConstants& network;
  RunParameters& parameters;
  RunProgress& progress;
  BlockCounters& counters;
  FluxTotals& totals;
  ReportLevels& levels;
  StepControl& step;
  ModelEvaluation& evaluation;
  const OutputStreams& out;
};

template <FluxPruning pruning>
__attribute__((noinline)) void evaluate_model(SpeciesState& s, const NetworkConstants& c, ModelEvaluation& e) {
  speciate(s, c.speciation);
  e.fluxes = evaluate_fluxes(s, c);
  if constexpr (pruning == FluxPruning::On) prune_negligible_fluxes(e.fluxes);
  e.rates = species_rates(e.fluxes, c.monothiol_balance);
}

template <FluxPruning pruning>
TOLVANEX_HOT IterationVerdict integrator_iteration(IterationRecords& r) {
  r.step.timestep = r.progress.basic_timestep;
  evaluate_model<pruning>(r.state, r.network, r.evaluation);
  choose_timestep(r.state, r.evaluation, r.parameters, r.progress, r.counters, r.step,
                  r.out.console);
  if (r.parameters.target2 > r.counters.iterations) {
    tighten_timestep(r.state, r.evaluation, r.network, r.step, r.counters);
  }
  const double cap = kTimestepCapFactor * r.progress.basic_timestep;
  if (r.step.timestep > cap) r.step.timestep = cap;
  advance_state(r.state, r.evaluation.rates, r.evaluation.fluxes, r.totals, r.progress.time,
                r.step.timestep, r.parameters.organomercurial);
  return check_consistency(r.state, r.progress.time, r.parameters, r.levels, r.out);
}

}  // namespace tolvanex
