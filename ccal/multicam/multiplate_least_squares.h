// The Gauss–Newton step of the multi-plate image cost solved from the residual Jacobian itself,
// without forming K = JᵀWJ, and the final polishing iteration of the sine-tangent solvers.
//
// Under eSineTan the lens values span a valley whose Gauss–Newton curvature lies at 1e-14 of the
// largest (singular values of the column-scaled image Jacobian about 1e-7 of the largest), and
// the scale the sine-tangent radius shares with the linear map is undetermined (about 1e-11).
// The normal equations square these values below their own rounding, so steps solved from K go
// wrong along the valley and the damped iteration creeps. Here the weighted rows √w·J of each
// placement (with the cameras that saw it) are reduced by a Householder QR, which leaves the
// placement's columns eliminated in its leading rows; the trailing rows of all placements form the
// reduced camera system, whose column-scaled triangle is solved by an SVD that drops directions
// below kTruncation of its largest singular value (they do not change the image; the step is the
// least-squares step of least scaled length). Cost: linear in the placements, one evaluation of
// the residual Jacobian per step.
//
// polish(): Gauss–Newton steps from x while each lowers the image cost E (a rejected step is
// halved up to kHalvings times); ends when E falls by less than a relative 1e-14, after
// kPolishIterations steps, or at the first step that lowers E by no share. x only moves to points
// of lower E, so on noisy data the RMS can only move down.
#ifndef CCAL_MULTICAM_MULTIPLATE_LEAST_SQUARES_H
#define CCAL_MULTICAM_MULTIPLATE_LEAST_SQUARES_H

#include "ccal/multicam/multiplate_problem.h"
#include "ccal/multicam/multiplate_residuals.h"

#include <Eigen/Core>

#include <memory>
#include <vector>

namespace ccal::detail {

class MultiplateLeastSquares {
 public:
  // The image residual blocks of problem (which must outlive this object).
  explicit MultiplateLeastSquares(const tk_MultiplateProblem& problem);

  // The Gauss–Newton step at x (problem.size() values) into step. False when a residual block
  // cannot be evaluated or the step is not finite.
  // determined: the same step restricted to the well-determined directions (kDetermined).
  bool step(const double* x, double* step, double* determined);

  // E at x: Σ w·|r|².
  double cost(const double* x);

  // Moves x (problem.size() values) by Gauss–Newton steps while they lower E (above). Returns the
  // number of accepted steps.
  long polish(double* x);

 private:
  struct Group {
    long placementStart = -1;  // column of the placement block in x, −1 for the world frame
    long placementSize = 0;
    std::vector<long> cameras;  // the cameras with a list in this placement
    std::vector<std::size_t> blocks;  // indices into blocks_
    long rows = 0;
    Eigen::MatrixXd local;  // rows x (placementSize + cameras·cameraBlock + 1)
  };

  const tk_MultiplateProblem* problem_;
  std::vector<std::unique_ptr<MultiplateListResidual>> blocks_;
  std::vector<Group> groups_;
  // Gauss–Newton steps along the determined directions from y while they lower E (at most
  // kProjections); returns E at the final y.
  double project(double* y, double current);
  // step() and cost() without the exception guard.
  bool solveStep(const double* x, double* step, double* determined);
  double imageCost(const double* x);

  double valleyDecrease_ = 0.0;  // of the last step: the linear decrease of E along the valley
  std::vector<double> residuals_, placementJacobian_, cameraJacobian_, trial_, delta_, full_,
      valley_, probe_;
};

}  // namespace ccal::detail

#endif
