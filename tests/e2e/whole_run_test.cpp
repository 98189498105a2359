// Whole runs of both programs, read back from the console, the trace file
// and the flux file: the layout of every row and report, the agreement of
// the three outputs with each other, the sums the reaction network keeps
// constant, the block loop's bookkeeping and its stop, and what sets the
// full build (negligible net fluxes pruned) apart from the unpruned one.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
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
  if (length < 0 || length >= static_cast<int>(sizeof buffer)) throw std::runtime_error("format");
  return std::string(buffer);
}

std::string shown(std::string_view text, std::size_t limit = 160) {
  std::string out;
  for (char c : text.substr(0, limit)) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Fixed texts of the outputs.

const std::string kSeparator =
    "\n*************************************************************** \n";
const std::string kTraceColumnHeaderEnd = "Hg(SCH3)2   \t  Anionic  Int2 C96-bound\t ";
const std::string kFluxColumnHeaderEnd = "   flux37      \t  flux39 \n     ";
const std::string kConvertedMessage =
    "\n. Substrate has been almost completely converted.  The computation has therefore been "
    "stopped\n";
const std::string kMerAConvergedMessage =
    "\n. Substrate has been almost completely converted. Extending the simulation to twice the "
    "current time would change P by less than 0.5 percent of present product concentration. The "
    "computation has therefore been stopped\n";
const std::string kConvergedMessage =
    "\nExtending the simulation to twice the current time would change P by less than 0.5 "
    "percent of present product concentration. The computation has therefore been stopped\n";

// Ratio lines come in this order, each only for a falling species.
const std::vector<std::string> kRatioOrder = {"A",  "thiol", "thiolate", "C", "D", "E", "F",
                                              "G",  "I",     "J",        "K", "L", "M", "N",
                                              "O1", "O2",    "O3",       "P", "Q"};
// Change lines: the organomercurial four (that mode only), then these.
const std::vector<std::string> kOrganoChangeOrder = {"MerB", "ES", "PHMB", "organic"};
const std::vector<std::string> kChangeOrder = {"A", "S", "C", "D", "E", "F", "G",  "I",  "J",
                                               "K", "L", "M", "N", "P", "Q", "O3", "O2", "O1"};
// Trace columns after the time.
const std::vector<std::string> kTraceColumns = {"A", "S", "C", "D", "E", "F",       "G", "I",
                                                "J", "K", "L", "M", "N", "apoMerB", "P", "Q"};

// ---------------------------------------------------------------------------
// A cursor over console text that accepts only the documented literals.

class Cursor {
 public:
  explicit Cursor(const std::string& text, std::size_t position = 0)
      : text_(text), position_(position) {}

  bool take(std::string_view literal) {
    if (std::string_view(text_).substr(position_).starts_with(literal)) {
      position_ += literal.size();
      return true;
    }
    return false;
  }
  void expect(std::string_view literal) {
    if (!take(literal)) fail("expected \"" + shown(literal) + "\"");
  }
  // A printf %e number, possibly padded with blanks on the left.
  double number(std::string* as_printed = nullptr) {
    while (position_ < text_.size() && text_[position_] == ' ') ++position_;
    const char* begin = text_.c_str() + position_;
    if (*begin == '\n' || *begin == '\t' || *begin == '\0') fail("expected a number");
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin) fail("expected a number");
    if (as_printed) as_printed->assign(begin, static_cast<std::size_t>(end - begin));
    position_ += static_cast<std::size_t>(end - begin);
    return value;
  }
  // A printf %9d field.
  long integer_field(std::size_t width) {
    if (position_ + width > text_.size()) fail("expected an integer field");
    const std::string field = text_.substr(position_, width);
    char* end = nullptr;
    const long value = std::strtol(field.c_str(), &end, 10);
    if (*end != '\0' || field.find_first_not_of(' ') == std::string::npos) {
      fail("expected a " + std::to_string(width) + "-wide integer");
    }
    position_ += width;
    return value;
  }
  std::string label() {
    const std::size_t start = position_;
    while (position_ < text_.size() && std::isalnum(static_cast<unsigned char>(text_[position_]))) {
      ++position_;
    }
    if (start == position_) fail("expected a label");
    return text_.substr(start, position_ - start);
  }
  bool at_end() const { return position_ == text_.size(); }
  std::size_t position() const { return position_; }
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(what + " at offset " + std::to_string(position_) + ": \"" +
                             shown(std::string_view(text_).substr(position_)) + "\"");
  }

 private:
  const std::string& text_;
  std::size_t position_;
};

// ---------------------------------------------------------------------------
// The console: block reports and what is printed between them.

struct Change {
  double change = 0;  // derivative x dt
  double value = 0;
  std::string value_text;
};

struct BlockReport {
  std::vector<std::string> ratio_labels;
  std::vector<double> ratio_values;
  double total_iterations = 0;
  std::string total_iterations_text;
  double total_time = 0;
  double timestep = 0;
  double time = 0;
  std::string time_text;
  std::map<std::string, Change> changes;
  std::array<double, 19> flux{};
  std::array<std::string, 19> flux_text;
  std::array<double, 19> total{};
  std::array<std::string, 19> total_text;
  double rate_of_change_of_P = 0;
  long iterations = 0;
  double elapsed = 0;
  bool long_variant = false;
  long tightening_iterations = 0;
  long extra_cycles = 0;
  double average_timestep = 0;
  double average_time = 0;
  double target2 = 0;
};

