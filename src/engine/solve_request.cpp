#include "engine/solve_request.h"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tolvanex::engine {
namespace {

[[noreturn]] void refuse(const std::string& what, double value, const char* reason) {
  std::ostringstream text;
  text.precision(17);
  text << what << " is " << value << ": " << reason;
  throw std::invalid_argument(text.str());
}

void check_finite(const std::string& what, double value) {
  if (!std::isfinite(value)) refuse(what, value, "not a finite number");
}

void check_amount(const std::string& what, double value) {
  check_finite(what, value);
  if (value < 0) refuse(what, value, "a concentration cannot be negative");
}

}  // namespace

double effective_pKa(const Conditions& conditions) {
  if (conditions.pKa) return *conditions.pKa;
  return is_mera(conditions.acceptor_type) ? 6 : 10.4;
}

void check_request(const SolveRequest& r) {
  const Conditions& c = r.conditions;
  for (int i = 1; i <= kStepCount; ++i) check_finite("barrier" + std::to_string(i), c.barriers[i]);
  check_finite("pH", c.pH);
  if (!has_known_acceptor(c.acceptor_type)) {
    refuse("acceptor_type", c.acceptor_type, "it must be 1 (MerA), 2 (dithiol) or 3 (monothiol)");
  }
  if (c.pKa) check_finite("pKa", *c.pKa);
  check_finite("temperature", c.temperature);
  if (!(c.temperature > 0)) refuse("temperature", c.temperature, "it must be above 0 K");
  check_amount("enzyme", r.enzyme);
  check_amount("acceptor", r.acceptor);
  check_amount("organomercurial", r.organomercurial);
  if (!c.organomercurial && r.organomercurial != 0) {
    refuse("organomercurial", r.organomercurial, "an amount needs organomercurial mode");
  }
  check_finite("end_time", r.end_time);
  if (r.end_time < 0) refuse("end_time", r.end_time, "it cannot be negative");
  for (double t : r.output_times) {
    check_finite("an output time", t);
    if (t < 0 || t > r.end_time) refuse("an output time", t, "it must lie from 0 to the end time");
  }
  for (double f : r.fractions) {
    check_finite("a fraction", f);
    if (f < 0) refuse("a fraction", f, "it cannot be negative");
  }
  const SolverOptions& o = r.options;
  if (!(o.relative_tolerance >= 1e-14 && o.relative_tolerance <= 1e-3)) {
    refuse("rtol", o.relative_tolerance, "it must lie from 1e-14 to 1e-3");
  }
  if (!(o.absolute_fraction > 0 && o.absolute_fraction <= 1e-3)) {
    refuse("atol_fraction", o.absolute_fraction, "it must lie above 0 and at most 1e-3");
  }
  if (o.max_steps < 1) refuse("max_steps", static_cast<double>(o.max_steps), "it must be at least 1");
}

}  // namespace tolvanex::engine
