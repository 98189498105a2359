// Shared by the unit tests: console output captured as text, and the species
// by name (with the derivative that SpeciesRates holds at the same place).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "run/block_loop.h"

namespace tolvanex {

struct ConsoleCapture {
  std::FILE* file = std::tmpfile();
  ConsoleCapture() = default;
  ConsoleCapture(const ConsoleCapture&) = delete;
  ~ConsoleCapture() { std::fclose(file); }
  std::string text() const {
    std::string s;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) s += static_cast<char>(c);
    return s;
  }
};

using S = SpeciesState;
using Field = double S::*;
// fth and ftl are the thiol and thiolate factors.
// clang-format off
inline const std::map<std::string, Field> kSpecies = {
    {"A", &S::A}, {"MerB", &S::MerB}, {"thiolate", &S::thiolate}, {"thiol", &S::thiol},
    {"C", &S::C}, {"ES", &S::ES}, {"D", &S::D}, {"E", &S::E}, {"F", &S::F}, {"G", &S::G},
    {"I", &S::I}, {"J", &S::J}, {"K", &S::K}, {"L", &S::L}, {"M", &S::M}, {"N", &S::N},
    {"O1", &S::O1}, {"O2", &S::O2}, {"O3", &S::O3}, {"P", &S::P}, {"Q", &S::Q}, {"S", &S::S},
    {"PHMB", &S::PHMB}, {"organic", &S::organic}, {"apoMerB", &S::apoMerB},
    {"fth", &S::thiol_factor}, {"ftl", &S::thiolate_factor}};
// clang-format on

inline double& rate_of(SpeciesRates& r, Field species) {
  static const SpeciesState origin{};
  const auto offset =
      reinterpret_cast<const char*>(&(origin.*species)) - reinterpret_cast<const char*>(&origin);
  return *reinterpret_cast<double*>(reinterpret_cast<char*>(&r) + offset);
}

}  // namespace tolvanex
