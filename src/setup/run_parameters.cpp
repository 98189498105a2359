#include "setup/run_parameters.h"

#include <cstdlib>

namespace tolvanex {

RunParameters parse_run_parameters(int user_argument_count, const char* const* user_arguments) {
  // from_end(1) is the last argument, from_end(46) the tightening count.
  auto from_end = [&](int position) { return user_arguments[user_argument_count - position]; };
  auto number_from_end = [&](int position) { return std::atof(from_end(position)); };

  RunParameters p;
  p.organomercurial = user_argument_count == kOrganomercurialArgumentCount;

  p.target2 = number_from_end(46);
  p.initial_timestep = number_from_end(45);
  p.pH = number_from_end(44);
  p.MoleculeType = number_from_end(43);
  p.pKa_thiol = is_mera(p.MoleculeType) ? 6 : 10.4;
  p.wanted_time = number_from_end(42);
  p.A0 = number_from_end(41);
  p.A_report_step = 0.01 * p.A0;
  p.P_report_step = 0.001 * p.A0;
  p.S0 = number_from_end(40);
  for (int step = 1; step <= kStepCount; ++step) p.DeltaG[step] = number_from_end(40 - step);
  p.trace_file_name = from_end(1);
  p.PHMB0 = p.organomercurial ? number_from_end(47) : 0;
  return p;
}

}  // namespace tolvanex
