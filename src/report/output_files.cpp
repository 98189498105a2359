#include "report/output_files.h"

#include <cstdio>

namespace tolvanex {
namespace {

void write_run_parameters(std::FILE* f, double A, double S) {
  std::fprintf(f, " \n  \n  \n Run parameters \n Enzyme=%5.2e \n Substrate=%5.2e \n", A, S);
}

const char* const kMonothiolNote =
    " \n This run assumes that the Hg-coordinating molecule is a monothiol, like cysteine or "
    "reduced glutathione. \n";
const char* const kDiffusionLimitNote =
    " \n The bimolecular steps with activation DeltaG < 4 (i.e. theoretically faster than a "
    "diffusion-controlled reaction in water can be) have been changed to 4kcal.mol-1.  The "
    "corresponding reverse step was corrected in the same way, so that k1/k-1 (i.e. the "
    "equilibrium constant) does not change. Affected reaction rates are k5, k6, k9,k10, k13, k14, "
    "k29 and k30. \n";
const char* const kMerANote =
    " \n This run assumes that the Hg-coordinating molecule is MerA, the physiological acceptor. "
    "It contains two thiols, at least one of which has a low pKa. \n";
const char* const kDithiolNote =
    " \n This run assumes that the Hg-coordinating molecule is a dithiol (like dithiotheitol). It "
    "contains two thiols, with pKas around 10.4 \n";

const char* const kTraceColumnHeader =
    " \n  \n  \n Time    \t HgMerB  \t   Thiol      \t   Int1     \t   Anionic  Int1      \t   "
    "Anionic  Int2 C159-bound  \t  Int3' C159-bound      \t  Int1 (H+ on Asp)       \t Int2 "
    "C159-bound:Thiol  \t Int4 (Cys159-bound)  \t  Int2 (Cys96-bound)  \t Int2 "
    "(Cys96-bound):Thiol  \t Int4 (Asp99-bound)   \t Int3' C96-bound   \t apoMerB  \t "
    "Hg(SCH3)2   \t  Anionic  Int2 C96-bound\t ";
const char* const kFluxColumnHeader =
    " \n  \n  \n Time  \t  flux1      \t   flux3      \t   flux5     \t   flux7      \t  flux9 "
    "\t   flux11      \t   flux13      \t   flux15     \t   flux17      \t  flux19 \t  flux21     "
    " \t   flux23      \t   flux25     \t   flux27      \t  flux29 \t  flux31      \t   flux33    "
    "  \t   flux35     \t   flux37      \t  flux39 \n     ";

}  // namespace

void write_header_start(const RunParameters& p, double A, double S, const OutputStreams& out) {
  std::fprintf(out.flux, "\n\n Flux analysis for run %s \n", p.trace_file_name);
  std::fprintf(out.trace, " \n  tolvanex \n");
  write_run_parameters(out.trace, A, S);
  write_run_parameters(out.flux, A, S);
}

void write_rate_constant_lines(const RunParameters& p, const RateTable& rates,
                               const OutputStreams& out) {
  if (is_monothiol(p.MoleculeType)) {
    std::fputs(kMonothiolNote, out.trace);
    std::fputs(kDiffusionLimitNote, out.trace);
  }
  if (is_mera(p.MoleculeType)) std::fputs(kMerANote, out.trace);
  if (is_dithiol(p.MoleculeType)) std::fputs(kDithiolNote, out.trace);
  for (int i = 1; i <= kStepCount; ++i) {
    std::fprintf(out.trace, "DeltaG*(%d )= %3.2e \t k%d=%6.5e\n", i, p.DeltaG[i], i, rates.k[i]);
    std::fprintf(out.flux, "DeltaG*(%d) = %3.2e \t k%d=%6.5e\n", i, p.DeltaG[i], i, rates.k[i]);
  }
}

void write_header_end(const RunParameters& p, double A, double S, const OutputStreams& out) {
  std::fputs(kFluxColumnHeader, out.flux);
  std::fprintf(out.flux,
               "%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
               "%6.5e \t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
               "%6.5e \t %6.5e \t %6.5e \t ",
               0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0,
               0.0, 0.0, 0.0, 0.0);

  std::fprintf(out.trace, " pH= %3.2e \t pKa_thiol= %3.2e \n", p.pH, p.pKa_thiol);
  std::fputs(kTraceColumnHeader, out.trace);
  if (p.organomercurial) {
    std::fputs("organic product \n", out.trace);
    std::fputs("I will write organic product \n", out.console);
  }
  std::fprintf(out.trace,
               "\n %12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e "
               "\t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t ",
               0.0, A, S, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
  if (p.organomercurial) std::fprintf(out.trace, "%12.10e ", 0.0);
}

void append_block_rows(double time, const SpeciesState& s, const FluxTotals& t,
                       bool organomercurial, const OutputStreams& out) {
  std::fprintf(out.trace,
               "\n%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e "
               "\t %6.5e \t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t ",
               time, s.A, s.S, s.C, s.D, s.E, s.F, s.G, s.I, s.J, s.K, s.L, s.M, s.N, s.apoMerB,
               s.P, s.Q);
  if (organomercurial) std::fprintf(out.trace, "%12.10e ", s.organic);
  std::fprintf(out.flux,
               "%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
               "%6.5e \t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
               "%6.5e  \t %6.5e\n ",
               time, t.total_flux1, t.total_flux3, t.total_flux5, t.total_flux7, t.total_flux9,
               t.total_flux11, t.total_flux13, t.total_flux15, t.total_flux17, t.total_flux19,
               t.total_flux21, t.total_flux23, t.total_flux25, t.total_flux27, t.total_flux29,
               t.total_flux31, t.total_flux33, t.total_flux35, t.total_flux37);
}

}  // namespace tolvanex
