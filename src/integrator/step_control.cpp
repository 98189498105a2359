#include "integrator/step_control.h"

#include <cmath>

namespace tolvanex {
namespace {

// A species at exactly 0 that would form more than the first amount in this
// step gets the step that forms exactly the first amount.
void first_amount(const char* label, double X, double dX, StepControl& step, std::FILE* console) {
  if (X == 0 && dX * step.timestep > kFirstAmount) {
    step.timestep = kFirstAmount / dX;
    std::fprintf(console, "\n\n  first amount of %s is %5.3e \n\n", label, dX * step.timestep);
    step.first_amount_flag = 1;
  }
}

void first_amount_rule(const SpeciesState& s, const SpeciesRates& d, StepControl& step,
                       std::FILE* console) {
  step.first_amount_flag = 0;
  first_amount("ES", s.ES, d.dES, step, console);
  first_amount("C", s.C, d.dC, step, console);
  first_amount("D", s.D, d.dD, step, console);
  first_amount("E", s.E, d.dE, step, console);
  first_amount("F", s.F, d.dF, step, console);
  first_amount("G", s.G, d.dG, step, console);
  first_amount("I", s.I, d.dI, step, console);
  first_amount("J", s.J, d.dJ, step, console);
  first_amount("K", s.K, d.dK, step, console);
  first_amount("L", s.L, d.dL, step, console);
  first_amount("M", s.M, d.dM, step, console);
  first_amount("N", s.N, d.dN, step, console);
  first_amount("P", s.P, d.dP, step, console);
  first_amount("Q", s.Q, d.dQ, step, console);
}

double relative_change(double timestep, double X, double dX) {
  return timestep * std::fabs(dX) / X;
}

void rising(double X, double dX, StepControl& step, double* ratio_of_species = nullptr) {
  if (X > 0 && dX > 0) {
    const double r = relative_change(step.timestep, X, dX);
    if (ratio_of_species) *ratio_of_species = r;
    if (r > step.max_increase_ratio) step.max_increase_ratio = r;
  }
}

// While the product is scarce or the run is young, the fastest-rising
// species rises by exactly 10 % (the step may grow or shrink).
void increase_rule(const SpeciesState& s, const ModelEvaluation& e, const RunParameters& p,
                   const RunProgress& progress, StepControl& step) {
  step.ratio_A = 0;
  if (!(s.P < 0.001 * p.A0 || progress.total_iterations < 2e7)) return;
  step.max_increase_ratio = 0;
  const SpeciesRates& d = e.rates;
  rising(s.A, d.dA, step, &step.ratio_A);
  rising(s.thiolate, d.dthiolate, step);
  rising(s.thiol, d.dthiol, step);
  rising(s.MerB, d.dMerB, step, &step.ratio_MerB);
  rising(s.ES, d.dES, step);
  rising(s.C, d.dC, step);
  rising(s.D, d.dD, step);
  rising(s.E, d.dE, step);
  rising(s.F, d.dF, step);
  rising(s.G, d.dG, step);
  rising(s.I, d.dI, step);
  rising(s.J, d.dJ, step);
  rising(s.K, d.dK, step);
  rising(s.L, d.dL, step);
  rising(s.M, d.dM, step);
  rising(s.N, d.dN, step);
  rising(s.O1, d.dO1, step);
  rising(s.O2, d.dO2, step);
  rising(s.O3, d.dO3, step);
  rising(s.P, d.dP, step);
  rising(s.Q, d.dQ, step);
  if (step.max_increase_ratio > 0 && step.first_amount_flag == 0) {
    step.timestep = step.timestep * 0.1 / step.max_increase_ratio;
  }
}

void falling(double X, double dX, StepControl& step, double* ratio_of_species = nullptr) {
  if (X > 0 && dX < 0) {
    const double r = relative_change(step.timestep, X, dX);
    if (ratio_of_species) *ratio_of_species = r;
    if (r > step.maxratio) {
      step.maxratio = r;
      step.limiting_amount = X;
    }
  }
}

// Finds the limiting species: the largest ratio among falling species.
void decrease_scan(const SpeciesState& s, const ModelEvaluation& e, StepControl& step) {
  step.maxratio = 0;
  const SpeciesRates& d = e.rates;
  falling(s.A, d.dA, step, &step.ratio_A);
  falling(s.MerB, d.dMerB, step, &step.ratio_MerB);
  falling(s.thiolate, d.dthiolate, step);
  falling(s.thiol, d.dthiol, step);
  falling(s.C, d.dC, step);
  falling(s.ES, d.dES, step);
  falling(s.D, d.dD, step);
  falling(s.E, d.dE, step);
  falling(s.F, d.dF, step);
  falling(s.G, d.dG, step);
  falling(s.I, d.dI, step);
  falling(s.J, d.dJ, step);
  falling(s.K, d.dK, step);
  falling(s.L, d.dL, step);
  falling(s.M, d.dM, step);
  falling(s.N, d.dN, step);
  falling(s.O1, d.dO1, step);
  falling(s.O2, d.dO2, step);
  falling(s.O3, d.dO3, step);
  falling(s.P, d.dP, step);
  falling(s.Q, d.dQ, step);
}

// The fraction 1/target of the limiting species that one step may remove.
double choose_target(const SpeciesState& s, const RunParameters& p, const RunProgress& progress,
                     const BlockCounters& counters, const StepControl& step) {
  const double maxratio = step.maxratio;
  const double limiting = step.limiting_amount;
  const bool first_amount_formed = step.first_amount_flag == 1;
  const bool A_or_MerB_limits = maxratio == step.ratio_A || maxratio == step.ratio_MerB;
  const bool whole_species_would_go = maxratio >= 1;
  const bool not_A = limiting != s.A;
  if (first_amount_formed && A_or_MerB_limits && counters.iterations < 300000 &&
      progress.total_iterations < 300000)
    return 2000;
  if (first_amount_formed && A_or_MerB_limits) return 100;
  if (whole_species_would_go && limiting > 0.1 * p.A0) return 20;
  if (whole_species_would_go && limiting > 0.03 * p.A0) return 10;
  if (whole_species_would_go && limiting > 0.01 * p.A0) return 5;
  if (whole_species_would_go && not_A && limiting < 1e-9 * p.A0) return 1.001;
  if (whole_species_would_go && not_A && limiting < 0.01 * p.A0) return 2;
  return 30;
}

void target_rule(const SpeciesState& s, const RunParameters& p, const RunProgress& progress,
                 const BlockCounters& counters, StepControl& step) {
  step.target = choose_target(s, p, progress, counters, step);
  const double maxratio = step.maxratio;
  // With nothing falling (maxratio 0) there is no limiting species to scale by.
  if (!(step.target == 30 && maxratio <= 1) && maxratio != 0) {
    step.timestep = step.timestep / maxratio / step.target;
  }
  const bool limiting_is_not_A = step.first_amount_flag != 1 && maxratio != step.ratio_A;
  if (maxratio > 0 && maxratio < 1 && limiting_is_not_A) step.target = 1 / maxratio;
  if (maxratio > 0 && maxratio < 0.01 && limiting_is_not_A) {
    step.timestep = step.timestep * 0.05 / maxratio;
    step.target = 20;
  }
}

// S must not pass S0 within one step: it may rise by a tenth of the room left.
void overshoot_rule(const SpeciesState& s, const ModelEvaluation& e, const RunParameters& p,
                    StepControl& step, std::FILE* console) {
  const double dS = e.rates.dthiol + e.rates.dthiolate;
  if (s.S + step.timestep * dS > p.S0) {
    const double overshoot = step.timestep * dS / (p.S0 - s.S);
    std::fprintf(console,
                 "S was overshooting initial amount!!!  maxratio=    %5.3e  new timestep= %5.3e "
                 "target= %5.3e \n",
                 step.maxratio, step.timestep, step.target);
    step.timestep = step.timestep * 0.1 / overshoot;
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

void choose_timestep(const SpeciesState& s, const ModelEvaluation& e, const RunParameters& p,
                     const RunProgress& progress, const BlockCounters& counters,
                     StepControl& step, std::FILE* console) {
  first_amount_rule(s, e.rates, step, console);
  increase_rule(s, e, p, progress, step);
  decrease_scan(s, e, step);
  target_rule(s, p, progress, counters, step);
  overshoot_rule(s, e, p, step, console);
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

void tighten_timestep(const SpeciesState& s, const ModelEvaluation& e, const NetworkConstants& c,
                      StepControl& step, BlockCounters& counters) {
  int cycles = 0;
  while (growing_intermediate_turns(e.rates, trial_rates(s, e.rates, c, step.timestep))) {
    step.timestep = step.timestep / 3;
    ++cycles;
    if (cycles >= kMaxTighteningCycles) break;
  }
  counters.tightening_iterations += 1;
  counters.maxratio_sum += step.maxratio;
  counters.extra_cycles += cycles;
}

}  // namespace tolvanex
