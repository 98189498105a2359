// Results must be the same bits on every machine. A compiler that fuses
// x + dt * dX into one multiply-add (one rounding instead of two) changes
// every trajectory; this catches a build that allows it.
#include <gtest/gtest.h>

#include <cmath>

#include "model/reaction_network.h"

namespace tolvanex {
namespace {

TEST(FloatingPoint, EulerStepIsNotFusedIntoMultiplyAdd) {
  // dt * dX = 1 + 2^-29 + 2^-60 exactly; rounded it loses the 2^-60, and
  // adding x = -(1 + 2^-29) then gives exactly 0. A fused multiply-add keeps 2^-60.
  volatile double one_plus = 1.0 + 0x1p-30;
  volatile double start = -(1.0 + 0x1p-29);
  SpeciesState s;
  s.C = start;
  SpeciesRates r;
  r.dC = one_plus;
  NetFluxes n;
  FluxTotals totals;
  double time = 0;
  advance_state(s, r, n, totals, time, one_plus, false);
  EXPECT_EQ(s.C, 0.0) << "x + dt*dX was fused: build with -ffp-contract=off";
}

TEST(FloatingPoint, ProductsAreEvaluatedLeftToRight) {
  // k1 * thiol * A is (k1 * thiol) * A. With k1 = 2^600, thiol = 2^600 and
  // A = 2^-600 the left-to-right product overflows to infinity, while
  // k1 * (thiol * A) would be 2^600.
  NetworkConstants c;
  c.rates.k[1] = 0x1p600;
  SpeciesState s;
  s.A = 0x1p-600;
  s.thiol = 0x1p600;
  const NetFluxes n = evaluate_fluxes(s, c);
  EXPECT_TRUE(std::isinf(n.flux1));
}

}  // namespace
}  // namespace tolvanex
