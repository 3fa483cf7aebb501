#include "platform/proc/dense_step_solvers.h"

#include "platform/proc/dense_cholesky.h"
#include "platform/proc/dense_lu.h"

#include <Eigen/Core>

#include <algorithm>
#include <cmath>

namespace ccal::detail {
namespace {
std::size_t size(long a, long b = 1) {
  return static_cast<std::size_t>(a) * static_cast<std::size_t>(b);
}
}  // namespace

DenseNormalEquations::DenseNormalEquations(long n, long m)
    : n_(n), m_(m), normal_(size(n, n)), rhs_(size(n)), factor_(size(n, n)) {}

void DenseNormalEquations::prepare(const double* jacobianData, const double* fData,
                                   double* diagonal) {
  const Eigen::Map<const Eigen::MatrixXd> jacobian(jacobianData, m_, n_);
  const Eigen::Map<const Eigen::MatrixXd> f(fData, m_, 1);
  Eigen::Map<Eigen::MatrixXd> normal(normal_.data(), n_, n_);
  Eigen::Map<Eigen::MatrixXd> rhs(rhs_.data(), n_, 1);
  // Lower triangle one column at a time (matrix-vector products: no temporaries, unlike a
  // blocked matrix product), then mirrored.
  for (long c = 0; c < n_; ++c)
    normal.col(c).tail(n_ - c).noalias() = jacobian.rightCols(n_ - c).transpose() * jacobian.col(c);
  for (long c = 1; c < n_; ++c)
    for (long r = 0; r < c; ++r)
      normal(r, c) = normal(c, r);
  rhs.col(0).noalias() = jacobian.transpose() * f.col(0);
  rhs = -rhs;
  for (long i = 0; i < n_; ++i)
    diagonal[i] = normal(i, i);
}

bool DenseNormalEquations::solve(const double* damping, double* step) {
  Eigen::Map<Eigen::MatrixXd> factor(factor_.data(), n_, n_);
  factor.triangularView<Eigen::Lower>() = Eigen::Map<const Eigen::MatrixXd>(normal_.data(), n_, n_);
  factor.diagonal() += Eigen::Map<const Eigen::VectorXd>(damping, n_);
  if (!tk_choleskyInPlace(factor))
    return false;
  // A vector-typed view keeps the triangular solves on the workspace-free vector path.
  Eigen::Map<Eigen::VectorXd> solution(step, n_);
  solution = Eigen::Map<const Eigen::VectorXd>(rhs_.data(), n_);
  factor.triangularView<Eigen::Lower>().solveInPlace(solution);
  factor.triangularView<Eigen::Lower>().adjoint().solveInPlace(solution);
  return solution.allFinite();
}

DenseNewtonSystem::DenseNewtonSystem(long n)
    : n_(n), lu_(size(n, n)), pivots_(static_cast<std::size_t>(n)) {}

void DenseNewtonSystem::prepare(const double* k, const double* f, double* diagonal) {
  k_ = k;
  f_ = f;
  for (long i = 0; i < n_; ++i)
    diagonal[i] = k[i + i * n_];
}

bool DenseNewtonSystem::solve(const double* damping, double* step) {
  const long n = n_;
  double* a = lu_.data();
  std::copy(k_, k_ + n * n, a);
  for (long i = 0; i < n; ++i)
    a[i + i * n] += damping[i];
  if (!tk_luInPlace(a, n, n, pivots_.data()))
    return false;
  for (long i = 0; i < n; ++i)
    step[i] = -f_[i];
  tk_luSolveInPlace(a, n, n, pivots_.data(), step);
  for (long i = 0; i < n; ++i)
    if (!std::isfinite(step[i]))
      return false;
  return true;
}

}  // namespace ccal::detail
