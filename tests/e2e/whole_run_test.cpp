// Whole runs of both programs, one per kind of acceptor and one in
// organomercurial mode, for what a byte comparison with recorded outputs
// cannot show: balances kept in every row, one row per block in its format,
// the stop that the acceptor type allows (or a last block past the wanted
// time), and how pruning shows in the net fluxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_runner.h"

namespace tolvanex::testing {
namespace {

__attribute__((format(printf, 1, 2))) std::string format(const char* layout, ...) {
  va_list arguments;
  va_start(arguments, layout);
  char buffer[512];
  const int length = std::vsnprintf(buffer, sizeof buffer, layout, arguments);
  va_end(arguments);
  EXPECT_TRUE(length >= 0 && length < static_cast<int>(sizeof buffer));
  return std::string(buffer);
}

const char* const kConverted =
    "\n. Substrate has been almost completely converted.  The computation has therefore been "
    "stopped\n";
const char* const kConverged =
    "\nExtending the simulation to twice the current time would change P by less than 0.5 "
    "percent of present product concentration. The computation has therefore been stopped\n";

// Trace columns.
enum { kTime, kA, kS, kC, kD, kE, kF, kG, kI, kJ, kK, kL, kM, kN, kApo, kP, kQ, kOrganic };

// 38 barriers: every forward step 12, every reverse one 18 kcal/mol, but for
// those changed ("step=barrier ...").
std::vector<std::string> barriers(const std::string& changed) {
  std::vector<std::string> b;
  for (int i = 1; i <= 38; ++i) b.push_back(i % 2 ? "12" : "18");
  std::istringstream in(changed);
  int step = 0;
  char equals = 0;
  for (std::string value; in >> step >> equals >> value;) b.at(step - 1) = value;
  return b;
}

struct RunCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* full_stop;  // the closing message of each build; nullptr: runs to its wanted time
  const char* unpruned_stop;
  double from_end(std::size_t k) const {
    return std::strtod(arguments[arguments.size() - k].c_str(), nullptr);
  }
};

std::vector<std::string> normal_run(const char* pH, const char* type, const char* wanted,
                                    const std::vector<std::string>& b, const char* acceptor) {
  std::vector<std::string> w = {"10", "1e-6", pH, type, wanted, "1e-6", acceptor};
  w.insert(w.end(), b.begin(), b.end());
  w.push_back("run.trace");
  return w;
}

// Mercury that reaches J stays there in the full build, which never runs
// step 37 backwards, and P levels off: at half of A0 for MerA (a fast proton
// step 7), where only a time limit can end the run, and at 0.3 A0 for the
// dithiol (a fast step 15), where the run stops once P has levelled off.
// The unpruned build releases J and converts almost all substrate. The last
// run takes a monothiol at only 20 times the enzyme, so that the printed S
// resolves every acceptor molecule taken up, with thiolate step 5 and the
// steps that only the unpruned build runs (A + thiolate -> D, D -> E -> F,
// D -> Q, Q + thiol -> N) made fast.
const std::vector<RunCase>& run_cases() {
  static const std::vector<RunCase> cases = {
      {"MerA", normal_run("7.0", "1", "200", barriers("7=3"), "1e-3"), nullptr, kConverted},
      {"Dithiol", normal_run("7.4", "2", "1000", barriers("15=11.5"), "1e-3"), kConverged,
       kConverted},
      {"Monothiol", normal_run("7.4", "3", "1000", barriers("15=13 17=13 19=13"), "1e-3"),
       kConverged, kConverted},
      {"MonothiolBackwardRoute",
       normal_run("7.4", "3", "5",
                  barriers("5=4 15=13 17=13 19=13 23=10 27=11 29=8 33=18 34=12 35=5"), "2e-5"),
       nullptr, nullptr},
      {"Organomercurial",
       read_argument_file(std::string(kSourceDir) + "/examples/organomercurial.args"), kConverted,
       kConverted}};
  return cases;
}

std::vector<std::vector<double>> values(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::vector<double>> out;
  for (const auto& row : rows) {
    out.emplace_back();
    for (const std::string& text : row) out.back().push_back(std::strtod(text.c_str(), nullptr));
  }
  return out;
}

// total equals the sum of the terms to what printing with 6 significant digits allows.
void expect_sum(const char* what, std::size_t row, double total,
                std::initializer_list<double> terms) {
  double sum = 0, scale = std::abs(total);
  for (double t : terms) {
    sum += t;
    scale += std::abs(t);
  }
  EXPECT_NEAR(total, sum, 1e-5 * scale) << what << " in trace row " << row + 1;
}

std::string tail(const std::string& text, std::size_t size) {
  return text.substr(text.size() - std::min(size, text.size()));
}

class WholeRun : public ::testing::TestWithParam<std::tuple<bool, std::size_t>> {};

TEST_P(WholeRun, KeepsItsBalancesAndStopsAsItsTypeAllows) {
  const auto [unpruned, index] = GetParam();
  const RunCase& c = run_cases()[index];
  const bool organo = c.arguments.size() == 47;
  const double A0 = c.from_end(41), S0 = c.from_end(40), type = c.from_end(43);
  const ProgramRun run =
      run_program_in(unpruned ? kUnprunedProgram : kFullProgram, c.arguments, "", 300);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.standard_error, "");
  const std::string& out = run.standard_output;
  const std::string trace_text = run.file(c.arguments.back()),
                    flux_text = run.file("flux_analysis.txt");
  const FileTable trace = read_trace_table(trace_text, organo);
  const FileTable flux = read_flux_table(flux_text);
  ASSERT_TRUE(trace.well_formed) << trace.problem;
  ASSERT_TRUE(flux.well_formed) << flux.problem;

