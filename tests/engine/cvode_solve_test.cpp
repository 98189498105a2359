// Solves with CVODE: a route with a closed form, the conserved sums on the
// bundled examples, the outputs, early stops and every way a solve can end
// without an answer.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>

#include "engine/cvode_solve.h"
#include "engine/temperature_constants.h"
#include "engine_support.h"

namespace tolvanex::engine {
namespace {

// One bimolecular route and nothing else: A + thiol -> C (barrier 12), then
// C -> K -> L -> M -> O1 + P at 0 kcal/mol (6.2e12 1/s), every other
// direction off. A dithiol takes no second molecule, so S falls with A
// alone: dA/dt = -kappa A S with kappa = k1 g (2 - g), S - A = S0 - A0 = d,
//   A(t) = d A0 / (S0 exp(kappa d t) - A0),
// P = A0 - A to within the lag of the fast steps (~1e-12 s).
TEST(Solve, SecondOrderRouteMatchesItsClosedForm) {
  SolveRequest r;
  for (int i = 1; i <= kStepCount; ++i) r.conditions.barriers[i] = 100;
  r.conditions.barriers[1] = 12;
  for (int i : {3, 9, 11, 13}) r.conditions.barriers[i] = 0;
  r.conditions.pH = 9.9;
  r.conditions.acceptor_type = 2;
  r.enzyme = 1e-6;
  r.acceptor = 2.5e-6;
  r.end_time = 5000;
  r.fractions = {0.5, 0.9, 0.99};
  r.output_times = {10, 100, 1000};
  const double g = 1 / (1 + std::pow(10.0, 9.9 - 10.4));
  const double kappa = eyring_constant(12, 298) * g * (2 - g);
  const double d = r.acceptor - r.enzyme;
  const EngineSolution s = solve(r);
  for (std::size_t i = 0; i < r.fractions.size(); ++i) {
    const double f = r.fractions[i];
    const double expected = std::log((d / (1 - f) + r.enzyme) / r.acceptor) / (kappa * d);
    EXPECT_NEAR(s.fractions[i].time / expected, 1, 1e-8) << f;
    EXPECT_EQ(s.fractions[i].note, "");
  }
  for (std::size_t k = 0; k < r.output_times.size(); ++k) {
    const double A = d * r.enzyme / (r.acceptor * std::exp(kappa * d * r.output_times[k]) - r.enzyme);
    const double* y = &s.at_times.values[k * s.at_times.width];
    EXPECT_NEAR(amount(y, Species::P), r.enzyme - A, 1e-9 * r.enzyme);
    EXPECT_NEAR(amount(y, Species::S), d + A, 1e-9 * r.enzyme);
  }
  EXPECT_EQ(s.end_time, r.end_time);
}

// Mercury and enzyme to 1e-12 of the enzyme amount (of the mercury amount,
// where that is larger), the acceptor to 1e-12 of its own, on every example
// and with an organomercurial binding at 7e6 1/s.
TEST(Solve, ConservedSumsHoldOnTheExamples) {
  std::vector<SolveRequest> requests;
  for (const std::string& name : kExamples) requests.push_back(example_request(name));
  requests.push_back(example_request("organomercurial"));
  requests.back().organomercurial = 1e-3;
  for (const SolveRequest& base : requests) {
    SolveRequest r = base;
    for (double t = 1e-7; t < r.end_time; t *= 2) r.output_times.push_back(t);
    const EngineSolution s = solve(r);
    const double mercury = r.conditions.organomercurial ? r.organomercurial : r.enzyme;
    const bool monothiol = r.conditions.acceptor_type == 3;
    for (std::size_t k = 0; k < r.output_times.size(); ++k) {
      const ConservedSums sums = conserved_sums(&s.at_times.values[k * s.at_times.width], monothiol);
      EXPECT_NEAR(sums.mercury, mercury, 1e-12 * std::max(r.enzyme, mercury)) << r.output_times[k];
      EXPECT_NEAR(sums.enzyme, r.enzyme, 1e-12 * r.enzyme) << r.output_times[k];
      EXPECT_NEAR(sums.acceptor, r.acceptor, 1e-12 * r.acceptor) << r.output_times[k];
    }
    EXPECT_GT(amount(&s.at_times.values.back() - s.at_times.width + 1, Species::P), 0.98 * mercury);
    EXPECT_LT(s.statistics.steps, 5000);
  }
}

// Every step's totals: the product is what steps 7, 13 and 31 released less
// what step 37 took back; outputs and steps agree at the end time.
TEST(Solve, EveryStepAndFluxTotalsAgreeWithTheBalances) {
  SolveRequest r = example_request("organomercurial");
  r.end_time = 0.2;
  r.output_times = {0.2, 0.0, 0.05};
  r.options.flux_totals = r.options.every_step = true;
  const EngineSolution s = solve(r);
  const std::size_t w = s.steps.width;
  ASSERT_EQ(w, kStateSpeciesCount + kTotalsCount);
  ASSERT_EQ(s.steps.times.size(), static_cast<std::size_t>(s.statistics.steps) + 1);
  auto total = [&](const double* y, int step) { return y[kStateSpeciesCount + (step - 1) / 2]; };
  for (std::size_t i = 0; i < s.steps.times.size(); ++i) {
    const double* y = &s.steps.values[i * w];
    if (i > 0) {
      EXPECT_GT(s.steps.times[i], s.steps.times[i - 1]);
    }
    EXPECT_NEAR(amount(y, Species::P), total(y, 7) + total(y, 13) + total(y, 31) - total(y, 37),
                1e-12 * r.enzyme);
    EXPECT_EQ(amount(y, Species::O3), 0);  // released enzyme is MerB again
  }
  EXPECT_EQ(s.steps.times.back(), 0.2);
  for (std::size_t j = 0; j < w; ++j) {
    EXPECT_EQ(s.at_times.values[j], s.steps.values[s.steps.values.size() - w + j]);
    EXPECT_EQ(s.at_times.values[w + j], s.steps.values[j]);  // time 0
  }
}

TEST(Solve, StopsAtTheLastFractionOrOutputTime) {
  SolveRequest r = example_request("glutathione");  // wanted time 1e6 s
  r.fractions = {0.5, 0.1};
  const EngineSolution full = solve(r);
  r.options.stop_at_last_fraction = true;
  const EngineSolution early = solve(r);
  EXPECT_TRUE(early.stopped_early);
  EXPECT_EQ(early.end_time, early.fractions[0].time);
  EXPECT_EQ(early.fractions[0].time, full.fractions[0].time);  // the same steps up to there
  EXPECT_LT(early.statistics.steps, full.statistics.steps / 2);
  // An output time after t50: the step that passes it is the last.
  r.output_times = {100};
  const EngineSolution later = solve(r);
  r.options.stop_at_last_fraction = false;
  EXPECT_GE(later.end_time, 100);
  EXPECT_LT(later.end_time, 200);
  EXPECT_EQ(later.at_times.values, solve(r).at_times.values);
}

TEST(Solve, AnswersWithoutDividingByNothing) {
  SolveRequest r = example_request("mera");
  r.fractions = {0.0, 0.5};
  r.output_times = {0.0, 0.01};
  SolveRequest no_enzyme = r, no_acceptor = r, no_time = r, short_time = r;
  no_enzyme.enzyme = 0;
  no_acceptor.acceptor = 0;
  no_time.end_time = 0;
  no_time.output_times = {0.0, 0.0};
  short_time.end_time = 0.01;
  const EngineSolution a = solve(no_enzyme);
  EXPECT_EQ(a.fractions[0].time, 0);
  EXPECT_TRUE(std::isnan(a.fractions[1].time));
  EXPECT_NE(a.fractions[1].note.find("no enzyme"), std::string::npos) << a.fractions[1].note;
  const EngineSolution b = solve(no_acceptor);
  EXPECT_EQ(amount(&b.at_times.values[b.at_times.width], Species::P), 0);
  EXPECT_NE(b.fractions[1].note.find("not reached by t = 1000 s, where P is 0 of"),
            std::string::npos) << b.fractions[1].note;
  const EngineSolution c = solve(no_time);
  EXPECT_EQ(c.statistics.steps, 0);
  EXPECT_EQ(c.at_times.values[state_index(Species::A)], r.enzyme);
  EXPECT_NE(c.fractions[1].note.find("not reached by t = 0 s"), std::string::npos);
  const EngineSolution d = solve(short_time);
  EXPECT_NE(d.fractions[1].note.find("not reached by t = 0.01 s, where P is 0.199"), std::string::npos)
      << d.fractions[1].note;
}

TEST(Solve, FailureNamesTheSolversFlag) {
  SolveRequest r = example_request("mera");
  r.options.max_steps = 20;
  try {
    solve(r);
    FAIL() << "no failure";
  } catch (const SolverFailure& e) {
    EXPECT_EQ(e.flag(), "CV_TOO_MUCH_WORK");
    EXPECT_NE(std::string(e.what()).find("20 steps (max_steps) taken by t = "), std::string::npos);
  }
  r = example_request("mera");
  r.enzyme = r.acceptor = 1e200;  // the rate laws overflow
  try {
    solve(r);
    FAIL() << "no failure";
  } catch (const SolverFailure& e) {
    EXPECT_EQ(e.flag(), "CV_FIRST_RHSFUNC_ERR") << e.what();
    EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
  }
}

TEST(Solve, RefusesWhatCannotBeMeant) {
  const std::vector<std::pair<const char*, std::function<void(SolveRequest&)>>> cases = {
      {"barrier5", [](SolveRequest& r) { r.conditions.barriers[5] = NAN; }},
      {"pH", [](SolveRequest& r) { r.conditions.pH = INFINITY; }},
      {"pH", [](SolveRequest& r) { r.conditions.pH = -400; }},  // [H+] = 1e400
      {"acceptor_type", [](SolveRequest& r) { r.conditions.acceptor_type = 4; }},
      {"pKa", [](SolveRequest& r) { r.conditions.pKa = NAN; }},
      {"temperature", [](SolveRequest& r) { r.conditions.temperature = 0; }},
      {"enzyme", [](SolveRequest& r) { r.enzyme = -1e-6; }},
      {"acceptor", [](SolveRequest& r) { r.acceptor = NAN; }},
      {"organomercurial", [](SolveRequest& r) { r.organomercurial = 1e-6; }},
      {"end_time", [](SolveRequest& r) { r.end_time = -1; }},
      {"an output time", [](SolveRequest& r) { r.output_times = {2000}; }},
      {"a fraction", [](SolveRequest& r) { r.fractions = {-0.5}; }},
      {"rtol", [](SolveRequest& r) { r.options.relative_tolerance = 0.1; }},
      {"atol_fraction", [](SolveRequest& r) { r.options.absolute_fraction = 0; }},
      {"max_steps", [](SolveRequest& r) { r.options.max_steps = 0; }},
  };
  for (const auto& [name, spoil] : cases) {
    SolveRequest r = example_request("mera");
    spoil(r);
    try {
      solve(r);
      ADD_FAILURE() << name << " accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()).rfind(std::string(name) + " is ", 0), 0u) << e.what();
    }
  }
}

}  // namespace
}  // namespace tolvanex::engine
