// The kinetic model and its set-up: rate constants from barriers, the pKa
// rule, the acceptor split, mass-action net fluxes, species balances, pruning
// of negligible fluxes, the explicit advance and the sums it keeps constant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "integrator/consistency_guard.h"
#include "model/reaction_network.h"

namespace tolvanex {
namespace {

using S = SpeciesState;
using R = SpeciesRates;
using Field = double S::*;

std::string printed(double k) {
  char text[64];
  std::snprintf(text, sizeof text, "%6.5e", k);
  return text;
}
RunParameters barriers(double molecule_type, double barrier) {
  RunParameters p;
  p.MoleculeType = molecule_type;
  for (int i = 1; i <= 38; ++i) p.DeltaG[i] = barrier;
  return p;
}

TEST(RateConstants, BarriersGiveThePublishedConstants) {
  const std::pair<double, const char*> figures[] = {
      {0, "6.20935e+12"},  {4, "7.23414e+09"},  {10, "2.87672e+05"}, {15, "6.19189e+01"},
      {20, "1.33275e-02"}, {60, "6.13981e-32"}, {-1, "3.36094e+13"}, {60.001, "0.00000e+00"}};
  for (const auto& [barrier, constant] : figures) {
    const RateTable t = compute_rate_constants(barriers(2, barrier));
    for (int i = 1; i <= 38; ++i) EXPECT_EQ(printed(t.k[i]), constant) << barrier << " k" << i;
  }
}

// Every step has its own barrier, so a constant from the wrong position or a
// scaled constant outside the ten shows. Types compare as numbers.
TEST(RateConstants, MonothiolScalesExactlyTheTenSecondAcceptorSteps) {
  const std::vector<int> scaled = {5, 6, 9, 10, 13, 14, 29, 30, 35, 36};
  const double RT = 8.314 * 298 / 4184;  // kcal/mol
  for (double type : {3.0, 1.0, 2.0, 1.5, 0.0}) {
    RunParameters p = barriers(type, 0);
    for (int i = 1; i <= 38; ++i) p.DeltaG[i] = 2 + 0.25 * i;
    const RateTable t = compute_rate_constants(p);
    for (int i = 1; i <= 38; ++i) {
      double k = 6209352739000.001 / std::exp(p.DeltaG[i] / RT);
      if (type == 3 && std::count(scaled.begin(), scaled.end(), i)) k *= 0.001165;
      EXPECT_NEAR(t.k[i], k, 1e-13 * k) << "type " << type << " k" << i;
    }
  }
  RunParameters p = barriers(3, 0);
  p.DeltaG[30] = 61;  // the cut-off holds after the scaling
  const RateTable t = compute_rate_constants(p);
  EXPECT_EQ(printed(t.k[5]), "7.23390e+09");
  EXPECT_EQ(printed(t.k[35]), "7.23390e+09");
  EXPECT_EQ(t.k[30], 0);
}

TEST(ModelSetup, PkaRuleAndOrganomercurialStart) {
  const std::pair<const char*, double> types[] = {{"1", 6},      {"1.0", 6},    {" 1xyz", 6},
                                                  {"1.5", 10.4}, {"0.5", 10.4}, {"2", 10.4},
                                                  {"mera", 10.4}};
  for (const auto& [type, pKa] : types) {
    std::vector<std::string> text = {"7", "1e-3", "7", type, "10", "1e-6", "5e-4"};
    text.resize(45, "12");
    text.push_back("trace.txt");
    std::vector<const char*> argv;
    for (const auto& t : text) argv.push_back(t.c_str());
    const RunParameters p = parse_run_parameters(46, argv.data());
    EXPECT_EQ(p.pKa_thiol, pKa) << type;
    EXPECT_DOUBLE_EQ(p.A_report_step, 1e-8);
    EXPECT_DOUBLE_EQ(p.P_report_step, 1e-9);
  }
  RunParameters p;
  p.A0 = 2e-6, p.S0 = 1e-3, p.PHMB0 = 4e-5, p.organomercurial = true;
  const SpeciesState s = initial_state(p);
  EXPECT_EQ(s.A, 0);
  EXPECT_EQ(s.MerB, 2e-6);
  EXPECT_EQ(s.PHMB, 4e-5);
  EXPECT_EQ(s.S, 1e-3);
}

void expect_split(double S, double pH, double pKa, double type, double thiol, double thiolate,
                  double thiol_factor, double thiolate_factor) {
  SpeciesState s;
  s.S = S;
  speciate(s, speciation_constants(pH, pKa, type));
  SCOPED_TRACE(testing::Message() << "type " << type << " pH " << pH);
  EXPECT_NEAR(s.thiol, thiol, 1e-14 * thiol);
  EXPECT_NEAR(s.thiolate, thiolate, 1e-14 * thiolate);
  EXPECT_NEAR(s.thiol_factor, thiol_factor, 1e-14 * thiol_factor);
  EXPECT_NEAR(s.thiolate_factor, thiolate_factor, 1e-14 * thiolate_factor);
}

TEST(Speciation, FiguresForEachAcceptorType) {
  const double S = 1e-3;
  // At the pKa each group is half deprotonated: a monothiol splits S in two,
  // of two independent groups at least one of each kind is found in 3/4.
  expect_split(S, 10.4, 10.4, 3, S / 2, S / 2, S / 2, S / 2);
  expect_split(S, 6, 6, 1, 0.75 * S, 0.75 * S, 0.5, 0.5);
  expect_split(S, 10.4, 10.4, 2, 0.75 * S, 0.75 * S, 0.5, 0.5);
  // MerA at pH 7: f = 10/11, g = 1/11, thiolate = S (1 - g^2), thiol = S (1 - f^2).
  expect_split(S, 7, 6, 1, S * 21 / 121, S * 120 / 121, 1.0 / 11, 10.0 / 11);
  EXPECT_NEAR(S * 120 / 121, 0.99174e-3, 5e-9);
  EXPECT_NEAR(S * 21 / 121, 0.17355e-3, 5e-9);
  expect_split(S, 9.4, 10.4, 2, S * 120 / 121, S * 21 / 121, 10.0 / 11, 1.0 / 11);
  // Monothiol at pH 7.4: R = 0.001, thiolate ~ 0.000999 S, thiol ~ 0.999001 S.
  expect_split(S, 7.4, 10.4, 3, S / 1.001, S * 0.001 / 1.001, S / 1.001, S * 0.001 / 1.001);
  // Far above the pKa g = 1 / (1 + R) stays accurate, as 1 - f would not.
  const double g = 1 / (1 + 1e8);
  expect_split(S, 14, 6, 1, S * g * (2 - g), S * (1 - g * g), g, 1 - g);
  // Without acceptor nothing reacts; types 1 and 2 keep their fractions.
  expect_split(0, 7, 6, 1, 0, 0, 1.0 / 11, 10.0 / 11);
  expect_split(0, 7, 10.4, 3, 0, 0, 0, 0);
}

// A type other than 1, 2 and 3 has no acceptor chemistry in this program.
TEST(Speciation, UnknownTypeHasNoAcceptorChemistry) {
  for (double type : {0.0, 1.5, 2.5, 4.0, -3.0, 1.0000001})
    expect_split(1e-3, 7, 10.4, type, 0, 0, 0, 0);
}

// The reaction table, term by term: constant index and factors of the forward
// and reverse terms. Indices 39 and 40 are the organomercurial binding and
// release constants; `hydrogen` marks [H+] in the forward term.
struct RateLaw {
  int number;
  double NetFluxes::*flux;
  int k_forward;
  std::vector<Field> forward;
  int k_reverse;
  std::vector<Field> reverse;
  bool hydrogen = false;
};
const std::vector<RateLaw> kReactionTable = {
    {1, &NetFluxes::flux1, 1, {&S::thiol, &S::A}, 2, {&S::C}},
    {3, &NetFluxes::flux3, 3, {&S::C}, 4, {&S::K}},
    {5, &NetFluxes::flux5, 5, {&S::thiolate_factor, &S::K}, 6, {&S::N}},
    {7, &NetFluxes::flux7, 7, {&S::N}, 8, {&S::O2, &S::P}, true},
    {9, &NetFluxes::flux9, 9, {&S::thiol_factor, &S::K}, 10, {&S::L}},
    {11, &NetFluxes::flux11, 11, {&S::L}, 12, {&S::M}},
    {13, &NetFluxes::flux13, 13, {&S::M}, 14, {&S::O1, &S::P}},
    {15, &NetFluxes::flux15, 15, {&S::thiol, &S::A}, 16, {&S::G}},
    {17, &NetFluxes::flux17, 17, {&S::thiol_factor, &S::G}, 18, {&S::I}},
    {19, &NetFluxes::flux19, 19, {&S::I}, 20, {&S::J}},
    {21, &NetFluxes::flux21, 21, {&S::ES}, 22, {&S::A, &S::organic}},
    {23, &NetFluxes::flux23, 24, {&S::D}, 23, {&S::thiolate, &S::A}},
    {25, &NetFluxes::flux25, 26, {&S::F}, 25, {&S::thiolate_factor, &S::G}},
    {27, &NetFluxes::flux27, 27, {&S::D}, 28, {&S::E}},
    {29, &NetFluxes::flux29, 29, {&S::thiol_factor, &S::E}, 30, {&S::F}},
    {31, &NetFluxes::flux31, 31, {&S::F}, 32, {&S::O3, &S::P}, true},
    {33, &NetFluxes::flux33, 33, {&S::Q}, 34, {&S::D}},
    {35, &NetFluxes::flux35, 35, {&S::thiol_factor, &S::Q}, 36, {&S::N}},
    {37, &NetFluxes::flux37, 38, {&S::O3, &S::P}, 37, {&S::J}},
    {39, &NetFluxes::flux39, 39, {&S::MerB, &S::PHMB}, 40, {&S::ES}}};
// clang-format off
const std::vector<Field> kAllFields = {
    &S::A, &S::MerB, &S::thiolate, &S::thiol, &S::C, &S::ES, &S::D, &S::E, &S::F, &S::G, &S::I,
    &S::J, &S::K, &S::L, &S::M, &S::N, &S::O1, &S::O2, &S::O3, &S::P, &S::Q, &S::S, &S::PHMB,
    &S::organic, &S::apoMerB, &S::thiol_factor, &S::thiolate_factor};
// clang-format on

// Distinct values for every constant and every field; pH 7.3.
struct Distinct {
  RateTable rates;
  SpeciesState state;
  NetworkConstants network;
  Distinct() {
    RunParameters p;
    p.pH = 7.3, p.pKa_thiol = 10.4, p.MoleculeType = 2;
    for (int i = 1; i <= 38; ++i) rates.k[i] = 1 + 0.013 * i * i;
    for (std::size_t j = 0; j < kAllFields.size(); ++j) state.*kAllFields[j] = 0.5 + 0.07 * j;
    network = network_constants(rates, p);
  }
  double term(int k, const std::vector<Field>& factors) const {
    double value = k == 39 ? 7.2339e9 : k == 40 ? 9.8e3 : rates.k[k];
    for (Field f : factors) value *= state.*f;
    return value;
  }
};

TEST(NetFluxes, EachFluxIsForwardMinusReverseMassAction) {
  const Distinct d;
  const double hydrogen = std::exp(-7.3 * std::log(10.0));
  const NetFluxes n = evaluate_fluxes(d.state, d.network);
  for (const auto& r : kReactionTable) {
    const double forward = d.term(r.k_forward, r.forward) * (r.hydrogen ? hydrogen : 1);
    const double reverse = d.term(r.k_reverse, r.reverse);
    EXPECT_NEAR(n.*r.flux, forward - reverse, 1e-13 * (forward + reverse)) << "flux" << r.number;
  }
}

// A NaN in one field reaches exactly the net fluxes whose rate law holds it.
TEST(NetFluxesNaN, ANaNSpreadsOnlyToTheStepsItEnters) {
  const Distinct d;
  const NetFluxes clean = evaluate_fluxes(d.state, d.network);
  for (Field field : kAllFields) {
    SpeciesState s = d.state;
    s.*field = std::numeric_limits<double>::quiet_NaN();
    const NetFluxes n = evaluate_fluxes(s, d.network);
    for (const auto& r : kReactionTable) {
      const bool enters = std::count(r.forward.begin(), r.forward.end(), field) +
                          std::count(r.reverse.begin(), r.reverse.end(), field);
      if (enters) {
        EXPECT_TRUE(std::isnan(n.*r.flux)) << "flux" << r.number;
      } else {
        EXPECT_EQ(n.*r.flux, clean.*r.flux) << "flux" << r.number;
      }
    }
  }
}

// Net fluxes of 2^j make every sum exact and every combination unique.
NetFluxes powers_of_two() {
  NetFluxes n;
  for (std::size_t j = 0; j < kReactionTable.size(); ++j)
    n.*kReactionTable[j].flux = std::ldexp(1.0, j);
  return n;
}
double f(int number) { return std::ldexp(1.0, (number - 1) / 2); }

TEST(NetFluxes, SpeciesBalancesPerAcceptorType) {
  for (bool monothiol : {false, true}) {
    const R r = species_rates(powers_of_two(), monothiol);
    const double dthiol =
        monothiol ? -(f(1) + f(15) + f(9) + f(17) + f(29) + f(35)) : -(f(1) + f(15));
    const double dthiolate = monothiol ? f(23) + f(25) - f(5) : f(23);
    // clang-format off
    const std::pair<double, double> balances[] = {
        {r.dA, f(21) + f(23) - f(1) - f(15)}, {r.dthiol, dthiol}, {r.dthiolate, dthiolate},
        {r.dS, dthiol + dthiolate},    {r.dC, f(1) - f(3)},           {r.dD, f(33) - f(23) - f(27)},
        {r.dE, f(27) - f(29)},         {r.dF, f(29) - f(31) - f(25)}, {r.dG, f(15) + f(25) - f(17)},
        {r.dI, f(17) - f(19)},         {r.dJ, f(19) + f(37)},         {r.dK, f(3) - f(5) - f(9)},
        {r.dL, f(9) - f(11)},          {r.dM, f(11) - f(13)},         {r.dN, f(5) - f(7) + f(35)},
        {r.dO1, f(13)},                {r.dO2, f(7)},                 {r.dO3, f(31) - f(37)},
        {r.dP, f(7) + f(13) + f(31) - f(37)}, {r.dQ, -(f(33) + f(35))}, {r.dMerB, -f(39)},
        {r.dES, f(39) - f(21)},        {r.dPHMB, -f(39)},             {r.dorganic, f(21)}};
    // clang-format on
    for (std::size_t i = 0; i < std::size(balances); ++i)
      EXPECT_EQ(balances[i].first, balances[i].second)
          << "balance " << i << " monothiol " << monothiol;
  }
}

TEST(Pruning, BoundIsSignedAndInclusive) {
  NetFluxes n;
  n.flux1 = 1, n.flux3 = 1e-12, n.flux5 = std::nextafter(1e-12, 0.0), n.flux7 = -1e-30;
  prune_negligible_fluxes(n);
  EXPECT_EQ(n.flux1, 1);
  EXPECT_EQ(n.flux3, 1e-12);  // equal to 1e-12 x the largest: stays
  EXPECT_EQ(n.flux5, 0);
  EXPECT_EQ(n.flux7, 0);
  NetFluxes m;  // a large reverse flux does not set the bound; flux39 does count
  m.flux1 = -1e6, m.flux3 = 1e-9, m.flux5 = 1e-20, m.flux37 = 2e-3, m.flux39 = 1e6;
  NetFluxes without39 = m;
  without39.flux39 = 0;
  prune_negligible_fluxes(m);
  prune_negligible_fluxes(without39);
  EXPECT_EQ(m.flux1, 0);
  EXPECT_EQ(m.flux3, 0);
  EXPECT_EQ(m.flux37, 2e-3);
  EXPECT_EQ(without39.flux3, 1e-9);
  EXPECT_EQ(without39.flux5, 0);
  NetFluxes negative;
  for (const auto& r : kReactionTable) negative.*r.flux = -1.0 * r.number;
  prune_negligible_fluxes(negative);
  for (const auto& r : kReactionTable) EXPECT_EQ(negative.*r.flux, 0) << "flux" << r.number;
}

// Every species moves by dt times its own derivative, S by both acceptor
// forms; each running total by dt times its own flux.
TEST(ModelAdvance, EverySpeciesMovesByItsOwnDerivative) {
  const std::vector<std::pair<Field, double R::*>> pairs = {
      {&S::A, &R::dA},   {&S::C, &R::dC},       {&S::D, &R::dD},
      {&S::E, &R::dE},   {&S::F, &R::dF},       {&S::G, &R::dG},
      {&S::I, &R::dI},   {&S::J, &R::dJ},       {&S::K, &R::dK},
      {&S::L, &R::dL},   {&S::M, &R::dM},       {&S::N, &R::dN},
      {&S::O1, &R::dO1}, {&S::O2, &R::dO2},     {&S::O3, &R::dO3},
      {&S::P, &R::dP},   {&S::Q, &R::dQ},       {&S::MerB, &R::dMerB},
      {&S::ES, &R::dES}, {&S::PHMB, &R::dPHMB}, {&S::organic, &R::dorganic}};
  SpeciesState s;
  R r;
  for (std::size_t j = 0; j < pairs.size(); ++j)
    s.*pairs[j].first = 1024, r.*pairs[j].second = std::ldexp(1.0, j);
  s.S = 4096, r.dthiol = -8, r.dthiolate = 2, r.dS = 1e6;  // S follows dthiol and dthiolate
  const std::vector<double FluxTotals::*> running = {
      &FluxTotals::total_flux1,  &FluxTotals::total_flux3,  &FluxTotals::total_flux5,
      &FluxTotals::total_flux7,  &FluxTotals::total_flux9,  &FluxTotals::total_flux11,
      &FluxTotals::total_flux13, &FluxTotals::total_flux15, &FluxTotals::total_flux17,
      &FluxTotals::total_flux19, &FluxTotals::total_flux21, &FluxTotals::total_flux23,
      &FluxTotals::total_flux25, &FluxTotals::total_flux27, &FluxTotals::total_flux29,
      &FluxTotals::total_flux31, &FluxTotals::total_flux33, &FluxTotals::total_flux35,
      &FluxTotals::total_flux37};
  FluxTotals totals;
  totals.total_flux19 = 3;
  double time = 10;
  advance_state(s, r, powers_of_two(), totals, time, 0.5, false);
  EXPECT_EQ(time, 10.5);
  for (std::size_t j = 0; j < pairs.size(); ++j)
    EXPECT_EQ(s.*pairs[j].first, 1024 + std::ldexp(0.5, j)) << j;
  EXPECT_EQ(s.S, 4093);
  EXPECT_EQ(s.apoMerB, s.O1 + s.O2 + s.O3);
  for (int m = 1; m <= 37; m += 2)
    EXPECT_EQ(totals.*running[(m - 1) / 2], (m == 19 ? 3 : 0) + 0.5 * f(m)) << "total_flux" << m;
}

// A random state, amounts between 1e-7 and 1e-6 mol/L, random barriers and pH.
struct RandomRun {
  NetworkConstants network;
  SpeciesState state;
  RandomRun(unsigned seed, double type, bool organomercurial) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> amount(1e-7, 1e-6), barrier(9, 17), pH(5.5, 8.5);
    RunParameters p = barriers(type, 0);
    p.pKa_thiol = type == 1 ? 6 : 10.4;
    p.pH = pH(random);
    for (int i = 1; i <= 38; ++i) p.DeltaG[i] = barrier(random);
    network = network_constants(compute_rate_constants(p), p);
    for (Field x : {&S::A, &S::C, &S::D, &S::E, &S::F, &S::G, &S::I, &S::J, &S::K, &S::L, &S::M,
                    &S::N, &S::O1, &S::O2, &S::O3, &S::P, &S::Q})
      state.*x = amount(random);
    state.S = 1000 * amount(random);
    if (organomercurial)
      for (Field x : {&S::MerB, &S::ES, &S::PHMB, &S::organic}) state.*x = amount(random);
  }
};

TEST(Pruning, NoNetFluxIsNegativeAfterPruning) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    RandomRun run(seed, 1 + seed % 3, seed % 2 == 0);
    speciate(run.state, run.network.speciation);
    const NetFluxes raw = evaluate_fluxes(run.state, run.network);
    NetFluxes n = raw;
    prune_negligible_fluxes(n);
    double largest = raw.flux1;
    for (const auto& r : kReactionTable) largest = std::max(largest, raw.*r.flux);
    for (const auto& r : kReactionTable) {
      EXPECT_GE(n.*r.flux, 0) << "seed " << seed << " flux" << r.number;
      if (raw.*r.flux >= largest * 1e-12) {
        EXPECT_EQ(n.*r.flux, raw.*r.flux) << "flux" << r.number;
      }
    }
  }
}

