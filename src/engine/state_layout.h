// The components the solver integrates: the amounts of the species that
// change (the model's integrated species and the free acceptor S; thiol and
// thiolate are parts of S, apoMerB is O1 + O2 + O3), then, when asked for,
// the running totals total_flux1 .. total_flux37 of the net fluxes.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "model/fluxes.h"
#include "model/species.h"

namespace tolvanex::engine {

// clang-format off
inline constexpr std::array<Species, 22> kStateSpecies = {
    Species::A, Species::S, Species::C, Species::D, Species::E, Species::F, Species::G,
    Species::I, Species::J, Species::K, Species::L, Species::M, Species::N,
    Species::O1, Species::O2, Species::O3, Species::P, Species::Q,
    Species::MerB, Species::ES, Species::PHMB, Species::organic};
// clang-format on
inline constexpr std::size_t kStateSpeciesCount = kStateSpecies.size();
// The totals follow the amounts, total_flux(2j+1) at kStateSpeciesCount + j.
inline constexpr std::size_t kTotalsCount = kFluxTotalCount;

// The place of a species in the state, or -1 when it is not integrated.
constexpr int state_index(Species x) {
  for (std::size_t i = 0; i < kStateSpeciesCount; ++i) {
    if (kStateSpecies[i] == x) return static_cast<int>(i);
  }
  return -1;
}

namespace state_layout_detail {
consteval bool integrated_species_and_S() {
  for (const SpeciesInfo& s : kSpeciesTable) {
    const bool wanted = s.integrated || s.species == Species::S;
    if (wanted != (state_index(s.species) >= 0)) return false;
  }
  return true;
}
}  // namespace state_layout_detail
static_assert(state_layout_detail::integrated_species_and_S(),
              "the state is the model's integrated species and S, each once");

inline constexpr int kIndexS = state_index(Species::S);
inline constexpr int kIndexP = state_index(Species::P);

// The amounts that set the scale of each component's absolute tolerance: the
// enzyme (the larger of the enzyme and the organomercurial amounts), the
// acceptor and the organomercurial; an amount of 0 is replaced by the
// largest of the others (1e-30 mol/L when all are 0).
struct ToleranceScales {
  double enzyme, acceptor, organomercurial;
};
ToleranceScales tolerance_scales(double enzyme, double acceptor, double organomercurial);

// The absolute tolerance of every component: `fraction` of its scale. S
// goes by the acceptor, PHMB and organic by the organomercurial, every
// other amount and every flux total by the enzyme.
std::vector<double> absolute_tolerances(double enzyme, double acceptor, double organomercurial,
                                        double fraction, bool flux_totals);

}  // namespace tolvanex::engine
