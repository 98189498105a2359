// The usage text, the set-up part of both output files byte for byte, and
// how runs append to files that already exist. Expected bytes are built here
// from the documented printf formats, with the rate constants worked out by
// the Eyring relation in this file, never taken from a program's output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/program_runner.h"

namespace tolvanex::testing {
namespace {

__attribute__((format(printf, 1, 2))) std::string format(const char* layout, ...) {
  va_list arguments;
  va_start(arguments, layout);
  char buffer[1024];
  const int length = std::vsnprintf(buffer, sizeof buffer, layout, arguments);
  va_end(arguments);
  EXPECT_TRUE(length >= 0 && length < static_cast<int>(sizeof buffer));
  return std::string(buffer);
}

TEST(Usage, WrongCountsPrintUsageAndCreateNoFile) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (int count : {0, 45, 48}) {
      std::vector<std::string> arguments(count, "1");
      if (count > 0) arguments.back() = "usage.trace";
      const ProgramRun run = run_program_in(program, arguments);
      EXPECT_EQ(run.exit_status, 2) << count;
      EXPECT_EQ(run.standard_output,
                "You have " + std::to_string(count) +
                    " arguments, instead of 46 or 47 . \nYou should run the program with the "
                    "following syntax:\ntolvanex [concentration of organomercurial (optional)] "
                    "[number of steps with timestep tightening] [initial_timestep][pH] [type of "
                    "molecule] [how many seconds of kinetic information you want] [HgMerB (or "
                    "free MerB) concentration] [concentration of the Hg-removing molecules "
                    "tested] [barriers in kcal.mol-1 for the 38 reaction steps] [name of output "
                    "file]\n Type of molecule is : 1 for MerA, 2 for dithiothreitol, 3 for GSH")
          << program << " " << count;
      EXPECT_FALSE(run.has_file("usage.trace")) << count;
      EXPECT_FALSE(run.has_file("flux_analysis.txt")) << count;
    }
  }
}

const char* const kTraceColumnHeader =
    " \n  \n  \n Time    \t HgMerB  \t   Thiol      \t   Int1     \t   Anionic  Int1      \t   "
    "Anionic  Int2 C159-bound  \t  Int3' C159-bound      \t  Int1 (H+ on Asp)       \t Int2 "
    "C159-bound:Thiol  \t Int4 (Cys159-bound)  \t  Int2 (Cys96-bound)  \t Int2 "
    "(Cys96-bound):Thiol  \t Int4 (Asp99-bound)   \t Int3' C96-bound   \t apoMerB  \t Hg(SCH3)2   "
    "\t  Anionic  Int2 C96-bound\t ";
const char* const kFluxColumnHeader =
    " \n  \n  \n Time  \t  flux1      \t   flux3      \t   flux5     \t   flux7      \t  flux9 "
    "\t   flux11      \t   flux13      \t   flux15     \t   flux17      \t  flux19 \t  flux21      "
    "\t   flux23      \t   flux25     \t   flux27      \t  flux29 \t  flux31      \t   flux33      "
    "\t   flux35     \t   flux37      \t  flux39 \n     ";
const char* const kMerANote =
    " \n This run assumes that the Hg-coordinating molecule is MerA, the physiological acceptor. "
    "It contains two thiols, at least one of which has a low pKa. \n";
const char* const kDithiolNote =
    " \n This run assumes that the Hg-coordinating molecule is a dithiol (like dithiotheitol). It "
    "contains two thiols, with pKas around 10.4 \n";
const char* const kMonothiolNotes =
    " \n This run assumes that the Hg-coordinating molecule is a monothiol, like cysteine or "
    "reduced glutathione. \n \n The bimolecular steps with activation DeltaG < 4 (i.e. "
    "theoretically faster than a diffusion-controlled reaction in water can be) have been changed "
    "to 4kcal.mol-1.  The corresponding reverse step was corrected in the same way, so that "
    "k1/k-1 (i.e. the equilibrium constant) does not change. Affected reaction rates are k5, k6, "
    "k9,k10, k13, k14, k29 and k30. \n";