// Mercury, organomercurial, enzyme and acceptor sums (a monothiol counted twice
// in F, I, J, L, M, N and P) survive thousands of advances with freshly
// evaluated rates, in both modes and for every type.
std::vector<double> sums(const S& s, bool monothiol) {
  const double bound = s.C + s.D + s.E + s.F + s.G + s.I + s.J + s.K + s.L + s.M + s.N + s.Q;
  const double twice = s.F + s.I + s.J + s.L + s.M + s.N + s.P;
  return {s.PHMB + s.ES + s.A + bound + s.P, s.PHMB + s.ES + s.organic,
          s.A + bound + s.O1 + s.O2 + s.O3 + s.MerB + s.ES,
          monothiol ? s.S + s.C + s.D + s.E + s.G + s.K + s.Q + 2 * twice : s.S + bound + s.P};
}

TEST(Conservation, SumsHoldOverThousandsOfAdvances) {
  for (unsigned seed = 11; seed <= 16; ++seed) {
    for (double type : {1.0, 2.0, 3.0}) {
      for (bool organomercurial : {false, true}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " type " << type
                                        << " organomercurial " << organomercurial);
        RandomRun run(seed, type, organomercurial);
        SpeciesState& s = run.state;
        const SpeciesState before = s;
        const std::vector<double> start = sums(s, type == 3);
        FluxTotals totals;
        double time = 0;
        for (int step = 0; step < 400; ++step) {
          speciate(s, run.network.speciation);
          NetFluxes n = evaluate_fluxes(s, run.network);
          if (step % 2 == 0) prune_negligible_fluxes(n);
          const R r = species_rates(n, run.network.monothiol_balance);
          double dt = 1e-3;  // short against every falling species: the state stays positive
          for (const auto& [X, dX] :
               {std::pair{s.A, r.dA}, {s.S, r.dS}, {s.C, r.dC}, {s.D, r.dD},       {s.E, r.dE},
                {s.F, r.dF},          {s.G, r.dG}, {s.I, r.dI}, {s.J, r.dJ},       {s.K, r.dK},
                {s.L, r.dL},          {s.M, r.dM}, {s.N, r.dN}, {s.O1, r.dO1},     {s.O2, r.dO2},
                {s.O3, r.dO3},        {s.P, r.dP}, {s.Q, r.dQ}, {s.MerB, r.dMerB}, {s.ES, r.dES},
                {s.PHMB, r.dPHMB}})
            if (X > 0 && dX < 0) dt = std::min(dt, 0.02 * X / -dX);
          advance_state(s, r, n, totals, time, dt, organomercurial);
          // Released enzyme goes back to MerB at once in organomercurial mode.
          if (organomercurial) {
            ASSERT_EQ(s.O1 + s.O2 + s.O3 + s.apoMerB, 0);
          }
        }
        const std::vector<double> end = sums(s, type == 3);
        for (int i = 0; i < 4; ++i)
          EXPECT_NEAR(end[i], start[i], 1e-12 * std::max(start[i], start[0])) << "sum " << i;
        EXPECT_TRUE(guarded_amounts_valid(s));
        double moved = 0;  // the sums mean something only if the state moved
        for (Field x : {&S::A, &S::C, &S::F, &S::J, &S::N, &S::P, &S::Q, &S::MerB, &S::ES})
          moved += std::fabs(s.*x - before.*x);
        EXPECT_GT(moved, 0.05 * start[0]);
      }
    }
  }
}

}  // namespace
}  // namespace tolvanex
