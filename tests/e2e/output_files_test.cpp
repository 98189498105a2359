// The set-up part of both output files, byte for byte, and how runs append
// to files that already exist. Expected bytes are built here from the
// documented printf formats, with the rate constants worked out by the
// Eyring relation in this file, never taken from a program's output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
  EXPECT_GE(length, 0);
  EXPECT_LT(length, static_cast<int>(sizeof buffer));
  return std::string(buffer);
}

const char* const kTraceColumnHeader =
    " \n  \n  \n Time    \t HgMerB  \t   Thiol      \t   Int1     \t   Anionic  Int1      \t   "
    "Anionic  Int2 C159-bound  \t  Int3' C159-bound      \t  Int1 (H+ on Asp)       \t Int2 "
    "C159-bound:Thiol  \t Int4 (Cys159-bound)  \t  Int2 (Cys96-bound)  \t Int2 "
    "(Cys96-bound):Thiol  \t Int4 (Asp99-bound)   \t Int3' C96-bound   \t apoMerB  \t Hg(SCH3)2   "
    "\t  Anionic  Int2 C96-bound\t ";

const char* const kFluxColumnHeader =
    " \n  \n  \n Time  \t  flux1      \t   flux3      \t   flux5     \t   flux7      \t  flux9 \t  "
    " "
    "flux11      \t   flux13      \t   flux15     \t   flux17      \t  flux19 \t  flux21      \t   "
    "flux23      \t   flux25     \t   flux27      \t  flux29 \t  flux31      \t   flux33      \t   "
    "flux35     \t   flux37      \t  flux39 \n     ";

const char* const kMerANote =
    " \n This run assumes that the Hg-coordinating molecule is MerA, the physiological acceptor. "
    "It "
    "contains two thiols, at least one of which has a low pKa. \n";
const char* const kDithiolNote =
    " \n This run assumes that the Hg-coordinating molecule is a dithiol (like dithiotheitol). It "
    "contains two thiols, with pKas around 10.4 \n";
const char* const kMonothiolNote =
    " \n This run assumes that the Hg-coordinating molecule is a monothiol, like cysteine or "
    "reduced "
    "glutathione. \n";
const char* const kMonothiolScalingNote =
    " \n The bimolecular steps with activation DeltaG < 4 (i.e. theoretically faster than a "
    "diffusion-controlled reaction in water can be) have been changed to 4kcal.mol-1.  The "
    "corresponding reverse step was corrected in the same way, so that k1/k-1 (i.e. the "
    "equilibrium constant) does not change. Affected reaction rates are k5, k6, k9,k10, k13, k14, "
    "k29 and k30. \n";

// Eyring relation at 298 K, in the documented order of operations.
double eyring_constant(double barrier) {
  const double x = ((barrier * 4184) / 8.314) / 298;
  return std::exp(-x) * 6209352739000.001;
}

// One invocation's arguments, kept as the texts typed.
struct RunSetup {
  std::string organomercurial;  // empty: normal mode (46 arguments)
  std::string target2 = "10";
  std::string initial_timestep = "1e-6";
  std::string pH = "7.4";
  std::string molecule_type = "2";
  std::string wanted_time = "0";
  std::string enzyme = "1e-6";
  std::string acceptor = "1e-3";
  std::vector<std::string> barriers;  // 38
  std::string trace_name = "run.trace";

  std::vector<std::string> arguments() const {
    std::vector<std::string> words;
    if (!organomercurial.empty()) words.push_back(organomercurial);
    for (const std::string* w :
         {&target2, &initial_timestep, &pH, &molecule_type, &wanted_time, &enzyme, &acceptor}) {
      words.push_back(*w);
    }
    words.insert(words.end(), barriers.begin(), barriers.end());
    words.push_back(trace_name);
    return words;
  }
  double number(const std::string& text) const { return std::strtod(text.c_str(), nullptr); }
  double type() const { return number(molecule_type); }
  bool organo() const { return !organomercurial.empty(); }
};

// Rate constants as the run should use them: Eyring, the monothiol factor on
// steps 5, 9, 13, 29 and 35 (both directions), and the 60 kcal/mol cut-off.
std::vector<double> expected_rate_constants(const RunSetup& setup) {
  std::vector<double> k(39, 0.0);
  for (int i = 1; i <= 38; ++i) k[i] = eyring_constant(setup.number(setup.barriers[i - 1]));
  if (setup.type() == 3) {
    for (int i : {5, 6, 9, 10, 13, 14, 29, 30, 35, 36}) k[i] *= 0.001165;
  }
  for (int i = 1; i <= 38; ++i) {
    if (setup.number(setup.barriers[i - 1]) > 60) k[i] = 0;
  }
  return k;
}