// Eyring relation at 298 K, in the documented order of operations.
double eyring_constant(double barrier) {
  return std::exp(-(((barrier * 4184) / 8.314) / 298)) * 6209352739000.001;
}

TEST(OutputFiles, EyringRelationGivesTheQuotedConstants) {
  const std::pair<double, const char*> quoted[] = {
      {0, "6.20935e+12"},  {4, "7.23414e+09"},  {10, "2.87672e+05"}, {15, "6.19189e+01"},
      {20, "1.33275e-02"}, {60, "6.13981e-32"}, {-1, "3.36094e+13"}};
  for (const auto& [barrier, printed] : quoted) {
    EXPECT_EQ(format("%6.5e", eyring_constant(barrier)), printed) << barrier;
  }
  EXPECT_EQ(format("%6.5e", eyring_constant(0) * 0.001165), "7.23390e+09");
}

// One invocation's arguments, as typed. The barriers cover 0, a negative
// one, 60 and just above it, and everyday values; steps 5, 30, 35 and 36 are
// among those a monothiol scales.
struct RunSetup {
  std::string organomercurial;  // empty: normal mode (46 arguments)
  std::string pH = "6.8";
  std::string type = "2";
  std::string wanted_time = "0";
  std::string enzyme = "1e-6";
  std::string acceptor = "1e-3";
  std::string trace_name = "run.trace";
  std::vector<std::string> barriers = {"0",    "4",    "10",   "15", "0",    "60",   "60.001", "-1",
                                       "12.5", "18",   "3.25", "22", "0.5",  "61",   "17.75",  "9",
                                       "13",   "21",   "8.8",  "16", "11",   "19",   "7",      "23",
                                       "14",   "100",  "5.5",  "2",  "1.5",  "60.5", "6",      "24",
                                       "2.7",  "21.9", "15.6", "21", "14.3", "16.9"};

  std::vector<std::string> arguments() const {
    std::vector<std::string> words;
    if (!organomercurial.empty()) words.push_back(organomercurial);
    words.insert(words.end(), {"10", "1e-6", pH, type, wanted_time, enzyme, acceptor});
    words.insert(words.end(), barriers.begin(), barriers.end());
    words.push_back(trace_name);
    return words;
  }
};

double number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

std::string parameter_lines(const RunSetup& s) {
  const double enzyme = s.organomercurial.empty() ? number(s.enzyme) : 0.0;
  return format(" \n  \n  \n Run parameters \n Enzyme=%5.2e \n Substrate=%5.2e \n", enzyme,
                number(s.acceptor));
}

// The 38 "DeltaG*" lines in the given layout: Eyring, the monothiol factor on
// steps 5, 9, 13, 29 and 35 (both directions), then the 60 kcal/mol cut-off.
std::string barrier_lines(const RunSetup& s, const char* layout) {
  std::string text;
  for (int i = 1; i <= 38; ++i) {
    const double barrier = number(s.barriers[i - 1]);
    const int pair = (i + 1) / 2 * 2 - 1;
    double k = eyring_constant(barrier);
    if (number(s.type) == 3 && (pair == 5 || pair == 9 || pair == 13 || pair == 29 || pair == 35)) {
      k *= 0.001165;
    }
    if (barrier > 60) k = 0;
    text += format(layout, i, barrier, i, k);
  }
  return text;
}

