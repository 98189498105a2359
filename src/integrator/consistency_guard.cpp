#include "integrator/consistency_guard.h"

namespace tolvanex {

namespace {
const char* const kSeparator =
    "\n*************************************************************** \n";
}  // namespace

IterationVerdict report_negative_amounts(double time, RunParameters& p, const OutputStreams& out) {
  std::fprintf(out.trace,
               " \n  \n  \n  Error: computations yield negative concentrations of intermediates "
               "or free amounts of substrate larger than the inicial ones\n ");
  std::fprintf(out.trace, "elapsed time is %12.9e  \n ", time);
  stop_run(p);
  return IterationVerdict::Error;
}

IterationVerdict apply_report_trigger(const SpeciesState& s, double time, const RunParameters& p,
                                      ReportLevels& levels, const OutputStreams& out) {
  if (s.P > 1.01 * levels.P_report_level) {
    levels.A_report_level = s.A - p.A_report_step;
    levels.last_report_time = time;
    std::fputs(kSeparator, out.console);
    std::fprintf(out.console,
                 "\n Product changed significantly. printed new data at time  %5.4e     \n  ",
                 time);
    if (p.P_report_step < s.P) {
      levels.P_report_level = s.P + p.P_report_step;
    } else {
      levels.P_report_level = 2 * s.P;
    }
    return IterationVerdict::Report;
  }
  if (s.A < 0.99 * levels.A_report_level) {
    std::fprintf(out.console,
                 "\n*************************************************************** \nA has "
                 "changed significantly. printed new data at time  %5.4e      \n  ",
                 time);
    levels.P_report_level = s.P + p.P_report_step;
    levels.A_report_level = s.A - p.A_report_step;
    levels.last_report_time = time;
    if (3 * p.A_report_step > levels.A_report_level) levels.A_report_level = 0.001 * s.A;
    return IterationVerdict::Report;
  }
  if (time > 2 && time > 1.05 * levels.last_report_time) {
    levels.last_report_time = time;
    std::fputs(kSeparator, out.console);
    return IterationVerdict::Report;
  }
  return IterationVerdict::Continue;
}

}  // namespace tolvanex
