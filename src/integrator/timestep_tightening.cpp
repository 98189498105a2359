#include "integrator/timestep_tightening.h"

#include "simd/unrolled.h"

namespace tolvanex {
namespace {

// Is there an intermediate that is not falling now but would be falling after
// the trial step? Walked in the order of the tightening list.
bool growing_intermediate_turns(const SpeciesRates& now, const SpeciesRates& trial) {
  for (const Species x : kTighteningList) {
    if (now[x] >= 0 && trial[x] < 0) return true;
  }
  return false;
}

}  // namespace

SpeciesRates trial_rates(const SpeciesState& s, const SpeciesRates& d, const NetworkConstants& c,
                         double dt) {
  // Every integrated species one Euler step ahead (the organomercurial ones
  // too, which enter none of the tightening list's balances), S by both
  // acceptor forms.
  SpeciesState t = s;
  for_each_index<kSpeciesCount>([&](auto i) __attribute__((always_inline)) {
    if constexpr (kSpeciesTable[i].integrated) t.amount[i] = s.amount[i] + dt * d.rate[i];
  });
  t[Species::S] = s[Species::S] + dt * d[Species::thiol] + dt * d[Species::thiolate];
  speciate(t, c.speciation);
  return species_rates(evaluate_fluxes(t, c), c.monothiol_balance);
}

double tighten_timestep(const SpeciesState& s, const ModelEvaluation& e, const NetworkConstants& c,
                        double timestep, double maxratio, BlockCounters& counters) {
  int cycles = 0;
  while (growing_intermediate_turns(e.rates, trial_rates(s, e.rates, c, timestep))) {
    timestep = timestep / 3;
    ++cycles;
    if (cycles >= kMaxTighteningCycles) break;
  }
  counters.tightening_iterations += 1;
  counters.maxratio_sum += maxratio;
  counters.extra_cycles += cycles;
  return timestep;
}

}  // namespace tolvanex