std::string expected_trace_file(const RunSetup& s) {
  const double type = number(s.type);
  std::string text = " \n  tolvanex \n" + parameter_lines(s);
  if (type == 3) text += kMonothiolNotes;
  if (type == 1) text += kMerANote;
  if (type == 2) text += kDithiolNote;
  text += barrier_lines(s, "DeltaG*(%d )= %3.2e \t k%d=%6.5e\n");
  text += format(" pH= %3.2e \t pKa_thiol= %3.2e \n", number(s.pH), type == 1 ? 6.0 : 10.4);
  text += kTraceColumnHeader;
  const bool organo = !s.organomercurial.empty();
  if (organo) text += "organic product \n";
  text += format(
      "\n %12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e "
      "\t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t ",
      0.0, organo ? 0.0 : number(s.enzyme), number(s.acceptor), 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0,
      0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
  if (organo) text += format("%12.10e ", 0.0);
  return text;
}

std::string expected_flux_file(const RunSetup& s) {
  std::string text = format("\n\n Flux analysis for run %s \n", s.trace_name.c_str()) +
                     parameter_lines(s) + barrier_lines(s, "DeltaG*(%d) = %3.2e \t k%d=%6.5e\n") +
                     kFluxColumnHeader;
  text += format(
      "%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
      "%6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
      "%6.5e \t ",
      0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0,
      0.0, 0.0);
  return text;
}

// wanted_time 0: the files hold exactly their set-up part, for every kind of
// acceptor, for a type that is none of them, and in organomercurial mode.
TEST(OutputFiles, SetUpPartIsExactForEveryMoleculeType) {
  std::vector<RunSetup> cases;
  for (const char* type : {"1", "1.0", "2", "3", "7"}) cases.emplace_back().type = type;
  RunSetup& organo = cases.emplace_back();
  organo.organomercurial = "3.5e-6";
  organo.type = "3";
  organo.enzyme = "2.5e-7";
  organo.trace_name = "organo monothiol.trace";

  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const RunSetup& s : cases) {
      SCOPED_TRACE(std::string(program) + ": " + s.trace_name + ", type " + s.type);
      const ProgramRun run = run_program_in(program, s.arguments());
      EXPECT_EQ(run.exit_status, 0);
      const std::string organo_lines =
          format("\n PHMB= %12.10e 7 \t MerB=%12.10e \n", 3.5e-6, 2.5e-7);
      EXPECT_EQ(run.standard_output,
                s.organomercurial.empty() ? "" : organo_lines + "I will write organic product \n");
      EXPECT_EQ(run.file(s.trace_name), expected_trace_file(s));
      EXPECT_EQ(run.file("flux_analysis.txt"), expected_flux_file(s));
      // The pKa figure, stated on its own so that a failure names it.
      const char* pka = number(s.type) == 1 ? " pKa_thiol= 6.00e+00 \n" : " pKa_thiol= 1.04e+01 \n";
      EXPECT_NE(run.file(s.trace_name).find(pka), std::string::npos);
    }
  }
}

// Existing files are appended to: their contents stay, and a second run with
// the same trace name adds its whole output (here with blocks) after the
// first, so the flux file holds one table per run under its own run line.
TEST(OutputFiles, RunsAppendToExistingFiles) {
  RunSetup set_up_only;
  set_up_only.trace_name = "shared.trace";
  std::vector<std::string> with_blocks =
      read_argument_file(std::string(kSourceDir) + "/examples/dithiothreitol.args");
  with_blocks[4] = "0.003";  // the wanted time
  with_blocks.back() = set_up_only.trace_name;

  const std::string folder = make_fresh_folder();
  const std::string old_trace = "notes kept from before\n";
  const std::string old_flux = "\n\n Flux analysis for run elsewhere.trace \n 1 2 3";
  write_file(folder + "/shared.trace", old_trace);
  write_file(folder + "/flux_analysis.txt", old_flux);
  run_program_in(kUnprunedProgram, set_up_only.arguments(), folder);
  const ProgramRun both = run_program_in(kFullProgram, with_blocks, folder);
  const ProgramRun alone = run_program_in(kFullProgram, with_blocks);

  ASSERT_FALSE(read_flux_table(alone.file("flux_analysis.txt")).rows.empty());
  EXPECT_EQ(both.file("shared.trace"),
            old_trace + expected_trace_file(set_up_only) + alone.file("shared.trace"));
  const std::string flux = both.file("flux_analysis.txt");
  EXPECT_EQ(flux, old_flux + expected_flux_file(set_up_only) + alone.file("flux_analysis.txt"));
  EXPECT_EQ(count_occurrences(flux, "\n\n Flux analysis for run shared.trace \n"), 2);
}

}  // namespace
}  // namespace tolvanex::testing
