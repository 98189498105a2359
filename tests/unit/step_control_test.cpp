// Choice of the step length: first amount, increase, decrease and target
// rules, overshoot of S, tightening by trial steps, and the cap at ten times
// the Basic Timestep.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <utility>

#include "integrator/integrator_iteration.h"

namespace tolvanex {
namespace {

using S = SpeciesState;
using R = SpeciesRates;

// Console output of one case; moves with the case that owns it.
struct Capture {
  std::FILE* file = std::tmpfile();
  Capture() = default;
  Capture(Capture&& other) noexcept : file(std::exchange(other.file, nullptr)) {}
  std::string text() {
    std::string s;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) s += static_cast<char>(c);
    return s;
  }
  ~Capture() {
    if (file) std::fclose(file);
  }
};

// A hand-built state with hand-chosen derivatives; A0 = 1e-6 mol/L and S at
// S0, so that nothing overshoots unless a test asks for it.
struct StepCase {
  SpeciesState s;
  ModelEvaluation e;
  RunParameters p;
  RunProgress progress;
  BlockCounters counters;
  StepControl step;
  Capture console;
  StepCase() { p.A0 = 1e-6, p.S0 = 1e-3, s.S = 1e-3; }
  std::string choose(double basic_timestep) {
    step.timestep = basic_timestep;
    choose_timestep(s, e, p, progress, counters, step, console.file);
    return console.text();
  }
};
std::string first_amount(const char* label) {
  return std::string("\n\n  first amount of ") + label + " is 1.000e-39 \n\n";
}

TEST(StepChoice, AnAbsentSpeciesFormsItsFirstAmount) {
  StepCase c;
  c.s.A = 1e-6;
  c.e.rates.dC = 1e-30;
  c.e.rates.dO1 = 1;                  // O1 is not watched for a first amount
  c.s.G = 1e-8, c.e.rates.dG = 1e-9;  // rises, but the first amount has set the step
  EXPECT_EQ(c.choose(1), first_amount("C"));
  EXPECT_DOUBLE_EQ(c.step.timestep, 1e-9);
  EXPECT_EQ(c.step.first_amount_flag, 1);
  // Nothing falls: the first-amount target 2000 is chosen, but there is no
  // limiting species to rescale the step by.
  EXPECT_EQ(c.step.maxratio, 0);
  EXPECT_EQ(c.step.target, 2000);

  StepCase exact;  // dX x timestep of exactly 1e-39 is not above the threshold
  exact.e.rates.dQ = 1e-39;
  EXPECT_EQ(exact.choose(1), "");
  EXPECT_EQ(exact.step.timestep, 1);
}

TEST(StepChoice, TheFasterFormingSpeciesSetsTheStep) {
  StepCase faster_first;  // the later species no longer qualifies
  faster_first.e.rates.dC = 1e-29, faster_first.e.rates.dG = 1e-30;
  EXPECT_EQ(faster_first.choose(1), first_amount("C"));
  EXPECT_DOUBLE_EQ(faster_first.step.timestep, 1e-10);
  StepCase faster_later;  // both print, in list order
  faster_later.e.rates.dC = 1e-30, faster_later.e.rates.dG = 1e-29;
  EXPECT_EQ(faster_later.choose(1), first_amount("C") + first_amount("G"));
  EXPECT_DOUBLE_EQ(faster_later.step.timestep, 1e-10);
}

TEST(StepChoice, TheFastestRisingSpeciesRisesByTenPercent) {
  StepCase c;
  c.s.C = 1e-8, c.e.rates.dC = 1e-9;
  c.s.G = 1e-8, c.e.rates.dG = 4e-9;
  c.choose(1);
  EXPECT_DOUBLE_EQ(c.step.timestep, 0.25);
  c.s.P = 0.001 * c.p.A0;  // late in a run with product formed the rule is off
  c.progress.total_iterations = 2e7;
  c.choose(1);
  EXPECT_EQ(c.step.timestep, 1);
  c.progress.total_iterations = 2e7 - 1;
  c.choose(1);
  EXPECT_DOUBLE_EQ(c.step.timestep, 0.25);
}

// Species X falls by r = timestep |dX| / X with a timestep of 1 s.
StepCase falling(double S::*species, double X, double r, double A = 1e-6) {
  StepCase c;
  c.s.A = A;
  c.s.*species = X;
  const std::pair<double S::*, double R::*> rates[] = {
      {&S::A, &R::dA}, {&S::C, &R::dC}, {&S::K, &R::dK}, {&S::MerB, &R::dMerB}};
  for (const auto& [x, dx] : rates)
    if (x == species) c.e.rates.*dx = -r * X;
  return c;
}

TEST(StepChoice, BelowOneTheStepStaysUnlessTheSpeciesIsBarelyFalling) {
  StepCase slow = falling(&S::C, 1e-8, 0.004);  // not A: grows to lose 5 %
  slow.choose(1);
  EXPECT_NEAR(slow.step.timestep, 12.5, 1e-12);
  EXPECT_EQ(slow.step.target, 20);
  StepCase half = falling(&S::C, 1e-8, 0.5);  // not A: the fraction lost is reported
  half.choose(1);
  EXPECT_EQ(half.step.timestep, 1);
  EXPECT_DOUBLE_EQ(half.step.target, 2);
  StepCase a = falling(&S::A, 1e-6, 0.5);  // A: nothing changes
  a.choose(1);
  EXPECT_EQ(a.step.timestep, 1);
  EXPECT_EQ(a.step.target, 30);
  StepCase one = falling(&S::A, 1e-9, 1);  // exactly 1 with target 30: no rescale
  one.choose(1);
  EXPECT_EQ(one.step.maxratio, 1);
  EXPECT_EQ(one.step.target, 30);
  EXPECT_EQ(one.step.timestep, 1);
}

// When the step would take the whole limiting species (maxratio 2) it loses
// exactly 1/target, by what is left of it against A0.
TEST(StepChoice, TargetFollowsWhatIsLeftOfTheLimitingSpecies) {
  const struct {
    bool is_A;
    double fraction;
    double target;
  } rows[] = {{false, 0.2, 20},  {true, 0.2, 20},   {false, 0.1, 10},      {false, 0.05, 10},
              {false, 0.03, 5},  {true, 0.02, 5},   {false, 1e-10, 1.001}, {false, 0.005, 2},
              {true, 0.005, 30}, {true, 1e-10, 30}, {false, 0.01, 30},     {true, 0.01, 30}};
  for (const auto& row : rows) {
    const double X = row.fraction * 1e-6;
    StepCase c = row.is_A ? falling(&S::A, X, 2, X) : falling(&S::K, X, 2);
    c.choose(1);
    SCOPED_TRACE(testing::Message() << (row.is_A ? "A" : "K") << " at " << row.fraction << " A0");
    EXPECT_EQ(c.step.target, row.target);
    EXPECT_NEAR(c.step.timestep * 2, 1 / row.target, 1e-14);
  }
  // The test is on amounts: a species holding exactly A's amount counts as A.
  StepCase same = falling(&S::K, 0.005e-6, 2, 0.005e-6);
  same.choose(1);
  EXPECT_EQ(same.step.target, 30);
}

// Each species is paired with its own derivative; on equal ratios the one
// earlier in the list A, MerB, thiolate, thiol, C, ES, D ... limits.
TEST(StepChoice, TheEarlierListedSpeciesLimitsOnATie) {
  StepCase acceptor;
  acceptor.s.thiolate = 2e-4, acceptor.e.rates.dthiolate = -1e-4;
  acceptor.s.thiol = 4e-4, acceptor.e.rates.dthiol = -2e-4;
  acceptor.s.S = 0.9e-3;
  acceptor.choose(1);
  EXPECT_EQ(acceptor.step.maxratio, 0.5);
  EXPECT_EQ(acceptor.step.limiting_amount, 2e-4);
  StepCase enzyme;
  enzyme.s.C = 3e-7, enzyme.e.rates.dC = -1.5e-7;
  enzyme.s.ES = 5e-7, enzyme.e.rates.dES = -2.5e-7;
  enzyme.choose(1);
  EXPECT_EQ(enzyme.step.limiting_amount, 3e-7);
}

// A first amount formed while A falls: A loses 1/2000 early in a run, 1/100 later.
TEST(StepChoice, FirstAmountWhileAFallsLetsALoseATwoThousandthOrAHundredth) {
  const struct {
    int iterations;
    double total_iterations, target;
  } rows[] = {{0, 0, 2000}, {299999, 299999, 2000}, {300000, 0, 100}, {0, 300000, 100}};
  for (const auto& row : rows) {
    StepCase c = falling(&S::A, 1e-6, 0.1);
    c.e.rates.dC = 1e-7;
    c.counters.iterations = row.iterations;
    c.progress.total_iterations = row.total_iterations;
    c.choose(1);
    EXPECT_EQ(c.step.target, row.target);
    EXPECT_NEAR(c.step.timestep * 0.1, 1 / row.target, 1e-15);
  }
}

// For the first-amount targets MerB counts as limiting once it has changed;
// before that its ratio matches no maxratio, so outside organomercurial mode
// only A is looked at.
TEST(StepChoice, MerBCountsForTheFirstAmountTargetsOnlyAfterItChanged) {
  StepCase c;
  EXPECT_EQ(c.step.ratio_MerB, -1);
  c.s.A = 1e-6, c.e.rates.dA = 1e-7;  // a rising A sets ratio_A; nothing falls
  c.e.rates.dC = 1e-7;
  c.choose(1);
  EXPECT_EQ(c.step.target, 30);

  StepCase o = falling(&S::MerB, 1e-6, 0.1, 0);
  o.e.rates.dES = 1e-7;
  EXPECT_EQ(o.choose(1), first_amount("ES"));
  EXPECT_EQ(o.step.target, 2000);
  EXPECT_NEAR(o.step.timestep * 0.1, 1.0 / 2000, 1e-15);
  const double kept = o.step.ratio_MerB;
  o.s.ES = 1e-9, o.e.rates.dMerB = 0;  // a steady MerB keeps its last ratio
  o.choose(1);
  EXPECT_EQ(o.step.ratio_MerB, kept);
  o.e.rates.dMerB = 2e-7;  // a rising one sets it too
  o.choose(1);
  EXPECT_DOUBLE_EQ(o.step.ratio_MerB, 0.2);
}

TEST(StepChoice, SRisesByATenthOfTheRoomLeftBelowS0) {
  StepCase c = falling(&S::C, 1e-8, 0.5);
  c.s.S = 0.5e-3;
  c.e.rates.dthiol = 4e-4, c.e.rates.dthiolate = 6e-4;
  EXPECT_EQ(c.choose(1),
            "S was overshooting initial amount!!!  maxratio=    5.000e-01  new timestep= "
            "1.000e+00 target= 2.000e+00 \n");
  EXPECT_NEAR(c.step.timestep * (4e-4 + 6e-4), (c.p.S0 - c.s.S) / 10, 1e-18);
}

// K balanced between steps 3 and 5 (2 x 1/2 x K - N) while step 7 drains N:
// every trial step of any length turns K from steady or rising to falling
// once it is longer than C / (2 C + 1).
struct TurningCase {
  NetworkConstants c;
  SpeciesState s;
  ModelEvaluation e;
  StepControl step;
  BlockCounters counters;
  explicit TurningCase(double C) {
    RunParameters p;
    p.pH = 0, p.pKa_thiol = 0, p.MoleculeType = 2;  // [H+] = 1, thiolate factor 1/2
    RateTable rates;
    rates.k[3] = 1, rates.k[5] = 2, rates.k[6] = 1, rates.k[7] = 1;
    c = network_constants(rates, p);
    s.C = C, s.K = 1, s.N = 1;
    speciate(s, c.speciation);
    e.fluxes = evaluate_fluxes(s, c);
    e.rates = species_rates(e.fluxes, c.monothiol_balance);
    step.timestep = 1;
  }
};

TEST(Tightening, AStepThatAlwaysTurnsIsDividedThirtyTimes) {
  TurningCase t(0);
  t.step.maxratio = 0.25;
  tighten_timestep(t.s, t.e, t.c, t.step, t.counters);
  EXPECT_NEAR(t.step.timestep, 1 / 205891132094649.0, 1e-28);  // 3^30
  t.step.timestep = 1;
  tighten_timestep(t.s, t.e, t.c, t.step, t.counters);
  EXPECT_EQ(t.counters.tightening_iterations, 2);
  EXPECT_EQ(t.counters.extra_cycles, 60);
  EXPECT_EQ(t.counters.maxratio_sum, 0.5);
}

TEST(Tightening, DividesUntilTheTrialNoLongerTurns) {
  TurningCase t(1e-3);  // turns for steps above 1e-3 / 1.002
  ASSERT_GT(t.e.rates.dK, 0);
  tighten_timestep(t.s, t.e, t.c, t.step, t.counters);
  EXPECT_NEAR(t.step.timestep, 1 / 2187.0, 1e-15);      // 3^7, the first below the bound
  tighten_timestep(t.s, t.e, t.c, t.step, t.counters);  // short enough: counted only
  EXPECT_NEAR(t.step.timestep, 1 / 2187.0, 1e-15);
  EXPECT_EQ(t.counters.extra_cycles, 7);
  EXPECT_EQ(t.counters.tightening_iterations, 2);
}

// Trial derivatives are those of the state one unpruned Euler step ahead,
// with the acceptor split worked out again from the trial S.
TEST(Tightening, TrialRatesAreTheRatesOneStepAhead) {
  for (double type : {1.0, 3.0}) {
    RunParameters p;
    p.MoleculeType = type, p.pH = 7, p.pKa_thiol = type == 1 ? 6 : 10.4;
    for (int i = 1; i <= 38; ++i) p.DeltaG[i] = 8 + 0.2 * i;
    const NetworkConstants c = network_constants(compute_rate_constants(p), p);
    SpeciesState s;
    double value = 1e-7;
    for (double* x : {&s.A, &s.C, &s.D, &s.E, &s.F, &s.G, &s.I, &s.J, &s.K, &s.L, &s.M, &s.N, &s.O1,
                      &s.O2, &s.O3, &s.P, &s.Q})
      *x = (value += 3e-8);
    s.S = 1e-3;
    speciate(s, c.speciation);
    const SpeciesRates d = species_rates(evaluate_fluxes(s, c), c.monothiol_balance);
    const SpeciesRates trial = trial_rates(s, d, c, 1e-6);
    SpeciesState ahead = s;
    FluxTotals totals;
    double time = 0;
    advance_state(ahead, d, NetFluxes{}, totals, time, 1e-6, false);
    speciate(ahead, c.speciation);
    const SpeciesRates expected = species_rates(evaluate_fluxes(ahead, c), c.monothiol_balance);
    for (auto m : {&R::dC, &R::dD, &R::dE, &R::dF, &R::dG, &R::dI, &R::dJ, &R::dK, &R::dL, &R::dM,
                   &R::dN, &R::dQ})
      EXPECT_EQ(trial.*m, expected.*m) << "type " << type;
  }
}

// One whole iteration: K rises slowly, so the increase rule asks for 100 s,
// and the cap cuts it to ten times the Basic Timestep of 1 s.
struct IterationCase {
  RunParameters p;
  NetworkConstants network;
  SpeciesState state;
  RunProgress progress;
  BlockCounters counters;
  FluxTotals totals;
  ReportLevels levels;
  StepControl step;
  ModelEvaluation evaluation;
  Capture console, trace;
  IterationCase() {
    p.A0 = 1e-6, p.MoleculeType = 2, p.pH = 7, p.pKa_thiol = 10.4, p.wanted_time = 1e9;
    RateTable rates;
    rates.k[3] = 1e-3;
    network = network_constants(rates, p);
    state.C = 1e-6, state.K = 1e-6;
    progress.basic_timestep = 1;
  }
  void run() {
    OutputStreams out;
    out.console = console.file, out.trace = trace.file;
    IterationRecords r{state,  network, p,    progress,   counters,
                       totals, levels,  step, evaluation, out};
    integrator_iteration<FluxPruning::On>(r);
  }
};

TEST(StepIteration, TheStepIsCappedAtTenBasicTimesteps) {
  IterationCase it;
  it.run();
  EXPECT_EQ(it.step.timestep, 10);
  EXPECT_EQ(it.progress.time, 10);
  EXPECT_DOUBLE_EQ(it.state.K, 1e-6 + 10 * 1e-9);
  EXPECT_DOUBLE_EQ(it.totals.total_flux3, 10 * 1e-9);
}

TEST(StepIteration, TighteningRunsOnlyWhileTheBlockCountIsBelowTarget2) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double target2;
    int iterations, checks;
  } rows[] = {{0, 0, 0}, {-1, 0, 0}, {nan, 0, 0}, {5, 5, 0}, {5.5, 5, 1}, {1, 0, 1}};
  for (const auto& row : rows) {
    IterationCase it;
    it.p.target2 = row.target2;
    it.counters.iterations = row.iterations;
    it.run();
    EXPECT_EQ(it.counters.tightening_iterations, row.checks) << "target2 " << row.target2;
  }
}

}  // namespace
}  // namespace tolvanex
