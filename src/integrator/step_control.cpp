#include "integrator/step_control.h"

namespace tolvanex {

FirstAmountOutcome apply_first_amounts(const SpeciesState& s, const SpeciesRates& d,
                                       double timestep, IterationEvents& events) {
  // A species at exactly 0 that would form more than the first amount in
  // this step gets the step that forms exactly the first amount.
  FirstAmountOutcome outcome{timestep, 0};
  for (const Species x : kFirstAmountList) {
    if (s[x] == 0 && d[x] * outcome.timestep > kFirstAmount) {
      outcome.timestep = kFirstAmount / d[x];
      events.add_first_amount(x, d[x] * outcome.timestep);
      outcome.first_amount_flag = 1;
    }
  }
  return outcome;
}

double correct_overshoot(const SpeciesState& s, double dS, const RunParameters& p, double timestep,
                         double maxratio, double target, IterationEvents& events) {
  const double overshoot = timestep * dS / (p.S0 - s[Species::S]);
  events.add_overshoot({maxratio, timestep, target});
  return timestep * 0.1 / overshoot;
}

}  // namespace tolvanex
