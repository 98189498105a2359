// The engine's rate equations against the model: the term table gives the
// model's net fluxes to the bit, and its analytic Jacobian is the
// derivative of the model's right-hand side.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/rate_equations.h"
#include "engine_support.h"

namespace tolvanex::engine {
namespace {

struct Case {
  Conditions conditions;
  std::vector<double> y;
};

// Barriers from 0 to 70 kcal/mol (some directions off), pH 4 to 10, a pKa
// of its own now and then, amounts log-uniform from 1e-12 to 1e-3 mol/L
// with some at 0; every acceptor type, with and without organomercurial
// mode, at 298 K or another temperature.
Case random_case(std::mt19937_64& rng, double type, bool organomercurial, double temperature,
                 bool totals) {
  std::uniform_real_distribution<double> u(0, 1);
  Case c;
  for (int i = 1; i <= kStepCount; ++i) c.conditions.barriers[i] = 70 * u(rng);
  c.conditions.pH = 4 + 6 * u(rng);
  if (u(rng) < 0.3) c.conditions.pKa = 5 + 6 * u(rng);
  c.conditions.acceptor_type = type;
  c.conditions.organomercurial = organomercurial;
  c.conditions.temperature = temperature;
  c.y.resize(kStateSpeciesCount + (totals ? kTotalsCount : 0));
  for (double& x : c.y) x = u(rng) < 0.1 ? 0 : std::pow(10.0, -12 + 9 * u(rng));
  return c;
}

TEST(RateTerms, TableGivesTheModelsFluxesBitForBit) {
  std::mt19937_64 rng(20240611);
  int compared = 0;
  for (double type : {1.0, 2.0, 3.0}) {
    for (bool organomercurial : {false, true}) {
      for (double temperature : {298.0, 311.5}) {
        for (int draw = 0; draw < 40; ++draw) {
          const Case c = random_case(rng, type, organomercurial, temperature, false);
          const RateEquations eq(c.conditions, false);
          const SpeciesState s = eq.model_state(c.y.data());
          const NetFluxes model = evaluate_fluxes(s, eq.constants().network);
          const NetFluxes engine = eq.net_fluxes(s);
          for (std::size_t j = 0; j < kFluxCount; ++j) {
            const double table = eq.term(2 * j, s) - eq.term(2 * j + 1, s);
            EXPECT_EQ(table, engine.value[j]) << "flux" << 2 * j + 1 << " type " << type;
            // The model's own flux39 has the binding constants of 298 K.
            if (j + 1 < kFluxCount || temperature == 298) {
              EXPECT_EQ(table, model.value[j]) << "flux" << 2 * j + 1 << " type " << type;
            }
            compared += table != 0;
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 3000);
}

// Row by row, the sum of the magnitudes of the terms that move it: what
// rounding in the right-hand side is proportional to.
std::vector<double> term_scales(const RateEquations& eq, const std::vector<double>& y,
                                bool monothiol, bool organomercurial) {
  const SpeciesState s = eq.model_state(y.data());
  std::vector<double> scale(eq.size(), 0.0);
  for (std::size_t t = 0; t < kRateTerms.size(); ++t) {
    NetFluxes unit;
    unit[kRateTerms[t].flux] = 1;
    SpeciesRates nu = species_rates(unit, monothiol);
    if (organomercurial) nu[Species::MerB] += nu[Species::O1] + nu[Species::O2] + nu[Species::O3];
    for (std::size_t i = 0; i < kStateSpeciesCount; ++i) {
      scale[i] += std::abs(nu[kStateSpecies[i]] * eq.term(t, s));
    }
    const std::size_t j = index_of(kRateTerms[t].flux);
    if (j < kTotalsCount) scale[kStateSpeciesCount + j] += std::abs(eq.term(t, s));
  }
  return scale;
}

// The rate laws are bilinear in the amounts, so a central difference has no
// truncation error whatever its step: what is left is rounding, a few eps
// times the row's term magnitudes over the step. Every entry, the flux
// totals' rows included, is held to that and to 1e-9 of itself.
TEST(RateEquations, JacobianIsTheDerivativeOfTheModelsRightHandSide) {
  std::mt19937_64 rng(7);
  for (double type : {1.0, 2.0, 3.0}) {
    for (bool organomercurial : {false, true}) {
      for (int draw = 0; draw < 10; ++draw) {
        const Case c = random_case(rng, type, organomercurial, draw % 2 ? 298.0 : 285.0, true);
        const RateEquations eq(c.conditions, true);
        const std::size_t n = eq.size();
        std::vector<double> J(n * n), up(n), down(n);
        eq.jacobian(c.y.data(), J.data());
        for (std::size_t col = 0; col < n; ++col) {
          std::vector<double> yp = c.y, ym = c.y;
          const double h = 0.5 * std::max(std::abs(c.y[col]), 1e-12);
          yp[col] += h;
          ym[col] -= h;
          ASSERT_TRUE(eq.derivatives(yp.data(), up.data()));
          ASSERT_TRUE(eq.derivatives(ym.data(), down.data()));
          const std::vector<double> scale = term_scales(eq, yp, type == 3, organomercurial);
          for (std::size_t row = 0; row < n; ++row) {
            const double difference = (up[row] - down[row]) / (yp[col] - ym[col]);
            const double exact = J[row + n * col];
            EXPECT_NEAR(difference, exact, 64 * 2.2e-16 * scale[row] / h + 1e-9 * std::abs(exact))
                << "d" << row << "/d" << col << " type " << type << " organo " << organomercurial;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace tolvanex::engine