// Console text printed during a block, before its report (and, at its head,
// the Basic Timestep message of the block before).
struct Interlude {
  std::string basic_timestep_change;  // "", "decreased" or "increased"
  std::string basic_timestep_text;
  std::vector<std::string> first_amounts;
  std::string guard_report;  // "", "product", "A" or "time"
  std::string guard_time_text;
};

const std::string kDecreased = "\n Basic Timestep has been decreased to ";
const std::string kIncreased = "\n Basic Timestep has been increased to ";

void read_basic_timestep_message(Cursor& c, Interlude& out) {
  for (const auto& [text, kind] : {std::pair{kDecreased, "decreased"}, {kIncreased, "increased"}}) {
    if (c.take(text)) {
      out.basic_timestep_change = kind;
      c.number(&out.basic_timestep_text);
      return;
    }
  }
}

Interlude read_interlude(const std::string& text) {
  Interlude out;
  Cursor c(text);
  read_basic_timestep_message(c, out);
  while (!c.at_end()) {
    if (c.take("\n\n  first amount of ")) {
      out.first_amounts.push_back(c.label());
      c.expect(" is ");
      std::string amount;
      c.number(&amount);
      if (amount != "1.000e-39") c.fail("first amount " + amount);
      c.expect(" \n\n");
    } else if (c.take("S was overshooting initial amount!!!  maxratio=    ")) {
      c.number();
      c.expect("  new timestep= ");
      c.number();
      c.expect(" target= ");
      c.number();
      c.expect(" \n");
    } else if (c.take(kSeparator)) {
      if (c.take("\n Product changed significantly. printed new data at time  ")) {
        out.guard_report = "product";
        c.number(&out.guard_time_text);
        c.expect("     \n  ");
      } else if (c.take("A has changed significantly. printed new data at time  ")) {
        out.guard_report = "A";
        c.number(&out.guard_time_text);
        c.expect("      \n  ");
      } else {
        out.guard_report = "time";
      }
      if (!c.at_end()) c.fail("a report must end its block");
    } else {
      c.fail("unexpected console text");
    }
  }
  return out;
}

BlockReport read_block_report(Cursor& c, bool organomercurial) {
  BlockReport r;
  c.expect(kSeparator);
  std::size_t next_ratio = 0;
  while (c.take("ratio")) {
    const std::string species = c.label();
    std::size_t index = next_ratio;
    while (index < kRatioOrder.size() && kRatioOrder[index] != species) ++index;
    if (index == kRatioOrder.size()) c.fail("ratio line for " + species + " out of order");
    next_ratio = index + 1;
    c.expect(" is   ");
    r.ratio_labels.push_back(species);
    r.ratio_values.push_back(c.number());
    c.expect("    \n  ");
  }
  if (c.take("\nThe latest step decreased the species with the highest ratio by at most ")) {
    c.number();
    c.expect(" of its present value.");
  }
  c.expect("\n total iterations ");
  r.total_iterations = c.number(&r.total_iterations_text);
  c.expect(" . total time ");
  r.total_time = c.number();
  c.expect(" seconds.   \n Maxratio is= ");
  c.number();
  c.expect("   timestep is  ");
  r.timestep = c.number();
  c.expect("  seconds \n ");
  c.expect("\n time = ");
  r.time = c.number(&r.time_text);
  c.expect(" \n ");
  std::vector<std::string> order;
  if (organomercurial) order = kOrganoChangeOrder;
  order.insert(order.end(), kChangeOrder.begin(), kChangeOrder.end());
  for (const std::string& species : order) {
    Change change;
    c.expect("d" + species + "= ");
    change.change = c.number();
    c.expect(" \t " + species + "= ");
    change.value = c.number(&change.value_text);
    c.expect(" \n ");
    r.changes[species] = change;
  }
  for (int j = 0; j < 19; ++j) {
    const int n = 2 * j + 1;
    c.expect("flux" + std::to_string(n) + "= ");
    r.flux[j] = c.number(&r.flux_text[j]);
    c.expect(" \t total_flux" + std::to_string(n) + "=");
    r.total[j] = c.number(&r.total_text[j]);
    c.expect("\n ");
  }
  c.expect("\n Current rate of change of P is ");
  r.rate_of_change_of_P = c.number();
  c.expect(" mol/L/s. \n");
  r.iterations = c.integer_field(9);
  c.expect("  iterations were performed for   ");
  r.elapsed = c.number();
  c.expect("  s of simulation.\n");
  if (c.take(" Average timestep is ")) {
    r.long_variant = false;
  } else {
    r.long_variant = true;
    r.tightening_iterations = c.integer_field(9);
    c.expect("  iterations included timestep tightening, using ");
    r.extra_cycles = c.integer_field(9);
    c.expect(" extra cycles.\nAverage maxratio in these iterations was ");
    c.number();
    c.expect(". \n Average timestep is ");
  }
  r.average_timestep = c.number();
  c.expect(" seconds \n ");
  c.expect("\n average time  ");
  r.average_time = c.number();
  c.expect("   target2 ");
  r.target2 = c.number();
  c.expect(" ");
  return r;
}

struct Console {
  std::string head;  // printed before the first block begins
  std::vector<BlockReport> blocks;
  std::vector<Interlude> interludes;  // interludes[k] comes right before blocks[k]
  std::string tail;                   // after the last report
};

