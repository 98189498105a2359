// The rate laws as data: each direction of each net flux is one mass-action
// term, a constant times at most two factors, in the order in which the
// model's evaluate_fluxes multiplies them (model/reaction_network.h). The
// analytic Jacobian is built from this table; the unit tests hold it to the
// model's own fluxes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "model/fluxes.h"
#include "model/species.h"

namespace tolvanex::engine {

// What a term's constant is: k1 .. k38 by number, or one of these.
inline constexpr int kConstantK7H = 39;      // k7 [H+]
inline constexpr int kConstantK31H = 40;     // k31 [H+]
inline constexpr int kConstantBinding = 41;  // MerB + PHMB -> ES
inline constexpr int kConstantRelease = 42;  // ES -> MerB + PHMB
inline constexpr int kConstantCount = 43;    // [0] unused

enum class FactorKind : std::uint8_t {
  one,              // no factor
  amount,           // an amount of the speciated state (thiol and thiolate included)
  thiol_factor,     // the second-thiol factors of the acceptor split
  thiolate_factor,
};

struct Factor {
  FactorKind kind = FactorKind::one;
  Species species = Species::A;  // of an amount
};

struct RateTerm {
  Flux flux;
  bool forward;  // the forward term adds to the net flux, the reverse one subtracts
  int constant;
  Factor first, second;
};

namespace rate_terms_detail {
inline constexpr Factor one{};
constexpr Factor x(Species s) { return {FactorKind::amount, s}; }
inline constexpr Factor fth{FactorKind::thiol_factor, Species::A};
inline constexpr Factor ftl{FactorKind::thiolate_factor, Species::A};
}  // namespace rate_terms_detail

// clang-format off
inline constexpr std::array<RateTerm, 2 * kFluxCount> kRateTerms = [] {
  using namespace rate_terms_detail;
  using enum Species;
  using enum Flux;
  return std::array<RateTerm, 2 * kFluxCount>{{
    {flux1,  true, 1, x(thiol), x(A)},      {flux1,  false, 2, x(C), one},
    {flux3,  true, 3, x(C), one},           {flux3,  false, 4, x(K), one},
    {flux5,  true, 5, ftl, x(K)},           {flux5,  false, 6, x(N), one},
    {flux7,  true, kConstantK7H, x(N), one}, {flux7, false, 8, x(O2), x(P)},
    {flux9,  true, 9, fth, x(K)},           {flux9,  false, 10, x(L), one},
    {flux11, true, 11, x(L), one},          {flux11, false, 12, x(M), one},
    {flux13, true, 13, x(M), one},          {flux13, false, 14, x(O1), x(P)},
    {flux15, true, 15, x(thiol), x(A)},     {flux15, false, 16, x(G), one},
    {flux17, true, 17, fth, x(G)},          {flux17, false, 18, x(I), one},
    {flux19, true, 19, x(I), one},          {flux19, false, 20, x(J), one},
    {flux21, true, 21, x(ES), one},         {flux21, false, 22, x(A), x(organic)},
    {flux23, true, 24, x(D), one},          {flux23, false, 23, x(thiolate), x(A)},
    {flux25, true, 26, x(F), one},          {flux25, false, 25, ftl, x(G)},
    {flux27, true, 27, x(D), one},          {flux27, false, 28, x(E), one},
    {flux29, true, 29, fth, x(E)},          {flux29, false, 30, x(F), one},
    {flux31, true, kConstantK31H, x(F), one}, {flux31, false, 32, x(O3), x(P)},
    {flux33, true, 33, x(Q), one},          {flux33, false, 34, x(D), one},
    {flux35, true, 35, fth, x(Q)},          {flux35, false, 36, x(N), one},
    {flux37, true, 38, x(O3), x(P)},        {flux37, false, 37, x(J), one},
    {flux39, true, kConstantBinding, x(MerB), x(PHMB)}, {flux39, false, kConstantRelease, x(ES), one},
  }};
}();
// clang-format on

namespace rate_terms_detail {
// Term 2j is flux j's forward term and term 2j + 1 its reverse one; every
// constant is used once (k7 and k31 as k7 [H+] and k31 [H+]); a term's second factor is there only after a first.
consteval bool well_formed() {
  std::array<int, kConstantCount> uses{};
  for (std::size_t i = 0; i < kRateTerms.size(); ++i) {
    const RateTerm& t = kRateTerms[i];
    if (index_of(t.flux) != i / 2 || t.forward != (i % 2 == 0)) return false;
    if (t.constant < 1 || t.constant >= kConstantCount) return false;
    ++uses[static_cast<std::size_t>(t.constant)];
    if (t.first.kind == FactorKind::one && t.second.kind != FactorKind::one) return false;
  }
  // k7 and k31 enter through k7 [H+] and k31 [H+] only.
  for (int c = 1; c < kConstantCount; ++c) {
    if (uses[static_cast<std::size_t>(c)] != (c == 7 || c == 31 ? 0 : 1)) return false;
  }
  return true;
}
}  // namespace rate_terms_detail
static_assert(rate_terms_detail::well_formed());

}  // namespace tolvanex::engine
