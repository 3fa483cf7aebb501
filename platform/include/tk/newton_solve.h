// Gauss-Newton solver for F(x) = 0, and the machinery of the normal equations shared with the
// damped solver tkLevMarSolve.
//
// Each iteration computes J = compJacob(x), forms the normal equations JᵀJ δ = -JᵀF and solves
// them through solveNormalEquations(). When m == n and J is regular this is Newton's method on F
// and converges quadratically near a regular root; with m > n it is the Gauss-Newton method for
// the least-squares problem min |F|^2.
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
// All work buffers are sized at construction from n and m (those of the structured solve at the
// first iteration after a structure is declared); an iteration allocates nothing.
#ifndef TK_NEWTON_SOLVE_H
#define TK_NEWTON_SOLVE_H

#include <tk/export.h>
#include <tk/fsolver.h>
#include <tk/nm_matrix.h>

#include <memory>

class tk_BlockNormalEquations;

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
  // Solves (normal + diag(damping)) step = rhs for step (all columns; normal n x n symmetric,
  // damping, rhs and step n x 1; step is preallocated). Returns false when the matrix is not
  // numerically positive definite or the result is not finite; the caller then treats the
  // step as failed (tkLevMarSolve raises the damping). The default factors a dense copy in
  // place by Cholesky: O(n^3), no allocation. With a declared Jacobian structure
  // (tkFSolver::jacobianStructure) it solves block-wise instead, from the blocks kept by
  // formNormalEquations (normal then holds only its diagonal; see there).
  virtual bool solveNormalEquations(const tkNMMatrix& normal, const tkNMMatrix& damping,
                                    const tkNMMatrix& rhs, tkNMMatrix& step);

  // Shared steps of the minimisers.
  // Evaluates F at getX() into f(); returns the status and stores |F|^2 in cost.
  long evaluateStart(double& cost);
  // normal() = JᵀJ and rhs() = -JᵀF from jacobian() and f(). With a declared Jacobian
  // structure only the declared blocks of J are read, the blocks of JᵀJ are kept internally
  // for solveNormalEquations, and normal() receives the diagonal of JᵀJ only (its other entries
  // are left as they are); the first call after a new declaration allocates the workspace.
  void formNormalEquations();
  // |step| <= xTol * (|x| + xTol).
  bool stepIsSmall(const tkNMMatrix& step, const tkNMMatrix& x) const;
  static double squaredNorm(const tkNMMatrix& column);
  static bool allFinite(const tkNMMatrix& matrix);

  // Work buffers, sized at construction: F at x (m x 1), J (m x n), JᵀJ (n x n), -JᵀF, the
  // damping diagonal and the step (n x 1), the trial point (n x 1) and F there (m x 1).
  tkNMMatrix& f() { return f_; }
  tkNMMatrix& jacobian() { return jacobian_; }
  tkNMMatrix& normal() { return normal_; }
  tkNMMatrix& rhs() { return rhs_; }
  tkNMMatrix& damping() { return damping_; }
  tkNMMatrix& step() { return step_; }
  tkNMMatrix& xTrial() { return xTrial_; }
  tkNMMatrix& fTrial() { return fTrial_; }

 private:
  double xTol_;
  double fTol_;
  tkNMMatrix f_;
  tkNMMatrix jacobian_;
  tkNMMatrix normal_;
  tkNMMatrix rhs_;
  tkNMMatrix damping_;
  tkNMMatrix step_;
  tkNMMatrix xTrial_;
  tkNMMatrix fTrial_;
  tkNMMatrix factor_;    // scratch of the default solveNormalEquations
  tkNMMatrix diagonal_;  // diag(JᵀJ) of the structured path
  // Workspace of the structured solve, built for jacobianStructureVersion() == blocksVersion_.
  std::unique_ptr<tk_BlockNormalEquations> blocks_;
  long blocksVersion_ = 0;
};

#endif