Console read_console(const std::string& out, bool organomercurial, const std::string& head) {
  Console console;
  if (!out.starts_with(head)) throw std::runtime_error("console does not start with its head");
  console.head = head;
  std::size_t done = head.size();
  while (true) {
    const std::size_t average = out.find("\n average time  ", done);
    if (average == std::string::npos) break;
    const std::size_t start = out.rfind(kSeparator, average);
    if (start == std::string::npos || start < done)
      throw std::runtime_error("report without start");
    console.interludes.push_back(read_interlude(out.substr(done, start - done)));
    Cursor c(out, start);
    console.blocks.push_back(read_block_report(c, organomercurial));
    done = c.position();
  }
  console.tail = out.substr(done);
  return console;
}

// ---------------------------------------------------------------------------
// The two files' tables, checked against their row formats while read.

std::string time_zero_trace_row(const std::vector<double>& v) {
  return format(
      "\n %12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e "
      "\t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t ",
      v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13], v[14],
      v[15], v[16]);
}

std::string block_trace_row(const std::vector<double>& v) {
  return format(
      "\n%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e "
      "\t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e  \t %6.5e \t ",
      v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13], v[14],
      v[15], v[16]);
}

std::string block_flux_row(const std::vector<double>& v) {
  return format(
      "%12.10e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t "
      "%6.5e \t %6.5e \t %6.5e  \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e \t %6.5e  \t %6.5e\n ",
      v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13], v[14],
      v[15], v[16], v[17], v[18], v[19]);
}

std::vector<double> numbers_in(std::string_view line) {
  const std::string text(line);
  std::vector<double> values;
  const char* at = text.c_str();
  while (true) {
    char* end = nullptr;
    const double v = std::strtod(at, &end);
    if (end == at) break;
    values.push_back(v);
    at = end;
  }
  return values;
}

struct TraceRow {
  std::map<std::string, double> v;  // "time", the column labels of kTraceColumns, "organic"
};

// The rows of the trace file's table; every row is re-printed with its format
// and the result must be the file's text.
std::vector<TraceRow> read_trace_rows(const std::string& trace, bool organomercurial) {
  const std::size_t header = trace.find(kTraceColumnHeaderEnd);
  if (header == std::string::npos ||
      trace.find(kTraceColumnHeaderEnd, header + 1) != std::string::npos) {
    throw std::runtime_error("trace file must hold one column header");
  }
  std::string rest = trace.substr(header + kTraceColumnHeaderEnd.size());
  if (organomercurial) {
    if (!rest.starts_with("organic product \n")) throw std::runtime_error("no organic column");
    rest = rest.substr(17);
  }
  const std::vector<std::string> lines = split(rest, '\n');
  if (lines.size() < 2 || !lines[0].empty()) throw std::runtime_error("trace rows missing");
  std::vector<TraceRow> rows;
  std::string rebuilt;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<double> v = numbers_in(lines[i]);
    const std::size_t wanted = organomercurial ? 18 : 17;
    if (v.size() != wanted) {
      throw std::runtime_error("trace row " + std::to_string(i) + " has " +
                               std::to_string(v.size()) + " numbers: " + shown(lines[i]));
    }
    rebuilt += i == 1 ? time_zero_trace_row(v) : block_trace_row(v);
    if (organomercurial) rebuilt += format("%12.10e ", v[17]);
    TraceRow row;
    row.v["time"] = v[0];
    for (std::size_t c = 0; c < kTraceColumns.size(); ++c) row.v[kTraceColumns[c]] = v[c + 1];
    if (organomercurial) row.v["organic"] = v[17];
    rows.push_back(row);
  }
  if (rebuilt != rest) {
    std::size_t at = 0;
    while (at < rebuilt.size() && at < rest.size() && rebuilt[at] == rest[at]) ++at;
    throw std::runtime_error("trace rows do not follow their formats near \"" +
                             shown(std::string_view(rest).substr(at > 40 ? at - 40 : 0)) + "\"");
  }
  return rows;
}

// The block rows of the flux file (time and 19 totals each).
std::vector<std::vector<double>> read_flux_rows(const std::string& flux) {
  const std::size_t header = flux.find(kFluxColumnHeaderEnd);
  if (header == std::string::npos ||
      flux.find(kFluxColumnHeaderEnd, header + 1) != std::string::npos) {
    throw std::runtime_error("flux file must hold one column header");
  }
  const std::string rest = flux.substr(header + kFluxColumnHeaderEnd.size());
  std::string zeros = "0.0000000000e+00";
  for (int i = 0; i < 20; ++i) zeros += i == 12 ? "  \t 0.00000e+00" : " \t 0.00000e+00";
  zeros += " \t ";
  if (!rest.starts_with(zeros)) throw std::runtime_error("flux time-0 row: " + shown(rest));
  std::vector<std::vector<double>> rows;
  std::string rebuilt;
  std::size_t at = zeros.size();
  while (at < rest.size()) {
    const std::size_t end = rest.find('\n', at);
    if (end == std::string::npos) throw std::runtime_error("flux row without line end");
    const std::vector<double> v = numbers_in(std::string_view(rest).substr(at, end - at));
    if (v.size() != 20)
      throw std::runtime_error("flux row with " + std::to_string(v.size()) + " numbers");
    rebuilt += block_flux_row(v);
    rows.push_back(v);
    at = end + 2;  // the line end and the blank that starts the next row
  }
  if (zeros + rebuilt != rest) throw std::runtime_error("flux rows do not follow their format");
  return rows;
}

// ---------------------------------------------------------------------------
// The runs.

