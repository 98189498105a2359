#include "engine/rate_equations.h"

#include <algorithm>
#include <cmath>

namespace tolvanex::engine {
namespace {

int column_of(const Factor& f) {
  if (f.kind == FactorKind::one) return -1;
  if (f.kind != FactorKind::amount || f.species == Species::thiol ||
      f.species == Species::thiolate) {
    return kIndexS;
  }
  return state_index(f.species);
}

}  // namespace

RateEquations::RateEquations(const Conditions& conditions, bool flux_totals)
    : constants_(kinetic_constants(conditions)),
      organomercurial_(conditions.organomercurial),
      totals_(flux_totals),
      size_(kStateSpeciesCount + (flux_totals ? kTotalsCount : 0)) {
  const NetworkConstants& n = constants_.network;
  for (int i = 1; i <= kStepCount; ++i) constant_[static_cast<std::size_t>(i)] = n.rates.k[i];
  constant_[kConstantK7H] = n.k7_H;
  constant_[kConstantK31H] = n.k31_H;
  constant_[kConstantBinding] = constants_.binding.forward;
  constant_[kConstantRelease] = constants_.binding.reverse;
  // Every acceptor form is linear in S.
  const AcceptorSpeciation at1 = speciate_acceptor(1, n.speciation);
  const AcceptorSpeciation at0 = speciate_acceptor(0, n.speciation);
  acceptor_slope_ = {at1.thiol - at0.thiol, at1.thiolate - at0.thiolate,
                     at1.thiol_factor - at0.thiol_factor,
                     at1.thiolate_factor - at0.thiolate_factor};

  for (std::size_t t = 0; t < kRateTerms.size(); ++t) {
    const RateTerm& term = kRateTerms[t];
    const std::array<double, kStateSpeciesCount> nu = stoichiometry(term.flux);
    const double sign = term.forward ? 1 : -1;
    const Factor* factors[2] = {&term.first, &term.second};
    for (int slot = 0; slot < 2; ++slot) {
      const int column = column_of(*factors[slot]);
      const double d = slope(*factors[slot]);
      if (column < 0 || d == 0) continue;
      auto add = [&](std::size_t row, double coefficient) {
        entries_.push_back({static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(1 - slot),
                            static_cast<std::uint16_t>(row + size_ * column),
                            sign * coefficient * constant_[static_cast<std::size_t>(term.constant)] * d});
      };
      for (std::size_t row = 0; row < kStateSpeciesCount; ++row) {
        if (nu[row] != 0) add(row, nu[row]);
      }
      if (totals_ && index_of(term.flux) < kTotalsCount) {
        add(kStateSpeciesCount + index_of(term.flux), 1);
      }
    }
  }
}

std::array<double, kStateSpeciesCount> RateEquations::stoichiometry(Flux flux) const {
  NetFluxes unit;
  unit[flux] = 1;
  const SpeciesRates r = species_rates(unit, constants_.network.monothiol_balance);
  std::array<double, kStateSpeciesCount> nu{};
  for (std::size_t i = 0; i < kStateSpeciesCount; ++i) nu[i] = r[kStateSpecies[i]];
  if (organomercurial_) {
    for (Species released : {Species::O1, Species::O2, Species::O3}) {
      nu[state_index(Species::MerB)] += nu[state_index(released)];
      nu[state_index(released)] = 0;
    }
  }
  return nu;
}

std::vector<double> RateEquations::initial_state(double enzyme, double acceptor,
                                                 double organomercurial) const {
  RunParameters p;
  p.organomercurial = organomercurial_;
  p.A0 = enzyme;
  p.S0 = acceptor;
  p.PHMB0 = organomercurial;
  const SpeciesState s = tolvanex::initial_state(p);
  std::vector<double> y(size_, 0.0);
  for (std::size_t i = 0; i < kStateSpeciesCount; ++i) y[i] = s[kStateSpecies[i]];
  return y;
}

SpeciesState RateEquations::model_state(const double* y) const {
  SpeciesState s;
  for (std::size_t i = 0; i < kStateSpeciesCount; ++i) s[kStateSpecies[i]] = y[i];
  speciate(s, constants_.network.speciation);
  return s;
}

NetFluxes RateEquations::net_fluxes(const SpeciesState& s) const {
  NetFluxes n = evaluate_fluxes(s, constants_.network);
  // The model's binding constants are those of 298 K.
  const BindingConstants& b = constants_.binding;
  n[Flux::flux39] = b.forward * s[Species::MerB] * s[Species::PHMB] - b.reverse * s[Species::ES];
  return n;
}

double RateEquations::factor(const Factor& f, const SpeciesState& s) const {
  switch (f.kind) {
    case FactorKind::one: return 1;
    case FactorKind::amount: return s[f.species];
    case FactorKind::thiol_factor: return s.thiol_factor;
    case FactorKind::thiolate_factor: return s.thiolate_factor;
  }
  return 0;
}

double RateEquations::slope(const Factor& f) const {
  switch (f.kind) {
    case FactorKind::one: return 0;
    case FactorKind::amount:
      return f.species == Species::thiol      ? acceptor_slope_.thiol
             : f.species == Species::thiolate ? acceptor_slope_.thiolate
                                              : 1;
    case FactorKind::thiol_factor: return acceptor_slope_.thiol_factor;
    case FactorKind::thiolate_factor: return acceptor_slope_.thiolate_factor;
  }
  return 0;
}

double RateEquations::term(std::size_t index, const SpeciesState& s) const {
  const RateTerm& t = kRateTerms[index];
  return constant_[static_cast<std::size_t>(t.constant)] * factor(t.first, s) *
         factor(t.second, s);
}

bool RateEquations::derivatives(const double* y, double* dydt) const {
  const SpeciesState s = model_state(y);
  const NetFluxes n = net_fluxes(s);
  const SpeciesRates r = species_rates(n, constants_.network.monothiol_balance);
  for (std::size_t i = 0; i < kStateSpeciesCount; ++i) dydt[i] = r[kStateSpecies[i]];
  if (organomercurial_) {
    double& merb = dydt[state_index(Species::MerB)];
    double& o1 = dydt[state_index(Species::O1)];
    double& o2 = dydt[state_index(Species::O2)];
    double& o3 = dydt[state_index(Species::O3)];
    merb = merb + (o1 + o2 + o3);
    o1 = o2 = o3 = 0;
  }
  if (totals_) {
    for (std::size_t j = 0; j < kTotalsCount; ++j) dydt[kStateSpeciesCount + j] = n.value[j];
  }
  bool finite = true;
  for (std::size_t i = 0; i < size_; ++i) finite = finite && std::isfinite(dydt[i]);
  return finite;
}

void RateEquations::jacobian(const double* y, double* column_major) const {
  const SpeciesState s = model_state(y);
  std::array<std::array<double, 2>, kRateTerms.size()> factors;
  for (std::size_t t = 0; t < kRateTerms.size(); ++t) {
    factors[t] = {factor(kRateTerms[t].first, s), factor(kRateTerms[t].second, s)};
  }
  std::fill(column_major, column_major + size_ * size_, 0.0);
  for (const Entry& e : entries_) column_major[e.place] += e.weight * factors[e.term][e.other];
}

}  // namespace tolvanex::engine
