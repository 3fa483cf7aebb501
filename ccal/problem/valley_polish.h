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
// - the step: from the triangle R of the column-scaled rows √w·[J, r] an SVD gives the
//   least-squares step of least scaled length with singular values below 1e-9 of the largest
//   dropped (they do not change the image), and the same step restricted to the determined
//   directions (above 1e-6 of the largest); the directions between form the valley;
// - polish(): while the linear model puts at least a tenth of the cost along the valley (exact
//   data: nearly all of it; noisy data: one direction's share of the noise, so noisy fits are left
//   exactly as they are), takes the valley's share of the step and then returns to the valley
//   floor by steps along the determined directions; a trial that does not lower the cost is halved
//   (at most four times). Ends when the cost falls by less than 1e-6 of itself, after 20 steps,
//   when no trial lowers it, or at an abort request (csys_attention_check). x only ever moves to a
//   point of lower cost.
#ifndef CCAL_PROBLEM_VALLEY_POLISH_H
#define CCAL_PROBLEM_VALLEY_POLISH_H

#include <Eigen/Core>
#include <Eigen/SVD>

#include <vector>

namespace ccal::detail {

class ValleyPolishProblem {
 public:
  virtual ~ValleyPolishProblem() = default;
  // The cost Σ w·r² at x; +infinity where it cannot be evaluated.
  virtual double cost(const double* x) = 0;
  // At x: the upper triangle R ((k + 1) x (k + 1), k <= n) of the weighted rows √w·[J, r] reduced
  // to the leading k values of x (the others eliminated), its last column Qᵀ√w·r. Null when the
  // rows cannot be evaluated. The matrix stays valid until the next call.
  virtual const Eigen::MatrixXd* reduce(const double* x) = 0;
  // Completes a step whose leading k values are set (the eliminated values follow from them);
  // false when they are not finite. The default: nothing to complete (k = n).
  virtual bool complete(double* step);
};

class ValleyPolish {
 public:
  // For problems of n values; the work space is made here, so that polish allocates nothing
  // (beyond what the problem's own functions do).
  explicit ValleyPolish(long n);

  // Polishes x (n values) as above; returns the number of accepted steps.
  long polish(ValleyPolishProblem& problem, double* x);

 private:
  // The full and the determined step at x and the linear decrease of the cost along the valley.
  bool step(ValleyPolishProblem& problem, const double* x, double* full, double* determined,
            double& valleyDecrease);
  // Steps along the determined directions from y while they lower the cost; the cost at the end.
  double project(ValleyPolishProblem& problem, double* y, double current);

  long n_;
  std::vector<double> full_, determined_, trial_, fullWork_, determinedWork_, probe_;
  Eigen::VectorXd scale_, utb_, fullScaled_, determinedScaled_;
  Eigen::MatrixXd scaled_;
  Eigen::BDCSVD<Eigen::MatrixXd> svd_;
};

}  // namespace ccal::detail

#endif