// 38 barriers: every forward step 12, every reverse one 18 kcal/mol, with
// some forward barriers changed.
std::vector<std::string> barriers(std::map<int, std::string> changed) {
  std::vector<std::string> b;
  for (int i = 1; i <= 38; ++i) b.push_back(changed.count(i) ? changed[i] : (i % 2 ? "12" : "18"));
  return b;
}

struct RunCase {
  std::vector<std::string> arguments;
  bool organomercurial = false;
  double PHMB0 = 0, target2 = 0, initial_timestep = 0, type = 0, wanted_time = 0, A0 = 0, S0 = 0;
  std::string trace_name;
};

RunCase make_case(std::vector<std::string> words) {
  RunCase c;
  c.arguments = words;
  c.organomercurial = words.size() == 47;
  auto from_end = [&](std::size_t k) {
    return std::strtod(words[words.size() - k].c_str(), nullptr);
  };
  if (c.organomercurial) c.PHMB0 = from_end(47);
  c.target2 = from_end(46);
  c.initial_timestep = from_end(45);
  c.type = from_end(43);
  c.wanted_time = from_end(42);
  c.A0 = from_end(41);
  c.S0 = from_end(40);
  c.trace_name = words.back();
  return c;
}

RunCase normal_case(const char* pH, const char* type, const char* wanted,
                    const std::vector<std::string>& b, const char* acceptor = "1e-3") {
  std::vector<std::string> w = {"10", "1e-6", pH, type, wanted, "1e-6", acceptor};
  w.insert(w.end(), b.begin(), b.end());
  w.push_back("run.trace");
  return make_case(w);
}

// MerA at pH 7 with a fast proton step 7 and a slow step 15, so that little
// mercury ends up in J, which the full build never releases; a dithiol and a
// monothiol at pH 7.4.
RunCase mera_case() {
  return normal_case("7.0", "1", "1000", barriers({{7, "3"}, {15, "16"}, {17, "13"}, {19, "13"}}));
}
RunCase dithiol_case(const char* wanted = "1000") {
  return normal_case("7.4", "2", wanted, barriers({{15, "13"}, {17, "13"}, {19, "13"}}));
}
RunCase monothiol_case() {
  return normal_case("7.4", "3", "1000", barriers({{15, "13"}, {17, "13"}, {19, "13"}}));
}
// A monothiol at only 20 times the enzyme, so that the printed S resolves
// the acceptor taken up by each step, with the steps that only the unpruned
// build runs (A + thiolate -> D, D -> E -> F, D -> Q, Q + thiol -> N) made
// fast. Runs for 5 s of simulated time, past the 2 s after which time
// reports begin.
RunCase backward_steps_case() {
  return normal_case("7.4", "3", "5",
                     barriers({{15, "13"},
                               {17, "13"},
                               {19, "13"},
                               {23, "10"},
                               {27, "11"},
                               {29, "8"},
                               {33, "18"},
                               {34, "12"},
                               {35, "5"}}),
                     "2e-5");
}
RunCase mera_example_case() {
  return make_case(read_argument_file(std::string(kSourceDir) + "/examples/mera.args"));
}
RunCase organomercurial_case() {
  return make_case(read_argument_file(std::string(kSourceDir) + "/examples/organomercurial.args"));
}

// ---------------------------------------------------------------------------
// Checks.

enum class Truth { False, True, Unsure };

// a > b, judged on printed values with a relative margin.
Truth greater(double a, double b) {
  const double margin = 1e-4 * (std::fabs(a) + std::fabs(b));
  if (a > b + margin) return Truth::True;
  if (a < b - margin) return Truth::False;
  return Truth::Unsure;
}
Truth all_of(std::initializer_list<Truth> parts) {
  Truth result = Truth::True;
  for (Truth t : parts) {
    if (t == Truth::False) return Truth::False;
    if (t == Truth::Unsure) result = Truth::Unsure;
  }
  return result;
}
Truth truth(bool b) { return b ? Truth::True : Truth::False; }

// lhs equals the sum of signed terms, to what printing with 6 significant digits allows.
void expect_balance(const char* what, std::size_t block, double lhs,
                    std::initializer_list<std::pair<double, double>> terms) {
  double sum = 0, scale = std::fabs(lhs);
  for (const auto& [sign, value] : terms) {
    sum += sign * value;
    scale += std::fabs(value);
  }
  EXPECT_NEAR(lhs, sum, 1e-5 * scale + 1e-300) << what << " after block " << block + 1;
}

struct RunRecord {
  ProgramRun run;
  Console console;
  std::vector<TraceRow> trace;
  std::vector<std::vector<double>> flux;
};

