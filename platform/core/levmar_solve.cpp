#include <tk/levmar_solve.h>
#include "platform/core/damped_iteration.h"
#include "platform/core/invalid_argument.h"

#include "platform/core/nm_matrix_eigen.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {
// Smallest relative damping worth keeping: below it λD no longer changes the step, and a
// rejection would need many λ increases to make damping effective again.
constexpr double kRelativeDampingFloor = 1e-15;
}  // namespace

tkLevMarSolve::tkLevMarSolve(long n, long m, double xTol, double fTol, long maxIterations,
                             long maxLambdaSteps, double lambda0, double jacobianStep,
                             double lambdaMax, bool scaleByDiagonal, bool blockJacobian)
    : tkNewtonSolve(n, m, xTol, fTol, maxIterations, jacobianStep, blockJacobian),
      maxLambdaSteps_(maxLambdaSteps),
      lambda0_(lambda0),
      lambdaMax_(lambdaMax),
      scaleByDiagonal_(scaleByDiagonal),
      lambda_(lambda0) {
  if (maxLambdaSteps < 0)
    tk_throwInvalidArgument("tkLevMarSolve: negative maxLambdaSteps");
  if (!(lambda0 > 0.0) || !std::isfinite(lambda0)) {
    tk_throwInvalidArgument("tkLevMarSolve: lambda0 must be positive and finite");
  }
  if (!(lambdaMax >= lambda0)) {
    tk_throwInvalidArgument("tkLevMarSolve: lambdaMax must not be smaller than lambda0");
  }
  scaling_.resize(n, 1);
}

tkLevMarSolve::~tkLevMarSolve() = default;

double tkLevMarSolve::prepareScaling() {
  const auto diagonal = tk_eigenView(static_cast<const tkNMMatrix&>(normal())).diagonal();
  auto scaling = tk_eigenView(scaling_);
  const double largest = diagonal.maxCoeff();
  if (scaleByDiagonal_) {
    const double smallest = std::max(kRelativeDampingFloor * largest, DBL_MIN);
    scaling = diagonal.cwiseMax(smallest);
    return kRelativeDampingFloor;
  }
  scaling.setOnes();
  return std::max(kRelativeDampingFloor * largest, DBL_MIN);
}

double tkLevMarSolve::minimize() {
  setOutcome(eNotRun, 0, 0);  // what stays reported if the function throws
  const double noCost = std::numeric_limits<double>::infinity();
  lambda_ = lambda0_;
  double cost = 0.0;
  long status = evaluateStart(cost);
  if (status < 0) {
    setOutcome(eFunctionStopped, 0, status);
    return noCost;
  }
  if (!std::isfinite(cost)) {
    setOutcome(eNonFiniteStart, 0, 0);
    return noCost;
  }

  const auto stepView = tk_eigenView(static_cast<const tkNMMatrix&>(step()));
  const auto scaling = tk_eigenView(static_cast<const tkNMMatrix&>(scaling_));
  const auto xTrialView = tk_eigenView(static_cast<const tkNMMatrix&>(xTrial()));
  const auto fTrialView = tk_eigenView(static_cast<const tkNMMatrix&>(fTrial()));
  auto dampingView = tk_eigenView(damping());
  auto fView = tk_eigenView(f());

  long iterations = 0;
  Termination why = eIterationLimit;
  status = 0;
  for (;;) {
    if (cost <= fTol()) {
      why = eSmallFunction;
      break;
    }
    if (iterations >= nIter()) {
      why = eIterationLimit;
      break;
    }
    status = compJacob(getX(), f(), jacobian());
    if (status < 0) {
      why = eFunctionStopped;
      break;
    }
    ++iterations;
    formNormalEquations();
    const double lambdaFloor = prepareScaling();

    bool accepted = false;
    bool stepSmall = false;
    bool stopped = false;
    for (long raised = 0;;) {
      dampingView = lambda_ * scaling;
      if (solveNormalEquations(normal(), damping(), rhs(), step())) {
        auto x = tk_eigenView(currentX());
        const bool small = stepIsSmall(step(), currentX());
        tk_eigenView(xTrial()) = x + stepView;
        status = evaluate(xTrial(), fTrial());
        if (status < 0) {
          stopped = true;
          break;
        }
        const double trialCost = squaredNorm(fTrial());
        if (trialCost < cost) {  // false for NaN and +inf
          x = xTrialView;
          fView = fTrialView;
          cost = trialCost;
          lambda_ = std::max(lambda_ / tk_kDampingFactor, std::min(lambda_, lambdaFloor));
          accepted = true;
          stepSmall = small;
          break;
        }
        if (small) {
          // Larger damping only shortens the step further: x is as good as it gets.
          stepSmall = true;
          break;
        }
      }
      if (!tk_raiseDamping(lambda_, raised, maxLambdaSteps_, lambdaMax_))
        break;
    }
    if (tk_iterationEnds(stopped, stepSmall, accepted, why))
      break;
  }
  setOutcome(why, iterations, status < 0 ? status : 0);
  return 0.5 * cost;
}
