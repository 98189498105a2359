// The resting iteration is a shortcut of the full program's iteration: it
// must give the same bits in every record, whether its conditions hold (and
// it runs) or fail (and the full iteration runs). Two copies of a run go in
// lockstep, one allowed to rest and one not, from random parameters and with
// random disturbances of the state (zeros, negative amounts, NaN, infinities)
// that break the conditions now and then.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "run/run.h"
#include "unit_support.h"

namespace tolvanex {
namespace {

template <class T>
bool same_bits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

RunParameters random_parameters(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0, 1);
  RunParameters p;
  p.target2 = unit(rng) < 0.5 ? 0 : 10;
  p.initial_timestep = std::pow(10, -7 + 2 * unit(rng));
  p.pH = 6 + 3 * unit(rng);
  // Types 1 to 3, and now and then one without acceptor chemistry.
  p.MoleculeType = unit(rng) < 0.05 ? 7 : 1 + std::floor(3 * unit(rng));
  p.pKa_thiol = p.MoleculeType == 1 ? 6 : 10.4;
  p.wanted_time = 1e9;
  p.A0 = unit(rng) < 0.03 ? 0 : 1e-6;
  p.A_report_step = 0.01 * p.A0;
  p.P_report_step = 0.001 * p.A0;
  const double acceptor = unit(rng);
  p.S0 = acceptor < 0.03 ? 0 : acceptor < 0.2 ? 2e-6 : 1e-3;
  for (int i = 1; i <= kStepCount; ++i) {
    // Forward steps mostly faster than reverse ones; now and then a step
    // switched off (above 60) or unusually fast (negative barrier).
    const double roll = unit(rng);
    p.DeltaG[i] = roll < 0.05 ? 61 : roll < 0.08 ? -1 : (i % 2 ? 8 : 15) + 10 * unit(rng);
  }
  return p;
}

// Now and then an amount is set to something the shortcut must notice.
void disturb(SpeciesState& s, std::mt19937_64& rng) {
  const double values[] = {0.0, -0.0, -1e-12, 1e-15, NAN, INFINITY, 1e300};
  std::uniform_int_distribution<std::size_t> pick(0, kSpeciesCount - 1), value(0, 6);
  s.amount[pick(rng)] = values[value(rng)];
}

TEST(RestingRoute, SameBitsAsTheFullIterationInLockstep) {
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  const OutputStreams out{sink, sink, sink, "trace", "flux"};
  long resting_iterations = 0, full_iterations = 0;
  for (unsigned seed = 1; seed <= 120; ++seed) {
    std::mt19937_64 rng(seed);
    const RunParameters parameters = random_parameters(rng);
    tolvanex::Run<FluxPruning::On> a(parameters, out), b(parameters, out, {.resting_route = false});
    RunRecords &ra = a.records(), &rb = b.records();
    rb = ra;  // the same bytes, padding included
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < 3000; ++i) {
      if (unit(rng) < 0.002) {
        std::mt19937_64 copy = rng;
        disturb(ra.state, rng);
        disturb(rb.state, copy);
        ra.evaluation.resting_species_left_at_zero = false;
      }
      const IterationVerdict va = a.iterate();
      const IterationVerdict vb = b.iterate();
      (ra.evaluation.resting_parts_zero ? resting_iterations : full_iterations) += 1;
      ASSERT_EQ(va, vb) << "seed " << seed << " iteration " << i;
      ASSERT_TRUE(same_bits(ra.state, rb.state)) << "seed " << seed << " iteration " << i;
      ASSERT_TRUE(same_bits(ra.evaluation.fluxes, rb.evaluation.fluxes)) << "seed " << seed;
      ASSERT_TRUE(same_bits(ra.evaluation.rates, rb.evaluation.rates)) << "seed " << seed;
      ASSERT_TRUE(same_bits(ra.totals, rb.totals)) << "seed " << seed;
      ASSERT_TRUE(same_bits(ra.step, rb.step)) << "seed " << seed;
      ASSERT_TRUE(same_bits(ra.progress, rb.progress)) << "seed " << seed;
      ASSERT_TRUE(same_bits(ra.counters, rb.counters)) << "seed " << seed;
      ASSERT_TRUE(same_bits(ra.levels, rb.levels)) << "seed " << seed;
      ASSERT_TRUE(ra.events.pending == rb.events.pending && ra.events.trigger == rb.events.trigger &&
                  ra.events.first_amount_count == rb.events.first_amount_count)
          << "seed " << seed;
      ra.events = rb.events = IterationEvents{};
      if (va == IterationVerdict::Continue) {
        ra.counters.iterations += 1;
        rb.counters.iterations += 1;
      } else {
        ra.counters = rb.counters = BlockCounters{};
      }
      if (va == IterationVerdict::Error) break;
    }
  }
  std::fclose(sink);
  // Both paths must have been exercised substantially.
  EXPECT_GT(resting_iterations, 50000);
  EXPECT_GT(full_iterations, 1000);
}

}  // namespace
}  // namespace tolvanex
