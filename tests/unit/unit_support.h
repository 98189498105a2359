// Shared by the unit tests: species by their console labels, and states
// written as "X=amount/derivative ...".
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/species_state.h"

namespace tolvanex {

inline Species species(std::string_view label) {
  for (const SpeciesInfo& s : kSpeciesTable) {
    if (label == s.label) return s.species;
  }
  throw std::invalid_argument(std::string(label));
}

// Sets the amounts and derivatives a text such as "C=0/1e-30 G=1e-8/1e-9" names.
inline void set_species(const std::string& text, SpeciesState& s, SpeciesRates& d) {
  std::istringstream in(text);
  for (std::string name; std::getline(in >> std::ws, name, '=');) {
    char slash;
    in >> s[species(name)] >> slash >> d[species(name)];
  }
}

}  // namespace tolvanex
