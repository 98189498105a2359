#include "report/console_report.h"

namespace tolvanex {

void print_block_report_opening(const BlockReport& r, std::FILE* console) {
  const double dt = r.timestep;
  std::fputs("\n*************************************************************** \n", console);
  // (dX dt) / (X - dX dt): the fraction of its amount before the step that a
  // falling species lost in the last step.
  for (const Species x : kRatioLines) {
    const double X = r.state[x], dX = r.rates[x];
    if (dX < 0) {
      std::fprintf(console, "ratio%s is   %5.4e    \n  ", info(x).label, (dX * dt) / (X - dX * dt));
    }
  }
  if (r.first_amount_flag == 0) {
    std::fprintf(console,
                 "\nThe latest step decreased the species with the highest ratio by at most %9.7e "
                 "of its present value.",
                 1 / r.target);
  }
  std::fprintf(console,
               "\n total iterations %6.5e . total time %12.9e seconds.   \n Maxratio is= %5.4e   "
               "timestep is  %5.4e  seconds \n ",
               r.total_iterations, r.time, r.maxratio, dt);
}

void print_block_report_closing(const BlockReport& r, std::FILE* console) {
  const double dt = r.timestep;
  const double average_timestep = r.block_elapsed_time / r.iterations;

  std::fprintf(console, "\n time = %12.10e \n ", r.time);
  for (const Species x : kChangeLines) {
    if (info(x).organomercurial_line && !r.organomercurial) continue;
    // S changes by both acceptor forms.
    const double dX =
        x == Species::S ? r.rates[Species::thiol] + r.rates[Species::thiolate] : r.rates[x];
    std::fprintf(console, "d%s= %6.5e \t %s= %6.5e \n ", info(x).label, dX * dt, info(x).label,
                 r.state[x]);
  }
  for (const FluxInfo& flux : kFluxTable) {
    if (!flux.has_total) continue;
    std::fprintf(console, "flux%d= %6.5e \t total_flux%d=%6.5e\n ", flux.step, r.fluxes[flux.flux],
                 flux.step, r.totals[flux.flux]);
  }

  if (r.extra_cycles != 0) {
    std::fprintf(
        console,
        "\n Current rate of change of P is %6.5e mol/L/s. \n%9d  iterations were performed "
        "for   %6.5e  s of simulation.\n%9d  iterations included timestep tightening, "
        "using %9d extra cycles.\nAverage maxratio in these iterations was %8.3e. \n "
        "Average timestep is %6.5e seconds \n ",
        r.rate_of_change_of_P, r.iterations, r.block_elapsed_time, r.tightening_iterations,
        r.extra_cycles, r.maxratio_sum / r.tightening_iterations, average_timestep);
  } else {
    std::fprintf(console,
                 "\n Current rate of change of P is %6.5e mol/L/s. \n%9d  iterations were "
                 "performed for   %6.5e  s of simulation.\n Average timestep is %6.5e seconds \n ",
                 r.rate_of_change_of_P, r.iterations, r.block_elapsed_time, average_timestep);
  }
  std::fprintf(console, "\n average time  %5.3e   target2 %5.3e ", average_timestep, r.target2);
}

}  // namespace tolvanex
