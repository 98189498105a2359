// A wrong argument count prints the usage text and touches no file.
#include <gtest/gtest.h>

#include "support/program_runner.h"

namespace tolvanex::testing {
namespace {

const std::string kUsageTail =
    " arguments, instead of 46 or 47 . \nYou should run the program with the following "
    "syntax:\ntolvanex [concentration of organomercurial (optional)] [number of steps with "
    "timestep tightening] [initial_timestep][pH] [type of molecule] [how many seconds of kinetic "
    "information you want] [HgMerB (or free MerB) concentration] [concentration of the "
    "Hg-removing molecules tested] [barriers in kcal.mol-1 for the 38 reaction steps] [name of "
    "output file]\n Type of molecule is : 1 for MerA, 2 for dithiothreitol, 3 for GSH";

TEST(Usage, WrongCountsPrintUsageAndCreateNoFile) {
  for (const char* program : {kFullProgram, kUnprunedProgram}) {
    for (int count : {0, 1, 45, 48, 100}) {
      std::vector<std::string> arguments;
      for (int i = 0; i < count; ++i) arguments.push_back(i + 1 == count ? "usage.trace" : "1");
      const ProgramRun run = run_program_in(program, arguments);
      EXPECT_EQ(run.exit_status, 0) << count;
      EXPECT_EQ(run.standard_output, "You have " + std::to_string(count) + kUsageTail) << count;
      EXPECT_FALSE(run.has_file("usage.trace")) << count;
      EXPECT_FALSE(run.has_file("flux_analysis.txt")) << count;
    }
  }
}

}  // namespace
}  // namespace tolvanex::testing
