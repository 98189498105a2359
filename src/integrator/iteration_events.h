// What an iteration did besides moving the state, as plain values for the
// report: the first amounts formed, the overshoot corrected, and the report
// trigger or negative amount that ended the iteration's block. The rules
// record them only on their rare paths; the run hands them to the report
// after the iteration and clears them.
#pragma once

#include <array>

#include "model/species.h"

namespace tolvanex {

struct FirstAmountFormed {
  Species species;
  double amount;  // dX times the new step: 1e-39 mol/L up to rounding
};

// The values the step rules had when S would have passed S0.
struct OvershootCorrected {
  double maxratio;
  double timestep;  // before the correction
  double target;
};

enum class ReportTrigger { None, Product, A, Time, NegativeAmount };

struct IterationEvents {
  bool pending = false;  // set together with any of the others
  int first_amount_count = 0;
  std::array<FirstAmountFormed, kFirstAmountList.size()> first_amounts{};
  bool overshoot_corrected = false;
  OvershootCorrected overshoot{};
  ReportTrigger trigger = ReportTrigger::None;
  double trigger_time = 0;  // s, the time after the iteration's advance

  void add_first_amount(Species x, double amount) {
    first_amounts[static_cast<std::size_t>(first_amount_count++)] = {x, amount};
    pending = true;
  }
  void add_overshoot(const OvershootCorrected& o) {
    overshoot = o;
    overshoot_corrected = true;
    pending = true;
  }
  void add_trigger(ReportTrigger t, double time) {
    trigger = t;
    trigger_time = time;
    pending = true;
  }
};

}  // namespace tolvanex
