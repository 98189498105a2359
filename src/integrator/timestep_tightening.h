// The tightening check of the first target2 iterations of every block: trial
// steps ahead of the state tell whether the chosen step would turn a growing
// intermediate into a falling one, and the step is divided by 3 while it
// would (at most 30 times). Rarely run, so kept out of the iteration's
// straight path.
#pragma once

#include "integrator/model_evaluation.h"
#include "integrator/progress.h"
#include "model/reaction_network.h"

namespace tolvanex {

inline constexpr int kMaxTighteningCycles = 30;

// The tightening check: the step divided by 3 as long as a trial step of
// that length would turn a growing intermediate into a falling one (at most
// 30 times); adds the iteration to the block's tightening statistics.
double tighten_timestep(const SpeciesState& s, const ModelEvaluation& e, const NetworkConstants& c,
                        double timestep, double maxratio, BlockCounters& counters);

// Derivatives of a trial state one step of length dt ahead of s (fluxes never
// pruned). Only the derivatives of the tightening list are meaningful.
SpeciesRates trial_rates(const SpeciesState& s, const SpeciesRates& d, const NetworkConstants& c,
                         double dt);

}  // namespace tolvanex
