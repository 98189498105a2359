#include "report/console_messages.h"

#include <cstdlib>

#include "setup/run_parameters.h"

namespace tolvanex {
namespace {
const char* const kSeparator =
    "\n*************************************************************** \n";
}  // namespace

namespace {
const char* const kSyntax =
    "You should run the program with the following syntax:\ntolvanex [concentration of "
    "organomercurial (optional)] [number of steps with timestep tightening] "
    "[initial_timestep][pH] [type of molecule] [how many seconds of kinetic information you "
    "want] [HgMerB (or free MerB) concentration] [concentration of the Hg-removing molecules "
    "tested] [barriers in kcal.mol-1 for the 38 reaction steps] [name of output file]\n Type "
    "of molecule is : 1 for MerA, 2 for dithiothreitol, 3 for GSH";
}  // namespace

void print_usage(int user_argument_count, std::FILE* console) {
  std::fprintf(console, "You have %d arguments, instead of 46 or 47 . \n", user_argument_count);
  std::fputs(kSyntax, console);
}

void print_help(std::FILE* console) {
  std::fputs(kSyntax, console);
  std::fputs("\n", console);
}

void print_version(const char* program_name, std::FILE* console) {
  std::fprintf(console, "%s %s\n", program_name, TOLVANEX_VERSION);
}

void warn_non_numeric_arguments(int user_argument_count, const char* const* user_arguments) {
  for (int i = 0; i < user_argument_count; ++i) {
    const int from_end = user_argument_count - i;
    const char* text = user_arguments[i];
    if (from_end == kTraceArgument || is_whole_number(text)) continue;
    const ArgumentMeaning meaning = argument_meaning(from_end);
    char name[24];
    if (meaning.step != 0) {
      std::snprintf(name, sizeof name, "%s %d", meaning.name, meaning.step);
    } else {
      std::snprintf(name, sizeof name, "%s", meaning.name);
    }
    std::fprintf(stderr, "tolvanex: warning: argument %d (%s) is \"%s\", not a number; it is read as %g\n",
                 i + 1, name, text, std::atof(text));
  }
}

void print_organomercurial_start(double PHMB, double MerB, std::FILE* console) {
  std::fprintf(console, "\n PHMB= %12.10e 7 \t MerB=%12.10e \n", PHMB, MerB);
}

void warn_unknown_molecule_type(double molecule_type) {
  std::fprintf(stderr,
               "tolvanex: warning: type of molecule %g is none of 1 (MerA), 2 (dithiol) or 3 "
               "(monothiol); the acceptor takes part in no reaction\n",
               molecule_type);
}

void print_first_amount(Species x, double amount, std::FILE* console) {
  std::fprintf(console, "\n\n  first amount of %s is %5.3e \n\n", info(x).label, amount);
}

void print_overshoot(double maxratio, double timestep, double target, std::FILE* console) {
  std::fprintf(console,
               "S was overshooting initial amount!!!  maxratio=    %5.3e  new timestep= %5.3e "
               "target= %5.3e \n",
               maxratio, timestep, target);
}

void print_product_report(double time, std::FILE* console) {
  std::fputs(kSeparator, console);
  std::fprintf(console,
               "\n Product changed significantly. printed new data at time  %5.4e     \n  ", time);
}

void print_A_report(double time, std::FILE* console) {
  std::fprintf(console,
               "\n*************************************************************** \nA has "
               "changed significantly. printed new data at time  %5.4e      \n  ",
               time);
}

void print_time_report(std::FILE* console) { std::fputs(kSeparator, console); }

void write_negative_amount(double time, std::FILE* trace) {
  std::fprintf(trace,
               " \n  \n  \n  Error: computations yield negative concentrations of intermediates "
               "or free amounts of substrate larger than the inicial ones\n ");
  std::fprintf(trace, "elapsed time is %12.9e  \n ", time);
}

void print_basic_timestep_change(bool increased, double basic_timestep, std::FILE* console) {
  std::fprintf(console, "\n Basic Timestep has been %s to %4.3e",
               increased ? "increased" : "decreased", basic_timestep);
}

void print_stop(StopMessage message, double t, double R, std::FILE* console) {
  switch (message) {
    case StopMessage::Converted:
      std::fputs(
          "\n. Substrate has been almost completely converted.  The computation has therefore "
          "been stopped\n",
          console);
      break;
    case StopMessage::ConvertedAndStable:
      std::fputs(
          "\n. Substrate has been almost completely converted. Extending the simulation to twice "
          "the current time would change P by less than 0.5 percent of present product "
          "concentration. The computation has therefore been stopped\n",
          console);
      break;
    case StopMessage::Stable:
      std::fputs(
          "\nExtending the simulation to twice the current time would change P by less than 0.5 "
          "percent of present product concentration. The computation has therefore been "
          "stopped\n",
          console);
      break;
    case StopMessage::StableAfter2500Million:
      std::fprintf(console,
                   "\nMore than 2500 million iterations have been performed for a total elapsed "
                   "time of %4.2e s.\n  Extending the simulation to twice the current time would "
                   "change P by less than 1 percent of present product concentration. The "
                   "computation has therefore been stopped\n",
                   t);
      break;
    case StopMessage::StableAfter3000Million:
      std::fprintf(console,
                   "\nMore than 3000 million iterations have been performed for a total elapsed "
                   "time of %4.2e s.\n  Extending the simulation to twice the current time would "
                   "change P by less than 2 percent of present product concentration. The "
                   "computation has therefore been stopped\n",
                   t);
      break;
    case StopMessage::StableAfter10000Million:
      std::fprintf(console,
                   "\nMore than 10000 million iterations have been performed for a total elapsed "
                   "time of %4.2e s.\n Extending the simulation to twice the current time would "
                   "change P by less than 3 percent of present product concentration. The "
                   "computation has therefore been stopped\n",
                   t);
      break;
    case StopMessage::IterationLimit:
      std::fprintf(console,
                   "\nMore than 30000 million iterations have been performed for a total elapsed "
                   "time of %4.2e s.\n Extra %4.2e seconds of kinetic information would change P "
                   "by at most  %4.2e mol/L. The computation has been stopped to avoid wasting "
                   "CPU resources.\n",
                   t, t, R * t);
      break;
    case StopMessage::TimeStandsStill:
      std::fputs(
          "\nSimulated time did not advance during the last block. The computation has "
          "therefore been stopped\n",
          console);
      break;
  }
}

void report_interruption() {
  std::fprintf(stderr, "tolvanex: interrupted; stopped after the current block\n");
}

}  // namespace tolvanex
