// The Gauss–Newton steps of the multi-plate image cost for the sine-tangent polishing
// (ccal/problem/valley_polish.h), solved from the residual Jacobian without forming K.
//
// The weighted rows √w·[J, r] of each placement (with the cameras that saw it) are reduced by a
// Householder QR (TallQR), which leaves the placement's columns eliminated in its leading rows
// (each list's rows, which reach only the placement's and one camera's columns, reduced alone
// first); the trailing rows of all placements, stacked and reduced by one more QR, form the
// triangle of the reduced camera system (the cameras' values lead the layout), from which the
// polishing solves the cameras' steps; each placement's step follows from its leading rows
// (complete()). Cost: one evaluation of the residual Jacobian and time linear in the placements per
// step.
#ifndef CCAL_MULTICAM_MULTIPLATE_LEAST_SQUARES_H
#define CCAL_MULTICAM_MULTIPLATE_LEAST_SQUARES_H

#include "ccal/problem/multiplate_problem.h"
#include "ccal/problem/multiplate_residuals.h"
#include "ccal/problem/tall_qr.h"
#include "ccal/problem/valley_polish.h"

#include <Eigen/Core>

#include <memory>
#include <vector>

namespace ccal::detail {

class MultiplateLeastSquares final : public ValleyPolishProblem {
 public:
  // The image residual blocks of problem (which must outlive this object).
  explicit MultiplateLeastSquares(const tk_MultiplateProblem& problem);

  // E = Σ w·|r|² at x (problem.size() values); +infinity where a pose value leaves its domain.
  double cost(const double* x) override;
  // The triangle of the reduced camera system at x; null when a residual block cannot be
  // evaluated (a pose value outside its domain).
  const Eigen::MatrixXd* reduce(const double* x) override;
  // The placements' values of a step whose camera values are set, from the last reduce().
  bool complete(double* step) override;

 private:
  struct Group {
    long placementStart = -1;  // column of the placement block in x, −1 for the world frame
    long placementSize = 0;
    std::vector<long> cameras;        // the cameras with a list in this placement
    std::vector<std::size_t> blocks;  // indices into blocks_
    long rows = 0;
    Eigen::MatrixXd local;  // rows x (placementSize + cameras·cameraBlock + 1), then its R
  };

  bool reduceRows(const double* x);
  double imageCost(const double* x);

  const tk_MultiplateProblem* problem_;
  std::vector<std::unique_ptr<MultiplateListResidual>> blocks_;
  std::vector<Group> groups_;
  std::vector<double> residuals_, placementJacobian_, cameraJacobian_;
  Eigen::MatrixXd listRows_;  // one list's weighted rows [placement, camera, r]
  TallQR qr_;                // factors listRows_, a group's stacked triangles and reduced_ in place
  Eigen::MatrixXd reduced_;  // the stacked trailing rows of the placements
  Eigen::MatrixXd triangle_;  // their R
};

}  // namespace ccal::detail

#endif
