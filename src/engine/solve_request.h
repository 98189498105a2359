// What one solve of the rate equations is asked for: the conditions the rate
// laws depend on, the starting amounts, the end time, the outputs and the
// solver's settings. check_request refuses, before anything is solved, every
// value that cannot be meant.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "setup/run_parameters.h"

namespace tolvanex::engine {

inline constexpr double kReferenceTemperature = 298;  // K: the programs' temperature
inline constexpr double kDefaultRelativeTolerance = 1e-10;
inline constexpr double kDefaultAbsoluteFraction = 1e-12;
inline constexpr long kDefaultMaxSteps = 100000;

// What the rate constants and the rate laws depend on.
struct Conditions {
  std::array<double, kStepCount + 1> barriers{};  // kcal/mol, [1] .. [38]; [0] unused
  double pH = 7;
  double acceptor_type = 1;        // 1 MerA, 2 dithiol, 3 monothiol
  std::optional<double> pKa;       // of the acceptor's thiol groups; default by type
  double temperature = kReferenceTemperature;  // K
  bool organomercurial = false;    // the enzyme starts free and binds the organomercurial
};

struct SolverOptions {
  double relative_tolerance = kDefaultRelativeTolerance;
  // Absolute tolerance of each component, as a fraction of the amount it is
  // measured against (state_layout.h).
  double absolute_fraction = kDefaultAbsoluteFraction;
  long max_steps = kDefaultMaxSteps;
  bool flux_totals = false;  // also integrate total_flux1 .. total_flux37
  bool every_step = false;   // also keep the state after every internal step
  // End once every fraction is reached (or cannot be) and every output time
  // is passed, instead of going on to the end time.
  bool stop_at_last_fraction = false;
};

struct SolveRequest {
  Conditions conditions;
  double enzyme = 0;           // mol/L: HgMerB, or free MerB in organomercurial mode
  double acceptor = 0;         // mol/L
  double organomercurial = 0;  // mol/L of PHMB (organomercurial mode only)
  double end_time = 0;         // s
  std::vector<double> output_times;  // s, from 0 to end_time, any order
  std::vector<double> fractions;     // of the enzyme amount, for the times the product reaches them
  SolverOptions options;
};

// The pKa in force: the given one, else 6 for MerA and 10.4 for the others
// (the programs' values).
double effective_pKa(const Conditions& conditions);

// Throws std::invalid_argument naming the first value that cannot be meant:
// a barrier, pH, pKa or concentration that is not a finite number, a negative
// concentration or time, an acceptor type other than 1, 2 or 3, a
// temperature that is not positive, an output time outside 0 to the end
// time, a negative fraction, a tolerance or step limit out of range.
void check_request(const SolveRequest& request);

}  // namespace tolvanex::engine
