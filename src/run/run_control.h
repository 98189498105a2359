// What the run changes about itself while it goes on: the wanted time, which
// a stop clears, the stop itself and the signal that caused it. Set from the run parameters at set-up.
#pragma once

namespace tolvanex {

struct RunControl {
  double wanted_time = 0;  // s; blocks run while the simulated time is below it
  bool run_stopped = false;
  int stop_signal = 0;  // the SIGINT or SIGTERM that ended the run before its own end, or 0

  // Ends the run after the current block. The flag makes the stop hold even
  // when the simulated time has run below 0 (a negative Basic Timestep).
  void stop() {
    wanted_time = 0;
    run_stopped = true;
  }
  // A signal ends the run after the current block, unless the run ends there
  // anyway: one that arrives in the last block cuts nothing short.
  void interrupt(int signal_number, double time) {
    if (!goes_on(time)) return;
    stop();
    stop_signal = signal_number;
  }
  // Another block is due at this simulated time. Before the first block
  // (time 0) this asks for a wanted time above 0.
  bool goes_on(double time) const { return time < wanted_time && !run_stopped; }
};

}  // namespace tolvanex
