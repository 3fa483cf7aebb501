#include <tk/damped_newton_solve.h>

#include "platform/core/block_newton_system.h"
#include "platform/core/damped_iteration.h"
#include "platform/core/dense_lu.h"
#include "platform/core/invalid_argument.h"

#include <proc/csys_attention.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace {
constexpr double kRelativeDampingFloor = 1e-15;
}  // namespace

tkDampedNewtonSolve::tkDampedNewtonSolve(long n, long m, double xTol, double fTol,
                                         long maxIterations, long maxLambdaSteps, double lambda0,
                                         double jacobianStep, double lambdaMax,
                                         bool scaleByDiagonal, bool blockJacobian)
    : tkLevMarSolve(n, m, xTol, fTol, maxIterations, maxLambdaSteps, lambda0, jacobianStep,
                    lambdaMax, scaleByDiagonal, blockJacobian),
      scaling_(n, 1),
      pivots_(static_cast<std::size_t>(n)) {
  if (m != n)
    tk_throwInvalidArgument("tkDampedNewtonSolve: F must have one value per parameter");
}

tkDampedNewtonSolve::~tkDampedNewtonSolve() = default;

void tkDampedNewtonSolve::meritTolerance(double tolerance) {
  if (!(tolerance >= 0.0 && tolerance < 1.0))
    tk_throwInvalidArgument("tkDampedNewtonSolve: meritTolerance must lie in [0, 1)");
  meritTolerance_ = tolerance;
}

void tkDampedNewtonSolve::sufficientDecrease(double fraction) {
  if (!(fraction >= 0.0 && fraction < 1.0))
    tk_throwInvalidArgument("tkDampedNewtonSolve: sufficientDecrease must lie in [0, 1)");
  sufficientDecrease_ = fraction;
}

bool tkDampedNewtonSolve::solveDampedStep(const tkNMMatrix& damping, tkNMMatrix& step) {
  const long n = getSize();
  if (blocksApply_)
    return blocks_->solve(jacobian().data(), f().data(), damping.data(), step.data());

  if (lu_.rows() != n)
    lu_.resize(n, n);  // first dense step only
  const double* k = jacobian().data();
  double* a = lu_.data();
  std::copy(k, k + n * n, a);
  for (long i = 0; i < n; ++i)
    a[i + i * n] += damping.data()[i];
  if (!tk_luInPlace(a, n, n, pivots_.data()))
    return false;
  double* delta = step.data();
  for (long i = 0; i < n; ++i)
    delta[i] = -f().data()[i];
  tk_luSolveInPlace(a, n, n, pivots_.data(), delta);
  for (long i = 0; i < n; ++i)
    if (!std::isfinite(delta[i]))
      return false;
  return true;
}

double tkDampedNewtonSolve::minimize() {
  setOutcome(eNotRun, 0, 0);  // what stays reported if the function throws
  const double noCost = std::numeric_limits<double>::infinity();
  const long n = getSize();
  if (blocksVersion_ != jacobianStructureVersion()) {
    blocksVersion_ = jacobianStructureVersion();
    blocksApply_ = tk_BlockNewtonSystem::applies(jacobianStructure());
    blocks_.reset(blocksApply_ ? new tk_BlockNewtonSystem(jacobianStructure()) : nullptr);
  }

  double squaredF = 0.0;
  long status = evaluateStart(squaredF);
  if (status < 0) {
    setOutcome(eFunctionStopped, 0, status);
    return noCost;
  }
  if (!std::isfinite(squaredF)) {
    setOutcome(eNonFiniteStart, 0, 0);
    return noCost;
  }
  double current = merit(getX());
  double lambda = lambda0();
  const double* delta = step().data();

  long iterations = 0;
  Termination why = eIterationLimit;
  status = 0;
  for (;;) {
    if (squaredF <= fTol()) {
      why = eSmallFunction;
      break;
    }
    if (iterations >= nIter()) {
      why = eIterationLimit;
      break;
    }
    status = csys_attention_check();
    if (status >= 0)
      status = compJacob(getX(), f(), jacobian());
    if (status < 0) {
      why = eFunctionStopped;
      break;
    }
    ++iterations;
    const double* k = jacobian().data();  // after compJacob, which may have resized it

    double largest = 0.0;
    for (long i = 0; i < n; ++i)
      largest = std::max(largest, std::fabs(k[i + i * n]));
    const double smallest = std::max(kRelativeDampingFloor * largest, DBL_MIN);
    for (long i = 0; i < n; ++i)
      scaling_.data()[i] = std::max(std::fabs(k[i + i * n]), smallest);

    bool accepted = false;
    bool stepSmall = false;
    bool stopped = false;
    for (long raised = 0;;) {
      status = csys_attention_check();
      if (status < 0) {
        stopped = true;
        break;
      }
      for (long i = 0; i < n; ++i)
        damping().data()[i] = lambda * scaling_.data()[i];
      if (solveDampedStep(damping(), step())) {
        const bool small = stepIsSmall(step(), getX());
        for (long i = 0; i < n; ++i)
          xTrial().data()[i] = getX().data()[i] + delta[i];
        status = evaluate(xTrial(), fTrial());
        if (status < 0) {
          stopped = true;
          break;
        }
        const double trialMerit = merit(xTrial());
        const double trialSquaredF = squaredNorm(fTrial());
        bool enough = true;
        if (sufficientDecrease_ > 0.0) {
          // With F = 2∇merit and K ≈ 2∇²merit the model predicts merit + ½Fᵀδ + ¼δᵀKδ.
          double linear = 0.0, quadratic = 0.0;
          for (long i = 0; i < n; ++i) {
            linear += f().data()[i] * delta[i];
            double row = 0.0;
            for (long j = 0; j < n; ++j)
              row += k[i + j * n] * delta[j];
            quadratic += delta[i] * row;
          }
          const double predicted = -(0.5 * linear + 0.25 * quadratic);
          enough = current - trialMerit >= sufficientDecrease_ * predicted;
        }
        if (trialMerit < current && enough && std::isfinite(trialSquaredF)) {  // false for NaN
          for (long i = 0; i < n; ++i) {
            currentX().data()[i] = xTrial().data()[i];
            f().data()[i] = fTrial().data()[i];
          }
          const bool flat = current - trialMerit <= meritTolerance_ * current;
          current = trialMerit;
          squaredF = trialSquaredF;
          lambda = std::max(lambda / tk_kDampingFactor, kRelativeDampingFloor);
          accepted = true;
          stepSmall = small || flat;
          break;
        }
        if (small) {
          stepSmall = true;  // more damping only shortens the step further
          break;
        }
      }
      if (!tk_raiseDamping(lambda, raised, maxLambdaSteps(), lambdaMax()))
        break;
    }
    if (tk_iterationEnds(stopped, stepSmall, accepted, why))
      break;
  }
  setOutcome(why, iterations, status < 0 ? status : 0);
  return 0.5 * squaredF;
}
