// Solves the rate equations of one request with SUNDIALS CVODE: BDF with
// Newton iterations, a dense linear solver on the analytic Jacobian, a
// relative tolerance and per-component absolute tolerances
// (state_layout.h). Outputs come from CVODE's own interpolant, the times to
// fractions of the product from its root finding on P - fraction x enzyme.
#pragma once

#include "engine/engine_solution.h"
#include "engine/solve_request.h"

namespace tolvanex::engine {

// Throws std::invalid_argument for a request check_request refuses, and
// SolverFailure when CVODE gives up or the step limit is reached.
EngineSolution solve(const SolveRequest& request);

}  // namespace tolvanex::engine
