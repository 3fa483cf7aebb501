#include <tk/levmar_solve.h>

#include "platform/core/invalid_argument.h"
#include "platform/proc/minimizer.h"

#include <cmath>

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
}

tkLevMarSolve::tkLevMarSolve(long n, long m, const tkLevMarSettings& s)
    : tkLevMarSolve(n, m, s.xTol, s.fTol, s.maxIterations, s.maxLambdaSteps, s.lambda0,
                    s.jacobianStep, s.lambdaMax, s.scaleByDiagonal, s.blockJacobian) {}

tkLevMarSolve::~tkLevMarSolve() = default;

ccal::detail::MinimizerOptions tkLevMarSolve::minimizerOptions() const {
  ccal::detail::MinimizerOptions options;
  options.acceptance = ccal::detail::AcceptanceRule::kSquaredNorm;
  options.initialDamping = lambda0_;
  options.maxDamping = lambdaMax_;
  options.maxDampingRaises = maxLambdaSteps_;
  options.scaleByDiagonal = scaleByDiagonal_;
  options.dampingFloor = kRelativeDampingFloor;
  return options;
}

double tkLevMarSolve::minimize() {
  lambda_ = lambda0_;
  return runMinimizer(minimizerOptions(), nullptr, normalEquationsSolver(), nullptr, &lambda_);
}
