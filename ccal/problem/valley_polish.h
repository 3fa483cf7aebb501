// Gauss–Newton polishing of a least-squares fit whose Jacobian has a curved, nearly flat valley
// (the sine-tangent lens values): steps solved from the residual Jacobian itself, never from the
// normal equations, which square its condition.
//
// Under eSineTan the scale the sine-tangent radius shares with the linear map is undetermined
// (singular value of the column-scaled image Jacobian about 1e-16 of the largest) and p1..p3 span
// a valley (about 1e-7 to 1e-8). Steps solved from K = JᵀWJ go wrong along the valley (its
// curvature, 1e-15 of the largest, is at the rounding of K) and the damped iteration creeps; a
// straight Gauss–Newton step along it is right to first order but leaves the curved valley floor
// and is rejected. Polishing therefore splits the step:
// - truncatedSteps(): from the triangle R of the column-scaled rows √w·J (and the residual column
//   Qᵀ√w·r) an SVD gives the least-squares step of least scaled length with singular values below
//   kUndetermined of the largest dropped (they do not change the image), and the same step
//   restricted to the determined directions (above kDetermined);
// - polishAlongValley(): while the linear model puts at least a tenth of the cost E along the
//   valley (exact data: nearly all of it; noisy data: the share of one direction of the noise,
//   so noisy fits are left exactly as they are), takes the valley's share of the step and then
//   returns to the valley floor by steps along the determined directions; a trial that does not
//   lower E is halved (at most four times). Ends when E falls by less than 1e-6 of itself, after
//   20 steps, or when no trial lowers E. x only ever moves to a point of lower E.
#ifndef CCAL_PROBLEM_VALLEY_POLISH_H
#define CCAL_PROBLEM_VALLEY_POLISH_H

#include <Eigen/Core>

namespace ccal::detail {

class ValleyPolishProblem {
 public:
  virtual ~ValleyPolishProblem() = default;
  // The cost at x; +infinity where it cannot be evaluated.
  virtual double cost(const double* x) = 0;
  // At x: the truncated Gauss–Newton step (full), its determined part and the linear decrease of
  // the cost along the valley (truncatedSteps). False when no step can be formed.
  virtual bool step(const double* x, double* full, double* determined, double& valleyDecrease) = 0;
};

// triangle: (n + 1) x (n + 1), upper triangular, the R factor of [√w·J, √w·r] (so its last column
// holds Qᵀ√w·r). Writes the n values of the full and the determined step (minimising
// |√w·(J·δ + r)|) and returns the linear decrease of the cost along the valley.
double truncatedSteps(const Eigen::MatrixXd& triangle, long n, double* full, double* determined);

// Polishes x (n values) as above; returns the number of accepted steps.
long polishAlongValley(ValleyPolishProblem& problem, double* x, long n);

}  // namespace ccal::detail

#endif