  // One trace row and one flux row per block report, at the report's time.
  const std::size_t blocks = count_occurrences(out, "\n average time  ");
  ASSERT_GT(blocks, 5u);
  ASSERT_EQ(trace.rows.size(), blocks);
  ASSERT_EQ(flux.rows.size(), blocks);
  std::size_t at = 0;
  for (std::size_t k = 0; k < blocks && at != std::string::npos; ++k) {
    at = out.find("\n time = " + trace.rows[k][kTime] + " \n ", at);
    EXPECT_NE(at, std::string::npos) << "no report at the time of trace row " << k + 1;
    EXPECT_EQ(flux.rows[k][0], trace.rows[k][kTime]) << "flux row " << k + 1;
  }

  // The block rows, printed again with their formats, are what the files end with.
  const auto T = values(trace.rows), F = values(flux.rows);
  std::string trace_rows, flux_rows;
  for (const auto& v : T) {
    trace_rows += format(
        "\n%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
        "%6.5e \t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t ",
        v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13],
        v[14], v[15], v[16]);
    if (organo) trace_rows += format("%12.10e ", v[kOrganic]);
  }
  for (const auto& v : F) {
    flux_rows += format(
        "%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e "
        "\t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e  \t "
        "%6.5e\n ",
        v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13],
        v[14], v[15], v[16], v[17], v[18], v[19]);
  }
  EXPECT_EQ(tail(trace_text, trace_rows.size()), trace_rows);
  EXPECT_EQ(tail(flux_text, flux_rows.size()), flux_rows);

  // Mercury, enzyme and acceptor kept in every row.
  for (std::size_t k = 0; k < blocks; ++k) {
    const std::vector<double>& v = T[k];
    const double bound = v[kC] + v[kD] + v[kE] + v[kF] + v[kG] + v[kI] + v[kJ] + v[kK] + v[kL] +
                         v[kM] + v[kN] + v[kQ];
    // In organomercurial mode each split frees one Hg and one organic product.
    expect_sum("mercury", k, organo ? v[kOrganic] : A0, {v[kA], bound, v[kP]});
    if (!organo) expect_sum("enzyme", k, A0, {v[kA], bound, v[kApo]});
    if (type == 3) {
      expect_sum("monothiol", k, S0,
                 {v[kS], v[kC], v[kD], v[kE], v[kG], v[kK], v[kQ],
                  2 * (v[kF] + v[kI] + v[kJ] + v[kL] + v[kM] + v[kN] + v[kP])});
    } else {
      expect_sum("acceptor", k, S0, {v[kS], bound, v[kP]});
    }
  }

  // The stop: its message once, at the end, and not later than the first
  // row with P above 0.99 A0; without one the run ends in the block in which
  // the wanted time passes, whose last step began after it.
  const char* stop = unpruned ? c.unpruned_stop : c.full_stop;
  EXPECT_EQ(count_occurrences(out, "stopped"), stop ? 1 : 0);
  for (std::size_t k = 0; k + 1 < blocks; ++k) EXPECT_LE(T[k][kP], 0.99 * A0) << "row " << k + 1;
  if (stop) {
    EXPECT_EQ(tail(out, std::string(stop).size()), stop);
    EXPECT_GT(T.back()[kP], (stop == kConverted ? 0.99 : 0.2) * A0);
  } else {
    const double wanted = c.from_end(42);
    const double last_step = std::strtod(out.c_str() + out.rfind("timestep is  ") + 13, nullptr);
    EXPECT_LT(T[blocks - 2][kTime], wanted);
    EXPECT_GT(T.back()[kTime] - last_step, wanted);
  }

  if (!unpruned) {
    // Pruned: no net flux below 0, so no total falls and D, E, F, Q, O3,
    // formed only through steps run backwards, stay 0.
    for (int n = 1; n <= 37; n += 2) {
      EXPECT_EQ(count_occurrences(out, "\n flux" + std::to_string(n) + "= -"), 0) << n;
    }
    EXPECT_EQ(count_occurrences(out, "\t O3= 0.00000e+00 \n"), static_cast<int>(blocks));
    for (std::size_t k = 0; k < blocks; ++k) {
      for (int col : {kD, kE, kF, kQ}) EXPECT_EQ(T[k][col], 0.0) << "row " << k + 1;
      for (int j = 1; j <= 19; ++j)
        EXPECT_GE(F[k][j], k ? F[k - 1][j] : 0.0) << "flux row " << k + 1;
    }
  } else if (!organo) {
    // Unpruned: A + thiolate -> D runs from the first iteration.
    EXPECT_NE(out.substr(0, out.find("\n average time  ")).find("\n flux23= -"), std::string::npos);
    EXPECT_LT(F[0][12], 0.0) << "total of flux23 after the first block";
    EXPECT_GT(T[0][kD], 0.0);
  }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, WholeRun,
                         ::testing::Combine(::testing::Bool(), ::testing::Range<std::size_t>(0, 5)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) ? "Unpruned" : "Full") +
                                  run_cases()[std::get<1>(info.param)].name;
                         });

}  // namespace
}  // namespace tolvanex::testing
