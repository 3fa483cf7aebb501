#include <tk/newton_solve.h>
#include "platform/core/invalid_argument.h"

#include "platform/core/block_normal_equations.h"
#include "platform/core/dense_cholesky.h"
#include "platform/core/nm_matrix_eigen.h"

#include <cmath>
#include <limits>
#include <stdexcept>

tkNewtonSolve::tkNewtonSolve(long n, long m, double xTol, double fTol, long maxIterations,
                             double jacobianStep, bool blockJacobian)
    : tkFSolver(n, m, maxIterations, jacobianStep, blockJacobian), xTol_(xTol), fTol_(fTol) {
  if (!(xTol >= 0.0) || !(fTol >= 0.0)) {
    tk_throwInvalidArgument("tkNewtonSolve: the tolerances must not be negative or NaN");
  }
  f_.resize(m, 1);
  jacobian_.resize(m, n);
  normal_.resize(n, n);
  rhs_.resize(n, 1);
  damping_.resize(n, 1);
  step_.resize(n, 1);
  xTrial_.resize(n, 1);
  fTrial_.resize(m, 1);
  factor_.resize(n, n);
  diagonal_.resize(n, 1);
}

tkNewtonSolve::~tkNewtonSolve() = default;

double tkNewtonSolve::squaredNorm(const tkNMMatrix& column) {
  return tk_eigenView(column).squaredNorm();
}

bool tkNewtonSolve::allFinite(const tkNMMatrix& matrix) {
  return tk_eigenView(matrix).allFinite();
}

long tkNewtonSolve::evaluateStart(double& cost) {
  const long status = evaluate(getX(), f_);
  cost = squaredNorm(f_);
  return status;
}

void tkNewtonSolve::formNormalEquations() {
  if (!jacobianStructure().empty()) {
    if (blocks_ == nullptr || blocksVersion_ != jacobianStructureVersion()) {
      blocks_ = std::make_unique<tk_BlockNormalEquations>(jacobianStructure());
      blocksVersion_ = jacobianStructureVersion();
    }
    blocks_->form(jacobian_.data(), f_.data(), rhs_.data(), diagonal_.data());
    tk_eigenView(normal_).diagonal() =
        tk_eigenView(static_cast<const tkNMMatrix&>(diagonal_)).col(0);
    return;
  }
  const auto jacobian = tk_eigenView(static_cast<const tkNMMatrix&>(jacobian_));
  const auto f = tk_eigenView(static_cast<const tkNMMatrix&>(f_));
  auto normal = tk_eigenView(normal_);
  auto rhs = tk_eigenView(rhs_);
  const long n = getSize();
  // Lower triangle one column at a time (matrix-vector products: no temporaries, unlike a
  // blocked matrix product), then mirrored.
  for (long c = 0; c < n; ++c) {
    normal.col(c).tail(n - c).noalias() = jacobian.rightCols(n - c).transpose() * jacobian.col(c);
  }
  for (long c = 1; c < n; ++c) {
    for (long r = 0; r < c; ++r)
      normal(r, c) = normal(c, r);
  }
  rhs.col(0).noalias() = jacobian.transpose() * f.col(0);
  rhs = -rhs;
}

bool tkNewtonSolve::stepIsSmall(const tkNMMatrix& step, const tkNMMatrix& x) const {
  return tk_eigenView(step).norm() <= xTol_ * (tk_eigenView(x).norm() + xTol_);
}

bool tkNewtonSolve::solveNormalEquations(const tkNMMatrix& normal, const tkNMMatrix& damping,
                                         const tkNMMatrix& rhs, tkNMMatrix& step) {
  const long n = getSize();
  if (normal.rows() != n || normal.cols() != n || damping.rows() != n || damping.cols() != 1 ||
      rhs.rows() != n || rhs.cols() != 1 || step.rows() != n || step.cols() != 1) {
    tk_throwInvalidArgument("tkNewtonSolve::solveNormalEquations: wrong shapes");
  }
  if (!jacobianStructure().empty()) {
    if (blocks_ == nullptr || blocksVersion_ != jacobianStructureVersion()) {
      tk_throwInvalidArgument(
          "tkNewtonSolve::solveNormalEquations: the structure changed since formNormalEquations");
    }
    return blocks_->solve(damping.data(), rhs.data(), step.data());
  }
  auto factor = tk_eigenView(factor_);
  factor.triangularView<Eigen::Lower>() = tk_eigenView(normal);
  factor.diagonal() += tk_eigenView(damping).col(0);
  if (!tk_choleskyInPlace(factor))
    return false;
  // A vector-typed view keeps the triangular solves on the workspace-free vector path.
  Eigen::Map<Eigen::VectorXd> solution(step.data(), n);
  solution = tk_eigenView(rhs).col(0);
  factor.triangularView<Eigen::Lower>().solveInPlace(solution);
  factor.triangularView<Eigen::Lower>().adjoint().solveInPlace(solution);
  return solution.allFinite();
}

double tkNewtonSolve::minimize() {
  setOutcome(eNotRun, 0, 0);  // what stays reported if the function throws
  const double noCost = std::numeric_limits<double>::infinity();
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

  damping_.setZero();
  const auto xTrialView = tk_eigenView(static_cast<const tkNMMatrix&>(xTrial_));
  const auto stepView = tk_eigenView(static_cast<const tkNMMatrix&>(step_));
  long iterations = 0;
  Termination why = eIterationLimit;
  status = 0;
  for (;;) {
    if (cost <= fTol_) {
      why = eSmallFunction;
      break;
    }
    if (iterations >= nIter()) {
      why = eIterationLimit;
      break;
    }
    status = compJacob(getX(), f_, jacobian_);
    if (status < 0) {
      why = eFunctionStopped;
      break;
    }
    ++iterations;
    formNormalEquations();
    if (!solveNormalEquations(normal_, damping_, rhs_, step_)) {
      why = eSingularSystem;
      break;
    }
    auto x = tk_eigenView(currentX());
    tk_eigenView(xTrial_) = x + stepView;
    status = evaluate(xTrial_, fTrial_);
    if (status < 0) {
      why = eFunctionStopped;
      break;
    }
    const double trialCost = squaredNorm(fTrial_);
    if (!std::isfinite(trialCost)) {
      why = eNoDecrease;
      break;
    }
    const bool small = stepIsSmall(step_, currentX());
    x = xTrialView;
    tk_eigenView(f_) = tk_eigenView(static_cast<const tkNMMatrix&>(fTrial_));
    cost = trialCost;
    if (small) {
      why = eSmallStep;
      break;
    }
  }
  setOutcome(why, iterations, status < 0 ? status : 0);
  return 0.5 * cost;
}
