// tolvanex._engine: the CVODE engine (src/engine) for Python. One function,
// solve, takes plain numbers and arrays and returns a Result of NumPy
// arrays; the solve itself runs without the GIL.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/cvode_solve.h"
#include "engine/state_layout.h"

namespace py = pybind11;
using namespace tolvanex;
using namespace tolvanex::engine;

namespace {

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::vector<double> values_of(const py::object& values) {
  const DoubleArray a = DoubleArray::ensure(values);
  if (!a) throw py::type_error("expected a sequence of numbers");
  return std::vector<double>(a.data(), a.data() + a.size());
}

DoubleArray vector_array(const std::vector<double>& v) {
  DoubleArray a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

// Columns [first, first + count) of a trajectory, as a (rows, count) array.
DoubleArray columns(const Trajectory& t, std::size_t first, std::size_t count) {
  const std::size_t rows = t.times.size();
  DoubleArray a({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(count)});
  double* out = a.mutable_data();
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t j = 0; j < count; ++j) out[i * count + j] = t.values[i * t.width + first + j];
  }
  return a;
}

struct Result {
  py::object times, amounts, flux_totals;
  py::object step_times, step_amounts, step_flux_totals;
  py::object fractions, fraction_times;
  py::list fraction_notes;
  double end_time;
  bool stopped_early;
  py::object rate_constants;
  double binding_forward, binding_reverse;
  SolverStatistics statistics;
  py::list warnings;
};

Result to_python(const EngineSolution& s, const SolveRequest& r) {
  const bool totals = r.options.flux_totals;
  const py::object none = py::none();
  Result out;
  out.times = vector_array(s.at_times.times);
  out.amounts = columns(s.at_times, 0, kStateSpeciesCount);
  out.flux_totals = totals ? py::object(columns(s.at_times, kStateSpeciesCount, kTotalsCount)) : none;
  const bool steps = r.options.every_step;
  out.step_times = steps ? py::object(vector_array(s.steps.times)) : none;
  out.step_amounts = steps ? py::object(columns(s.steps, 0, kStateSpeciesCount)) : none;
  out.step_flux_totals =
      steps && totals ? py::object(columns(s.steps, kStateSpeciesCount, kTotalsCount)) : none;
  std::vector<double> fractions, times;
  for (const FractionTime& f : s.fractions) {
    fractions.push_back(f.fraction);
    times.push_back(f.time);
    out.fraction_notes.append(f.note);
  }
  out.fractions = vector_array(fractions);
  out.fraction_times = vector_array(times);
  out.end_time = s.end_time;
  out.stopped_early = s.stopped_early;
  const auto& k = s.constants.network.rates.k;
  out.rate_constants = vector_array(std::vector<double>(k.begin() + 1, k.end()));
  out.binding_forward = s.constants.binding.forward;
  out.binding_reverse = s.constants.binding.reverse;
  out.statistics = s.statistics;
  for (const std::string& w : s.warnings) out.warnings.append(w);
  return out;
}

Result solve_for_python(const py::object& barriers, double pH, double acceptor_type, double enzyme,
                        double acceptor, double end_time, std::optional<double> organomercurial,
                        std::optional<double> pKa, double temperature, const py::object& times,
                        const py::object& fractions, double rtol, double atol_fraction,
                        long max_steps, bool flux_totals, bool every_step,
                        bool stop_at_last_fraction) {
  SolveRequest r;
  const std::vector<double> b = values_of(barriers);
  if (b.size() != static_cast<std::size_t>(kStepCount)) {
    throw py::value_error("barriers: " + std::to_string(kStepCount) + " values needed (barrier1 ... barrier38), not " +
                          std::to_string(b.size()));
  }
  std::copy(b.begin(), b.end(), r.conditions.barriers.begin() + 1);
  r.conditions.pH = pH;
  r.conditions.acceptor_type = acceptor_type;
  r.conditions.pKa = pKa;
  r.conditions.temperature = temperature;
  r.conditions.organomercurial = organomercurial.has_value();
  r.organomercurial = organomercurial.value_or(0);
  r.enzyme = enzyme;
  r.acceptor = acceptor;
  r.end_time = end_time;
  r.output_times = values_of(times);
  r.fractions = values_of(fractions);
  r.options = {rtol, atol_fraction, max_steps, flux_totals, every_step, stop_at_last_fraction};
  EngineSolution solution;
  {
    py::gil_scoped_release unlocked;
    solution = solve(r);
  }
  return to_python(solution, r);
}

}  // namespace

