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