// Everything a run of either program must satisfy. Parse failures throw
// and fail the calling test with the place they occurred.
RunRecord check_whole_run(const std::string& program, const RunCase& rc) {
  RunRecord record;
  record.run = run_program_in(program, rc.arguments, "", 300);
  const ProgramRun& run = record.run;
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.standard_error, "");
  const std::string head = rc.organomercurial
                               ? format("\n PHMB= %12.10e 7 \t MerB=%12.10e \n", rc.PHMB0, rc.A0) +
                                     "I will write organic product \n"
                               : "";
  record.console = read_console(run.standard_output, rc.organomercurial, head);
  record.trace = read_trace_rows(run.file(rc.trace_name), rc.organomercurial);
  record.flux = read_flux_rows(run.file("flux_analysis.txt"));
  const std::vector<BlockReport>& blocks = record.console.blocks;
  const std::vector<TraceRow>& trace = record.trace;
  const std::vector<std::vector<double>>& flux = record.flux;

  EXPECT_GT(blocks.size(), 5u);
  EXPECT_EQ(trace.size(), blocks.size() + 1) << "one trace row at time 0 and one per block";
  EXPECT_EQ(flux.size(), blocks.size()) << "one flux row per block";
  if (trace.size() != blocks.size() + 1 || flux.size() != blocks.size()) return record;

  double cumulative_iterations = 0;
  double previous_time = 0;
  double basic_timestep = rc.initial_timestep;
  const double A_start = rc.organomercurial ? 0.0 : rc.A0;
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    SCOPED_TRACE("block " + std::to_string(k + 1) + " of " + std::to_string(blocks.size()));
    const BlockReport& b = blocks[k];
    const Interlude& before = record.console.interludes[k];
    const TraceRow& row = trace[k + 1];
    auto value = [&](const std::string& s) { return b.changes.at(s).value; };

    // The three outputs tell the same state.
    EXPECT_EQ(format("%12.10e", row.v.at("time")), b.time_text);
    EXPECT_EQ(format("%12.10e", flux[k][0]), b.time_text);
    for (const std::string& s : kTraceColumns) {
      if (s == "apoMerB") continue;
      EXPECT_EQ(format("%6.5e", row.v.at(s)), b.changes.at(s).value_text) << s;
    }
    for (int j = 0; j < 19; ++j) {
      EXPECT_EQ(format("%6.5e", flux[k][j + 1]), b.total_text[j]) << "total_flux" << 2 * j + 1;
    }
    EXPECT_NEAR(b.total_time, b.time, 1e-9 * b.time);
    EXPECT_GT(b.time, previous_time);

    // Sums kept constant, read from the trace row.
    const auto& v = row.v;
    const double intermediates = v.at("C") + v.at("D") + v.at("E") + v.at("F") + v.at("G") +
                                 v.at("I") + v.at("J") + v.at("K") + v.at("L") + v.at("M") +
                                 v.at("N") + v.at("Q");
    if (rc.organomercurial) {
      EXPECT_EQ(v.at("apoMerB"), 0.0);
      expect_balance("mercury released from the organomercurial", k, v.at("organic"),
                     {{1, v.at("A")}, {1, intermediates}, {1, v.at("P")}});
      EXPECT_GE(v.at("organic"), trace[k].v.at("organic"));
      EXPECT_NEAR(v.at("organic"), value("organic"), 1e-5 * v.at("organic"));
      expect_balance("organomercurial", k, rc.PHMB0,
                     {{1, value("PHMB")}, {1, value("ES")}, {1, value("organic")}});
      expect_balance("mercury", k, rc.PHMB0,
                     {{1, value("PHMB")},
                      {1, value("ES")},
                      {1, v.at("A")},
                      {1, intermediates},
                      {1, v.at("P")}});
      expect_balance("enzyme", k, rc.A0,
                     {{1, v.at("A")},
                      {1, intermediates},
                      {1, value("O1")},
                      {1, value("O2")},
                      {1, value("O3")},
                      {1, value("MerB")},
                      {1, value("ES")}});
    } else {
      expect_balance("mercury", k, rc.A0, {{1, v.at("A")}, {1, intermediates}, {1, v.at("P")}});
      expect_balance("enzyme", k, rc.A0,
                     {{1, v.at("A")}, {1, intermediates}, {1, v.at("apoMerB")}});
      expect_balance("apoMerB", k, v.at("apoMerB"),
                     {{1, value("O1")}, {1, value("O2")}, {1, value("O3")}});
    }
    if (rc.type == 3) {
      expect_balance("acceptor (monothiol)", k, rc.S0,
                     {{1, v.at("S")},
                      {1, v.at("C")},
                      {1, v.at("D")},
                      {1, v.at("E")},
                      {1, v.at("G")},
                      {1, v.at("K")},
                      {1, v.at("Q")},
                      {2, v.at("F")},
                      {2, v.at("I")},
                      {2, v.at("J")},
                      {2, v.at("L")},
                      {2, v.at("M")},
                      {2, v.at("N")},
                      {2, v.at("P")}});
    } else {
      expect_balance("acceptor", k, rc.S0, {{1, v.at("S")}, {1, intermediates}, {1, v.at("P")}});
    }

    // Each amount is its start plus the time integrals of the net fluxes that form and use it.
    auto t = [&](int n) { return b.total[(n - 1) / 2]; };
    expect_balance("C by fluxes", k, value("C"), {{1, t(1)}, {-1, t(3)}});
    expect_balance("D by fluxes", k, value("D"), {{1, t(33)}, {-1, t(23)}, {-1, t(27)}});
    expect_balance("E by fluxes", k, value("E"), {{1, t(27)}, {-1, t(29)}});
    expect_balance("F by fluxes", k, value("F"), {{1, t(29)}, {-1, t(31)}, {-1, t(25)}});
    expect_balance("G by fluxes", k, value("G"), {{1, t(15)}, {1, t(25)}, {-1, t(17)}});
    expect_balance("I by fluxes", k, value("I"), {{1, t(17)}, {-1, t(19)}});
    expect_balance("J by fluxes", k, value("J"), {{1, t(19)}, {1, t(37)}});
    expect_balance("K by fluxes", k, value("K"), {{1, t(3)}, {-1, t(5)}, {-1, t(9)}});
    expect_balance("L by fluxes", k, value("L"), {{1, t(9)}, {-1, t(11)}});
    expect_balance("M by fluxes", k, value("M"), {{1, t(11)}, {-1, t(13)}});
    expect_balance("N by fluxes", k, value("N"), {{1, t(5)}, {-1, t(7)}, {1, t(35)}});
    expect_balance("Q by fluxes", k, value("Q"), {{-1, t(33)}, {-1, t(35)}});
    expect_balance("P by fluxes", k, value("P"), {{1, t(7)}, {1, t(13)}, {1, t(31)}, {-1, t(37)}});
    expect_balance("A by fluxes", k, value("A"),
                   {{1, A_start}, {1, t(21)}, {1, t(23)}, {-1, t(1)}, {-1, t(15)}});
    if (rc.type == 3) {
      expect_balance("S by fluxes", k, value("S"),
                     {{1, rc.S0},
                      {-1, t(1)},
                      {-1, t(15)},
                      {-1, t(9)},
                      {-1, t(17)},
                      {-1, t(29)},
                      {-1, t(35)},
                      {-1, t(5)},
                      {1, t(23)},
                      {1, t(25)}});
    } else {
      expect_balance("S by fluxes", k, value("S"),
                     {{1, rc.S0}, {-1, t(1)}, {-1, t(15)}, {1, t(23)}});
    }
    if (rc.organomercurial) {
      expect_balance("organic by fluxes", k, value("organic"), {{1, t(21)}});
    } else {
      expect_balance("O1 by fluxes", k, value("O1"), {{1, t(13)}});
      expect_balance("O2 by fluxes", k, value("O2"), {{1, t(7)}});
      expect_balance("O3 by fluxes", k, value("O3"), {{1, t(31)}, {-1, t(37)}});
      EXPECT_EQ(t(21), 0.0) << "no organomercurial is split outside organomercurial mode";
    }

    // A ratio line for exactly the falling species, with the fall relative to the amount before the
    // step.
    for (const auto& [species, change] : b.changes) {
      if (species == "S" || species == "MerB" || species == "ES" || species == "PHMB" ||
          species == "organic") {
        continue;
      }
      bool listed = false;
      for (std::size_t i = 0; i < b.ratio_labels.size(); ++i) {
        if (b.ratio_labels[i] != species) continue;
        listed = true;
        const double expected = change.change / (change.value - change.change);
        EXPECT_NEAR(b.ratio_values[i], expected, 2e-4 * std::fabs(expected)) << "ratio" << species;
      }
      EXPECT_EQ(listed, change.change < 0) << "ratio line of " << species;
    }

    // Block bookkeeping: lengths, iteration counts, elapsed and average times, tightening.
    const bool ended_on_report = !before.guard_report.empty();
    EXPECT_GE(b.iterations, 0);
    if (ended_on_report) {
      EXPECT_LT(b.iterations, 300000) << "a block cut short by a report";
    } else {
      EXPECT_EQ(b.iterations, 300000) << "a block not cut short runs its full length";
    }
    if (before.guard_report == "product" || before.guard_report == "A") {
      EXPECT_EQ(before.guard_time_text, format("%5.4e", b.time))
          << "the report names the block's end";
    }
    if (before.guard_report == "time") {
      EXPECT_GT(b.time, 2.0);
    }
    cumulative_iterations += static_cast<double>(b.iterations);
    EXPECT_EQ(b.total_iterations_text, format("%6.5e", cumulative_iterations));
    EXPECT_NEAR(b.elapsed, b.time - previous_time, 1e-5 * b.elapsed + 1e-10 * b.time);
    const double average =
        b.iterations > 0 ? b.elapsed / static_cast<double>(b.iterations) : INFINITY;
    if (b.iterations > 0) {
      EXPECT_NEAR(b.average_timestep, average, 2e-5 * average);
      EXPECT_NEAR(b.average_time, b.average_timestep, 1e-3 * b.average_timestep);
    } else {
      EXPECT_TRUE(std::isinf(b.average_timestep) && b.average_timestep > 0);
      EXPECT_TRUE(std::isinf(b.average_time) && b.average_time > 0);
    }
    EXPECT_EQ(b.target2, rc.target2);
    if (b.long_variant) {
      const long ran = b.iterations + (ended_on_report ? 1 : 0);
      const long window = static_cast<long>(std::ceil(rc.target2));
      EXPECT_EQ(b.tightening_iterations, std::min(ran, window))
          << "tightening covers the block's first iterations";
      EXPECT_GT(b.extra_cycles, 0);
      EXPECT_LE(b.extra_cycles, 30 * b.tightening_iterations);
    }
    previous_time = b.time;

    // Basic Timestep: halved or doubled after the block, by its average step.
    const Interlude& after = k + 1 < blocks.size() ? record.console.interludes[k + 1] : Interlude{};
    std::string change_after = after.basic_timestep_change, change_text = after.basic_timestep_text;
    if (k + 1 == blocks.size()) {
      Cursor c(record.console.tail);
      Interlude last;
      read_basic_timestep_message(c, last);
      change_after = last.basic_timestep_change;
      change_text = last.basic_timestep_text;
    }
    const Truth counted = truth(cumulative_iterations > 1000);
    const Truth decrease = all_of({counted, greater(0.1 * basic_timestep, average)});
    const Truth increase = decrease == Truth::True
                               ? Truth::False
                               : all_of({counted, greater(average, 0.8 * basic_timestep)});
    if (decrease == Truth::True) {
      EXPECT_EQ(change_after, "decreased");
    }
    if (increase == Truth::True) {
      EXPECT_EQ(change_after, "increased");
    }
    if (decrease == Truth::False && increase == Truth::False) {
      EXPECT_EQ(change_after, "");
    }
    if (change_after == "decreased") basic_timestep *= 0.5;
    if (change_after == "increased") basic_timestep *= 2;
    if (!change_after.empty()) {
      EXPECT_EQ(change_text, format("%4.3e", basic_timestep));
    }

    // Stop tests: none may hold before the last block.
    const double P = value("P"), R = b.rate_of_change_of_P;
    const Truth converted = greater(P, 0.99 * rc.A0);
    const Truth mera_converged = all_of({truth(rc.type == 1), greater(P, 0.98 * rc.A0),
                                         truth(R > 0), greater(0.005 * P, R * b.time)});
    const Truth converged = all_of({truth(rc.type != 1), greater(P, 0.2 * rc.A0), truth(R > 0),
                                    greater(0.005 * P, R * b.time)});
    if (k + 1 < blocks.size()) {
      EXPECT_NE(converted, Truth::True) << "the run should have stopped here";
      EXPECT_NE(mera_converged, Truth::True) << "the run should have stopped here";
      EXPECT_NE(converged, Truth::True) << "the run should have stopped here";
    } else {
      Cursor c(record.console.tail);
      Interlude ignored;
      read_basic_timestep_message(c, ignored);
      bool stopped = false;
      for (const auto& [holds, message] : {std::pair{converted, &kConvertedMessage},
                                           {mera_converged, &kMerAConvergedMessage},
                                           {converged, &kConvergedMessage}}) {
        if (holds == Truth::True) {
          c.expect(*message);
          stopped = true;
        } else if (holds == Truth::Unsure && c.take(*message)) {
          stopped = true;
        }
      }
      if (!c.at_end()) c.fail("unexpected text after the last report");
      if (!stopped) {
        EXPECT_GE(b.time, rc.wanted_time) << "a run ends only on a stop test or at its wanted time";
        if (k > 0) {
          EXPECT_LT(blocks[k - 1].time, rc.wanted_time) << "the run went on past its wanted time";
        }
      }
    }
  }
  return record;
}

