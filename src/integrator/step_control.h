// Choice of the step length of one iteration.
//
// No error estimate is used: the step follows from relative changes
// r = timestep |dX| / X of the species, starting from the Basic Timestep.
//  - first amount: a species at exactly 0 that starts to form gets the step
//    that forms 1e-39 mol/L of it;
//  - increase: early in the run the fastest-rising species rises by 10 %;
//  - decrease and target: the fastest-falling (limiting) species loses 1/target
//    of its amount, target depending on how much of it is left against A0;
//  - overshoot: S may rise by at most a tenth of the room left below S0;
//  - tightening (first target2 iterations of each block): the step is divided
//    by 3, up to 30 times, while a trial step turns a growing intermediate
//    into a falling one;
//  - cap: at most 10 x the Basic Timestep.
// Ties between equal ratios go to the species earlier in each fixed list.
#pragma once

#include <cstdio>

#include "model/reaction_network.h"
#include "run/run_progress.h"
#include "setup/run_parameters.h"

namespace tolvanex {

struct StepControl {
  double timestep = 0;            // s
  int first_amount_flag = 0;      // 1 when the first-amount rule shortened the step
  double max_increase_ratio = 0;  // largest ratio among rising species
  double ratio_A = 0;             // ratio of A in this iteration, 0 if A did not change
  double ratio_MerB = -1;         // ratio of MerB; kept across iterations. Starts at a
                                  // value no maxratio (>= 0) can equal, so that the
                                  // target rule tests for A alone until MerB changes.
  double maxratio = 0;            // largest ratio among falling species
  double limiting_amount = 0;     // amount of the species holding maxratio
  double target = 0;              // the limiting species loses 1/target of its amount
};

// The model evaluated on one state: net fluxes and derivatives.
struct ModelEvaluation {
  NetFluxes fluxes;
  SpeciesRates rates;
};

inline constexpr double kFirstAmount = 1e-39;  // mol/L formed by a species' first step
inline constexpr int kMaxTighteningCycles = 30;
inline constexpr double kTimestepCapFactor = 10;

// First-amount, increase, decrease, target and overshoot rules, starting
// from step.timestep. Prints the first-amount and overshoot messages.
void choose_timestep(const SpeciesState& s, const ModelEvaluation& e, const RunParameters& p,
                     const RunProgress& progress, const BlockCounters& counters,
                     StepControl& step, std::FILE* console);

// Divides step.timestep by 3 while a trial step of that length would turn a
// growing intermediate into a falling one (at most 30 times), and adds the
// iteration to the block's tightening statistics.
void tighten_timestep(const SpeciesState& s, const ModelEvaluation& e, const NetworkConstants& c,
                      StepControl& step, BlockCounters& counters);

// Derivatives of a trial state one step of length dt ahead of s (fluxes never
// pruned). Only the twelve intermediates' derivatives are meaningful.
SpeciesRates trial_rates(const SpeciesState& s, const SpeciesRates& d, const NetworkConstants& c,
                         double dt);

}  // namespace tolvanex
