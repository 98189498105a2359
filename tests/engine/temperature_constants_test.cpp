// Rate constants: at 298 K the programs' own, bit for bit; at another
// temperature every fixed number of the mechanism behaves as the Eyring
// constant of the barrier that gives it at 298 K.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>

#include "engine/temperature_constants.h"

namespace tolvanex::engine {
namespace {

TEST(TemperatureConstants, At298KTheProgramsConstantsBitForBit) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> barrier(-5, 75);
  for (double type : {1.0, 2.0, 3.0}) {
    for (int draw = 0; draw < 200; ++draw) {
      RunParameters p;
      p.MoleculeType = type;
      Conditions c;
      c.acceptor_type = type;
      for (int i = 1; i <= kStepCount; ++i) p.DeltaG[i] = c.barriers[i] = barrier(rng);
      p.DeltaG[7] = c.barriers[7] = 60;  // exactly at the cut-off: kept
      const RateTable programs = compute_rate_constants(p);
      const RateTable engine = rate_constants(c);
      for (int i = 1; i <= kStepCount; ++i) {
        EXPECT_EQ(engine.k[i], programs.k[i]) << "k" << i << " of " << c.barriers[i];
      }
      EXPECT_GT(engine.k[7], 0);
    }
  }
  const BindingConstants b = binding_constants(298);
  EXPECT_EQ(b.forward, kOrganomercurialBindingRate);
  EXPECT_EQ(b.reverse, kOrganomercurialReleaseRate);
  EXPECT_EQ(monothiol_factor(298), kMonothiolFactor);
}

// The barrier (kcal/mol) whose constant at 298 K is k.
double barrier_of(double k) { return 8.314 * 298 / 4184 * std::log(kEyringPrefactor / k); }

TEST(TemperatureConstants, FixedNumbersFollowTheirBarriers) {
  // 0.001165 is k(4 kcal/mol) / k(0) to four digits; 9.8e3 1/s is about
  // the constant of 12 kcal/mol.
  EXPECT_NEAR(barrier_of(kMonothiolFactor * kEyringPrefactor), 4.0, 1e-3);
  EXPECT_NEAR(barrier_of(kOrganomercurialReleaseRate), 12.0, 2e-3);
  for (double T : {273.15, 290.0, 310.0, 350.0}) {
    const double shift = barrier_of(kMonothiolFactor * kEyringPrefactor);
    // The monothiol factor acts as that barrier added to every scaled one.
    Conditions c;
    c.acceptor_type = 3;
    c.temperature = T;
    for (int i = 1; i <= kStepCount; ++i) c.barriers[i] = 10 + 0.25 * i;
    const RateTable k = rate_constants(c);
    for (int i : kMonothiolScaledSteps) {
      EXPECT_NEAR(k.k[i] / eyring_constant(c.barriers[i] + shift, T), 1, 1e-12) << i << " at " << T;
    }
    EXPECT_NEAR(k.k[1] / eyring_constant(10.25, T), 1, 1e-15);
    const BindingConstants b = binding_constants(T);
    EXPECT_NEAR(b.forward / eyring_constant(barrier_of(kOrganomercurialBindingRate), T), 1, 1e-12);
    EXPECT_NEAR(b.reverse / eyring_constant(barrier_of(kOrganomercurialReleaseRate), T), 1, 1e-12);
  }
  // kB T / h and the Boltzmann factor at 310 K against 298 K, worked out by
  // hand for 15 kcal/mol: (310 / 298) exp(-(15 x 4184 / 8.314)(1/310 - 1/298)).
  EXPECT_NEAR(eyring_constant(15, 310) / eyring_constant(15, 298), 2.77332, 1e-5);
}

TEST(TemperatureConstants, ConstantThatIsNotANumberIsRefused) {
  Conditions c;
  c.barriers[12] = -500;  // exp(+844): no double
  EXPECT_THROW(rate_constants(c), std::invalid_argument);
  c.barriers[12] = 500;  // above the cut-off: off
  EXPECT_EQ(rate_constants(c).k[12], 0);
}

}  // namespace
}  // namespace tolvanex::engine