// Full build: after the pruning no net flux is negative, so no total falls
// and the species formed only by backward steps (D, E, F, Q, O3) never appear.
void check_pruned(const RunRecord& r) {
  for (std::size_t k = 0; k < r.console.blocks.size(); ++k) {
    const BlockReport& b = r.console.blocks[k];
    for (int j = 0; j < 19; ++j) {
      EXPECT_FALSE(b.flux_text[j].starts_with("-")) << "flux" << 2 * j + 1 << " in block " << k + 1;
      EXPECT_GE(b.flux[j], 0.0);
      if (k > 0) {
        EXPECT_GE(r.flux[k][j + 1], r.flux[k - 1][j + 1]) << "total_flux" << 2 * j + 1 << " fell";
      }
    }
    for (const char* s : {"D", "E", "F", "Q", "O3"}) EXPECT_EQ(b.changes.at(s).value, 0.0) << s;
  }
  for (const TraceRow& row : r.trace) {
    for (const char* s : {"D", "E", "F", "Q"}) EXPECT_EQ(row.v.at(s), 0.0) << s;
  }
}

// Unpruned build, normal mode: A + thiolate -> D runs from the first
// iteration, so flux23 and its total are negative in the first block.
void check_unpruned_step23(const RunRecord& r) {
  ASSERT_FALSE(r.console.blocks.empty());
  const BlockReport& first = r.console.blocks[0];
  EXPECT_LT(first.flux[11], 0.0) << "flux23";
  EXPECT_LT(first.total[11], 0.0) << "total_flux23";
  EXPECT_LT(r.flux[0][12], 0.0) << "flux-file total under flux23";
  EXPECT_GT(r.trace[1].v.at("D"), 0.0);
}

