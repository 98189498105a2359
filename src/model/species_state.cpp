#include "model/species_state.h"

namespace tolvanex {

SpeciesState initial_state(const RunParameters& parameters) {
  using enum Species;
  SpeciesState s;
  s[A] = parameters.A0;
  s[S] = parameters.S0;
  if (parameters.organomercurial) {
    s[MerB] = parameters.A0;
    s[PHMB] = parameters.PHMB0;
    s[A] = 0;
  }
  return s;
}

}  // namespace tolvanex
