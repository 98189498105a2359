// The net fluxes of the reaction network, one per reversible step, in one
// table. Step m (odd) has the constants km and k(m+1) and the net flux flux m;
// flux39 is the organomercurial binding step, whose constants are fixed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tolvanex {

enum class Flux : std::uint8_t {
  flux1, flux3, flux5, flux7, flux9, flux11, flux13, flux15, flux17, flux19,
  flux21, flux23, flux25, flux27, flux29, flux31, flux33, flux35, flux37, flux39
};
inline constexpr std::size_t kFluxCount = 20;

constexpr std::size_t index_of(Flux f) { return static_cast<std::size_t>(f); }

struct FluxInfo {
  Flux flux;
  int step;                 // m of flux m
  bool has_total;           // its time integral is kept and written
  bool resting_route;       // 0 throughout while the resting route holds (resting_route.h)
  const char* flux_header;  // its column header cell in the flux file, blanks included
};

// clang-format off
inline constexpr std::array<FluxInfo, kFluxCount> kFluxTable = {{
  {Flux::flux1,   1, true,  false, "  flux1      "},
  {Flux::flux3,   3, true,  false, "   flux3      "},
  {Flux::flux5,   5, true,  false, "   flux5     "},
  {Flux::flux7,   7, true,  false, "   flux7      "},
  {Flux::flux9,   9, true,  false, "  flux9 "},
  {Flux::flux11, 11, true,  false, "   flux11      "},
  {Flux::flux13, 13, true,  false, "   flux13      "},
  {Flux::flux15, 15, true,  false, "   flux15     "},
  {Flux::flux17, 17, true,  false, "   flux17      "},
  {Flux::flux19, 19, true,  false, "  flux19 "},
  {Flux::flux21, 21, true,  true,  "  flux21      "},
  {Flux::flux23, 23, true,  true,  "   flux23      "},
  {Flux::flux25, 25, true,  true,  "   flux25     "},
  {Flux::flux27, 27, true,  true,  "   flux27      "},
  {Flux::flux29, 29, true,  true,  "  flux29 "},
  {Flux::flux31, 31, true,  true,  "  flux31      "},
  {Flux::flux33, 33, true,  true,  "   flux33      "},
  {Flux::flux35, 35, true,  true,  "   flux35     "},
  {Flux::flux37, 37, true,  true,  "   flux37      "},
  {Flux::flux39, 39, false, true,  "  flux39 "},
}};
// clang-format on

namespace flux_table_detail {

consteval std::size_t count_if(bool FluxInfo::*member) {
  std::size_t n = 0;
  for (const FluxInfo& f : kFluxTable) n += f.*member ? 1 : 0;
  return n;
}

// The fluxes with the property stand together, from the first that has it to
// the end of the table (at_end) or from the start of the table.
consteval bool one_run(bool FluxInfo::*member, bool at_end) {
  const std::size_t n = count_if(member);
  for (std::size_t i = 0; i < kFluxCount; ++i) {
    const bool inside = at_end ? i >= kFluxCount - n : i < n;
    if ((kFluxTable[i].*member) != inside) return false;
  }
  return true;
}

consteval bool rows_in_enum_order() {
  for (std::size_t i = 0; i < kFluxCount; ++i) {
    if (index_of(kFluxTable[i].flux) != i || kFluxTable[i].step != static_cast<int>(2 * i + 1))
      return false;
  }
  return true;
}

}  // namespace flux_table_detail

inline constexpr std::size_t kFluxTotalCount = flux_table_detail::count_if(&FluxInfo::has_total);
inline constexpr std::size_t kRestingFluxCount =
    flux_table_detail::count_if(&FluxInfo::resting_route);
// The first flux of the resting route; those before it are the busy ones.
inline constexpr std::size_t kFirstRestingFlux = kFluxCount - kRestingFluxCount;

static_assert(flux_table_detail::rows_in_enum_order());
// The totals are the leading fluxes, so that a flux and its total share an index.
static_assert(flux_table_detail::one_run(&FluxInfo::has_total, false));
// The resting route's fluxes close the table: a resting evaluation works on
// the ones before them, in pairs.
static_assert(flux_table_detail::one_run(&FluxInfo::resting_route, true));
static_assert(kFirstRestingFlux % 2 == 0 && kFluxCount % 2 == 0);

}  // namespace tolvanex
