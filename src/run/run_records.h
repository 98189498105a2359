// Everything a run owns besides its parameters and constants.
#pragma once

#include "integrator/integrator_iteration.h"

namespace tolvanex {

// Everything the run owns besides the parameters and constants.
struct RunRecords {
  SpeciesState state;
  RunProgress progress;
  BlockCounters counters;
  FluxTotals totals;
  ReportLevels levels;
  StepControl step;
  ModelEvaluation evaluation;
  IterationEvents events;
};

// The records one iteration works on, gathered from the run's.
inline IterationRecords iteration_records(RunRecords& run, const NetworkConstants& network,
                                          const RunParameters& parameters) {
  return {run.state,  network,    parameters, run.progress,   run.counters,
          run.totals, run.levels, run.step,   run.evaluation, run.events};
}

}  // namespace tolvanex
