#include "integrator/consistency_guard.h"

namespace tolvanex {

IterationVerdict negative_amount_found(double time, IterationEvents& events) {
  events.add_trigger(ReportTrigger::NegativeAmount, time);
  return IterationVerdict::Error;
}

IterationVerdict apply_report_trigger(const SpeciesState& s, double time, const RunParameters& p,
                                      ReportLevels& levels, IterationEvents& events) {
  const double A = s[Species::A], P = s[Species::P];
  if (P > 1.01 * levels.P_report_level) {
    levels.A_report_level = A - p.A_report_step;
    levels.last_report_time = time;
    events.add_trigger(ReportTrigger::Product, time);
    if (p.P_report_step < P) {
      levels.P_report_level = P + p.P_report_step;
    } else {
      levels.P_report_level = 2 * P;
    }
    return IterationVerdict::Report;
  }
  if (A < 0.99 * levels.A_report_level) {
    events.add_trigger(ReportTrigger::A, time);
    levels.P_report_level = P + p.P_report_step;
    levels.A_report_level = A - p.A_report_step;
    levels.last_report_time = time;
    if (3 * p.A_report_step > levels.A_report_level) levels.A_report_level = 0.001 * A;
    return IterationVerdict::Report;
  }
  if (time > 2 && time > 1.05 * levels.last_report_time) {
    levels.last_report_time = time;
    events.add_trigger(ReportTrigger::Time, time);
    return IterationVerdict::Report;
  }
  return IterationVerdict::Continue;
}

}  // namespace tolvanex
