// Choice of the step length on hand-built states: first amount, increase,
// target and overshoot rules, tightening by trial steps, and the cap at ten
// times the Basic Timestep.
#include <sstream>

#include "unit_support.h"

namespace tolvanex {
namespace {

std::string first(const char* label) {
  return std::string("\n\n  first amount of ") + label + " is 1.000e-39 \n\n";
}
const std::string kOvershoot =
    "S was overshooting initial amount!!!  maxratio=    5.000e-01  new timestep= 1.000e+00 "
    "target= 2.000e+00 \n";

// Each case is a state written "X=amount/derivative ..." with A0 = 1, S at
// S0 = 1000 unless given, a Basic Timestep of 1 s; the rest is 0. r is what
// the falling species would lose of itself in that 1 s.
TEST(StepChoice, RulesOnHandBuiltStates) {
  // clang-format off
  const struct {
    const char* state;
    double target, timestep;
    std::string console = "";
    int iterations = 0;
    double total_iterations = 0;
  } rows[] = {
      // A first amount of 1e-39 sets the step (O1 is not watched; G's rise is
      // not applied). Nothing falls: maxratio 0 equals ratio_A 0 (target 2000),
      // but there is no limiting species to rescale by.
      {"C=0/1e-30 O1=0/1 G=1e-8/1e-9", 2000, 1e-9, first("C")},
      {"Q=0/1e-39", 30, 1},  // exactly the first amount is not more
      // The faster-forming species sets the step; the other prints if listed first.
      {"C=0/1e-30 G=0/1e-29", 2000, 1e-10, first("C") + first("G")},
      {"C=0/1e-29 G=0/1e-30", 2000, 1e-10, first("C")},
      // The fastest-rising species rises by 10 % while the run has fewer than
      // 2e7 iterations or the product is below 0.001 A0.
      {"C=0.01/0.001 G=0.01/0.004 P=0.001/0", 30, 0.25, "", 0, 2e7 - 1},
      {"C=0.01/0.001 G=0.01/0.004 P=0.001/0", 30, 1, "", 0, 2e7},
      {"C=0.01/0.001 G=0.01/0.004 P=0.000999/0", 30, 0.25, "", 0, 2e7},
      // Below r = 1 the step stays unless the species, not A, barely falls: then
      // it grows until 5 % are lost; r exactly 1 with target 30 is not rescaled.
      {"K=0.01/-0.00004", 20, 12.5}, {"K=0.01/-0.005", 2, 1}, {"A=1/-0.5", 30, 1},
      {"A=0.001/-0.001", 30, 1},
      // From r = 1 on the species loses 1/target, by what is left of it.
      {"K=0.2/-0.2", 20, 0.05}, {"K=0.2/-0.4", 20, 0.025}, {"A=0.2/-0.4", 20, 0.025},
      {"K=0.1/-0.2", 10, 0.05}, {"K=0.05/-0.1", 10, 0.05}, {"K=0.03/-0.06", 5, 0.1},
      {"A=0.02/-0.04", 5, 0.1}, {"K=1e-10/-2e-10", 1.001, 1 / 2.002}, {"K=0.005/-0.01", 2, 0.25},
      {"A=0.005/-0.01", 30, 1 / 60.0}, {"A=1e-10/-2e-10", 30, 1 / 60.0},
      {"K=0.01/-0.02", 30, 1 / 60.0}, {"A=0.01/-0.02", 30, 1 / 60.0},
      {"A=0.005/0 K=0.005/-0.01", 30, 1 / 60.0},  // the amounts decide what counts as A
      {"C=0.2/-0.4 K=0.02/-0.04", 20, 0.025},       // on a tie the earlier listed limits
      // The falling ratios are worked out two at a time: a tie between the second
      // and the fourth falling species (G at 0.2, L at 0.02, both r = 2), and the
      // largest ratio in the last entry of an odd list (K, r = 3).
      {"C=0.03/-0.045 G=0.2/-0.4 K=0.1/-0.1 L=0.02/-0.04", 20, 0.025},
      {"C=0.2/-0.2 G=0.2/-0.2 K=0.05/-0.15", 10, 1 / 30.0},
      // A or MerB limits while a first amount forms: 1/2000 early, 1/100 later.
      {"A=1/-0.1 C=0/0.1", 2000, 0.005, first("C"), 299999, 299999},
      {"A=1/-0.1 C=0/0.1", 100, 0.1, first("C"), 300000, 0},
      {"A=1/-0.1 C=0/0.1", 100, 0.1, first("C"), 0, 300000},
      {"MerB=1/-0.1 ES=0/0.1", 2000, 0.005, first("ES")},
      // With A falling too, MerB's ratio is the second falling entry's (r 2e-39
      // against A's 1e-39 with the step 1e-38 the first amount leaves).
      {"A=1/-0.1 MerB=1/-0.2 ES=0/0.1", 2000, 0.0025, first("ES")},
      // MerB's ratio starts at -1, which no maxratio equals; A's is set by its rise.
      {"A=1/0.1 C=0/0.1", 30, 1e-38, first("C")},
      // S may rise by a tenth of the room left below S0 (dS = dthiol + dthiolate).
      {"S=500/1000 thiol=0/400 thiolate=0/600 C=0.01/-0.005", 2, 0.05, kOvershoot}};
  // clang-format on
  for (const auto& row : rows) {
    const RunParameters p{.A0 = 1, .S0 = 1000};
    SpeciesState s;
    s.S = 1000;
    ModelEvaluation e;
    std::istringstream in(row.state);
    for (std::string name; std::getline(in >> std::ws, name, '=');) {
      char slash;
      in >> s.*kSpecies.at(name) >> slash >> rate_of(e.rates, kSpecies.at(name));
    }
    const RunProgress progress{.total_iterations = row.total_iterations};
    const BlockCounters counters{.iterations = row.iterations};
    StepControl step{.timestep = 1};
    ConsoleCapture console;
    choose_timestep(s, e, p, progress, counters, step, console.file);
    EXPECT_EQ(step.target, row.target) << row.state;
    EXPECT_NEAR(step.timestep, row.timestep, 1e-14 * row.timestep) << row.state;
    EXPECT_EQ(console.text(), row.console) << row.state;
    EXPECT_EQ(step.first_amount_flag, row.console.find("first") != std::string::npos);
  }
}

// K balanced between steps 3 and 5 (2 x 1/2 x K - N) while step 7 drains N:
// a trial step turns K from steady or rising to falling once it is longer than
// C / (2 C + 1). With C = 0 every trial turns: 30 divisions by 3 at most.
TEST(Tightening, DividesByThreeWhileATrialStepTurnsAGrowingIntermediate) {
  for (auto [C, divisions] : {std::pair{0.0, 30}, std::pair{1e-3, 7}}) {
    const RunParameters p{.MoleculeType = 2};  // pH 0: [H+] = 1, thiolate factor 1/2
    RateTable rates;
    rates.k[3] = 1, rates.k[5] = 2, rates.k[6] = 1, rates.k[7] = 1;
    const NetworkConstants c = network_constants(rates, p);
    SpeciesState s;
    s.C = C, s.K = 1, s.N = 1;
    speciate(s, c.speciation);
    ModelEvaluation e;
    e.rates = species_rates(evaluate_fluxes(s, c), c.monothiol_balance);
    BlockCounters counters;
    EXPECT_NEAR(tightened_timestep(s, e, c, 1, 0.25, counters), std::pow(3.0, -divisions),
                1e-14 * std::pow(3.0, -divisions));
    EXPECT_EQ(counters.extra_cycles, divisions);
    EXPECT_EQ(counters.tightening_iterations, 1);
    EXPECT_EQ(counters.maxratio_sum, 0.25);
  }
}

// One whole iteration: K rises slowly, so the increase rule asks for 100 s and
// the cap cuts it to ten Basic Timesteps of 1 s. Tightening checks run only
// while the block's iteration count is below target2.
TEST(StepIteration, CapAndTighteningWindow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto [target2, iterations, checks] :
       {std::tuple{0.0, 0, 0}, {-1.0, 0, 0}, {nan, 0, 0}, {5.0, 5, 0}, {5.5, 5, 1}, {1.0, 0, 1}}) {
    RunParameters p{.target2 = target2, .pH = 7, .MoleculeType = 2, .pKa_thiol = 10.4, .A0 = 1e-6};
    RateTable rates;
    rates.k[3] = 1e-3;
    const NetworkConstants network = network_constants(rates, p);
    RunRecords run;
    run.state.C = 1e-6, run.state.K = 1e-6;
    run.progress.basic_timestep = 1;
    run.counters.iterations = iterations;
    ConsoleCapture console;
    const OutputStreams out{console.file, console.file, console.file, "", ""};
    IterationRecords r{run.state,  network,    p,        run.progress,   run.counters,
                       run.totals, run.levels, run.step, run.evaluation, out};
    integrator_iteration<FluxPruning::On>(r);
    EXPECT_EQ(run.counters.tightening_iterations, checks) << "target2 " << target2;
    EXPECT_EQ(run.step.timestep, 10);
    EXPECT_EQ(run.progress.time, 10);
  }
}

}  // namespace
}  // namespace tolvanex
