// What a solve gives back: the state at the asked times (and after every
// internal step, when asked), the time each asked fraction of the enzyme
// became product, the constants used and the solver's statistics.
#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/temperature_constants.h"

namespace tolvanex::engine {

// States at a list of times: row i (width components, state_layout.h) is
// the state at times[i].
struct Trajectory {
  std::size_t width = 0;
  std::vector<double> times;
  std::vector<double> values;

  void add(double time, const double* state) {
    times.push_back(time);
    values.insert(values.end(), state, state + width);
  }
};

struct FractionTime {
  double fraction = 0;
  double time = 0;   // s; NaN when not reached
  std::string note;  // why it is NaN; empty when reached
};

struct SolverStatistics {
  long steps = 0;
  long rhs_evaluations = 0;
  long jacobian_evaluations = 0;
  long linear_setups = 0;
  long error_test_failures = 0;
  long nonlinear_iterations = 0;
  long nonlinear_failures = 0;
  long root_evaluations = 0;
  double last_step = 0;  // s
  int last_order = 0;
  double wall_seconds = 0;
};

struct EngineSolution {
  Trajectory at_times;  // in the order of the request's output times
  Trajectory steps;     // time 0 and every internal step, when asked
  std::vector<FractionTime> fractions;  // in the order of the request
  double end_time = 0;         // s, where the solve ended
  bool stopped_early = false;  // before the end time, every fraction reached
  KineticConstants constants;
  SolverStatistics statistics;
  std::vector<std::string> warnings;  // the solver's own, one line each
};

// The solver gave up: its return flag by name, the time it reached and its
// own message, on one line.
class SolverFailure : public std::runtime_error {
 public:
  SolverFailure(const std::string& message, std::string flag, double time)
      : std::runtime_error(message), flag_(std::move(flag)), time_(time) {}
  const std::string& flag() const { return flag_; }
  double time() const { return time_; }

 private:
  std::string flag_;
  double time_;
};

}  // namespace tolvanex::engine
