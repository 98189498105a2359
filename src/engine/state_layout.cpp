#include "engine/state_layout.h"

#include <algorithm>

namespace tolvanex::engine {

ToleranceScales tolerance_scales(double enzyme, double acceptor, double organomercurial) {
  ToleranceScales s{std::max(enzyme, organomercurial), acceptor, organomercurial};
  double largest = std::max({s.enzyme, s.acceptor, s.organomercurial});
  if (!(largest > 0)) largest = 1e-30;
  for (double* x : {&s.enzyme, &s.acceptor, &s.organomercurial}) {
    if (!(*x > 0)) *x = largest;
  }
  return s;
}

std::vector<double> absolute_tolerances(double enzyme, double acceptor, double organomercurial,
                                        double fraction, bool flux_totals) {
  const ToleranceScales s = tolerance_scales(enzyme, acceptor, organomercurial);
  std::vector<double> atol;
  for (Species x : kStateSpecies) {
    const bool organic_side = x == Species::PHMB || x == Species::organic;
    atol.push_back(fraction * (x == Species::S ? s.acceptor
                               : organic_side  ? s.organomercurial
                                               : s.enzyme));
  }
  if (flux_totals) atol.insert(atol.end(), kTotalsCount, fraction * s.enzyme);
  return atol;
}

}  // namespace tolvanex::engine
