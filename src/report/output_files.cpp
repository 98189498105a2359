#include "report/output_files.h"

#include <cstddef>
#include <cstdio>
#include <utility>

namespace tolvanex {
namespace {

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

// The trace file's columns after the time, the organic product's (the last,
// organomercurial mode only) apart; the flux file's, the fluxes in table
// order, at time 0 all of them and later those with a total.
constexpr std::size_t kPlainTraceColumns = kTraceColumns.size() - 1;

// Row layouts: the time, then one conversion per column.
constexpr char kTraceStartRow[] =
    "\n %12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e "
    "\t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t ";
constexpr char kTraceBlockRow[] =
    "\n%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e "
    "\t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t ";
constexpr char kOrganicCell[] = "%12.10e ";
constexpr char kFluxStartRow[] =
    "%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
    "%6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
    "%6.5e \t ";
constexpr char kFluxBlockRow[] =
    "%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
    "%6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e  \t %6.5e\n ";

consteval std::size_t conversions(const char* layout) {
  std::size_t n = 0;
  for (; *layout; ++layout) n += *layout == '%' ? 1 : 0;
  return n;
}
static_assert(conversions(kTraceStartRow) == 1 + kPlainTraceColumns);
static_assert(conversions(kTraceBlockRow) == 1 + kPlainTraceColumns);
static_assert(conversions(kFluxStartRow) == 1 + kFluxCount);
static_assert(conversions(kFluxBlockRow) == 1 + kFluxTotalCount);

template <std::size_t... i>
void write_trace_row(std::FILE* f, const char* layout, double time, const SpeciesState& s,
                     std::index_sequence<i...>) {
  std::fprintf(f, layout, time, s[kTraceColumns[i]]...);
}

template <std::size_t... i>
void write_flux_row(std::FILE* f, const char* layout, double time, const FluxTotals& totals,
                    std::index_sequence<i...>) {
  std::fprintf(f, layout, time, totals.total[i]...);
}

template <std::size_t... i>
void write_zero_flux_row(std::FILE* f, std::index_sequence<i...>) {
  std::fprintf(f, kFluxStartRow, 0.0, (static_cast<void>(i), 0.0)...);
}

void write_run_parameters(std::FILE* f, double A, double S) {
  std::fprintf(f, " \n  \n  \n Run parameters \n Enzyme=%5.2e \n Substrate=%5.2e \n", A, S);
}

void write_trace_column_header(std::FILE* f, bool organomercurial) {
  std::fputs(" \n  \n  \n Time    \t", f);
  for (std::size_t i = 0; i < kPlainTraceColumns; ++i) {
    std::fputs(info(kTraceColumns[i]).trace_header, f);
    std::fputs("\t", f);
  }
  std::fputs(" ", f);
  if (organomercurial) {
    std::fputs(info(kTraceColumns.back()).trace_header, f);
    std::fputs(" \n", f);
  }
}

void write_flux_column_header(std::FILE* f) {
  std::fputs(" \n  \n  \n Time  \t", f);
  for (const FluxInfo& flux : kFluxTable) {
    std::fputs(flux.flux_header, f);
    std::fputs(&flux == &kFluxTable.back() ? "\n     " : "\t", f);
  }
}

}  // namespace

void write_header_start(const RunParameters& p, const SpeciesState& start,
                        const OutputStreams& out) {
  std::fprintf(out.flux, "\n\n Flux analysis for run %s \n", p.trace_file_name);
  std::fprintf(out.trace, " \n  tolvanex \n");
  write_run_parameters(out.trace, start[Species::A], start[Species::S]);
  write_run_parameters(out.flux, start[Species::A], start[Species::S]);
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

void write_header_end(const RunParameters& p, const SpeciesState& start, const OutputStreams& out) {
  write_flux_column_header(out.flux);
  write_zero_flux_row(out.flux, std::make_index_sequence<kFluxCount>{});

  std::fprintf(out.trace, " pH= %3.2e \t pKa_thiol= %3.2e \n", p.pH, p.pKa_thiol);
  write_trace_column_header(out.trace, p.organomercurial);
  if (p.organomercurial) std::fputs("I will write organic product \n", out.console);
  write_trace_row(out.trace, kTraceStartRow, 0.0, start,
                  std::make_index_sequence<kPlainTraceColumns>{});
  if (p.organomercurial) std::fprintf(out.trace, kOrganicCell, start[Species::organic]);
}

void append_block_rows(double time, const SpeciesState& s, const FluxTotals& totals,
                       bool organomercurial, const OutputStreams& out) {
  write_trace_row(out.trace, kTraceBlockRow, time, s,
                  std::make_index_sequence<kPlainTraceColumns>{});
  if (organomercurial) std::fprintf(out.trace, kOrganicCell, s[Species::organic]);
  write_flux_row(out.flux, kFluxBlockRow, time, totals,
                 std::make_index_sequence<kFluxTotalCount>{});
}

}  // namespace tolvanex