std::string run_parameter_lines(const RunSetup& setup) {
  const double enzyme = setup.organo() ? 0.0 : setup.number(setup.enzyme);
  return format(" \n  \n  \n Run parameters \n Enzyme=%5.2e \n Substrate=%5.2e \n", enzyme,
                setup.number(setup.acceptor));
}

std::string expected_trace_file(const RunSetup& setup) {
  const std::vector<double> k = expected_rate_constants(setup);
  std::string text = " \n  tolvanex \n" + run_parameter_lines(setup);
  if (setup.type() == 3) text += std::string(kMonothiolNote) + kMonothiolScalingNote;
  if (setup.type() == 1) text += kMerANote;
  if (setup.type() == 2) text += kDithiolNote;
  for (int i = 1; i <= 38; ++i) {
    text += format("DeltaG*(%d )= %3.2e \t k%d=%6.5e\n", i, setup.number(setup.barriers[i - 1]), i,
                   k[i]);
  }
  text += format(" pH= %3.2e \t pKa_thiol= %3.2e \n", setup.number(setup.pH),
                 setup.type() == 1 ? 6.0 : 10.4);
  text += kTraceColumnHeader;
  if (setup.organo()) text += "organic product \n";
  const double enzyme = setup.organo() ? 0.0 : setup.number(setup.enzyme);
  text += format(
      "\n %12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e "
      "\t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t ",
      0.0, enzyme, setup.number(setup.acceptor), 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0,
      0.0, 0.0, 0.0, 0.0);
  if (setup.organo()) text += format("%12.10e ", 0.0);
  return text;
}

std::string expected_flux_file(const RunSetup& setup) {
  const std::vector<double> k = expected_rate_constants(setup);
  std::string text = format("\n\n Flux analysis for run %s \n", setup.trace_name.c_str());
  text += run_parameter_lines(setup);
  for (int i = 1; i <= 38; ++i) {
    text += format("DeltaG*(%d) = %3.2e \t k%d=%6.5e\n", i, setup.number(setup.barriers[i - 1]), i,
                   k[i]);
  }
  text += kFluxColumnHeader;
  text += format(
      "%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
      "%6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
      "%6.5e \t ",
      0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0,
      0.0, 0.0);
  return text;
}

std::string expected_console(const RunSetup& setup) {
  if (!setup.organo()) return "";
  return format("\n PHMB= %12.10e 7 \t MerB=%12.10e \n", setup.number(setup.organomercurial),
                setup.number(setup.enzyme)) +
         "I will write organic product \n";
}

// The argument set of an example file, with the wanted time and trace name replaced.
RunSetup from_example(const std::string& example, const std::string& wanted_time) {
  const std::vector<std::string> words =
      read_argument_file(std::string(kSourceDir) + "/examples/" + example);
  EXPECT_TRUE(words.size() == 46 || words.size() == 47) << example;
  RunSetup setup;
  std::size_t at = 0;
  if (words.size() == 47) setup.organomercurial = words[at++];
  setup.target2 = words[at++];
  setup.initial_timestep = words[at++];
  setup.pH = words[at++];
  setup.molecule_type = words[at++];
  ++at;  // the example's own wanted time
  setup.wanted_time = wanted_time;
  setup.enzyme = words[at++];
  setup.acceptor = words[at++];
  setup.barriers.assign(words.begin() + static_cast<long>(at),
                        words.begin() + static_cast<long>(at) + 38);
  return setup;
}

// Barriers that exercise the Eyring relation across its range: 0, a negative
// one, the 60 kcal/mol edge and just above it, and everyday values.
std::vector<std::string> assorted_barriers() {
  return {"0",    "4",  "10",  "15",   "20",    "60",  "60.001", "-1",  "12.5", "18",
          "3.25", "22", "0.5", "61",   "17.75", "9",   "13",     "21",  "8.8",  "16",
          "11",   "19", "7",   "23",   "14",    "100", "5.5",    "2",   "1.5",  "60.5",
          "6",    "24", "2.7", "21.9", "15.6",  "21",  "14.3",   "16.9"};
}

void expect_set_up_only(const RunSetup& setup, const ProgramRun& run, const std::string& label) {
  SCOPED_TRACE(label);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.standard_output, expected_console(setup));
  EXPECT_EQ(run.file(setup.trace_name), expected_trace_file(setup));
  EXPECT_EQ(run.file("flux_analysis.txt"), expected_flux_file(setup));
}

