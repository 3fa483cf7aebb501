// The image-residual problem of an area-scan rig: one camera or more, Z-rotation and arbitrary
// placements, every lens model, over the column of the rig calibration (ParameterLayout's
// calibration option, or poseOnly when the intrinsic models are held). It serves the refinement on
// image residuals and the parameter covariance, so both see the same residuals, weights and
// column.
//
// F (m = 2·Σ points values): for every point of every list (camera c in a placement, lists in the
// order Z-rotation placements then arbitrary placements, cameras in order inside a placement,
// empty lists skipped) the two rows √w·(π(P) − p), pixels, with π the projection of the
// plate point through the placement's pose and the camera (platform/core/camera_model/
// residuals.h, imageResidual). A point of weight 0 has rows 0 with zero derivatives; its weight is
// read from the correspondences, so callers that drop points (outlier rejection) set w = 0.
// The Jacobian is never formed whole: evaluateList() gives one list's rows and their derivatives
// by its camera's block and its placement's block, and residualBlocks() are the same lists for a
// gradient assembly (ccal/problem/gradient_assembler.h; image form, weights doubled).
//
// Frames: image points in pixels, plate points and translations in the caller's plate units.
// Every Z-rotation placement j >= 1 is solved in a plate frame turned by its starting angle θ0_j
// (so that its tan(θ/2) value starts at 0, away from the pole at ±π) and turned back by unpack().
// Placement 0 is the world frame and has no parameters.
//
// Gauge: under eSineTan the data fix no scale shared by the lens values p0, p2 and the linear map
// L (scaling p0, p2 and L about the centre of expansion leaves every projection as it is); the
// problem holds p0 of every camera at its starting value (its Jacobian column is 0, and the
// refinement's F and K leave it out), which removes that direction and nothing else.
//
// After construction evaluate() and evaluateList() allocate nothing; an evaluation at a point
// whose pose values leave their domain (a non-finite quaternion value) writes +infinity into F
// or fails evaluateList().
#ifndef CCAL_MULTICAM_IMAGE_RESIDUAL_PROBLEM_H
#define CCAL_MULTICAM_IMAGE_RESIDUAL_PROBLEM_H

#include "ccal/multicam/multiplate_data.h"
#include "ccal/problem/multiplate_problem.h"
#include "ccal/problem/multiplate_residuals.h"

#include <ccal/multicamera_calibration_params.h>
#include <proc/ccal_crspPair2D3DWeighted.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace ccal::detail {

class ImageResidualProblem final {
 public:
  using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

  // One list of the problem: camera, placement (Z-rotation index or arbitrary index), its first
  // row in F and its number of points.
  struct List {
    long camera = 0;
    bool zRotation = true;
    long placement = 0;
    long firstRow = 0;
    long points = 0;
  };

  // The problem of data around rig (its model, poses and, when intrinsicsFixed, its intrinsic
  // models held). Throws tkInvariantFailure when the shapes disagree: no Z-rotation placement, a
  // placement without one list per camera, a rig without one model and pose per camera and one
  // pose per placement, mixed lens models, or a first Z-rotation pose that is not the identity;
  // tkMathError::Singular for non-finite rig values.
  ImageResidualProblem(const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
                       const Params& rig, bool intrinsicsFixed);
  ~ImageResidualProblem();
  // The residual blocks point into this object.
  ImageResidualProblem(const ImageResidualProblem&) = delete;
  ImageResidualProblem& operator=(const ImageResidualProblem&) = delete;

  long parameters() const { return problem_.size(); }
  long rows() const { return rows_; }
  // The rig's column (the starting point).
  const std::vector<double>& start() const { return start_; }
  const tk_MultiplateProblem& problem() const { return problem_; }
  const ParameterLayout& layout() const { return problem_.layout; }
  const std::vector<List>& lists() const { return lists_; }
  // Points of non-zero weight, and the sum of weights over them.
  long weightedPoints() const { return weightedPoints_; }
  // The weight of row pair k (= point k in list order).
  double weight(long point) const { return pointWeights_[static_cast<std::size_t>(point)]; }
  // Offset inside every camera block of the value held for the gauge (−1: none).
  long heldOffset() const { return heldOffset_; }

  // F at x (rows() values).
  void evaluate(const double* x, double* f);
  // List g at x: its 2·points rows √w·(π(P) − p) into rows, and, when the Jacobian pointers are
  // not null (both or neither), their derivatives by the camera's block (row-major, cameraBlockSize() columns, the held
  // value's column 0) and by the placement's block (row-major, its block size columns; nothing
  // for the world frame). Each output holds the list's largest size (largestList() rows).
  // False when a pose value leaves its domain.
  bool evaluateList(long g, const double* x, double* rows, double* cameraJacobian,
                    double* placementJacobian);
  long largestList() const { return largest_; }
  // The parameter block of list g's placement (−1: the world frame).
  long placementBlock(long g) const;
  // The lists as residual blocks (image form, weights doubled: F = 4·JᵀW·r, K = 4·JᵀW·J and the
  // assembled cost twice the image cost).
  const std::vector<std::unique_ptr<MultiplateListResidual>>& residualBlocks() const {
    return blocks_;
  }

  // The rig parameters of x in the caller's frames (throws tkMathError::Singular for a non-finite
  // quaternion value).
  Params unpack(const double* x) const;

 private:
  tk_MultiplateProblem problem_;
  std::vector<std::vector<ccal_crspPair2D3DWeighted>> records_;  // one per non-empty list
  std::vector<double> startAngles_;                              // θ0 per Z-rotation placement
  std::vector<std::unique_ptr<MultiplateListResidual>> blocks_;   // one per list
  std::vector<List> lists_;
  std::vector<double> pointWeights_;
  std::vector<double> start_;
  std::vector<double> residuals_;  // one list's
  std::vector<tkPhysicalAtZEquals1FromImageParams> heldIntrinsics_;
  long rows_ = 0;
  long largest_ = 0;  // rows of the largest list
  long heldOffset_ = -1;  // offset in every camera block of a held value (−1: none)
  long weightedPoints_ = 0;
};

}  // namespace ccal::detail

#endif
