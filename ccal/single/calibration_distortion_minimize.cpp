// The damped Newton minimisation of tk3DCalibrationDistortionSolver (contract in
// calibration_distortion_solver.h).
#include "ccal/single/calibration_distortion_solver.h"

#include <proc/csys_attention.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace {

constexpr double kRelativeDampingFloor = 1e-15;
constexpr double kLambdaFactor = 10.0;
// Under eSineTan a step must achieve this fraction of the decrease its quadratic model predicts.
constexpr double kSufficientDecrease = 0.25;

// Factors the n x n column-major matrix a in place into L·U with row pivoting (pivots[k] is the
// row exchanged with row k at step k). Returns false on an exactly zero or non-finite pivot.
bool luInPlace(double* a, long n, int* pivots) {
  for (long k = 0; k < n; ++k) {
    long best = k;
    for (long r = k + 1; r < n; ++r)
      if (std::fabs(a[r + k * n]) > std::fabs(a[best + k * n]))
        best = r;
    pivots[k] = static_cast<int>(best);
    if (!(std::fabs(a[best + k * n]) > 0.0) || !std::isfinite(a[best + k * n]))
      return false;
    if (best != k)
      for (long c = 0; c < n; ++c)
        std::swap(a[k + c * n], a[best + c * n]);
    const double inversePivot = 1.0 / a[k + k * n];
    for (long r = k + 1; r < n; ++r)
      a[r + k * n] *= inversePivot;
    for (long c = k + 1; c < n; ++c) {
      const double u = a[k + c * n];
      for (long r = k + 1; r < n; ++r)
        a[r + c * n] -= a[r + k * n] * u;
    }
  }
  return true;
}

// Solves L·U·x = P·b in place in b for the factors of luInPlace.
void luSolveInPlace(const double* a, long n, const int* pivots, double* b) {
  for (long k = 0; k < n; ++k)
    std::swap(b[k], b[pivots[k]]);
  for (long k = 0; k < n; ++k)
    for (long r = k + 1; r < n; ++r)
      b[r] -= a[r + k * n] * b[k];
  for (long k = n - 1; k >= 0; --k) {
    for (long c = k + 1; c < n; ++c)
      b[k] -= a[k + c * n] * b[c];
    b[k] /= a[k + k * n];
  }
}

double squaredNormOf(const tkNMMatrix& column) {
  double sum = 0.0;
  for (long i = 0; i < column.rows(); ++i)
    sum += column.data()[i] * column.data()[i];
  return sum;
}

}  // namespace

bool tk3DCalibrationDistortionSolver::dampedNewtonStep(double lambda) {
  const long n = getSize();
  const double* K = jacobian().data();
  double* a = lu_.data();
  for (long i = 0; i < n * n; ++i)
    a[i] = K[i];
  for (long i = 0; i < n; ++i)
    a[i + i * n] += lambda * scaling_.data()[i];
  if (!luInPlace(a, n, pivots_.data()))
    return false;
  double* delta = step().data();
  for (long i = 0; i < n; ++i)
    delta[i] = -f().data()[i];
  luSolveInPlace(a, n, pivots_.data(), delta);
  for (long i = 0; i < n; ++i)
    if (!std::isfinite(delta[i]))
      return false;
  return true;
}

double tk3DCalibrationDistortionSolver::minimize() {
  setOutcome(eNotRun, 0, 0);  // what stays reported if the function throws
  const double noCost = std::numeric_limits<double>::infinity();
  const long n = getSize();
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
  double merit = cost(getX());
  double lambda = lambda0();

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

    double largest = 0.0;
    for (long i = 0; i < n; ++i)
      largest = std::max(largest, std::fabs(jacobian().data()[i + i * n]));
    const double smallest = std::max(kRelativeDampingFloor * largest, DBL_MIN);
    for (long i = 0; i < n; ++i)
      scaling_.data()[i] = std::max(std::fabs(jacobian().data()[i + i * n]), smallest);

    bool accepted = false;
    bool stepSmall = false;
    bool stopped = false;
    for (long raised = 0;;) {
      status = csys_attention_check();
      if (status < 0) {
        stopped = true;
        break;
      }
      if (dampedNewtonStep(lambda)) {
        const bool small = stepIsSmall(step(), getX());
        for (long i = 0; i < n; ++i)
          xTrial().data()[i] = getX().data()[i] + step().data()[i];
        status = evaluate(xTrial(), fTrial());
        if (status < 0) {
          stopped = true;
          break;
        }
        const double trialMerit = cost(xTrial());
        const double trialSquaredF = squaredNormOf(fTrial());
        bool enough = true;
        if (model_ == tk2XformCalib2Defs::eSineTan) {
          // Along the nearly flat directions of the lens values the cost falls by rounding-sized
          // amounts for arbitrarily long steps; demanding a share of the predicted decrease keeps
          // a short refinement from running off along them.
          // F = 2·∇J and K ≈ 2·∇²J: the quadratic model predicts J + ½Fᵀδ + ¼δᵀKδ.
          double linear = 0.0, quadratic = 0.0;
          for (long i = 0; i < n; ++i) {
            linear += f().data()[i] * step().data()[i];
            double row = 0.0;
            for (long j = 0; j < n; ++j)
              row += jacobian().data()[i + j * n] * step().data()[j];
            quadratic += step().data()[i] * row;
          }
          const double predicted = -(0.5 * linear + 0.25 * quadratic);
          enough = merit - trialMerit >= kSufficientDecrease * predicted;
        }
        if (trialMerit < merit && enough && std::isfinite(trialSquaredF)) {  // false for NaN
          for (long i = 0; i < n; ++i) {
            currentX().data()[i] = xTrial().data()[i];
            f().data()[i] = fTrial().data()[i];
          }
          merit = trialMerit;
          squaredF = trialSquaredF;
          lambda = std::max(lambda / kLambdaFactor, kRelativeDampingFloor);
          accepted = true;
          stepSmall = small;
          break;
        }
        if (small) {
          stepSmall = true;  // more damping only shortens the step further
          break;
        }
      }
      if (raised >= maxLambdaSteps() || lambda * kLambdaFactor > lambdaMax())
        break;
      lambda *= kLambdaFactor;
      ++raised;
    }
    if (stopped) {
      why = eFunctionStopped;
      break;
    }
    if (stepSmall) {
      why = eSmallStep;
      break;
    }
    if (!accepted) {
      why = eNoDecrease;
      break;
    }
  }
  setOutcome(why, iterations, status < 0 ? status : 0);
  return 0.5 * squaredF;
}
