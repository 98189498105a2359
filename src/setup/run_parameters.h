// Run parameters: everything a run takes from its command line, read-only
// once set up.
//
// A run is 46 positional arguments, or 47 with a leading organomercurial
// concentration. Positions count from the end of the list, so the optional
// first argument shifts nothing. Every number is read the way atof reads it:
// leading blanks skipped, the longest leading number taken (decimal, hex,
// inf, nan), the rest ignored, and text with no number at all gives 0.
#pragma once

#include <array>
#include <cstddef>

namespace tolvanex {

inline constexpr int kStepCount = 38;  // elementary steps with a barrier each

struct RunParameters {
  bool organomercurial = false;  // 47 arguments were given
  double PHMB0 = 0;              // mol/L, organomercurial substrate
  double target2 = 0;            // iterations per block with timestep tightening
  double initial_timestep = 0;   // s, first Basic Timestep
  double pH = 0;
  double MoleculeType = 0;                      // 1 MerA, 2 dithiol, 3 monothiol (compared exactly)
  double pKa_thiol = 0;                         // 6 for MerA, else 10.4
  double wanted_time = 0;                       // s, simulated time wanted
  double A0 = 0;                                // mol/L, enzyme concentration
  double A_report_step = 0;                     // 0.01 x A0
  double P_report_step = 0;                     // 0.001 x A0
  double S0 = 0;                                // mol/L, acceptor concentration
  std::array<double, kStepCount + 1> DeltaG{};  // kcal/mol, [1]..[38]; [0] unused
  const char* trace_file_name = "";
};

// The argument counts the program accepts (not counting its own name).
inline constexpr int kPlainArgumentCount = 46;
inline constexpr int kOrganomercurialArgumentCount = 47;

inline bool is_valid_argument_count(int user_argument_count) {
  return user_argument_count == kPlainArgumentCount ||
         user_argument_count == kOrganomercurialArgumentCount;
}

// The user arguments by their position from the end, and their short names
// (those of the usage synopsis); 2 to 39 are the barriers of steps 38 to 1.
enum ArgumentFromEnd : int {
  kTraceArgument = 1,
  kLastBarrierArgument = 2,
  kFirstBarrierArgument = 39,
  kAcceptorArgument = 40,
  kEnzymeArgument = 41,
  kWantedTimeArgument = 42,
  kTypeArgument = 43,
  kPHArgument = 44,
  kTimestepArgument = 45,
  kTarget2Argument = 46,
  kOrganomercurialArgument = 47,
};
inline constexpr std::array<const char*, kOrganomercurialArgument - kAcceptorArgument + 1>
    kNamedNumberArguments = {"acceptor", "enzyme",   "wanted_time", "type",
                             "pH",       "timestep", "target2",     "organomercurial"};

// What an argument is: a name, or for a barrier "barrier" and its step.
struct ArgumentMeaning {
  const char* name;
  int step;  // 1 to 38 for a barrier, else 0
};
inline ArgumentMeaning argument_meaning(int position_from_end) {
  if (position_from_end == kTraceArgument) return {"trace", 0};
  if (position_from_end <= kFirstBarrierArgument) {
    return {"barrier", kFirstBarrierArgument + 1 - position_from_end};
  }
  return {kNamedNumberArguments[static_cast<std::size_t>(position_from_end - kAcceptorArgument)], 0};
}

// The whole text is one number as atof reads it (decimal or hexadecimal,
// inf or nan, after optional blanks and a sign), with nothing after it.
bool is_whole_number(const char* text);

// Converts the user arguments (the program's name excluded) into a filled
// record. The count must already have been checked with is_valid_argument_count.
RunParameters parse_run_parameters(int user_argument_count, const char* const* user_arguments);

// Molecule types that have an acceptor chemistry.
inline bool is_mera(double molecule_type) { return molecule_type == 1; }
inline bool is_dithiol(double molecule_type) { return molecule_type == 2; }
inline bool is_monothiol(double molecule_type) { return molecule_type == 3; }
inline bool has_known_acceptor(double molecule_type) {
  return is_mera(molecule_type) || is_dithiol(molecule_type) || is_monothiol(molecule_type);
}

}  // namespace tolvanex
