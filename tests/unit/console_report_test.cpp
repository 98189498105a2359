// The progress report printed at the end of every block, compared as text.
#include "report/console_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tolvanex {
namespace {

struct Capture {
  std::FILE* file = std::tmpfile();
  std::string text() {
    std::string s;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) s += static_cast<char>(c);
    return s;
  }
  ~Capture() { std::fclose(file); }
};

using S = SpeciesState;
using R = SpeciesRates;

// The last iteration of a 300,000-iteration block with a step of 0.5 s.
struct ReportCase {
  RunParameters p;
  SpeciesState s;
  ModelEvaluation e;
  FluxTotals totals;
  StepControl step;
  RunProgress progress;
  BlockCounters counters;
  Capture console;
  ReportCase() {
    p.target2 = 7;
    step.timestep = 0.5, step.target = 25, step.maxratio = 0.04;
    progress.total_iterations = 300000, progress.time = 12.3456789;
    progress.block_elapsed_time = 1.5, progress.rate_of_change_of_P = 2.5e-9;
    counters.iterations = 300000, counters.tightening_iterations = 250;
    counters.extra_cycles = 12, counters.maxratio_sum = 10;
  }
  std::string opening() {
    print_block_report_opening({p, s, e, totals, step, progress, counters}, console.file);
    return console.text();
  }
  std::string closing() {
    print_block_report_closing({p, s, e, totals, step, progress, counters}, console.file);
    return console.text();
  }
};

const std::string kStars = "\n*************************************************************** \n";

TEST(ReportFormat, RatioLinesOnlyForStrictlyFallingSpecies) {
  ReportCase r;
  r.s.A = 1e-6, r.e.rates.dA = -2e-7;          // (-1e-7) / (1.1e-6)
  r.s.S = 1e-3;                                // thiol's own amount is the reference
  r.s.thiol = 9e-4, r.e.rates.dthiol = -2e-4;  // (-1e-4) / (1e-3)
  r.s.thiolate = 5e-4, r.e.rates.dthiolate = 1e-4;
  r.s.C = 1e-7;  // steady
  r.s.D = 1e-7, r.e.rates.dD = -0.0;
  r.s.K = 3e-7, r.e.rates.dK = -2e-7;    // (-1e-7) / (4e-7)
  r.s.O2 = 1e-9, r.e.rates.dO2 = -1e-8;  // (-5e-9) / (6e-9)
  r.e.rates.dP = 1e-9;
  r.s.Q = -4e-9, r.e.rates.dQ = -2e-9;  // (-1e-9) / (-3e-9)
  const std::string ratios =
      "ratioA is   -9.0909e-02    \n  ratiothiol is   -1.0000e-01    \n  "
      "ratioK is   -2.5000e-01    \n  ratioO2 is   -8.3333e-01    \n  "
      "ratioQ is   3.3333e-01    \n  ";
  const std::string totals_line =
      "\n total iterations 3.00000e+05 . total time 1.234567890e+01 seconds.   \n Maxratio is= "
      "4.0000e-02   timestep is  5.0000e-01  seconds \n ";
  EXPECT_EQ(r.opening(), kStars + ratios +
                             "\nThe latest step decreased the species with the highest ratio by "
                             "at most 4.0000000e-02 of its present value." +
                             totals_line);
  ReportCase first;  // a step set by a first amount has no fraction line
  first.step.first_amount_flag = 1;
  first.s = r.s, first.e = r.e;
  EXPECT_EQ(first.opening(), kStars + ratios + totals_line);
}

// Every species, derivative, flux and total has a value of its own, so a line
// out of order or a value of the wrong species shows. The change lines end
// with O3, O2, O1; the dS line shows dthiol + dthiolate beside the total S.
struct Line {
  const char* label;
  double S::*amount;
  double R::*rate;
};
const std::vector<Line> kOrganomercurialLines = {{"MerB", &S::MerB, &R::dMerB},
                                                 {"ES", &S::ES, &R::dES},
                                                 {"PHMB", &S::PHMB, &R::dPHMB},
                                                 {"organic", &S::organic, &R::dorganic}};
const std::vector<Line> kChangeLines = {
    {"A", &S::A, &R::dA},    {"S", &S::S, nullptr},  {"C", &S::C, &R::dC}, {"D", &S::D, &R::dD},
    {"E", &S::E, &R::dE},    {"F", &S::F, &R::dF},   {"G", &S::G, &R::dG}, {"I", &S::I, &R::dI},
    {"J", &S::J, &R::dJ},    {"K", &S::K, &R::dK},   {"L", &S::L, &R::dL}, {"M", &S::M, &R::dM},
    {"N", &S::N, &R::dN},    {"P", &S::P, &R::dP},   {"Q", &S::Q, &R::dQ}, {"O3", &S::O3, &R::dO3},
    {"O2", &S::O2, &R::dO2}, {"O1", &S::O1, &R::dO1}};