// The printed constants quoted for a few barriers pin down the relation used above.
TEST(OutputFiles, EyringConstantsMatchTheQuotedValues) {
  const std::pair<double, const char*> quoted[] = {
      {0, "6.20935e+12"},  {4, "7.23414e+09"},  {10, "2.87672e+05"}, {15, "6.19189e+01"},
      {20, "1.33275e-02"}, {60, "6.13981e-32"}, {-1, "3.36094e+13"}};
  for (const auto& [barrier, printed] : quoted) {
    EXPECT_EQ(format("%6.5e", eyring_constant(barrier)), printed) << barrier;
  }
  EXPECT_EQ(format("%6.5e", eyring_constant(0) * 0.001165), "7.23390e+09");
}

// wanted_time 0: the two files hold exactly their set-up part, for every
// kind of acceptor and in organomercurial mode, in both programs.
TEST(OutputFiles, SetUpPartIsExactForEveryMoleculeType) {
  std::vector<std::pair<std::string, RunSetup>> cases;
  cases.emplace_back("MerA example", from_example("mera.args", "0"));
  cases.emplace_back("dithiothreitol example", from_example("dithiothreitol.args", "0"));
  cases.emplace_back("glutathione example", from_example("glutathione.args", "0"));
  cases.emplace_back("organomercurial example", from_example("organomercurial.args", "0"));
  RunSetup assorted;
  assorted.barriers = assorted_barriers();
  for (const char* type : {"1", "1.0", "2", "3", "7", "1.5"}) {
    RunSetup s = assorted;
    s.molecule_type = type;
    s.pH = "6.8";
    cases.emplace_back(std::string("assorted barriers, type ") + type, s);
  }
  RunSetup organo_monothiol = assorted;
  organo_monothiol.organomercurial = "3.5e-6";
  organo_monothiol.molecule_type = "3";
  organo_monothiol.enzyme = "2.5e-7";
  organo_monothiol.acceptor = "4e-4";
  organo_monothiol.trace_name = "organo monothiol.trace";
  cases.emplace_back("organomercurial, monothiol", organo_monothiol);

  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (const auto& [label, setup] : cases) {
      const ProgramRun run = run_program_in(program, setup.arguments());
      expect_set_up_only(setup, run, std::string(program) + ": " + label);
      if (setup.type() == 1 || setup.type() == 2 || setup.type() == 3) {
        EXPECT_EQ(run.standard_error, "") << label;
      }
    }
  }
}

// A few figures of the set-up part, checked on their own so that a failure
// names what is wrong.
TEST(OutputFiles, SetUpFiguresOfTheTraceFile) {
  RunSetup setup;
  setup.barriers = assorted_barriers();
  for (const auto& [type, pka] :
       std::vector<std::pair<std::string, std::string>>{{"1", "6.00e+00"},
                                                        {"1.0", "6.00e+00"},
                                                        {"2", "1.04e+01"},
                                                        {"3", "1.04e+01"},
                                                        {"7", "1.04e+01"}}) {
    setup.molecule_type = type;
    const ProgramRun run = run_program_in(kFullProgram, setup.arguments());
    const std::string trace = run.file(setup.trace_name);
    EXPECT_NE(trace.find(" pH= 7.40e+00 \t pKa_thiol= " + pka + " \n"), std::string::npos) << type;
    // The constants quoted for the assorted barriers, and the cut-off above 60.
    // Step 6 is one of the pairs a monothiol scales.
    const std::string k6_line =
        type == "3" ? format("DeltaG*(6 )= 6.00e+01 \t k6=%6.5e\n", eyring_constant(60) * 0.001165)
                    : "DeltaG*(6 )= 6.00e+01 \t k6=6.13981e-32\n";
    for (const std::string& line :
         {std::string("DeltaG*(1 )= 0.00e+00 \t k1=6.20935e+12\n"),
          std::string("DeltaG*(2 )= 4.00e+00 \t k2=7.23414e+09\n"), k6_line,
          std::string("DeltaG*(7 )= 6.00e+01 \t k7=0.00000e+00\n"),
          std::string("DeltaG*(8 )= -1.00e+00 \t k8=3.36094e+13\n")}) {
      EXPECT_NE(trace.find(line), std::string::npos) << type << ": " << line;
    }
    // Only the trace file carries molecule notes; the flux file never does.
    EXPECT_EQ(run.file("flux_analysis.txt").find("This run assumes"), std::string::npos);
    const std::size_t notes = trace.find("This run assumes");
    if (type == "7") {
      EXPECT_EQ(notes, std::string::npos);
      EXPECT_NE(trace.find(" \n Substrate=1.00e-03 \nDeltaG*(1 )="), std::string::npos);
    } else {
      EXPECT_LT(notes, trace.find("DeltaG*(1 )="));
    }
  }
  // Monothiol: the ten scaled constants, k35 and k36 among them, though the note names eight.
  setup.molecule_type = "3";
  const ProgramRun run = run_program_in(kFullProgram, setup.arguments());
  const std::string trace = run.file(setup.trace_name);
  EXPECT_NE(
      trace.find(format("DeltaG*(35 )= 1.56e+01 \t k35=%6.5e\n", eyring_constant(15.6) * 0.001165)),
      std::string::npos);
  EXPECT_NE(
      trace.find(format("DeltaG*(36 )= 2.10e+01 \t k36=%6.5e\n", eyring_constant(21) * 0.001165)),
      std::string::npos);
  EXPECT_NE(trace.find("DeltaG*(30 )= 6.05e+01 \t k30=0.00000e+00\n"), std::string::npos);
  EXPECT_NE(trace.find(format("DeltaG*(31 )= 6.00e+00 \t k31=%6.5e\n", eyring_constant(6))),
            std::string::npos);
}

