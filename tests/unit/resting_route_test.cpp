// The resting iteration is a shortcut of the full program's iteration: it
// must give the same bits in every record, whether its conditions hold (and
// it runs) or fail (and the full iteration runs). Two copies of a run go in
// lockstep, one allowed to rest and one not, from random parameters and with
// random disturbances of the state (zeros, negative amounts, NaN, infinities)
// that break the conditions now and then.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "integrator/integrator_iteration.h"
#include "run/block_loop.h"
#include "setup/rate_table.h"

namespace tolvanex {
namespace {

template <class T>
bool same_bits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

struct LockstepRun {
  RunParameters parameters;
  NetworkConstants network;
  RunRecords run;
  OutputStreams out;

  IterationVerdict iterate() {
    IterationRecords r = iteration_records(parameters, network, run, out);
    return integrator_iteration<FluxPruning::On>(r);
  }
};

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
  std::uniform_int_distribution<int> pick(0, 26);
  const double values[] = {0.0, -0.0, -1e-12, 1e-15, NAN, INFINITY, 1e300};
  std::uniform_int_distribution<int> value(0, 6);
  double* fields = reinterpret_cast<double*>(&s);
  static_assert(sizeof(SpeciesState) == 27 * sizeof(double));
  fields[pick(rng)] = values[value(rng)];
}

TEST(RestingRoute, SameBitsAsTheFullIterationInLockstep) {
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  long resting_iterations = 0, full_iterations = 0;
  for (unsigned seed = 1; seed <= 120; ++seed) {
    std::mt19937_64 rng(seed);
    LockstepRun a;
    a.parameters = random_parameters(rng);
    a.network = network_constants(compute_rate_constants(a.parameters), a.parameters);
    a.run.state = initial_state(a.parameters);
    a.run.progress.basic_timestep = a.parameters.initial_timestep;
    a.run.levels.A_report_level = a.run.state.A;
    a.out = OutputStreams{sink, sink, sink, "trace", "flux"};
    LockstepRun b = a;
    b.network.resting_route_possible = false;
    ASSERT_TRUE(a.network.resting_route_possible) << "seed " << seed;

    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < 3000; ++i) {
      if (unit(rng) < 0.002) {
        std::mt19937_64 copy = rng;
        disturb(a.run.state, rng);
        disturb(b.run.state, copy);
        a.run.evaluation.resting_species_left_at_zero = false;
      }
      ModelEvaluation probe;
      SpeciesState probe_state = a.run.state;
      if (resting_species_at_zero(a.run.state) && evaluate_resting(probe_state, a.network, probe)) {
        ++resting_iterations;
      } else {
        ++full_iterations;
      }
      const IterationVerdict va = a.iterate();
      const IterationVerdict vb = b.iterate();
      ASSERT_EQ(va, vb) << "seed " << seed << " iteration " << i;
      ASSERT_TRUE(same_bits(a.run.state, b.run.state)) << "seed " << seed << " iteration " << i;
      ASSERT_TRUE(same_bits(a.run.evaluation.fluxes, b.run.evaluation.fluxes)) << "seed " << seed;
      ASSERT_TRUE(same_bits(a.run.evaluation.rates, b.run.evaluation.rates)) << "seed " << seed;
      ASSERT_TRUE(same_bits(a.run.totals, b.run.totals)) << "seed " << seed;
      ASSERT_TRUE(same_bits(a.run.step, b.run.step)) << "seed " << seed;
      ASSERT_TRUE(same_bits(a.run.progress, b.run.progress)) << "seed " << seed;
      ASSERT_TRUE(same_bits(a.run.counters, b.run.counters)) << "seed " << seed;
      ASSERT_TRUE(same_bits(a.run.levels, b.run.levels)) << "seed " << seed;
      if (va == IterationVerdict::Continue) {
        a.run.counters.iterations += 1;
        b.run.counters.iterations += 1;
      } else {
        a.run.counters = BlockCounters{};
        b.run.counters = BlockCounters{};
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
