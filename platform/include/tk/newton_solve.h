// Gauss-Newton solver for F(x) = 0, and the machinery of the normal equations shared with the
// damped solver tkLevMarSolve.
//
// Each iteration computes J = compJacob(x), forms the normal equations JᵀJ δ = -JᵀF and solves
// them by Cholesky (block-wise with a declared structure). When m == n and J is regular this is
// Newton's method on F and converges quadratically near a regular root; with m > n it is the
// Gauss-Newton method for the least-squares problem min |F|^2.
//
// tkNewtonSolve::minimize takes every full step (no damping, no line search); use tkLevMarSolve
// for starts far from the solution. Stopping rules, checked in this order:
//   |F|^2 <= fTol                 -> eSmallFunction (checked before every iteration)
//   nIter() iterations done        -> eIterationLimit
//   a negative function status     -> eFunctionStopped (x keeps the last accepted value)
//   normal equations not solvable  -> eSingularSystem
//   |δ| <= xTol * (|x| + xTol)     -> eSmallStep (after taking the step)
//   F non-finite after a step      -> eNoDecrease (the step is not taken)
// |.| is the Euclidean norm. minimize() returns (1/2)|F(x)|^2 at the final x, or +infinity when
// F could not be evaluated at the start (eFunctionStopped with no accepted point, or
// eNonFiniteStart); x is then the start unchanged.
//
// The iteration is the library's one minimisation loop (docs/solver-framework.md) with the
// undamped Newton acceptance rule and the normal equations solved by Cholesky, or block-wise
// with a declared Jacobian structure (tkFSolver::jacobianStructure). All work buffers are sized
// at construction from n and m (those of the structured solve at the first minimize() after a
// structure is declared); an iteration allocates nothing.
#ifndef TK_NEWTON_SOLVE_H
#define TK_NEWTON_SOLVE_H

#include <tk/export.h>
#include <tk/fsolver.h>
#include <tk/nm_matrix.h>

#include <memory>

namespace ccal::detail {
struct MinimizerOptions;
class Minimizer;
class MinimizerCallback;
class MinimizerProblem;
class StepSolver;
class DenseNormalEquations;
class StructuredStep;
class FSolverProblem;
}  // namespace ccal::detail

class TK_API tkNewtonSolve : public tkFSolver {
 public:
  // n parameters, m function values; xTol and fTol as in the stopping rules (both >= 0);
  // maxIterations as nIter(); jacobianStep and blockJacobian as in tkFSolver::compJacob.
  // Throws tkInvariantFailure on a negative tolerance or an invalid tkFSolver setting.
  tkNewtonSolve(long n, long m, double xTol, double fTol, long maxIterations, double jacobianStep,
                bool blockJacobian);
  ~tkNewtonSolve() override;

  double minimize() override;

  double xTol() const { return xTol_; }
  double fTol() const { return fTol_; }

 protected:
  // Runs the minimisation loop from getX() with the given options (their iteration limit and
  // tolerances are replaced by nIter(), xTol() and fTol()), records the outcome and returns
  // (1/2)|F|^2 at the final x (+infinity when F failed at the start). problem may be null: F is
  // then Func and the linearisation compJacob. callback may be null. finalDamping, when given,
  // receives the damping the loop ended with.
  double runMinimizer(const ccal::detail::MinimizerOptions& options,
                      ccal::detail::MinimizerProblem* problem, ccal::detail::StepSolver& solver,
                      ccal::detail::MinimizerCallback* callback, double* finalDamping = nullptr);
  // The step solver of the normal equations JᵀJ δ = −JᵀF: dense Cholesky, or the block-wise
  // elimination of the declared Jacobian structure (rebuilt when the declaration changed).
  ccal::detail::StepSolver& normalEquationsSolver();

  // F at the current x (m x 1) and the Jacobian of the current iteration (m x n), as handed to
  // compJacob.
  tkNMMatrix& f() { return f_; }
  tkNMMatrix& jacobian() { return jacobian_; }

 private:
  friend class ccal::detail::FSolverProblem;

  double xTol_;
  double fTol_;
  tkNMMatrix f_;
  tkNMMatrix jacobian_;
  std::unique_ptr<ccal::detail::FSolverProblem> problem_;
  std::unique_ptr<ccal::detail::Minimizer> minimizer_;
  std::unique_ptr<ccal::detail::DenseNormalEquations> dense_;
  std::unique_ptr<ccal::detail::StructuredStep> structured_;
  long structuredVersion_ = 0;
};

#endif
