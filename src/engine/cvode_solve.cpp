#include "engine/cvode_solve.h"

#include <cvode/cvode.h>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_context.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <string>

#include "engine/rate_equations.h"

namespace tolvanex::engine {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kMaxWarnings = 20;

// What CVODE's callbacks reach through their user data.
struct CallbackData {
  const RateEquations* equations;
  std::vector<double> targets;  // P at each root: fraction x enzyme
  std::string last_message;
  std::vector<std::string> warnings;
};

int right_hand_side(sunrealtype, N_Vector y, N_Vector dydt, void* data) {
  const auto* d = static_cast<const CallbackData*>(data);
  // A derivative that is not a number lets CVODE try a shorter step.
  return d->equations->derivatives(N_VGetArrayPointer(y), N_VGetArrayPointer(dydt)) ? 0 : 1;
}

int jacobian(sunrealtype, N_Vector y, N_Vector, SUNMatrix J, void* data, N_Vector, N_Vector,
             N_Vector) {
  static_cast<const CallbackData*>(data)->equations->jacobian(N_VGetArrayPointer(y),
                                                              SUNDenseMatrix_Data(J));
  return 0;
}

int product_roots(sunrealtype, N_Vector y, sunrealtype* g, void* data) {
  const auto* d = static_cast<const CallbackData*>(data);
  const double P = N_VGetArrayPointer(y)[kIndexP];
  for (std::size_t i = 0; i < d->targets.size(); ++i) g[i] = P - d->targets[i];
  return 0;
}

std::string one_line(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

void keep_message(int code, const char*, const char* function, char* message, void* data) {
  auto* d = static_cast<CallbackData*>(data);
  std::string line = one_line(std::string(function) + ": " + message);
  if (code == CV_WARNING) {
    if (d->warnings.size() < kMaxWarnings) d->warnings.push_back(std::move(line));
  } else {
    d->last_message = std::move(line);
  }
}

std::string flag_name(int flag) {
  char* name = CVodeGetReturnFlagName(flag);
  std::string text = name ? name : "flag " + std::to_string(flag);
  std::free(name);
  return text;
}

std::string seconds(double t) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g s", t);
  return text;
}

// The SUNDIALS objects of one solve, freed in reverse order.
struct Sundials {
  SUNContext context = nullptr;
  N_Vector y = nullptr, atol = nullptr, scratch = nullptr;
  SUNMatrix matrix = nullptr;
  SUNLinearSolver linear_solver = nullptr;
  void* cvode = nullptr;

  Sundials() = default;
  Sundials(const Sundials&) = delete;
  Sundials& operator=(const Sundials&) = delete;
  ~Sundials() {
    if (cvode) CVodeFree(&cvode);
    if (linear_solver) SUNLinSolFree(linear_solver);
    if (matrix) SUNMatDestroy(matrix);
    for (N_Vector v : {y, atol, scratch}) {
      if (v) N_VDestroy(v);
    }
    if (context) SUNContext_Free(&context);
  }
};

class Driver {
 public:
  Driver(const SolveRequest& request, EngineSolution& out)
      : request_(request), out_(out), equations_(request.conditions, request.options.flux_totals) {}

  void run();

 private:
  void setup(const std::vector<double>& y0);
  void check(int flag, const char* call) const;
  [[noreturn]] void fail(int flag, double t) const;
  void fill_outputs_to(double t, const double* y, bool interpolate);
  bool done() const;
  void statistics();