using N = NetFluxes;
using T = FluxTotals;
const std::vector<std::pair<double N::*, double T::*>> kFluxLines = {
    {&N::flux1, &T::total_flux1},   {&N::flux3, &T::total_flux3},   {&N::flux5, &T::total_flux5},
    {&N::flux7, &T::total_flux7},   {&N::flux9, &T::total_flux9},   {&N::flux11, &T::total_flux11},
    {&N::flux13, &T::total_flux13}, {&N::flux15, &T::total_flux15}, {&N::flux17, &T::total_flux17},
    {&N::flux19, &T::total_flux19}, {&N::flux21, &T::total_flux21}, {&N::flux23, &T::total_flux23},
    {&N::flux25, &T::total_flux25}, {&N::flux27, &T::total_flux27}, {&N::flux29, &T::total_flux29},
    {&N::flux31, &T::total_flux31}, {&N::flux33, &T::total_flux33}, {&N::flux35, &T::total_flux35},
    {&N::flux37, &T::total_flux37}};

std::string format(const std::string& pattern, double a, double b) {
  char text[256];
  std::snprintf(text, sizeof text, pattern.c_str(), a, b);
  return text;
}

// Fills the case with distinct values and returns the closing text written
// out from the report's line formats.
std::string distinct_closing(ReportCase& r, const std::string& statistics) {
  double value = 1e-7;
  r.e.rates.dthiol = -3e-9, r.e.rates.dthiolate = 1e-9, r.e.rates.dS = 1;
  std::string text = "\n time = 1.2345678900e+01 \n ";
  for (const auto* lines : {&kOrganomercurialLines, &kChangeLines}) {
    for (const auto& x : *lines) {
      r.s.*x.amount = (value += 1e-7);
      if (x.rate) r.e.rates.*x.rate = -value / 64;
      const double change = x.rate ? -value / 128 : -1e-9;
      if (lines == &kChangeLines || r.p.organomercurial)
        text += format(std::string("d") + x.label + "= %6.5e \t " + x.label + "= %6.5e \n ", change,
                       value);
    }
  }
  for (std::size_t i = 0; i < kFluxLines.size(); ++i) {
    const int number = 2 * i + 1;
    r.e.fluxes.*kFluxLines[i].first = number * 1e-9;
    r.totals.*kFluxLines[i].second = number * 1e-6;
    const std::string n = std::to_string(number);
    text += format("flux" + n + "= %6.5e \t total_flux" + n + "=%6.5e\n ", number * 1e-9,
                   number * 1e-6);
  }
  return text + statistics + "\n average time  5.000e-06   target2 7.000e+00 ";
}

TEST(ReportFormat, ClosingWithTighteningStatistics) {
  for (bool organomercurial : {false, true}) {
    ReportCase r;
    r.p.organomercurial = organomercurial;
    const std::string expected = distinct_closing(
        r,
        "\n Current rate of change of P is 2.50000e-09 mol/L/s. \n   300000  iterations were "
        "performed for   1.50000e+00  s of simulation.\n      250  iterations included "
        "timestep tightening, using        12 extra cycles.\nAverage maxratio in these "
        "iterations was 4.000e-02. \n Average timestep is 5.00000e-06 seconds \n ");
    EXPECT_EQ(r.closing(), expected) << "organomercurial " << organomercurial;
  }
}

TEST(ReportFormat, ClosingWithoutExtraCyclesIsShort) {
  ReportCase r;
  r.counters.extra_cycles = 0;  // checks ran, but none divided the step
  const std::string expected = distinct_closing(
      r,
      "\n Current rate of change of P is 2.50000e-09 mol/L/s. \n   300000  iterations were "
      "performed for   1.50000e+00  s of simulation.\n Average timestep is 5.00000e-06 "
      "seconds \n ");
  const std::string text = r.closing();
  EXPECT_EQ(text, expected);
  // Spot checks written out in full.
  EXPECT_NE(text.find("\n dS= -1.00000e-09 \t S= 7.00000e-07 \n "), std::string::npos);
  EXPECT_NE(text.find("\n flux37= 3.70000e-08 \t total_flux37=3.70000e-05\n "), std::string::npos);
  EXPECT_EQ(text.find("dMerB="), std::string::npos);
}

}  // namespace
}  // namespace tolvanex
