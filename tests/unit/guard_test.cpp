// The consistency guard's verdict after every advance: a negative amount of
// an intermediate, a free-enzyme form or the product ends the run before any
// report trigger is looked at; the triggers are tested in order, each with
// its new levels.
#include <cmath>
#include <limits>

#include "integrator/consistency_guard.h"
#include "unit_support.h"

namespace tolvanex {
namespace {

using V = IterationVerdict;

// The twelve intermediates, the three forms of free enzyme and the product
// are guarded; A, S, the acceptor forms and the organomercurial species are
// not. At a time of 12.3 s past its last report (0) the time trigger reports
// whenever the guard lets the state pass.
TEST(Guard, ANegativeIntermediateEnzymeOrProductStopsTheRun) {
  const std::string guarded = " C D E F G I J K L M N O1 O2 O3 P Q ";
  for (const SpeciesInfo& x : kSpeciesTable) {
    for (double bad : {-1e-300, std::numeric_limits<double>::quiet_NaN(), -0.0}) {
      const bool fails =
          guarded.find(" " + std::string(x.label) + " ") != std::string::npos && bad != 0;
      SpeciesState s;
      s[x.species] = bad;
      ReportLevels levels{0, -1, 0};  // no A report for a negative A
      IterationEvents events;
      const V verdict = check_consistency(s, 12.3, RunParameters{}, levels, events);
      EXPECT_EQ(verdict, fails ? V::Error : V::Report) << x.label << " = " << bad;
      EXPECT_EQ(events.trigger, fails ? ReportTrigger::NegativeAmount : ReportTrigger::Time);
      EXPECT_EQ(events.trigger_time, 12.3);
    }
  }
}

// A0 = 1e-6 mol/L, so A reports every 1e-8 mol/L and P every 1e-9 mol/L.
TEST(Guard, ReportTriggersInOrderWithTheirNewLevels) {
  using T = ReportTrigger;
  // clang-format off
  const struct {
    double A, P, P_level, A_level, last, time;
    T trigger;
    double new_P_level, new_A_level;
  } rows[] = {
      // P below its step: the next report when it has doubled; A fell as well.
      {0.95e-6, 5e-10, 0, 1e-6, 0, 0.5, T::Product, 1e-9, 0.94e-6},
      {1e-6, 3e-9, 0, 1e-6, 0, 0.5, T::Product, 4e-9, 0.99e-6},
      {1e-6, 1.01 * 2e-9, 2e-9, 1e-6, 0, 0.5, T::None, 2e-9, 1e-6},   // 1.01 x is no rise
      {0.98e-6, 1e-10, 1e-9, 1e-6, 0, 1.5, T::A, 1.1e-9, 0.97e-6},
      {3.5e-8, 0, 1, 5e-8, 0, 1.5, T::A, 1e-9, 3.5e-11},               // below 3 steps: 0.001 A
      {0.99e-6, 0, 0, 1e-6, 0, 1.5, T::None, 0, 1e-6},                 // 0.99 x is no fall
      {1e-6, 0, 0, 1e-6, 0, 2, T::None, 0, 1e-6}, {1e-6, 0, 0, 1e-6, 0, 2.5, T::Time, 0, 1e-6},
      {1e-6, 0, 0, 1e-6, 2.5, 2.6, T::None, 0, 1e-6},                  // not 5 % after the last
      {1e-6, 0, 0, 1e-6, 2.5, 2.7, T::Time, 0, 1e-6}};
  // clang-format on
  for (const auto& row : rows) {
    SpeciesState s;
    s[Species::A] = row.A, s[Species::P] = row.P;
    const RunParameters p{.A_report_step = 1e-8, .P_report_step = 1e-9};
    ReportLevels levels{row.P_level, row.A_level, row.last};
    IterationEvents events;
    const V verdict = check_consistency(s, row.time, p, levels, events);
    SCOPED_TRACE(testing::Message() << "A " << row.A << " P " << row.P << " time " << row.time);
    EXPECT_EQ(verdict, row.trigger == T::None ? V::Continue : V::Report);
    EXPECT_EQ(events.trigger, row.trigger);
    EXPECT_EQ(events.pending, row.trigger != T::None);
    EXPECT_DOUBLE_EQ(levels.P_report_level, row.new_P_level);
    EXPECT_DOUBLE_EQ(levels.A_report_level, row.new_A_level);
    EXPECT_EQ(levels.last_report_time, row.trigger == T::None ? row.last : row.time);
  }
}

}  // namespace
}  // namespace tolvanex
