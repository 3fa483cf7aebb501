// Levenberg-Marquardt solver for F(x) = 0 (m function values, n parameters; m >= n, usually
// m == n with F the gradient of a sum of squares).
//
// Iteration, from getX():
//   1. J = compJacob(x) (forward differences, block-wise when recomputeY(); see tkFSolver).
//   2. Solve (JᵀJ + λ D) δ = -JᵀF, with D = diag(JᵀJ) when scaleByDiagonal (each entry at least
//      1e-15 times the largest, so that a parameter without effect keeps δ_i = 0) and D = I
//      otherwise. The solve is a dense Cholesky, or block-wise with a declared structure; a
//      matrix that is not numerically positive definite counts as a rejected step.
//   3. Evaluate F(x + δ). Accept when |F|^2 strictly decreases (a non-finite F never does): x
//      moves, λ /= 10 (but not below 1e-15, relative to max diag(JᵀJ) when D = I, so that a
//      later rejection can recover within a few steps). Otherwise λ *= 10 and back to 2, at
//      most maxLambdaSteps times per iteration and never above lambdaMax.
// λ carries over from one iteration to the next and starts at lambda0 in every minimize().
//
// Stopping rules, in the order they are checked:
//   |F|^2 <= fTol                       -> eSmallFunction (before every iteration)
//   nIter() iterations done              -> eIterationLimit (before every iteration)
//   a negative status of the function    -> eFunctionStopped, at once (also inside compJacob)
//   |δ| <= xTol * (|x| + xTol)           -> eSmallStep (after that step's trial: the step is
//                                            taken when it lowers |F|^2, dropped otherwise)
//   no accepted step within the λ limits -> eNoDecrease
// Near a regular root the accepted steps approach Newton steps on F and λ shrinks
// geometrically, so convergence is quadratic up to the accuracy of the Jacobian.
//
// minimize() returns (1/2)|F|^2 at the final x, the last accepted point. When F cannot be
// evaluated at the start, x stays the start and minimize() returns +infinity: termination()
// is eFunctionStopped (negative status, in functionStatus()) or eNonFiniteStart (a non-finite
// entry in F). Nothing is thrown for these: a caller that must treat them as errors checks
// termination().
//
// The iteration is the library's one minimisation loop (docs/solver-framework.md) with the
// |F|^2 acceptance rule. All work buffers are sized at construction; an iteration allocates
// nothing.
#ifndef TK_LEVMAR_SOLVE_H
#define TK_LEVMAR_SOLVE_H

#include <tk/export.h>
#include <tk/newton_solve.h>

// The eleven settings by name (n and m apart), for solvers that construct from named values.
// The defaults are the set the library's gradient solvers use.
struct tkLevMarSettings {
  double xTol = 1e-12;
  double fTol = 1e-30;
  long maxIterations = 300;
  long maxLambdaSteps = 15;
  double lambda0 = 0.01;
  double jacobianStep = 1e-8;
  double lambdaMax = 1e20;
  bool scaleByDiagonal = true;
  bool blockJacobian = false;
};

class TK_API tkLevMarSolve : public tkNewtonSolve {
 public:
  // The eleven settings, in this order:
  //   n, m             parameters and function values (>= 1 each);
  //   xTol, fTol       tolerances of the stopping rules (>= 0);
  //   maxIterations    iteration limit (nIter(), >= 0);
  //   maxLambdaSteps   increases of λ allowed within one iteration (>= 0);
  //   lambda0          starting damping (> 0);
  //   jacobianStep     relative forward-difference step of compJacob (> 0);
  //   lambdaMax        largest damping (>= lambda0);
  //   scaleByDiagonal  D = diag(JᵀJ) (true) or the identity (false);
  //   blockJacobian    compJacob may work block-wise once recomputeYVals is given.
  // Throws tkInvariantFailure when a setting is outside its range or not finite.
  tkLevMarSolve(long n, long m, double xTol, double fTol, long maxIterations, long maxLambdaSteps,
                double lambda0, double jacobianStep, double lambdaMax, bool scaleByDiagonal,
                bool blockJacobian);
  // The same settings by name.
  tkLevMarSolve(long n, long m, const tkLevMarSettings& settings);
  ~tkLevMarSolve() override;

  double minimize() override;

  long maxLambdaSteps() const { return maxLambdaSteps_; }
  double lambda0() const { return lambda0_; }
  double lambdaMax() const { return lambdaMax_; }
  bool scaleByDiagonal() const { return scaleByDiagonal_; }
  // Damping at the end of the last minimize().
  double lambda() const { return lambda_; }

 protected:
  // The loop's options for these settings with the |F|^2 acceptance rule.
  ccal::detail::MinimizerOptions minimizerOptions() const;
  // The damping the last minimize() ended with, for derived minimisers to record.
  double& finalLambda() { return lambda_; }

 private:
  long maxLambdaSteps_;
  double lambda0_;
  double lambdaMax_;
  bool scaleByDiagonal_;
  double lambda_;
};

#endif
