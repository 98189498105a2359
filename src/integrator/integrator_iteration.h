// One iteration of the integrator: evaluate the model on the current state,
// choose the step, advance by one explicit Euler step, judge the new state.
//
//   dX/dt = sum of the net fluxes producing X minus those consuming it
//   X(t + dt) = X(t) + dt dX/dt(t)
#pragma once

#include <cmath>

#include "integrator/consistency_guard.h"
#include "integrator/flux_pruning.h"
#include "integrator/iteration_events.h"
#include "integrator/model_evaluation.h"
#include "integrator/progress.h"
#include "integrator/resting_route.h"
#include "integrator/step_control.h"
#include "model/reaction_network.h"
#include "simd/compiler_hints.h"

namespace tolvanex {

// Everything one iteration reads and changes; owned by the run.
struct IterationRecords {
  SpeciesState& state;
  const NetworkConstants& network;
  const RunParameters& parameters;
  RunProgress& progress;
  BlockCounters& counters;
  FluxTotals& totals;
  ReportLevels& levels;
  StepControl& step;
  ModelEvaluation& evaluation;
  IterationEvents& events;
};

template <FluxPruning pruning>
TOLVANEX_HOT void evaluate_model(SpeciesState& s, const NetworkConstants& c, ModelEvaluation& e) {
  speciate(s, c.speciation);
  e.resting_parts_zero = false;
  if constexpr (pruning == FluxPruning::On) {
    // Evaluated into a copy that the pruning takes up as pairs in registers:
    // pairs loaded back from the record would wait for its single stores.
    e.fluxes = evaluate_fluxes(s, c);
    prune_negligible_fluxes(e.fluxes);
  } else {
    evaluate_busy_fluxes(s, c, e.fluxes);
    evaluate_resting_route_fluxes(s, c, e.fluxes);
  }
  species_rates(e.fluxes, c.monothiol_balance, e.rates);
  // The step rules read the amounts and derivatives from the records: kept
  // in registers from here, two dozen of them would go to the stack and
  // back. (The full program mostly takes the resting evaluation instead,
  // and was measured no faster with this.)
  if constexpr (pruning == FluxPruning::Off) read_records_again();
}

// Everything after the evaluation: step choice, tightening, cap, advance,
// guard. A resting evaluation lets the step rules, and for a finite step
// the advance and the guard, leave the resting species alone.
template <bool resting>
TOLVANEX_HOT IterationVerdict finish_iteration(IterationRecords& r) {
  // The step record is worked on in a local copy, which the compiler can
  // keep in registers; it goes back to the run's record at the end.
  StepControl step = r.step;
  choose_timestep<resting>(r.state, r.evaluation, r.parameters, r.progress, r.counters, step,
                           r.events);
  if (r.parameters.target2 > r.counters.iterations) {
    step.timestep = tighten_timestep(r.state, r.evaluation, r.network, step.timestep,
                                     step.maxratio, r.counters);
  }
  const double cap = kTimestepCapFactor * r.progress.basic_timestep;
  if (step.timestep > cap) step.timestep = cap;
  r.step = step;
  const double dt = step.timestep;
  const bool leaves_resting_species_alone = resting && std::isfinite(dt);
  r.evaluation.resting_species_left_at_zero = leaves_resting_species_alone;
  if (leaves_resting_species_alone) {
    advance_state<true>(r.state, r.evaluation.rates, r.evaluation.fluxes, r.totals, r.progress.time,
                        dt, r.parameters.organomercurial);
    return check_consistency<true>(r.state, r.progress.time, r.parameters, r.levels, r.events);
  }
  advance_state(r.state, r.evaluation.rates, r.evaluation.fluxes, r.totals, r.progress.time, dt,
                r.parameters.organomercurial);
  return check_consistency(r.state, r.progress.time, r.parameters, r.levels, r.events);
}

template <FluxPruning pruning>
TOLVANEX_HOT IterationVerdict integrator_iteration(IterationRecords& r) {
  r.step.timestep = r.progress.basic_timestep;
  if constexpr (pruning == FluxPruning::On) {
    if (r.network.resting_route_possible &&
        (r.evaluation.resting_species_left_at_zero || resting_species_at_zero(r.state)) &&
        evaluate_resting(r.state, r.network, r.evaluation)) {
      // As after the full evaluation: the step rules read the records.
      read_records_again();
      return finish_iteration<true>(r);
    }
  }
  evaluate_model<pruning>(r.state, r.network, r.evaluation);
  return finish_iteration<false>(r);
}

}  // namespace tolvanex
