// Choice of the step length on hand-built states: first amount, increase,
// decrease (with its tie rule), target and overshoot rules, and tightening by
// trial steps.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "integrator/step_control.h"
#include "unit_support.h"

namespace tolvanex {
namespace {

// Each case is a state with A0 = 1, S at S0 = 1000 unless given, a Basic
// Timestep of 1 s; the rest is 0. r is what a falling species would lose of
// itself in that 1 s. `first` lists the species that formed a first amount.
TEST(StepChoice, RulesOnHandBuiltStates) {
  // clang-format off
  const struct {
    const char* state;
    double target, timestep;
    const char* first = "";
    int iterations = 0;
    double total_iterations = 0;
  } rows[] = {
      // A first amount of 1e-39 sets the step (O1 is not watched; G's rise is
      // not applied). Nothing falls: maxratio 0 equals ratio_A 0 (target 2000),
      // but there is no limiting species to rescale by.
      {"C=0/1e-30 O1=0/1 G=1e-8/1e-9", 2000, 1e-9, "C "},
      {"Q=0/1e-39", 30, 1},  // exactly the first amount is not more
      // The faster-forming species sets the step; the other counts if listed first.
      {"C=0/1e-30 G=0/1e-29", 2000, 1e-10, "C G "},
      {"C=0/1e-29 G=0/1e-30", 2000, 1e-10, "C "},
      {"ES=0/1e-30 C=0/1e-29", 2000, 1e-10, "ES C "},  // ES leads the list
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
      {"K=0.2/-0.4", 20, 0.025}, {"K=0.1/-0.2", 10, 0.05}, {"K=0.03/-0.06", 5, 0.1},
      {"K=1e-10/-2e-10", 1.001, 1 / 2.002}, {"K=0.005/-0.01", 2, 0.25},
      {"A=0.005/-0.01", 30, 1 / 60.0}, {"K=0.01/-0.02", 30, 1 / 60.0},
      {"A=0.005/0 K=0.005/-0.01", 30, 1 / 60.0},  // the amounts decide what counts as A
      // On a tie the species earlier in the list limits: C (0.2) before K (0.02).
      {"C=0.2/-0.4 K=0.02/-0.04", 20, 0.025},
      // The falling ratios are worked out two at a time: a tie between the second
      // and the fourth falling species (G at 0.2, L at 0.02, both r = 2), and the
      // largest ratio in the last entry of an odd list (K, r = 3).
      {"C=0.03/-0.045 G=0.2/-0.4 K=0.1/-0.1 L=0.02/-0.04", 20, 0.025},
      {"C=0.2/-0.2 G=0.2/-0.2 K=0.05/-0.15", 10, 1 / 30.0},
      // A or MerB limits while a first amount forms: 1/2000 early, 1/100 later.
      {"A=1/-0.1 C=0/0.1", 2000, 0.005, "C ", 299999, 299999},
      {"A=1/-0.1 C=0/0.1", 100, 0.1, "C ", 300000, 0},
      {"A=1/-0.1 C=0/0.1", 100, 0.1, "C ", 0, 300000},
      {"MerB=1/-0.1 ES=0/0.1", 2000, 0.005, "ES "},
      // With A falling too, MerB's ratio is the second falling entry's (r 2e-39
      // against A's 1e-39 with the step 1e-38 the first amount leaves).
      {"A=1/-0.1 MerB=1/-0.2 ES=0/0.1", 2000, 0.0025, "ES "},
      // MerB's ratio starts at -1, which no maxratio equals; A's is set by its rise.
      {"A=1/0.1 C=0/0.1", 30, 1e-38, "C "}};
  // clang-format on
  for (const auto& row : rows) {
    const RunParameters p{.A0 = 1, .S0 = 1000};
    SpeciesState s;
    s[Species::S] = 1000;
    ModelEvaluation e;
    set_species(row.state, s, e.rates);
    const RunProgress progress{.total_iterations = row.total_iterations};
    const BlockCounters counters{.iterations = row.iterations};
    StepControl step{.timestep = 1};
    IterationEvents events;
    choose_timestep(s, e, p, progress, counters, step, events);
    std::string first;
    for (int i = 0; i < events.first_amount_count; ++i) {
      first += std::string(info(events.first_amounts[i].species).label) + " ";
      EXPECT_NEAR(events.first_amounts[i].amount, 1e-39, 1e-52) << row.state;
    }
    EXPECT_EQ(step.target, row.target) << row.state;
    EXPECT_NEAR(step.timestep, row.timestep, 1e-14 * row.timestep) << row.state;
    EXPECT_EQ(first, row.first) << row.state;
    EXPECT_EQ(step.first_amount_flag, first.empty() ? 0 : 1) << row.state;
    EXPECT_FALSE(events.overshoot_corrected) << row.state;
  }
}

// S may rise by a tenth of the room left below S0 (dS = dthiol + dthiolate):
// K limits with r = 0.5 (target 2, step 1); S at 500 would gain 1000.
TEST(StepChoice, OvershootOfTheAcceptor) {
  const RunParameters p{.A0 = 1, .S0 = 1000};
  SpeciesState s;
  ModelEvaluation e;
  set_species("S=500/1000 thiol=0/400 thiolate=0/600 K=0.01/-0.005", s, e.rates);
  StepControl step{.timestep = 1};
  IterationEvents events;
  choose_timestep(s, e, p, RunProgress{}, BlockCounters{}, step, events);
  EXPECT_EQ(step.timestep, 0.05);
  ASSERT_TRUE(events.overshoot_corrected && events.pending);
  EXPECT_EQ(events.overshoot.maxratio, 0.5);
  EXPECT_EQ(events.overshoot.timestep, 1);
  EXPECT_EQ(events.overshoot.target, 2);
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
    s[Species::C] = C, s[Species::K] = 1, s[Species::N] = 1;
    speciate(s, c.speciation);
    ModelEvaluation e;
    e.rates = species_rates(evaluate_fluxes(s, c), c.monothiol_balance);
    BlockCounters counters;
    EXPECT_NEAR(tighten_timestep(s, e, c, 1, 0.25, counters), std::pow(3.0, -divisions),
                1e-14 * std::pow(3.0, -divisions));
    EXPECT_EQ(counters.extra_cycles, divisions);
    EXPECT_EQ(counters.tightening_iterations, 1);
    EXPECT_EQ(counters.maxratio_sum, 0.25);
  }
}

// The target rule's division, which takes a shortcut for the target 2, gives
// the bits of a true division for every operand: IEEE division rounds the
// same real quotient x / 2 as the product x * 0.5, which the subnormals (where
// halving rounds), the largest double, zeros, infinities and NaN probe. The
// reference quotients divide by a volatile, which the compiler cannot turn
// into anything else.
TEST(StepChoice, DivisionByTheTargetIsATrueDivision) {
  volatile double two = 2, other = 1.001;
  const double smallest = std::numeric_limits<double>::denorm_min();
  for (const double x : {3.0, -7.5e-300, smallest, 3 * smallest, -5 * smallest,
                         std::numeric_limits<double>::max(), 0.0, -0.0,
                         std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(divide_by_target(x, 2)),
              std::bit_cast<std::uint64_t>(x / two))
        << x;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(divide_by_target(x, 1.001)),
              std::bit_cast<std::uint64_t>(x / other))
        << x;
  }
}

}  // namespace
}  // namespace tolvanex