PYBIND11_MODULE(_engine, m) {
  m.doc() =
      "The exact kinetics of tolvanex: the model's rate equations solved by SUNDIALS CVODE "
      "(BDF, Newton, dense analytic Jacobian) in-process. Use it through tolvanex.engine.";
  py::register_exception<SolverFailure>(m, "SolverError", PyExc_RuntimeError);

  py::tuple state(kStateSpeciesCount);
  for (std::size_t i = 0; i < kStateSpeciesCount; ++i) state[i] = info(kStateSpecies[i]).label;
  m.attr("STATE") = state;
  py::tuple totals(kTotalsCount);
  for (std::size_t j = 0; j < kTotalsCount; ++j) {
    totals[j] = "total_flux" + std::to_string(kFluxTable[j].step);
  }
  m.attr("FLUX_TOTALS") = totals;
  m.attr("DEFAULT_RTOL") = kDefaultRelativeTolerance;
  m.attr("DEFAULT_ATOL_FRACTION") = kDefaultAbsoluteFraction;
  m.attr("DEFAULT_MAX_STEPS") = kDefaultMaxSteps;
  m.attr("REFERENCE_TEMPERATURE") = kReferenceTemperature;

  py::class_<SolverStatistics>(m, "Statistics", "What the solver did.")
      .def_readonly("steps", &SolverStatistics::steps)
      .def_readonly("rhs_evaluations", &SolverStatistics::rhs_evaluations)
      .def_readonly("jacobian_evaluations", &SolverStatistics::jacobian_evaluations)
      .def_readonly("linear_setups", &SolverStatistics::linear_setups)
      .def_readonly("error_test_failures", &SolverStatistics::error_test_failures)
      .def_readonly("nonlinear_iterations", &SolverStatistics::nonlinear_iterations)
      .def_readonly("nonlinear_failures", &SolverStatistics::nonlinear_failures)
      .def_readonly("root_evaluations", &SolverStatistics::root_evaluations)
      .def_readonly("last_step", &SolverStatistics::last_step)
      .def_readonly("last_order", &SolverStatistics::last_order)
      .def_readonly("wall_seconds", &SolverStatistics::wall_seconds)
      .def("as_dict", [](const SolverStatistics& s) {
        py::dict d;
        d["steps"] = s.steps, d["rhs_evaluations"] = s.rhs_evaluations;
        d["jacobian_evaluations"] = s.jacobian_evaluations, d["linear_setups"] = s.linear_setups;
        d["error_test_failures"] = s.error_test_failures;
        d["nonlinear_iterations"] = s.nonlinear_iterations;
        d["nonlinear_failures"] = s.nonlinear_failures, d["root_evaluations"] = s.root_evaluations;
        d["last_step"] = s.last_step, d["last_order"] = s.last_order;
        d["wall_seconds"] = s.wall_seconds;
        return d;
      })
      .def("__repr__", [](const SolverStatistics& s) {
        return "Statistics(steps=" + std::to_string(s.steps) +
               ", rhs_evaluations=" + std::to_string(s.rhs_evaluations) +
               ", jacobian_evaluations=" + std::to_string(s.jacobian_evaluations) +
               ", wall_seconds=" + std::to_string(s.wall_seconds) + ")";
      });

  py::class_<Result>(m, "Result", "The solution of one solve (see solve).")
      .def_readonly("times", &Result::times, "the output times (s), as asked")
      .def_readonly("amounts", &Result::amounts, "(times, STATE) amounts, mol/L")
      .def_readonly("flux_totals", &Result::flux_totals,
                    "(times, FLUX_TOTALS) cumulative net fluxes, mol/L, or None")
      .def_readonly("step_times", &Result::step_times, "time 0 and every step (s), or None")
      .def_readonly("step_amounts", &Result::step_amounts, "(steps, STATE), or None")
      .def_readonly("step_flux_totals", &Result::step_flux_totals, "(steps, FLUX_TOTALS), or None")
      .def_readonly("fractions", &Result::fractions, "the fractions asked for")
      .def_readonly("fraction_times", &Result::fraction_times,
                    "first time (s) P reaches each fraction of the enzyme; NaN if not")
      .def_readonly("fraction_notes", &Result::fraction_notes,
                    "why a fraction time is NaN; '' when reached")
      .def_readonly("end_time", &Result::end_time, "where the solve ended (s)")
      .def_readonly("stopped_early", &Result::stopped_early,
                    "ended before end_time, every fraction reached")
      .def_readonly("rate_constants", &Result::rate_constants, "k1 ... k38 used")
      .def_readonly("binding_forward", &Result::binding_forward, "MerB + PHMB -> ES, L/(mol s)")
      .def_readonly("binding_reverse", &Result::binding_reverse, "ES -> MerB + PHMB, 1/s")
      .def_readonly("statistics", &Result::statistics)
      .def_readonly("warnings", &Result::warnings, "the solver's warnings, one line each");

  m.def("solve", &solve_for_python,
        "Solve the rate equations from time 0 to end_time.\n\n"
        "barriers: barrier1 ... barrier38 (kcal/mol); pH; acceptor_type 1, 2 or 3; enzyme,\n"
        "acceptor (mol/L); end_time (s); organomercurial: the PHMB amount (mol/L) for\n"
        "organomercurial mode, None otherwise; pKa (None: 6 for type 1, else 10.4);\n"
        "temperature (K); times: output times from 0 to end_time; fractions: of the\n"
        "enzyme amount, for the first times P reaches them; rtol; atol_fraction: absolute\n"
        "tolerance as a fraction of the amount each component is measured against;\n"
        "max_steps; flux_totals: also total_flux1 ... total_flux37; every_step: also the\n"
        "state after every step; stop_at_last_fraction: end once every fraction is\n"
        "reached and every output time passed.\n\n"
        "Raises ValueError for an input that cannot be meant, SolverError when CVODE\n"
        "gives up (its flag by name).",
        py::arg("barriers"), py::arg("pH"), py::arg("acceptor_type"), py::arg("enzyme"),
        py::arg("acceptor"), py::arg("end_time"), py::kw_only(),
        py::arg("organomercurial") = py::none(), py::arg("pKa") = py::none(),
        py::arg("temperature") = kReferenceTemperature, py::arg("times") = py::tuple(),
        py::arg("fractions") = py::tuple(), py::arg("rtol") = kDefaultRelativeTolerance,
        py::arg("atol_fraction") = kDefaultAbsoluteFraction,
        py::arg("max_steps") = kDefaultMaxSteps, py::arg("flux_totals") = false,
        py::arg("every_step") = false, py::arg("stop_at_last_fraction") = false);
}