enum class Acceptor { MerA, MerAExample, Dithiol, Monothiol, BackwardSteps, Organomercurial };

class WholeRun : public ::testing::TestWithParam<std::tuple<bool, Acceptor>> {};

TEST_P(WholeRun, OutputsAgreeAndKeepTheirBalances) {
  const auto [unpruned, acceptor] = GetParam();
  RunCase rc;
  std::string expected_stop;
  switch (acceptor) {
    case Acceptor::MerA:
      rc = mera_case();
      expected_stop = kConvertedMessage;
      break;
    // The example as shipped; its run has a block of full length.
    case Acceptor::MerAExample:
      rc = mera_example_case();
      expected_stop = kConvertedMessage;
      break;
    // J is never consumed in the full build; the mercury it holds keeps P
    // short of 0.99 A0, and the run stops when P has levelled off. The
    // unpruned build releases J backwards through step 37.
    case Acceptor::Dithiol:
      rc = dithiol_case();
      expected_stop = unpruned ? kConvertedMessage : kConvergedMessage;
      break;
    case Acceptor::Monothiol:
      rc = monothiol_case();
      expected_stop = unpruned ? kConvertedMessage : kConvergedMessage;
      break;
    case Acceptor::BackwardSteps:
      rc = backward_steps_case();
      expected_stop = "";  // runs to its wanted time
      break;
    case Acceptor::Organomercurial:
      rc = organomercurial_case();
      expected_stop = kConvertedMessage;
      break;
  }
  const RunRecord r = check_whole_run(unpruned ? kUnprunedProgram : kFullProgram, rc);
  if (expected_stop.empty()) {
    EXPECT_EQ(r.console.tail.find("stopped"), std::string::npos) << shown(r.console.tail);
  } else {
    EXPECT_TRUE(r.console.tail.ends_with(expected_stop)) << shown(r.console.tail);
  }
  if (unpruned) {
    if (!rc.organomercurial) check_unpruned_step23(r);
  } else {
    check_pruned(r);
  }
}