  const SolveRequest& request_;
  EngineSolution& out_;
  RateEquations equations_;
  CallbackData data_{&equations_, {}, {}, {}};
  Sundials s_;
  std::vector<std::size_t> root_fraction_;  // the fraction of each root
  std::vector<bool> root_found_;
  std::size_t roots_pending_ = 0;
  std::vector<std::size_t> output_order_;   // output times, earliest first
  std::size_t next_output_ = 0;
};

void Driver::check(int flag, const char* call) const {
  if (flag < 0) {
    throw SolverFailure(std::string("CVODE could not be set up: ") + call + " returned " +
                            flag_name(flag),
                        flag_name(flag), 0);
  }
}

void Driver::fail(int flag, double t) const {
  const std::string name = flag_name(flag);
  std::string message = "CVODE failed at t = " + seconds(t) + ": " + name;
  if (!data_.last_message.empty()) message += " (" + data_.last_message + ")";
  throw SolverFailure(one_line(message), name, t);
}

void Driver::setup(const std::vector<double>& y0) {
  const auto n = static_cast<sunindextype>(y0.size());
  check(SUNContext_Create(nullptr, &s_.context), "SUNContext_Create");
  s_.y = N_VNew_Serial(n, s_.context);
  s_.atol = N_VNew_Serial(n, s_.context);
  s_.scratch = N_VNew_Serial(n, s_.context);
  s_.matrix = SUNDenseMatrix(n, n, s_.context);
  if (!s_.y || !s_.atol || !s_.scratch || !s_.matrix) check(CV_MEM_FAIL, "N_VNew_Serial");
  std::copy(y0.begin(), y0.end(), N_VGetArrayPointer(s_.y));
  const SolverOptions& o = request_.options;
  const std::vector<double> atol =
      absolute_tolerances(request_.enzyme, request_.acceptor, request_.organomercurial,
                          o.absolute_fraction, o.flux_totals);
  std::copy(atol.begin(), atol.end(), N_VGetArrayPointer(s_.atol));
  s_.linear_solver = SUNLinSol_Dense(s_.y, s_.matrix, s_.context);
  s_.cvode = CVodeCreate(CV_BDF, s_.context);
  if (!s_.linear_solver || !s_.cvode) check(CV_MEM_FAIL, "CVodeCreate");
  void* cv = s_.cvode;
  check(CVodeSetErrHandlerFn(cv, keep_message, &data_), "CVodeSetErrHandlerFn");
  check(CVodeInit(cv, right_hand_side, 0, s_.y), "CVodeInit");
  check(CVodeSetUserData(cv, &data_), "CVodeSetUserData");
  check(CVodeSVtolerances(cv, o.relative_tolerance, s_.atol), "CVodeSVtolerances");
  check(CVodeSetLinearSolver(cv, s_.linear_solver, s_.matrix), "CVodeSetLinearSolver");
  check(CVodeSetJacFn(cv, jacobian), "CVodeSetJacFn");
  check(CVodeSetStopTime(cv, request_.end_time), "CVodeSetStopTime");
  check(CVodeSetMaxNumSteps(cv, o.max_steps), "CVodeSetMaxNumSteps");
  if (!data_.targets.empty()) {
    check(CVodeRootInit(cv, static_cast<int>(data_.targets.size()), product_roots), "CVodeRootInit");
    std::vector<int> rising(data_.targets.size(), 1);
    check(CVodeSetRootDirection(cv, rising.data()), "CVodeSetRootDirection");
    check(CVodeSetNoInactiveRootWarn(cv), "CVodeSetNoInactiveRootWarn");
  }
}

void Driver::fill_outputs_to(double t, const double* y, bool interpolate) {
  const std::size_t width = out_.at_times.width;
  const std::vector<double>& times = out_.at_times.times;
  while (next_output_ < output_order_.size() && times[output_order_[next_output_]] <= t) {
    const std::size_t k = output_order_[next_output_++];
    const double* state = y;
    if (interpolate && times[k] != t) {
      const int flag = CVodeGetDky(s_.cvode, times[k], 0, s_.scratch);
      if (flag < 0) fail(flag, times[k]);
      state = N_VGetArrayPointer(s_.scratch);
    }
    std::copy(state, state + width, out_.at_times.values.begin() + static_cast<long>(k * width));
  }
}

bool Driver::done() const {
  return request_.options.stop_at_last_fraction && roots_pending_ == 0 &&
         next_output_ == output_order_.size();
}

void Driver::run() {
  const SolveRequest& r = request_;
  const std::size_t width = equations_.size();
  out_.constants = equations_.constants();
  out_.at_times.width = out_.steps.width = width;
  out_.at_times.times = r.output_times;
  out_.at_times.values.assign(r.output_times.size() * width, kNaN);
  output_order_.resize(r.output_times.size());
  std::iota(output_order_.begin(), output_order_.end(), 0);
  std::stable_sort(output_order_.begin(), output_order_.end(),
                   [&](std::size_t a, std::size_t b) { return r.output_times[a] < r.output_times[b]; });

  for (std::size_t k = 0; k < r.fractions.size(); ++k) {
    FractionTime f{r.fractions[k], kNaN, ""};
    if (f.fraction == 0) {
      f.time = 0;  // P >= 0 from the start
    } else if (r.enzyme == 0) {
      f.note = "no enzyme: a fraction of an enzyme amount of 0 is undefined";
    } else {
      data_.targets.push_back(f.fraction * r.enzyme);
      root_fraction_.push_back(k);
    }
    out_.fractions.push_back(f);
  }
  root_found_.assign(root_fraction_.size(), false);
  roots_pending_ = root_fraction_.size();

  const std::vector<double> y0 = equations_.initial_state(r.enzyme, r.acceptor, r.organomercurial);
  fill_outputs_to(0, y0.data(), false);
  if (r.options.every_step) out_.steps.add(0, y0.data());
  double t = 0;
  const double* y = y0.data();
  if (r.end_time > 0 && !done()) {
    setup(y0);
    y = N_VGetArrayPointer(s_.y);
    std::vector<int> found(root_fraction_.size());
    for (;;) {
      const int flag = CVode(s_.cvode, r.end_time, s_.y, &t, CV_ONE_STEP);
      if (flag < 0) fail(flag, t);
      fill_outputs_to(t, y, true);
      if (flag == CV_ROOT_RETURN) {
        check(CVodeGetRootInfo(s_.cvode, found.data()), "CVodeGetRootInfo");
        for (std::size_t i = 0; i < found.size(); ++i) {
          if (found[i] > 0 && !root_found_[i]) {
            root_found_[i] = true;
            --roots_pending_;
            out_.fractions[root_fraction_[i]].time = t;
          }
        }
      } else if (r.options.every_step) {
        out_.steps.add(t, y);
      }
      if (flag == CV_TSTOP_RETURN) break;
      if (done()) {
        out_.stopped_early = t < r.end_time;
        break;
      }
      long steps = 0;
      CVodeGetNumSteps(s_.cvode, &steps);
      if (steps >= r.options.max_steps) {
        const std::string name = flag_name(CV_TOO_MUCH_WORK);
        throw SolverFailure(name + ": " + std::to_string(steps) + " steps (max_steps) taken by t = " +
                                seconds(t) + ", before the end time " + seconds(r.end_time),
                            name, t);
      }
    }
    statistics();
  } else {
    out_.stopped_early = r.end_time > 0;
  }
  out_.end_time = t;
  for (std::size_t i = 0; i < root_fraction_.size(); ++i) {
    if (root_found_[i]) continue;
    char text[160];
    std::snprintf(text, sizeof text, "not reached by t = %.6g s, where P is %.6g of the enzyme",
                  t, y[kIndexP] / r.enzyme);
    out_.fractions[root_fraction_[i]].note = text;
  }
  out_.warnings = std::move(data_.warnings);
}

void Driver::statistics() {
  SolverStatistics& st = out_.statistics;
  void* cv = s_.cvode;
  long linear_rhs = 0;
  CVodeGetNumSteps(cv, &st.steps);
  CVodeGetNumRhsEvals(cv, &st.rhs_evaluations);
  CVodeGetNumLinRhsEvals(cv, &linear_rhs);
  st.rhs_evaluations += linear_rhs;
  CVodeGetNumJacEvals(cv, &st.jacobian_evaluations);
  CVodeGetNumLinSolvSetups(cv, &st.linear_setups);
  CVodeGetNumErrTestFails(cv, &st.error_test_failures);
  CVodeGetNumNonlinSolvIters(cv, &st.nonlinear_iterations);
  CVodeGetNumNonlinSolvConvFails(cv, &st.nonlinear_failures);
  CVodeGetNumGEvals(cv, &st.root_evaluations);
  CVodeGetLastStep(cv, &st.last_step);
  CVodeGetLastOrder(cv, &st.last_order);
}

}  // namespace

EngineSolution solve(const SolveRequest& request) {
  const auto start = std::chrono::steady_clock::now();
  check_request(request);
  EngineSolution out;
  Driver(request, out).run();
  out.statistics.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return out;
}

}  // namespace tolvanex::engine
