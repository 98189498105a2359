#include "report/console_report.h"

namespace tolvanex {
namespace {

// (dX dt) / (X - dX dt): the fraction of its amount before the step that a
// falling species lost in the last step. Printed only for falling species.
void ratio_line(std::FILE* console, const char* label, double X, double dX, double dt) {
  if (dX < 0) {
    std::fprintf(console, "ratio%s is   %5.4e    \n  ", label, (dX * dt) / (X - dX * dt));
  }
}

void change_line(std::FILE* console, const char* label, double X, double dX, double dt) {
  std::fprintf(console, "d%s= %6.5e \t %s= %6.5e \n ", label, dX * dt, label, X);
}

}  // namespace

void print_block_report_opening(const BlockReportView& v, std::FILE* console) {
  const SpeciesState& s = v.state;
  const SpeciesRates& d = v.last_evaluation.rates;
  const double dt = v.last_step.timestep;

  std::fputs("\n*************************************************************** \n", console);
  ratio_line(console, "A", s.A, d.dA, dt);
  ratio_line(console, "thiol", s.thiol, d.dthiol, dt);
  ratio_line(console, "thiolate", s.thiolate, d.dthiolate, dt);
  ratio_line(console, "C", s.C, d.dC, dt);
  ratio_line(console, "D", s.D, d.dD, dt);
  ratio_line(console, "E", s.E, d.dE, dt);
  ratio_line(console, "F", s.F, d.dF, dt);
  ratio_line(console, "G", s.G, d.dG, dt);
  ratio_line(console, "I", s.I, d.dI, dt);
  ratio_line(console, "J", s.J, d.dJ, dt);
  ratio_line(console, "K", s.K, d.dK, dt);
  ratio_line(console, "L", s.L, d.dL, dt);
  ratio_line(console, "M", s.M, d.dM, dt);
  ratio_line(console, "N", s.N, d.dN, dt);
  ratio_line(console, "O1", s.O1, d.dO1, dt);
  ratio_line(console, "O2", s.O2, d.dO2, dt);
  ratio_line(console, "O3", s.O3, d.dO3, dt);
  ratio_line(console, "P", s.P, d.dP, dt);
  ratio_line(console, "Q", s.Q, d.dQ, dt);
  if (v.last_step.first_amount_flag == 0) {
    std::fprintf(console,
                 "\nThe latest step decreased the species with the highest ratio by at most %9.7e "
                 "of its present value.",
                 1 / v.last_step.target);
  }
  std::fprintf(console,
               "\n total iterations %6.5e . total time %12.9e seconds.   \n Maxratio is= %5.4e   "
               "timestep is  %5.4e  seconds \n ",
               v.progress.total_iterations, v.progress.time, v.last_step.maxratio, dt);
}

void print_block_report_closing(const BlockReportView& v, std::FILE* console) {
  const SpeciesState& s = v.state;
  const SpeciesRates& d = v.last_evaluation.rates;
  const NetFluxes& n = v.last_evaluation.fluxes;
  const FluxTotals& t = v.totals;
  const BlockCounters& c = v.counters;
  const double dt = v.last_step.timestep;
  const double average_timestep = v.progress.block_elapsed_time / c.iterations;

  std::fprintf(console, "\n time = %12.10e \n ", v.progress.time);
  if (v.parameters.organomercurial) {
    change_line(console, "MerB", s.MerB, d.dMerB, dt);
    change_line(console, "ES", s.ES, d.dES, dt);
    change_line(console, "PHMB", s.PHMB, d.dPHMB, dt);
    change_line(console, "organic", s.organic, d.dorganic, dt);
  }
  change_line(console, "A", s.A, d.dA, dt);
  std::fprintf(console, "dS= %6.5e \t S= %6.5e \n ", (d.dthiol + d.dthiolate) * dt, s.S);
  change_line(console, "C", s.C, d.dC, dt);
  change_line(console, "D", s.D, d.dD, dt);
  change_line(console, "E", s.E, d.dE, dt);
  change_line(console, "F", s.F, d.dF, dt);
  change_line(console, "G", s.G, d.dG, dt);
  change_line(console, "I", s.I, d.dI, dt);
  change_line(console, "J", s.J, d.dJ, dt);
  change_line(console, "K", s.K, d.dK, dt);
  change_line(console, "L", s.L, d.dL, dt);
  change_line(console, "M", s.M, d.dM, dt);
  change_line(console, "N", s.N, d.dN, dt);
  change_line(console, "P", s.P, d.dP, dt);
  change_line(console, "Q", s.Q, d.dQ, dt);
  change_line(console, "O3", s.O3, d.dO3, dt);
  change_line(console, "O2", s.O2, d.dO2, dt);
  change_line(console, "O1", s.O1, d.dO1, dt);

  for (int i = 0; i < 19; ++i) {
    const int step = 2 * i + 1;
    std::fprintf(console, "flux%d= %6.5e \t total_flux%d=%6.5e\n ", step, n.*kNetFluxesInOrder[i],
                 step, t.*kFluxTotalsInOrder[i]);
  }

  if (c.extra_cycles != 0) {
    std::fprintf(
        console,
        "\n Current rate of change of P is %6.5e mol/L/s. \n%9d  iterations were performed "
        "for   %6.5e  s of simulation.\n%9d  iterations included timestep tightening, "
        "using %9d extra cycles.\nAverage maxratio in these iterations was %8.3e. \n "
        "Average timestep is %6.5e seconds \n ",
        v.progress.rate_of_change_of_P, c.iterations, v.progress.block_elapsed_time,
        c.tightening_iterations, c.extra_cycles, c.maxratio_sum / c.tightening_iterations,
        average_timestep);
  } else {
    std::fprintf(
        console,
        "\n Current rate of change of P is %6.5e mol/L/s. \n%9d  iterations were performed "
        "for   %6.5e  s of simulation.\n Average timestep is %6.5e seconds \n ",
        v.progress.rate_of_change_of_P, c.iterations, v.progress.block_elapsed_time,
        average_timestep);
  }
  std::fprintf(console, "\n average time  %5.3e   target2 %5.3e ", average_timestep,
               v.parameters.target2);
}

}  // namespace tolvanex
