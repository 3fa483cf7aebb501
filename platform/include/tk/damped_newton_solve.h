// Damped Newton solver for F(x) = 0 with m == n, F (a multiple of) the gradient of a merit
// function whose decrease decides whether a step is taken.
//
// Iteration, from getX():
//   1. K = compJacob(x) (as in tkFSolver: forward differences, block-wise, or the solver's own).
//      D = |diag K|, each entry at least 1e-15 times the largest.
//   2. Step δ from (K + λD)·δ = −F: a dense LU with partial pivoting, or, when the declared
//      Jacobian structure is block-arrowhead in K (the row groups are the parameter blocks and no
//      eliminated block reaches another one's rows), by eliminating the local blocks: time linear
//      in their number. A singular system rejects the step.
//   3. The trial point x + δ, moved by adjustTrial (default: not at all), is accepted when
//      merit(x + δ) < merit(x) (false for non-finite values and for a non-finite
//      F(x + δ)) and, when sufficientDecrease() > 0, the decrease is at least that fraction of
//      the decrease −(½Fᵀδ + ¼δᵀKδ) a quadratic model predicts for F = 2∇merit: x moves,
//      λ /= 10 (not below 1e-15 unless lambda0 was). Otherwise λ *= 10 and back to 2, at most
//      maxLambdaSteps times per iteration and never above lambdaMax.
//   λ starts at lambda0 in every minimize().
// Stopping rules, in order: |F|² ≤ fTol (eSmallFunction); the iteration limit (eIterationLimit);
// an abort request (csys_attention_check, asked before every Jacobian and every trial) or a
// negative status of F (eFunctionStopped, x keeps the last accepted point); |δ| ≤ xTol·(|x| + xTol)
// (eSmallStep, after that step's trial), or an accepted step that lowered the merit by no more
// than meritTolerance() times its value or to meritFloor() (also eSmallStep); no accepted step
// within the λ limits (eNoDecrease).
// minimize() returns (1/2)|F|² at the final x, +infinity when F cannot be evaluated at the start
// (x unchanged; eFunctionStopped or eNonFiniteStart).
//
// Why not Levenberg-Marquardt on |F|² (tkLevMarSolve): the normal equations KᵀK square the
// condition of K, and in curved valleys full Newton steps lower the merit while |F|² rises, so
// the |F|² rule forces tiny steps. Near a regular root λ → 0 and the steps are Newton steps on F.
// The settings are those of tkLevMarSolve (scaleByDiagonal is not used: D is always |diag K|).
// The iteration is the library's one minimisation loop (docs/solver-framework.md) with the merit
// acceptance rule and an abort check before every Jacobian and trial. Iterations allocate
// nothing (the step workspace is made at the start of the first minimize() after a structure is
// declared).
#ifndef TK_DAMPED_NEWTON_SOLVE_H
#define TK_DAMPED_NEWTON_SOLVE_H

#include <tk/export.h>
#include <tk/levmar_solve.h>
#include <tk/nm_matrix.h>

#include <memory>

namespace ccal::detail {
class DampedNewtonProblem;
class DampedStep;
class DenseNewtonSystem;
}  // namespace ccal::detail

class TK_API tkDampedNewtonSolve : public tkLevMarSolve {
 public:
  // The settings of tkLevMarSolve; throws tkInvariantFailure when m != n or a setting is invalid.
  tkDampedNewtonSolve(long n, long m, double xTol, double fTol, long maxIterations,
                      long maxLambdaSteps, double lambda0, double jacobianStep, double lambdaMax,
                      bool scaleByDiagonal, bool blockJacobian);
  // The same settings by name (n parameters and function values).
  tkDampedNewtonSolve(long n, const tkLevMarSettings& settings);
  ~tkDampedNewtonSolve() override;

  double minimize() override;

  // Share of the predicted decrease an accepted step must achieve, in [0, 1) (0, the default:
  // any decrease). Throws tkInvariantFailure outside that range.
  void sufficientDecrease(double fraction);
  double sufficientDecrease() const { return sufficientDecrease_; }
  // Relative decrease of the merit below which an accepted step ends the minimisation, in
  // [0, 1) (0, the default: off). Where F is not exactly 2∇merit (noisy data, a gradient with
  // terms measured in another frame) the merit settles at its minimum while F keeps a small
  // residue, and the iteration would otherwise creep on with growing damping.
  void meritTolerance(double tolerance);
  double meritTolerance() const { return meritTolerance_; }
  // A merit at or below which an accepted step ends the minimisation (also eSmallStep; 0, the
  // default: off): a level below what the data resolve, where steps only stir rounding.
  // Throws tkInvariantFailure for a negative or non-finite floor.
  void meritFloor(double floor);
  double meritFloor() const { return meritFloor_; }
  // Whether a trial point is judged by its merit before F is evaluated there (false, the
  // default: F first). For solvers whose merit costs much less than F: a rejected trial then
  // costs one merit evaluation. The steps taken are the same either way.
  void meritFirst(bool first) { meritFirst_ = first; }

 protected:
  // The merit at x, which accepted steps lower. Non-finite values reject a step.
  virtual double merit(const tkNMMatrix& x) const = 0;

  // Solves (K + diag(damping))·step = −F for the K = jacobian() and F = f() of the current
  // iteration (damping: the n values λ·D; step: n x 1, preallocated). Returns false when the
  // system is singular or the step not finite, which rejects the step. The default eliminates the
  // declared local blocks or factors a dense LU. A solver whose K is a Gauss-Newton product may
  // solve the equivalent damped least-squares problem instead, which does not square the
  // condition of its Jacobian.
  virtual bool solveDampedStep(const tkNMMatrix& damping, tkNMMatrix& step);
  // May move the trial point x + δ (getSize() values, in place) before step 3 judges it, to a
  // point of no higher merit (the minimum over values that enter the merit's residuals
  // linearly, say). The default leaves it.
  virtual void adjustTrial(double* /*x*/) {}
  // The factor by which λ falls after an accepted step, given the usual 10: a solver that
  // measures how far its last step could be trusted may choose a smaller one, in [1, usual].
  // The default returns usual.
  virtual double dampingDecrease(double usual) const { return usual; }

 private:
  friend class ccal::detail::DampedNewtonProblem;
  friend class ccal::detail::DampedStep;

  double sufficientDecrease_ = 0.0;
  double meritTolerance_ = 0.0;
  double meritFloor_ = 0.0;
  bool meritFirst_ = false;
  // The default step: dense LU, or the structured one when the declaration is block-arrowhead
  // in K (rebuilt when the declaration changed).
  ccal::detail::StepSolver* newtonStep_ = nullptr;
  std::unique_ptr<ccal::detail::DenseNewtonSystem> dense_;
  std::unique_ptr<ccal::detail::StructuredStep> structured_;
  long structuredVersion_ = 0;
  std::unique_ptr<ccal::detail::DampedStep> step_;
  std::unique_ptr<ccal::detail::DampedNewtonProblem> problem_;
};

#endif
