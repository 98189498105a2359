// The progress report printed at the end of every block, compared as text.
#include "report/console_report.h"

#include "unit_support.h"

namespace tolvanex {
namespace {

// The last iteration of a 300,000-iteration block with a step of 0.5 s, set
// by a first amount or not, in organomercurial mode or not, in a block whose
// steps were divided or not. Ratio lines only for species whose derivative is
// below 0, against the amount before the step (the acceptor forms' own amounts
// for thiol and thiolate); the fraction line only without a first amount; the
// change lines with O3, O2, O1 last and dS from both acceptor forms.
TEST(ReportFormat, LinesFollowTheBlocksLastStep) {
  for (int run = 0; run < 2; ++run) {
    const RunParameters p{.organomercurial = run == 1, .target2 = 7};
    SpeciesState s;
    ModelEvaluation e;
    s.A = 1e-6, e.rates.dA = -2e-7;          // (-1e-7) / (1.1e-6)
    s.S = 1e-3;                              // not the reference of thiol
    s.thiol = 9e-4, e.rates.dthiol = -2e-4;  // (-1e-4) / (1e-3)
    s.thiolate = 5e-4, e.rates.dthiolate = 1e-4;
    s.C = 1e-7, s.D = 1e-7, e.rates.dD = -0.0;  // steady
    s.K = 3e-7, e.rates.dK = -2e-7;             // (-1e-7) / (4e-7)
    s.O2 = 1e-9, e.rates.dO2 = -1e-8;           // (-5e-9) / (6e-9)
    s.Q = -4e-9, e.rates.dQ = -2e-9;            // (-1e-9) / (-3e-9)
    e.rates.dP = 1e-9, e.rates.dS = 1;
    const FluxTotals totals;
    const StepControl step{
        .timestep = 0.5, .first_amount_flag = run, .maxratio = 0.04, .target = 25};
    const RunProgress progress{.time = 12.3456789,
                               .total_iterations = 300000,
                               .block_elapsed_time = 1.5,
                               .rate_of_change_of_P = 2.5e-9};
    const BlockCounters counters{300000, 250, run ? 0 : 12, 10};
    ConsoleCapture console;
    print_block_report_opening({p, s, e, totals, step, progress, counters}, console.file);
    print_block_report_closing({p, s, e, totals, step, progress, counters}, console.file);
    const std::string text = console.text();
    EXPECT_EQ(text.substr(0, text.find("\n time =")),
              "\n*************************************************************** \n"
              "ratioA is   -9.0909e-02    \n  ratiothiol is   -1.0000e-01    \n  "
              "ratioK is   -2.5000e-01    \n  ratioO2 is   -8.3333e-01    \n  "
              "ratioQ is   3.3333e-01    \n  " +
                  std::string(run ? ""
                                  : "\nThe latest step decreased the species with the highest "
                                    "ratio by at most 4.0000000e-02 of its present value.") +
                  "\n total iterations 3.00000e+05 . total time 1.234567890e+01 seconds.   \n "
                  "Maxratio is= 4.0000e-02   timestep is  5.0000e-01  seconds \n ");
    std::string labels;  // of the change lines, in order
    for (auto at = text.find("\n d"); at != std::string::npos; at = text.find("\n d", at + 1))
      labels += text.substr(at + 3, text.find('=', at) - at - 3) + " ";
    EXPECT_EQ(labels, std::string(run ? "MerB ES PHMB organic " : "") +
                          "A S C D E F G I J K L M N P Q O3 O2 O1 ");
    EXPECT_NE(text.find("\n dS= -5.00000e-05 \t S= 1.00000e-03 \n "), std::string::npos);
    EXPECT_NE(text.find("\n dK= -1.00000e-07 \t K= 3.00000e-07 \n "), std::string::npos);
    EXPECT_EQ(text.substr(text.find("\n Current rate")),
              "\n Current rate of change of P is 2.50000e-09 mol/L/s. \n   300000  iterations "
              "were performed for   1.50000e+00  s of simulation.\n" +
                  std::string(run ? ""
                                  : "      250  iterations included timestep tightening, using  "
                                    "      12 extra cycles.\nAverage maxratio in these "
                                    "iterations was 4.000e-02. \n") +
                  " Average timestep is 5.00000e-06 seconds \n \n average time  5.000e-06   "
                  "target2 7.000e+00 ");
  }
}

}  // namespace
}  // namespace tolvanex
