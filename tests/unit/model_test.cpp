// The kinetic model: rate constants from barriers, the mass-action net
// fluxes and species balances, pruning, the sums that the explicit advance
// keeps constant, and the floating-point discipline that keeps results the
// same bits everywhere.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "integrator/step_control.h"
#include "unit_support.h"

namespace tolvanex {
namespace {

// k = kB T / h exp(-barrier 4184 / (8.314 298)), kB T / h = 6.2093527e12 1/s:
// 0 and 4 kcal/mol give 6.2093527e12 and 7.23414e9 1/s (the second worked out
// by hand: exp(-6.7547) = 1.16504e-3). A monothiol scales the constants of the
// ten steps that take up a second molecule by 0.001165 (so that a barrier of
// 0 acts like one of 4); above 60 kcal/mol a direction is off.
TEST(RateConstants, EyringMonothiolFactorAndCutOff) {
  const std::vector<int> scaled = {5, 6, 9, 10, 13, 14, 29, 30, 35, 36};
  for (double type : {3.0, 1.0}) {
    RunParameters p{.MoleculeType = type};
    p.DeltaG[1] = 4, p.DeltaG[2] = 60.001, p.DeltaG[30] = 61;
    const RateTable t = compute_rate_constants(p);
    EXPECT_NEAR(t.k[1], 7.23414e9, 1e4);
    EXPECT_EQ(t.k[2], 0);
    EXPECT_EQ(t.k[30], 0);
    for (int i = 3; i <= 38; ++i) {
      if (i == 30) continue;
      const bool by_factor = type == 3 && std::count(scaled.begin(), scaled.end(), i);
      EXPECT_NEAR(t.k[i], by_factor ? 7.23390e9 : 6.2093527e12, by_factor ? 1e4 : 1e6) << i;
    }
  }
}

// Step m in its positive direction: forward constant and reactants > reverse
// constant and products, as the mechanism is drawn. H is [H+]; 39 and 40 are
// the organomercurial binding and release constants (7.2339e9 and 9.8e3).
// clang-format off
const char* const kMechanism[] = {
    "1 thiol A > 2 C", "3 C > 4 K", "5 ftl K > 6 N", "7 H N > 8 O2 P", "9 fth K > 10 L",
    "11 L > 12 M", "13 M > 14 O1 P", "15 thiol A > 16 G", "17 fth G > 18 I", "19 I > 20 J",
    "21 ES > 22 A organic", "24 D > 23 thiolate A", "26 F > 25 ftl G", "27 D > 28 E",
    "29 fth E > 30 F", "31 H F > 32 O3 P", "33 Q > 34 D", "35 fth Q > 36 N", "38 O3 P > 37 J",
    "39 MerB PHMB > 40 ES"};
// clang-format on
struct Step {
  int k[2];
  std::vector<std::string> side[2], all;
};
Step step(std::size_t j) {
  Step st;
  std::istringstream in(kMechanism[j]);
  int side = 0;
  in >> st.k[0];
  for (std::string x; in >> x;)
    x == ">" ? void(in >> st.k[++side]) : (st.side[side].push_back(x), st.all.push_back(x));
  return st;
}
double& amount(SpeciesState& s, const std::string& x) {
  return x == "fth" ? s.thiol_factor : x == "ftl" ? s.thiolate_factor : s[species(x)];
}

// Distinct constants and amounts at pH 0.3, where [H+] counts: each net flux
// is forward minus reverse mass action, and a NaN in one amount reaches exactly
// the fluxes whose rate law holds it. With net fluxes of 2^j (exact sums, every
// mix unique) each species changes by the fluxes forming it minus those using
// it up; the factors stand for a second free acceptor molecule only for a
// monothiol.
TEST(Network, MassActionFluxesNaNLocalityAndBalances) {
  const RunParameters p{.pH = 0.3, .MoleculeType = 2};
  RateTable rates;
  for (int i = 1; i <= 38; ++i) rates.k[i] = 1 + 0.013 * i * i;
  const NetworkConstants c = network_constants(rates, p);
  SpeciesState s;
  std::vector<std::string> names = {"fth", "ftl"};
  for (const SpeciesInfo& x : kSpeciesTable) names.push_back(x.label);
  double value = 0.5;
  for (const std::string& x : names) amount(s, x) = value += 0.07;
  const NetFluxes clean = evaluate_fluxes(s, c);
  for (std::size_t j = 0; j < kFluxCount; ++j) {
    double term[2];
    for (int side : {0, 1}) {
      const int k = step(j).k[side];
      term[side] = k == 39 ? 7.2339e9 : k == 40 ? 9.8e3 : rates.k[k];
      for (const auto& x : step(j).side[side]) term[side] *= x == "H" ? std::pow(10, -0.3) : amount(s, x);
    }
    EXPECT_NEAR(clean.value[j], term[0] - term[1], 1e-13 * (term[0] + term[1])) << kMechanism[j];
  }
  for (const std::string& name : names) {
    SpeciesState bad = s;
    amount(bad, name) = std::numeric_limits<double>::quiet_NaN();
    const NetFluxes n = evaluate_fluxes(bad, c);
    for (std::size_t j = 0; j < kFluxCount; ++j) {
      const auto& all = step(j).all;
      EXPECT_TRUE(std::count(all.begin(), all.end(), name) ? std::isnan(n.value[j])
                                                           : n.value[j] == clean.value[j])
          << name << " in " << kMechanism[j];
    }
  }
  NetFluxes n;
  for (std::size_t j = 0; j < kFluxCount; ++j) n.value[j] = std::ldexp(1.0, static_cast<int>(j));
  for (bool monothiol : {false, true}) {
    SpeciesState change;  // each species' derivative, at its own place
    for (std::size_t j = 0; j < kFluxCount; ++j)
      for (int side : {0, 1})
        for (std::string x : step(j).side[side]) {
          if (x == "fth" || x == "ftl") x = !monothiol ? "H" : x == "fth" ? "thiol" : "thiolate";
          if (x != "H") amount(change, x) += (side ? 1 : -1) * std::ldexp(1.0, static_cast<int>(j));
        }
    change[Species::S] = change[Species::thiol] + change[Species::thiolate];
    const SpeciesRates r = species_rates(n, monothiol);
    for (const SpeciesInfo& x : kSpeciesTable)
      EXPECT_EQ(r[x.species], change[x.species]) << x.label << " monothiol " << monothiol;
  }
}

// The bound is 1e-12 x the largest signed net flux, flux39 included; a flux
// equal to it stays, anything below (every negative one) becomes 0.
TEST(Pruning, SignedInclusiveBound) {
  using enum Flux;
  NetFluxes n;
  n[flux1] = 1, n[flux3] = 1e-12, n[flux5] = std::nextafter(1e-12, 0.0), n[flux7] = -1e-30;
  prune_negligible_fluxes(n);
  EXPECT_TRUE(n[flux1] == 1 && n[flux3] == 1e-12 && n[flux5] == 0 && n[flux7] == 0);
  for (double f39 : {0.0, 1e6}) {  // a large reverse flux does not set the bound
    NetFluxes m;
    m[flux1] = -1e6, m[flux3] = 1e-9, m[flux37] = 2e-3, m[flux39] = f39;
    prune_negligible_fluxes(m);
    EXPECT_TRUE(m[flux1] == 0 && m[flux3] == (f39 == 0 ? 1e-9 : 0) && m[flux37] == 2e-3) << f39;
  }
}

// Mercury, organomercurial, enzyme and acceptor sums (a monothiol counted
// twice in F, I, J, L, M, N and P).
std::vector<double> sums(const SpeciesState& state, bool monothiol) {
  auto s = [&](const char* x) { return state[species(x)]; };
  double bound = 0, twice = 0;
  for (const char* x : {"C", "D", "E", "F", "G", "I", "J", "K", "L", "M", "N", "Q"}) bound += s(x);
  for (const char* x : {"F", "I", "J", "L", "M", "N", "P"}) twice += s(x);
  return {s("PHMB") + s("ES") + s("A") + bound + s("P"), s("PHMB") + s("ES") + s("organic"),
          s("A") + bound + s("O1") + s("O2") + s("O3") + s("MerB") + s("ES"),
          monothiol ? s("S") + bound - twice + s("P") + 2 * twice : s("S") + bound + s("P")};
}

// Random amounts (S a thousand times more), barriers and pH; thousands of
// advances with fresh rates, pruned every other time; every type, both modes.
// The trial derivatives of the tightening check must be those of the state
// one unpruned step ahead.
TEST(Conservation, SumsHoldOverThousandsOfAdvances) {
  for (int run = 0; run < 12; ++run) {
    const double type = 1 + run % 3;
    const bool organomercurial = run / 3 % 2;
    std::mt19937_64 random(static_cast<unsigned>(run));
    std::uniform_real_distribution<double> amount(1e-7, 1e-6), barrier(9, 17), pH(5.5, 8.5);
    RunParameters p{.pH = pH(random), .MoleculeType = type, .pKa_thiol = type == 1 ? 6 : 10.4};
    for (int i = 1; i <= 38; ++i) p.DeltaG[i] = barrier(random);
    const NetworkConstants c = network_constants(compute_rate_constants(p), p);
    SpeciesState s;
    for (const char* x : {"A", "C", "D", "E", "F", "G", "I", "J", "K", "L", "M", "N", "O1", "O2",
                          "O3", "P", "Q"})
      s[species(x)] = amount(random);
    if (organomercurial)
      for (const char* x : {"MerB", "ES", "PHMB", "organic"}) s[species(x)] = amount(random);
    s[Species::S] = 1000 * amount(random);
    const SpeciesState before = s;
    FluxTotals totals;
    double time = 0;
    for (int i = 0; i < 2000; ++i) {
      speciate(s, c.speciation);
      NetFluxes n = evaluate_fluxes(s, c);
      if (i % 2 == 0) prune_negligible_fluxes(n);
      const SpeciesRates r = species_rates(n, c.monothiol_balance);
      double dt = 1e-3;  // short against every falling species: the state stays positive
      for (const SpeciesInfo& x : kSpeciesTable)
        if (x.integrated && s[x.species] > 0 && r[x.species] < 0)
          dt = std::min(dt, -0.02 * s[x.species] / r[x.species]);
      const SpeciesRates trial = trial_rates(s, r, c, dt);
      advance_state(s, r, n, totals, time, dt, organomercurial);
      SpeciesState ahead = s;
      speciate(ahead, c.speciation);
      const SpeciesRates next = species_rates(evaluate_fluxes(ahead, c), c.monothiol_balance);
      for (const Species x : kTighteningList)
        ASSERT_TRUE(organomercurial || trial[x] == next[x]) << "trial d" << info(x).label;
    }
    const std::vector<double> start = sums(before, type == 3), end = sums(s, type == 3);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(end[i], start[i], 1e-12 * start[0]) << run << " " << i;
    EXPECT_GT(std::fabs(s[Species::P] - before[Species::P]), 1e-3 * start[0]) << run;
  }
}

// A compiler that fuses x + dt * dX into one multiply-add (one rounding
// instead of two) changes every trajectory. dt * dX = 1 + 2^-29 + 2^-60
// exactly; rounded it loses the 2^-60, and adding x = -(1 + 2^-29) then gives
// exactly 0. A fused multiply-add keeps 2^-60. And k1 * thiol * A is
// (k1 * thiol) * A: with 2^600, 2^600 and 2^-600 it overflows.
TEST(FloatingPoint, NoMultiplyAddAndProductsLeftToRight) {
  volatile double one_plus = 1.0 + 0x1p-30;
  SpeciesState s;
  s[Species::C] = -(1.0 + 0x1p-29);
  SpeciesRates r;
  r[Species::C] = one_plus;
  FluxTotals totals;
  double time = 0;
  advance_state(s, r, NetFluxes{}, totals, time, one_plus, false);
  EXPECT_EQ(s[Species::C], 0.0) << "x + dt*dX was fused: build with -ffp-contract=off";
  NetworkConstants c;
  c.rates.k[1] = 0x1p600;
  SpeciesState t;
  t[Species::A] = 0x1p-600, t[Species::thiol] = 0x1p600;
  EXPECT_TRUE(std::isinf(evaluate_fluxes(t, c)[Flux::flux1]));
}

}  // namespace
}  // namespace tolvanex