// A wanted time of 0, below 0 or not a number at all runs no block.
TEST(OutputFiles, NoBlockRunsWithoutAPositiveWantedTime) {
  for (const char* wanted : {"0", "-3", "none"}) {
    for (const char* example : {"mera.args", "organomercurial.args"}) {
      RunSetup setup = from_example(example, wanted);
      const ProgramRun run = run_program_in(kFullProgram, setup.arguments());
      expect_set_up_only(setup, run, std::string(example) + " wanted " + wanted);
    }
  }
}

// Files that exist are appended to: unrelated contents stay, a second run
// with the same trace name adds its whole output after the first one, and
// the flux file gathers one table per run, each under its own run line.
TEST(OutputFiles, RunsAppendToExistingFiles) {
  RunSetup setup = from_example("dithiothreitol.args", "0");
  setup.trace_name = "shared.trace";
  const std::string folder = make_fresh_folder();
  const std::string old_trace = "notes kept from before\n";
  const std::string old_flux = "\n\n Flux analysis for run elsewhere.trace \n 1 2 3";
  write_file(folder + "/shared.trace", old_trace);
  write_file(folder + "/flux_analysis.txt", old_flux);

  run_program_in(kFullProgram, setup.arguments(), folder);
  run_program_in(kUnprunedProgram, setup.arguments(), folder);
  RunSetup other = from_example("organomercurial.args", "0");
  other.trace_name = "other.trace";
  const ProgramRun last = run_program_in(kFullProgram, other.arguments(), folder);

  EXPECT_EQ(last.file("shared.trace"),
            old_trace + expected_trace_file(setup) + expected_trace_file(setup));
  EXPECT_EQ(last.file("other.trace"), expected_trace_file(other));
  EXPECT_EQ(
      last.file("flux_analysis.txt"),
      old_flux + expected_flux_file(setup) + expected_flux_file(setup) + expected_flux_file(other));
}

// The same with runs that do run blocks: the second run's part of each file
// is exactly what that run writes into an empty folder, so nothing of the
// first run leaks into the second and nothing already written is changed.
TEST(OutputFiles, RunsWithBlocksAppendTheirWholeOutput) {
  RunSetup setup = from_example("organomercurial.args", "0.003");
  setup.trace_name = "results/kinetics.trace";
  const std::string folder = make_fresh_folder();
  std::filesystem::create_directory(folder + "/results");
  const ProgramRun first = run_program_in(kFullProgram, setup.arguments(), folder);
  const std::string first_trace = first.file("results/kinetics.trace");
  const std::string first_flux = first.file("flux_analysis.txt");
  ASSERT_TRUE(first_trace.starts_with(expected_trace_file(setup)));
  ASSERT_TRUE(first_flux.starts_with(expected_flux_file(setup)));
  ASSERT_GT(first_flux.size(), expected_flux_file(setup).size()) << "no block row was written";
  EXPECT_FALSE(first.has_file("results/flux_analysis.txt"));

  const ProgramRun second = run_program_in(kFullProgram, setup.arguments(), folder);
  const std::string fresh = make_fresh_folder();
  std::filesystem::create_directory(fresh + "/results");
  const ProgramRun alone = run_program_in(kFullProgram, setup.arguments(), fresh);

  EXPECT_EQ(second.file("results/kinetics.trace"),
            first_trace + alone.file("results/kinetics.trace"));
  EXPECT_EQ(second.file("flux_analysis.txt"), first_flux + alone.file("flux_analysis.txt"));
  const std::string run_line = "\n\n Flux analysis for run results/kinetics.trace \n";
  const std::string flux = second.file("flux_analysis.txt");
  const std::size_t first_line = flux.find(run_line);
  EXPECT_EQ(first_line, 0u);
  EXPECT_EQ(flux.find(run_line, first_line + 1), first_flux.size());
  EXPECT_EQ(second.standard_output, alone.standard_output);
}

}  // namespace
}  // namespace tolvanex::testing
