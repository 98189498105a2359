// The messages of a run outside the block report: the usage text, set-up
// notes, what the step rules and the guard found during a block, the Basic
// Timestep's changes and the stops between blocks.
#pragma once

#include <cstdio>

#include "model/species.h"

namespace tolvanex {

// The usage text for a wrong number of user arguments (no line end at its end).
void print_usage(int user_argument_count, std::FILE* console);

// The same syntax for --help, without the count and with a line end.
void print_help(std::FILE* console);

// "NAME VERSION" and a line end, for --version.
void print_version(const char* program_name, std::FILE* console);

// On standard error, one line for each numeric argument that is not wholly a
// number, with its position in the list as given, its meaning and the value
// atof reads from it. The count must be a valid one.
void warn_non_numeric_arguments(int user_argument_count, const char* const* user_arguments);

// Organomercurial mode: the starting amounts of PHMB and MerB.
void print_organomercurial_start(double PHMB, double MerB, std::FILE* console);

// On standard error: a type of molecule without acceptor chemistry.
void warn_unknown_molecule_type(double molecule_type);

// During a block, in the order the iteration found them.
void print_first_amount(Species x, double amount, std::FILE* console);
void print_overshoot(double maxratio, double timestep, double target, std::FILE* console);
void print_product_report(double time, std::FILE* console);
void print_A_report(double time, std::FILE* console);
void print_time_report(std::FILE* console);
// In the trace file: the state went negative.
void write_negative_amount(double time, std::FILE* trace);

// Between blocks.
void print_basic_timestep_change(bool increased, double basic_timestep, std::FILE* console);

// The stops between blocks, in the order in which they are tested.
enum class StopMessage {
  Converted,                 // P above 99 % of A0
  ConvertedAndStable,        // MerA: P above 98 % of A0 and hardly growing
  Stable,                    // P above 20 % of A0 and hardly growing
  StableAfter2500Million,    // the three looser bounds of long runs
  StableAfter3000Million,
  StableAfter10000Million,
  IterationLimit,            // 3e10 iterations
  TimeStandsStill,           // a block did not move the simulated time
};
// t: the simulated time, R: P's rate of change over the last block.
void print_stop(StopMessage message, double t, double R, std::FILE* console);

// On standard error, after the files are closed.
void report_interruption();

}  // namespace tolvanex
