#include "setup/run_parameters.h"

#include <cstdlib>

namespace tolvanex {

RunParameters parse_run_parameters(int user_argument_count, const char* const* user_arguments) {
  auto from_end = [&](int position) { return user_arguments[user_argument_count - position]; };
  auto number_from_end = [&](int position) { return std::atof(from_end(position)); };

  RunParameters p;
  p.organomercurial = user_argument_count == kOrganomercurialArgumentCount;

  p.target2 = number_from_end(kTarget2Argument);
  p.initial_timestep = number_from_end(kTimestepArgument);
  p.pH = number_from_end(kPHArgument);
  p.MoleculeType = number_from_end(kTypeArgument);
  p.pKa_thiol = is_mera(p.MoleculeType) ? 6 : 10.4;
  p.wanted_time = number_from_end(kWantedTimeArgument);
  p.A0 = number_from_end(kEnzymeArgument);
  p.A_report_step = 0.01 * p.A0;
  p.P_report_step = 0.001 * p.A0;
  p.S0 = number_from_end(kAcceptorArgument);
  for (int step = 1; step <= kStepCount; ++step) {
    p.DeltaG[step] = number_from_end(kFirstBarrierArgument + 1 - step);
  }
  p.trace_file_name = from_end(kTraceArgument);
  p.PHMB0 = p.organomercurial ? number_from_end(kOrganomercurialArgument) : 0;
  return p;
}

bool is_whole_number(const char* text) {
  // atof(text) is strtod(text, nullptr): the same number, with its end.
  char* end = nullptr;
  std::strtod(text, &end);
  return end != text && *end == '\0';
}

}  // namespace tolvanex
