// Internal: the dense step solvers of the minimiser (minimizer.h). Each solves the damped step
// (A + diag(d)) δ = g from one linearisation, with A = JᵀJ, g = −JᵀF (normal equations, for
// Levenberg–Marquardt and Gauss–Newton) or A = K = ∂F/∂x, g = −F (Newton system on F, m == n):
// - DenseNormalEquations: Cholesky of JᵀJ + D, O(n³); fails when not numerically positive
//   definite (a pivot not above 1e-14 of its diagonal entry).
// - DenseNewtonSystem: LU with partial pivoting of K + D; fails on an exactly zero pivot.
// The structured solver of both systems is StructuredStep (platform/core/structured_step.h).
// Every solver sizes its workspace in its constructor; prepare() and solve() allocate nothing.
#ifndef TK_PROC_DENSE_STEP_SOLVERS_H
#define TK_PROC_DENSE_STEP_SOLVERS_H

#include "platform/proc/minimizer.h"

#include <vector>

namespace ccal::detail {

class DenseNormalEquations final : public StepSolver {
 public:
  DenseNormalEquations(long n, long m);
  void prepare(const double* jacobian, const double* f, double* diagonal) override;
  bool solve(const double* damping, double* step) override;

 private:
  long n_;
  long m_;
  std::vector<double> normal_;  // JᵀJ, n x n
  std::vector<double> rhs_;     // −JᵀF
  std::vector<double> factor_;  // JᵀJ + D and its Cholesky factor
};

class DenseNewtonSystem final : public StepSolver {
 public:
  explicit DenseNewtonSystem(long n);
  // Reads K (n x n) and F through the pointers until the next prepare().
  void prepare(const double* k, const double* f, double* diagonal) override;
  bool solve(const double* damping, double* step) override;

 private:
  long n_;
  const double* k_ = nullptr;
  const double* f_ = nullptr;
  std::vector<double> lu_;
  std::vector<int> pivots_;
};

}  // namespace ccal::detail

#endif
