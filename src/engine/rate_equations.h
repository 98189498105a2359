// The rate equations of one solve: dy/dt by the model's own rate laws and
// species balances (model/reaction_network.h), and their analytic Jacobian
// from the term table (rate_terms.h).
//
// As continuous-time equations: nothing is pruned; S changes by the thiol
// and thiolate balances; H+ is buffered; in organomercurial mode the enzyme
// that steps 7, 13 and 31 and the reverse of step 37 release (O1, O2, O3)
// is MerB again at once, so O1, O2 and O3 stay 0. The organomercurial
// binding (flux39) takes the constants of the temperature in force.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/rate_terms.h"
#include "engine/state_layout.h"
#include "engine/temperature_constants.h"
#include "model/species_state.h"

namespace tolvanex::engine {

class RateEquations {
 public:
  RateEquations(const Conditions& conditions, bool flux_totals);

  std::size_t size() const { return size_; }
  const KineticConstants& constants() const { return constants_; }

  // The state at time 0: the model's starting amounts, totals 0.
  std::vector<double> initial_state(double enzyme, double acceptor, double organomercurial) const;
  // The model's state of y, with the acceptor split worked out.
  SpeciesState model_state(const double* y) const;
  NetFluxes net_fluxes(const SpeciesState& s) const;
  // One term of the table at a speciated state: constant x first x second.
  double term(std::size_t index, const SpeciesState& s) const;
  // dy/dt; false when a derivative is not a finite number.
  bool derivatives(const double* y, double* dydt) const;
  // d(dy/dt)/dy, column by column (leading dimension size()).
  void jacobian(const double* y, double* column_major) const;

 private:
  // One contribution to the Jacobian: weight x the term's other factor.
  struct Entry {
    std::uint8_t term;
    std::uint8_t other;  // 0 the first factor, 1 the second
    std::uint16_t place;  // row + size() x column
    double weight;
  };

  double factor(const Factor& f, const SpeciesState& s) const;
  double slope(const Factor& f) const;  // d factor / d its state component
  std::array<double, kStateSpeciesCount> stoichiometry(Flux flux) const;

  KineticConstants constants_;
  std::array<double, kConstantCount> constant_{};
  AcceptorSpeciation acceptor_slope_;  // each acceptor form per unit of S
  bool organomercurial_;
  bool totals_;
  std::size_t size_;
  std::vector<Entry> entries_;
};

}  // namespace tolvanex::engine