std::string whole_run_name(const ::testing::TestParamInfo<std::tuple<bool, Acceptor>>& info) {
  const char* names[] = {"MerA",      "MerAExample",   "Dithiol",
                         "Monothiol", "BackwardSteps", "Organomercurial"};
  return std::string(std::get<0>(info.param) ? "Unpruned" : "Full") +
         names[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    BothPrograms, WholeRun,
    ::testing::Combine(::testing::Bool(),
                       ::testing::Values(Acceptor::MerA, Acceptor::MerAExample, Acceptor::Dithiol,
                                         Acceptor::Monothiol, Acceptor::BackwardSteps,
                                         Acceptor::Organomercurial)),
    whole_run_name);

// Only forward steps 1 (A + thiol -> C) and 15 (A + thiol -> G) switched on;
// every other barrier is above the 60 kcal/mol cut-off.
RunCase forward_only_case(const char* wanted) {
  std::map<int, std::string> changed;
  for (int i = 1; i <= 38; ++i) changed[i] = "61";
  changed[1] = "12";
  changed[15] = "13";
  return normal_case("7.4", "2", wanted, barriers(changed));
}

// wanted_time is looked at only between blocks: the block in which it is
// reached runs on to its end (its full length or a report, which
// check_whole_run tells apart), and that last row is later than wanted_time.
TEST(RunLoop, LastBlockRunsPastTheWantedTime) {
  RunCase mera_example = mera_example_case();
  mera_example.arguments[4] = "0.25";
  mera_example.wanted_time = 0.25;
  const std::pair<const char*, RunCase> cases[] = {
      {"dithiol, 0.02 s", dithiol_case("0.02")},
      {"dithiol, 0.0501 s", dithiol_case("0.0501")},
      {"forward steps only, 0.3 s", forward_only_case("0.3")},
      {"MerA example, 0.25 s", mera_example}};
  for (const auto& [label, rc] : cases) {
    SCOPED_TRACE(label);
    const RunRecord r = check_whole_run(kFullProgram, rc);
    ASSERT_GE(r.trace.size(), 3u);
    EXPECT_GT(r.trace.back().v.at("time"), rc.wanted_time);
    EXPECT_LT(r.trace[r.trace.size() - 2].v.at("time"), rc.wanted_time);
    EXPECT_GT(r.console.blocks.back().iterations, 1)
        << "the wanted time was passed within the block";
  }
}

// With only forward steps 1 and 15 switched on, no net flux is ever negative
// or negligible, so pruning changes nothing and the two programs must write
// the same bytes everywhere.
TEST(BuildVariants, IdenticalWhereNothingIsPruned) {
  const RunCase rc = forward_only_case("0.3");
  const RunRecord full = check_whole_run(kFullProgram, rc);
  const RunRecord unpruned = check_whole_run(kUnprunedProgram, rc);
  EXPECT_EQ(full.run.standard_output, unpruned.run.standard_output);
  EXPECT_EQ(full.run.file("run.trace"), unpruned.run.file("run.trace"));
  EXPECT_EQ(full.run.file("flux_analysis.txt"), unpruned.run.file("flux_analysis.txt"));
  // The run did something worth comparing: A fell well below A0 through both steps.
  ASSERT_FALSE(full.console.blocks.empty());
  const BlockReport& last = full.console.blocks.back();
  EXPECT_LT(last.changes.at("A").value, 0.1 * rc.A0);
  EXPECT_GT(last.changes.at("C").value, 0.0);
  EXPECT_GT(last.changes.at("G").value, 0.0);
}

// Where a step runs backwards from the start the programs part at once, but
// everything written before the first iteration is the same.
TEST(BuildVariants, SameSetUpThenApart) {
  const RunCase rc = dithiol_case("0.01");
  const ProgramRun full = run_program_in(kFullProgram, rc.arguments);
  const ProgramRun unpruned = run_program_in(kUnprunedProgram, rc.arguments);
  for (const std::string& name : {std::string("run.trace"), std::string("flux_analysis.txt")}) {
    const std::string a = full.file(name), b = unpruned.file(name);
    const std::string& header_end =
        name == "run.trace" ? kTraceColumnHeaderEnd : kFluxColumnHeaderEnd;
    const std::size_t set_up = a.find(header_end);
    ASSERT_NE(set_up, std::string::npos) << name;
    // Up to the end of the time-0 row (the next line end in the trace, the
    // time-0 row's closing tab and blank in the flux file).
    const std::size_t time_zero_end = name == "run.trace"
                                          ? a.find('\n', set_up + header_end.size() + 1)
                                          : a.find("\t \n", set_up) + 2;
    EXPECT_EQ(a.substr(0, time_zero_end), b.substr(0, time_zero_end)) << name;
    EXPECT_NE(a, b) << name;
  }
}

}  // namespace
}  // namespace tolvanex::testing
