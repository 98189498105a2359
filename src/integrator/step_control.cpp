#include "integrator/step_control.h"

namespace tolvanex {
namespace {

// A species at exactly 0 that would form more than the first amount in this
// step gets the step that forms exactly the first amount.
void first_amount(const char* label, double X, double dX, FirstAmountOutcome& outcome,
                  std::FILE* console) {
  if (X == 0 && dX * outcome.timestep > kFirstAmount) {
    outcome.timestep = kFirstAmount / dX;
    std::fprintf(console, "\n\n  first amount of %s is %5.3e \n\n", label, dX * outcome.timestep);
    outcome.first_amount_flag = 1;
  }
}

// Is there an intermediate that is not falling now but would be falling after
// the trial step? Walked in the order K, N, E, Q, C, D, F, G, I, J, L, M.
bool growing_intermediate_turns(const SpeciesRates& now, const SpeciesRates& trial) {
  auto turns = [](double d, double d_trial) { return d >= 0 && d_trial < 0; };
  return turns(now.dK, trial.dK) || turns(now.dN, trial.dN) || turns(now.dE, trial.dE) ||
         turns(now.dQ, trial.dQ) || turns(now.dC, trial.dC) || turns(now.dD, trial.dD) ||
         turns(now.dF, trial.dF) || turns(now.dG, trial.dG) || turns(now.dI, trial.dI) ||
         turns(now.dJ, trial.dJ) || turns(now.dL, trial.dL) || turns(now.dM, trial.dM);
}

}  // namespace

FirstAmountOutcome apply_first_amounts(const SpeciesState& s, const SpeciesRates& d,
                                       double timestep, std::FILE* console) {
  FirstAmountOutcome outcome{timestep, 0};
  first_amount("ES", s.ES, d.dES, outcome, console);
  first_amount("C", s.C, d.dC, outcome, console);
  first_amount("D", s.D, d.dD, outcome, console);
  first_amount("E", s.E, d.dE, outcome, console);
  first_amount("F", s.F, d.dF, outcome, console);
  first_amount("G", s.G, d.dG, outcome, console);
  first_amount("I", s.I, d.dI, outcome, console);
  first_amount("J", s.J, d.dJ, outcome, console);
  first_amount("K", s.K, d.dK, outcome, console);
  first_amount("L", s.L, d.dL, outcome, console);
  first_amount("M", s.M, d.dM, outcome, console);
  first_amount("N", s.N, d.dN, outcome, console);
  first_amount("P", s.P, d.dP, outcome, console);
  first_amount("Q", s.Q, d.dQ, outcome, console);
  return outcome;
}

double correct_overshoot(const SpeciesState& s, double dS, const RunParameters& p, double timestep,
                         double maxratio, double target, std::FILE* console) {
  const double overshoot = timestep * dS / (p.S0 - s.S);
  std::fprintf(console,
               "S was overshooting initial amount!!!  maxratio=    %5.3e  new timestep= %5.3e "
               "target= %5.3e \n",
               maxratio, timestep, target);
  return timestep * 0.1 / overshoot;
}

SpeciesRates trial_rates(const SpeciesState& s, const SpeciesRates& d, const NetworkConstants& c,
                         double dt) {
  SpeciesState t = s;  // MerB, ES, PHMB and organic stay at their current amounts
  t.A = s.A + dt * d.dA;
  t.C = s.C + dt * d.dC;
  t.D = s.D + dt * d.dD;
  t.E = s.E + dt * d.dE;
  t.F = s.F + dt * d.dF;
  t.G = s.G + dt * d.dG;
  t.I = s.I + dt * d.dI;
  t.J = s.J + dt * d.dJ;
  t.K = s.K + dt * d.dK;
  t.L = s.L + dt * d.dL;
  t.M = s.M + dt * d.dM;
  t.N = s.N + dt * d.dN;
  t.O1 = s.O1 + dt * d.dO1;
  t.O2 = s.O2 + dt * d.dO2;
  t.O3 = s.O3 + dt * d.dO3;
  t.P = s.P + dt * d.dP;
  t.Q = s.Q + dt * d.dQ;
  t.S = s.S + dt * d.dthiol + dt * d.dthiolate;
  speciate(t, c.speciation);
  return species_rates(evaluate_fluxes(t, c), c.monothiol_balance);
}

double tightened_timestep(const SpeciesState& s, const ModelEvaluation& e,
                          const NetworkConstants& c, double timestep, double maxratio,
                          BlockCounters& counters) {
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
