// The kinetic model: rate constants from barriers, the acceptor split, the
// mass-action net fluxes and species balances, pruning, and the sums that the
// explicit advance keeps constant.
#include <cstring>
#include <random>
#include <sstream>

#include "unit_support.h"

namespace tolvanex {
namespace {

std::string printed(double k) {
  char text[32];
  std::snprintf(text, sizeof text, "%6.5e", k);
  return text;
}

// The published constants, each barrier at every position in turn; then the
// monothiol factor on exactly ten constants, and a barrier above 60 still 0.
TEST(RateConstants, PublishedFiguresAndTheMonothiolFactor) {
  const std::pair<double, const char*> figures[] = {
      {0, "6.20935e+12"},  {4, "7.23414e+09"},  {10, "2.87672e+05"},     {15, "6.19189e+01"},
      {20, "1.33275e-02"}, {60, "6.13981e-32"}, {60.001, "0.00000e+00"}, {-1, "3.36094e+13"}};
  for (int shift = 0; shift < 8; ++shift) {
    RunParameters p;
    for (int i = 1; i <= 38; ++i) p.DeltaG[i] = figures[(i + shift) % 8].first;
    const RateTable t = compute_rate_constants(p);
    for (int i = 1; i <= 38; ++i) EXPECT_EQ(printed(t.k[i]), figures[(i + shift) % 8].second) << i;
  }
  const std::vector<int> scaled = {5, 6, 9, 10, 13, 14, 29, 30, 35, 36};
  for (double type : {3.0, 1.0, 2.0, 1.5}) {
    RunParameters p{.MoleculeType = type};  // every barrier 0 but that of k30
    p.DeltaG[30] = 61;
    const RateTable t = compute_rate_constants(p);
    for (int i = 1; i <= 38; ++i) {
      const bool by_factor = type == 3 && std::count(scaled.begin(), scaled.end(), i);
      const char* k = i == 30 ? "0.00000e+00" : by_factor ? "7.23390e+09" : "6.20935e+12";
      EXPECT_EQ(printed(t.k[i]), k) << "type " << type << " k" << i;
    }
  }
}

TEST(Speciation, SplitOfTheAcceptorForEachType) {
  const double g = 1 / (1 + 1e8);
  // S, pH, pKa, type, then thiol, thiolate, thiol factor, thiolate factor. At
  // the pKa a monothiol splits S in two; of two independent groups at least
  // one of each kind is found in 3/4 of the molecules.
  std::vector<std::vector<double>> rows = {
      {1, 10.4, 10.4, 3, 0.5, 0.5, 0.5, 0.5},
      {1, 6, 6, 1, 0.75, 0.75, 0.5, 0.5},
      {1, 10.4, 10.4, 2, 0.75, 0.75, 0.5, 0.5},
      {1, 7, 6, 1, 21.0 / 121, 120.0 / 121, 1.0 / 11, 10.0 / 11},  // 0.17355 S, 0.99174 S
      {1, 7.4, 10.4, 3, 1 / 1.001, 0.001 / 1.001, 1 / 1.001, 0.001 / 1.001},  // 0.000999 S
      {1, 14, 6, 1, g * (2 - g), 1 - g * g, g, 1 - g},  // g = 1 / (1 + R), not 1 - f
      {0, 7, 6, 1, 0, 0, 1.0 / 11, 10.0 / 11},
      {0, 7, 10.4, 3, 0, 0, 0, 0}};
  for (double other : {0.0, 1.5, 2.5, 4.0, -3.0, 1.0000001})  // no acceptor chemistry
    rows.push_back({1, 7, 10.4, other, 0, 0, 0, 0});
  for (const auto& r : rows) {
    SpeciesState s;
    s.S = r[0];
    speciate(s, speciation_constants(r[1], r[2], r[3]));
    const double got[] = {s.thiol, s.thiolate, s.thiol_factor, s.thiolate_factor};
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(got[i], r[4 + i], 1e-14 * r[4 + i]) << "type " << r[3] << " pH " << r[1] << i;
  }
}

// Step m in its positive direction: forward constant and reactants > reverse
// constant and products. H is [H+]; 39 and 40 are the organomercurial binding
// and release constants.
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
Step step(int j) {
  Step st;
  std::istringstream in(kMechanism[j]);
  int side = 0;
  in >> st.k[0];
  for (std::string x; in >> x;)
    x == ">" ? void(in >> st.k[++side]) : (st.side[side].push_back(x), st.all.push_back(x));
  return st;
}

// Distinct constants and amounts at pH 0.3, where [H+] counts: each net flux
// is forward minus reverse mass action, and a NaN in one field reaches exactly
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
  double value = 0.5;
  for (const auto& [name, field] : kSpecies) s.*field = value += 0.07;
  const NetFluxes clean = evaluate_fluxes(s, c);
  for (int j = 0; j < 20; ++j) {
    double term[2];
    for (int side : {0, 1}) {
      const int k = step(j).k[side];
      term[side] = k == 39 ? 7.2339e9 : k == 40 ? 9.8e3 : rates.k[k];
      for (const auto& x : step(j).side[side])
        term[side] *= x == "H" ? std::pow(10, -0.3) : s.*kSpecies.at(x);
    }
    EXPECT_NEAR(clean.*kNetFluxesInOrder[j], term[0] - term[1], 1e-13 * (term[0] + term[1]))
        << kMechanism[j];
  }
  for (const auto& [name, field] : kSpecies) {
    SpeciesState bad = s;
    bad.*field = std::numeric_limits<double>::quiet_NaN();
    const NetFluxes n = evaluate_fluxes(bad, c);
    for (int j = 0; j < 20; ++j) {
      const double flux = n.*kNetFluxesInOrder[j], was = clean.*kNetFluxesInOrder[j];
      const auto& all = step(j).all;
      EXPECT_TRUE(std::count(all.begin(), all.end(), name) ? std::isnan(flux) : flux == was)
          << name << " in " << kMechanism[j];
    }
  }
  NetFluxes n;
  for (int j = 0; j < 20; ++j) n.*kNetFluxesInOrder[j] = std::ldexp(1.0, j);
  for (bool monothiol : {false, true}) {
    SpeciesState change;  // each species' derivative, at its own place
    for (int j = 0; j < 20; ++j)
      for (int side : {0, 1})
        for (std::string x : step(j).side[side]) {
          if (x == "fth" || x == "ftl") x = !monothiol ? "H" : x == "fth" ? "thiol" : "thiolate";
          if (x != "H") change.*kSpecies.at(x) += (side ? 1 : -1) * std::ldexp(1.0, j);
        }
    change.S = change.thiol + change.thiolate;
    const SpeciesRates r = species_rates(n, monothiol);
    for (std::size_t i = 0; i < 24; ++i)
      EXPECT_EQ(load_field(r, 8 * i), load_field(change, 8 * i)) << i << " monothiol " << monothiol;
  }
}

// The bound is 1e-12 x the largest signed net flux, flux39 included; a flux
// equal to it stays, anything below (every negative one) becomes 0.
TEST(Pruning, SignedInclusiveBound) {
  NetFluxes n;
  n.flux1 = 1, n.flux3 = 1e-12, n.flux5 = std::nextafter(1e-12, 0.0), n.flux7 = -1e-30;
  prune_negligible_fluxes(n);
  EXPECT_TRUE(n.flux1 == 1 && n.flux3 == 1e-12 && n.flux5 == 0 && n.flux7 == 0);
  for (double flux39 : {0.0, 1e6}) {  // a large reverse flux does not set the bound
    NetFluxes m;
    m.flux1 = -1e6, m.flux3 = 1e-9, m.flux37 = 2e-3, m.flux39 = flux39;
    prune_negligible_fluxes(m);
    EXPECT_TRUE(m.flux1 == 0 && m.flux3 == (flux39 == 0 ? 1e-9 : 0) && m.flux37 == 2e-3) << flux39;
  }
  for (int j = 0; j < 20; ++j) n.*kNetFluxesInOrder[j] = -1.0 - j;
  prune_negligible_fluxes(n);
  for (int j = 0; j < 20; ++j) EXPECT_EQ(n.*kNetFluxesInOrder[j], 0) << j;
}

// Mercury, organomercurial, enzyme and acceptor sums (a monothiol counted
// twice in F, I, J, L, M, N and P).
std::vector<double> sums(const S& s, bool monothiol) {
  const double bound = s.C + s.D + s.E + s.F + s.G + s.I + s.J + s.K + s.L + s.M + s.N + s.Q;
  const double twice = s.F + s.I + s.J + s.L + s.M + s.N + s.P;
  return {s.PHMB + s.ES + s.A + bound + s.P, s.PHMB + s.ES + s.organic,
          s.A + bound + s.O1 + s.O2 + s.O3 + s.MerB + s.ES,
          monothiol ? s.S + s.C + s.D + s.E + s.G + s.K + s.Q + 2 * twice : s.S + bound + s.P};
}

// Random amounts (S a thousand times more), barriers and pH; thousands of
// advances with fresh rates, pruned every other time; every type, both modes.
// Outside organomercurial mode each species must also have changed by its
// balance of the flux totals (every species moved by its own derivative and
// every total by its own flux), and the trial derivatives of the step choice
// must be those of the state one unpruned step ahead.
TEST(Conservation, SumsHoldOverThousandsOfAdvances) {
  for (int run = 0; run < 24; ++run) {
    const double type = 1 + run % 3;
    const bool organomercurial = run / 3 % 2;
    std::mt19937_64 random(run / 6);
    std::uniform_real_distribution<double> amount(1e-7, 1e-6), barrier(9, 17), pH(5.5, 8.5);
    RunParameters p{.pH = pH(random), .MoleculeType = type, .pKa_thiol = type == 1 ? 6 : 10.4};
    for (int i = 1; i <= 38; ++i) p.DeltaG[i] = barrier(random);
    const NetworkConstants c = network_constants(compute_rate_constants(p), p);
    SpeciesState s;
    const char* species[] = {"A", "C",  "D",  "E",  "F", "G", "I", "J",    "K",  "L",    "M",
                             "N", "O1", "O2", "O3", "P", "Q", "S", "MerB", "ES", "PHMB", "organic"};
    for (int i = 0; i < (organomercurial ? 22 : 18); ++i)
      s.*kSpecies.at(species[i]) = amount(random);
    s.S *= 1000;
    const SpeciesState before = s;
    FluxTotals totals;
    double time = 0;
    for (int i = 0; i < 2000; ++i) {
      speciate(s, c.speciation);
      NetFluxes n = evaluate_fluxes(s, c);
      if (i % 2 == 0) prune_negligible_fluxes(n);
      for (auto flux : kNetFluxesInOrder) ASSERT_TRUE(i % 2 || n.*flux >= 0) << "pruned";
      const SpeciesRates r = species_rates(n, c.monothiol_balance);
      double dt = 1e-3;  // short against every falling species: the state stays positive
      for (std::size_t f = 0; f < 24; ++f)
        if (f != 2 && f != 3 && load_field(s, 8 * f) > 0 && load_field(r, 8 * f) < 0)
          dt = std::min(dt, -0.02 * load_field(s, 8 * f) / load_field(r, 8 * f));
      SpeciesRates trial = trial_rates(s, r, c, dt);
      advance_state(s, r, n, totals, time, dt, organomercurial);
      ASSERT_TRUE(!organomercurial || s.O1 + s.O2 + s.O3 + s.apoMerB == 0);  // back to MerB
      SpeciesState ahead = s;
      speciate(ahead, c.speciation);
      SpeciesRates next = species_rates(evaluate_fluxes(ahead, c), c.monothiol_balance);
      for (const char* x : {"C", "D", "E", "F", "G", "I", "J", "K", "L", "M", "N", "Q"})
        ASSERT_TRUE(organomercurial || i % 2 == 0 ||
                    rate_of(trial, kSpecies.at(x)) == rate_of(next, kSpecies.at(x)))
            << "trial d" << x;
    }
    const std::vector<double> start = sums(before, type == 3), end = sums(s, type == 3);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(end[i], start[i], 1e-12 * start[0]) << run << " " << i;
    NetFluxes integrated;  // the same layout; flux39, which has no total, is 0
    std::memcpy(static_cast<void*>(&integrated), &totals, sizeof totals);
    const SpeciesRates balance = species_rates(integrated, c.monothiol_balance);
    double moved = 0;  // the sums mean something only if the state moved
    for (std::size_t f = 0; f < 24; ++f) {
      if (f == 2 || f == 3) continue;  // thiolate and thiol are not integrated
      const double change = load_field(s, 8 * f) - load_field(before, 8 * f);
      moved += std::fabs(change);
      const double expected = organomercurial ? change : load_field(balance, 8 * f);
      EXPECT_NEAR(change, expected, 1e-12 * start[0]) << run << " field " << f;
    }
    EXPECT_GT(moved, 0.05 * start[0]) << run;
  }
}

}  // namespace
}  // namespace tolvanex
