#include "run/block_end.h"

namespace tolvanex {

double next_block_length(const RunParameters& p, const RunProgress& progress,
                         const BlockCounters& finished) {
  double length = kLongRunBlockLength;
  // When the last block spent most of its effort in tightening cycles while
  // its steps were long, keep the next block within the tightening window.
  if (finished.extra_cycles > 0 && finished.extra_cycles > finished.iterations / 2 &&
      10 * progress.basic_timestep < progress.block_elapsed_time / finished.iterations) {
    length = p.target2 / 2 + 1;
    // Never longer than a normal block: the block counters are 32-bit.
    if (length > kLongRunBlockLength) length = kLongRunBlockLength;
  }
  if (progress.total_iterations < 10000000) length = kShortRunBlockLength;
  return length;
}

BasicTimestepChange adapt_basic_timestep(RunProgress& progress, const BlockCounters& finished) {
  const double average_timestep = progress.block_elapsed_time / finished.iterations;
  if (average_timestep < 0.1 * progress.basic_timestep && progress.total_iterations > 1000) {
    progress.basic_timestep = progress.basic_timestep * 0.5;
    return BasicTimestepChange::Halved;
  }
  if (average_timestep > 0.8 * progress.basic_timestep && progress.total_iterations > 1000) {
    progress.basic_timestep = progress.basic_timestep * 2;
    return BasicTimestepChange::Doubled;
  }
  return BasicTimestepChange::None;
}

Stops termination_tests(const RunParameters& p, const RunProgress& progress, double P) {
  const double t = progress.time;
  const double R = progress.rate_of_change_of_P;
  const double N = progress.total_iterations;
  const double A0 = p.A0;
  const bool mera = is_mera(p.MoleculeType);
  // R x t: how much P would still change if the run went on to twice its time.
  Stops stops;
  if (P > 0.99 * A0) stops.add(StopMessage::Converted);
  if (mera && P > 0.98 * A0 && R > 0 && 0.005 * P > R * t) {
    stops.add(StopMessage::ConvertedAndStable);
  }
  if (!mera && P > 0.2 * A0 && R > 0 && 0.005 * P > R * t) stops.add(StopMessage::Stable);
  if (!mera && P > 0.1 * A0 && R > 0 && 0.01 * P > R * t && N > 2.5e9) {
    stops.add(StopMessage::StableAfter2500Million);
  }
  // The bound is 5e9 iterations although the message names 3000 million.
  if (!mera && P > 0.1 * A0 && R > 0 && N > 5e9 && 0.02 * P > R * t) {
    stops.add(StopMessage::StableAfter3000Million);
  }
  if (!mera && P > 0.1 * A0 && R > 0 && N > 1e10 && 0.03 * P > R * t) {
    stops.add(StopMessage::StableAfter10000Million);
  }
  if (N > 3e10) stops.add(StopMessage::IterationLimit);
  return stops;
}

bool time_stands_still(const RunProgress& progress, const BlockCounters& finished) {
  return finished.iterations > 0 && !(progress.block_elapsed_time > 0);
}

}  // namespace tolvanex
