// The model evaluated on one state: net fluxes and derivatives, as the step
// rules and the advance use them.
#pragma once

#include "model/reaction_network.h"

namespace tolvanex {

struct ModelEvaluation {
  NetFluxes fluxes;
  SpeciesRates rates;
  // The fluxes of the resting route are 0 and the resting species'
  // derivatives are what those zeros give (see resting_route.h), so that a
  // resting evaluation need not write them again.
  bool resting_parts_zero = false;
  // The resting species of the state are +0: this evaluation was a resting
  // one and the advance after it left them alone. Whatever changes the state
  // outside an iteration must clear it.
  bool resting_species_left_at_zero = false;
};

}  // namespace tolvanex
