// The species of the kinetic model, with everything the program says about
// each of them in one table. Every list of species that the step rules, the
// resting route, the guard, the Euler step and the reports walk is derived
// from this table at compile time.
//
// A      HgMerB, the mercury-bound enzyme the transfer starts from
// S      free acceptor (thiol and thiolate forms together)
// C..N,Q the twelve enzyme-bound intermediates (letters B, H, O name none)
// P      the product, Hg carried away by the acceptor
// thiol, thiolate  the acceptor split of S (see speciation.h), not integrated
// O1,O2,O3  free enzyme released by steps 13, 7 and 31 (and reverse 37)
// apoMerB   O1 + O2 + O3, recomputed after every advance, never integrated
// MerB, ES, PHMB, organic   organomercurial mode: free enzyme, its complex
//           with the organomercurial, the organomercurial, the organic product
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tolvanex {

// The order is the order of the state's array. A to Q stand in the order in
// which the step rules walk them (the decrease list, with the acceptor forms
// among them).
enum class Species : std::uint8_t {
  A, MerB, thiolate, thiol, C, ES, D, E, F, G, I, J, K, L, M, N, O1, O2, O3, P, Q,
  S, PHMB, organic, apoMerB
};
inline constexpr std::size_t kSpeciesCount = 25;

constexpr std::size_t index_of(Species x) { return static_cast<std::size_t>(x); }

// What the program does with one species. A place in a list counts from 1;
// 0 means the species is not in that list.
struct SpeciesInfo {
  Species species;
  const char* label;        // in console messages: "ratioC", "dC=", "first amount of C"
  bool walked;              // walked by the increase and decrease rules
  int first_amount;         // place in the first-amount list
  bool resting;             // +0 throughout while the resting route holds (resting_route.h)
  bool guarded;             // a negative amount (or NaN) after an advance stops the run
  bool integrated;          // moved by its own derivative in the Euler step
  int tightening;           // place in the list the tightening check walks
  int ratio_line;           // place among the block report's ratio lines
  int change_line;          // place among the block report's change lines
  bool organomercurial_line;  // its change line is printed in organomercurial mode only
  int trace_column;         // place among the trace file's columns after the time
  const char* trace_header;  // that column's header cell, blanks included
};

// clang-format off
inline constexpr std::array<SpeciesInfo, kSpeciesCount> kSpeciesTable = {{
// species            label      walked first rest   guard  integ  tight ratio change organo column header
  {Species::A,        "A",        true,  0,  false, false, true,   0,  1,  5, false,  1, " HgMerB  "},
  {Species::MerB,     "MerB",     true,  0,  true,  false, true,   0,  0,  1, true,   0, ""},
  {Species::thiolate, "thiolate", true,  0,  false, false, false,  0,  3,  0, false,  0, ""},
  {Species::thiol,    "thiol",    true,  0,  false, false, false,  0,  2,  0, false,  0, ""},
  {Species::C,        "C",        true,  2,  false, true,  true,   5,  4,  7, false,  3, "   Int1     "},
  {Species::ES,       "ES",       true,  1,  true,  false, true,   0,  0,  2, true,   0, ""},
  {Species::D,        "D",        true,  3,  true,  true,  true,   6,  5,  8, false,  4, "   Anionic  Int1      "},
  {Species::E,        "E",        true,  4,  true,  true,  true,   3,  6,  9, false,  5, "   Anionic  Int2 C159-bound  "},
  {Species::F,        "F",        true,  5,  true,  true,  true,   7,  7, 10, false,  6, "  Int3' C159-bound      "},
  {Species::G,        "G",        true,  6,  false, true,  true,   8,  8, 11, false,  7, "  Int1 (H+ on Asp)       "},
  {Species::I,        "I",        true,  7,  false, true,  true,   9,  9, 12, false,  8, " Int2 C159-bound:Thiol  "},
  {Species::J,        "J",        true,  8,  false, true,  true,  10, 10, 13, false,  9, " Int4 (Cys159-bound)  "},
  {Species::K,        "K",        true,  9,  false, true,  true,   1, 11, 14, false, 10, "  Int2 (Cys96-bound)  "},
  {Species::L,        "L",        true, 10,  false, true,  true,  11, 12, 15, false, 11, " Int2 (Cys96-bound):Thiol  "},
  {Species::M,        "M",        true, 11,  false, true,  true,  12, 13, 16, false, 12, " Int4 (Asp99-bound)   "},
  {Species::N,        "N",        true, 12,  false, true,  true,   2, 14, 17, false, 13, " Int3' C96-bound   "},
  {Species::O1,       "O1",       true,  0,  false, true,  true,   0, 15, 22, false,  0, ""},
  {Species::O2,       "O2",       true,  0,  false, true,  true,   0, 16, 21, false,  0, ""},
  {Species::O3,       "O3",       true,  0,  true,  true,  true,   0, 17, 20, false,  0, ""},
  {Species::P,        "P",        true, 13,  false, true,  true,   0, 18, 18, false, 15, " Hg(SCH3)2   "},
  {Species::Q,        "Q",        true, 14,  true,  true,  true,   4, 19, 19, false, 16, "  Anionic  Int2 C96-bound"},
  {Species::S,        "S",        false, 0,  false, false, false,  0,  0,  6, false,  2, "   Thiol      "},
  {Species::PHMB,     "PHMB",     false, 0,  true,  false, true,   0,  0,  3, true,   0, ""},
  {Species::organic,  "organic",  false, 0,  true,  false, true,   0,  0,  4, true,  17, "organic product"},
  {Species::apoMerB,  "apoMerB",  false, 0,  false, false, false,  0,  0,  0, false, 14, " apoMerB  "},
}};
// clang-format on

constexpr const SpeciesInfo& info(Species x) { return kSpeciesTable[index_of(x)]; }

namespace species_table_detail {

consteval std::size_t count_if(bool SpeciesInfo::*member) {
  std::size_t n = 0;
  for (const SpeciesInfo& s : kSpeciesTable) n += s.*member ? 1 : 0;
  return n;
}

consteval std::size_t count_placed(int SpeciesInfo::*place) {
  std::size_t n = 0;
  for (const SpeciesInfo& s : kSpeciesTable) n += s.*place > 0 ? 1 : 0;
  return n;
}

// The species of one list, in the order of their places.
template <int SpeciesInfo::*place>
consteval std::array<Species, count_placed(place)> list_by_place() {
  std::array<Species, count_placed(place)> list{};
  for (const SpeciesInfo& s : kSpeciesTable) {
    if (s.*place > 0) list[static_cast<std::size_t>(s.*place - 1)] = s.species;
  }
  return list;
}

// Places 1 to n, each used once.
consteval bool places_are_a_list(int SpeciesInfo::*place) {
  const std::size_t n = count_placed(place);
  for (std::size_t p = 1; p <= n; ++p) {
    int holders = 0;
    for (const SpeciesInfo& s : kSpeciesTable) holders += s.*place == static_cast<int>(p) ? 1 : 0;
    if (holders != 1) return false;
  }
  return true;
}

consteval bool rows_in_enum_order() {
  for (std::size_t i = 0; i < kSpeciesCount; ++i) {
    if (index_of(kSpeciesTable[i].species) != i) return false;
  }
  return true;
}

// The walked species stand first, so that the walk is a run along the array.
consteval bool walked_species_lead() {
  bool walked = true;
  for (const SpeciesInfo& s : kSpeciesTable) {
    if (s.walked && !walked) return false;
    walked = s.walked;
  }
  return true;
}

consteval bool each_implies(bool (*holds)(const SpeciesInfo&), bool (*then)(const SpeciesInfo&)) {
  for (const SpeciesInfo& s : kSpeciesTable) {
    if (holds(s) && !then(s)) return false;
  }
  return true;
}

}  // namespace species_table_detail

// Derived lists and counts.
inline constexpr std::size_t kWalkedCount =
    species_table_detail::count_if(&SpeciesInfo::walked);
inline constexpr auto kFirstAmountList =
    species_table_detail::list_by_place<&SpeciesInfo::first_amount>();
inline constexpr auto kTighteningList =
    species_table_detail::list_by_place<&SpeciesInfo::tightening>();
inline constexpr auto kRatioLines = species_table_detail::list_by_place<&SpeciesInfo::ratio_line>();
inline constexpr auto kChangeLines =
    species_table_detail::list_by_place<&SpeciesInfo::change_line>();
inline constexpr auto kTraceColumns =
    species_table_detail::list_by_place<&SpeciesInfo::trace_column>();

// One flag per species, in the order of the state's array.
template <bool SpeciesInfo::*member>
inline constexpr std::array<bool, kSpeciesCount> kSpeciesMask = [] {
  std::array<bool, kSpeciesCount> mask{};
  for (std::size_t i = 0; i < kSpeciesCount; ++i) mask[i] = kSpeciesTable[i].*member;
  return mask;
}();
inline constexpr std::array<bool, kSpeciesCount> kFirstAmountMask = [] {
  std::array<bool, kSpeciesCount> mask{};
  for (std::size_t i = 0; i < kSpeciesCount; ++i) mask[i] = kSpeciesTable[i].first_amount > 0;
  return mask;
}();

// The table and the code that relies on it agree.
static_assert(species_table_detail::rows_in_enum_order(), "rows in the order of the enum");
static_assert(species_table_detail::walked_species_lead(), "the walk is a prefix of the array");
static_assert(species_table_detail::places_are_a_list(&SpeciesInfo::first_amount) &&
              species_table_detail::places_are_a_list(&SpeciesInfo::tightening) &&
              species_table_detail::places_are_a_list(&SpeciesInfo::ratio_line) &&
              species_table_detail::places_are_a_list(&SpeciesInfo::change_line) &&
              species_table_detail::places_are_a_list(&SpeciesInfo::trace_column));
// The walk notes the first amounts due, and the guard's pairs lie in the walk.
static_assert(species_table_detail::each_implies(
    [](const SpeciesInfo& s) { return s.first_amount > 0 || s.guarded; },
    [](const SpeciesInfo& s) { return s.walked; }));
// Only integrated species can rest: the Euler step leaves a resting one out.
static_assert(species_table_detail::each_implies(
    [](const SpeciesInfo& s) { return s.resting; },
    [](const SpeciesInfo& s) { return s.integrated; }));
// The organic product's column is the optional last one.
static_assert(kTraceColumns.back() == Species::organic);
// S, the acceptor forms and apoMerB have rules of their own in the Euler step.
static_assert(!info(Species::S).integrated && !info(Species::thiol).integrated &&
              !info(Species::thiolate).integrated && !info(Species::apoMerB).integrated);

}  // namespace tolvanex
