// Internal: the residual blocks of single-camera refinement and the one pass over the points that
// assembles from them the solver's function F, its Gauss-Newton Jacobian K and the image cost.
//
// Column x: one camera block (offsets 0..4 the linear map L, 5..7 the pose quaternion's free
// values for the held component, 8..10 the pose translation, 11.. centre and lens values; n = 11,
// 14 or 17). The camera pose maps the physical frame to the camera frame.
//
// Residual blocks, one residual pair per correspondence (p, P, w), from
// platform/core/camera_model/residuals.h, each with the rows of F it feeds:
// - eNoDistortion, eRadial:
//     intrinsic-term residual  feeds the intrinsic rows (offsets 0..4 and 11..);
//     pose-term residual       feeds the pose rows (5..10);
//     image residual           feeds no row (it gives the cost only).
//   F = 2·Σ J_feedᵀ·w·r is the gradient of the Z = 1 cost with the physical points' positions at
//   Z = 1 held for the intrinsic rows and the back-projected image point and the depth held for
//   the pose rows; K = 2·Σ J_feedᵀ·w·J (rows from the feeding block, columns over the whole
//   block), not symmetric.
// - eSineTan: the image residual feeds every row with twice the usual factor: F = 4·Σ Jᵀ·w·r,
//   the analytic form of the central difference (J(x + h·eᵢ) − J(x − h·eᵢ))/h of the image cost
//   J, and K = 4·Σ Jᵀ·w·J.
// The cost is always J = Σ w·|r_image|².
//
// A correspondence of weight 0 or at camera-frame depth 0 (within 1e-15) adds nothing.
// Evaluation allocates nothing and makes no virtual call.
#ifndef CCAL_SINGLE_REFINEMENT_RESIDUALS_H
#define CCAL_SINGLE_REFINEMENT_RESIDUALS_H

#include "platform/core/camera_model/camera_model.h"
#include "platform/core/camera_model/pose.h"

#include <proc/ccal_crspPair2D3DWeighted.h>
#include <tk/xform_calib2.h>

#include <cstddef>

namespace ccal::detail {

class RefinementResiduals {
 public:
  using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;
  static constexpr int kMaxSize = 17;
  static constexpr int kPoseFirst = 5;  // offset of the pose's first value in the camera block

  // model: eNoDistortion, eRadial or eSineTan (others are the caller's to reject).
  explicit RefinementResiduals(Model model);

  int size() const { return n_; }
  // The camera model and pose of a camera block under the held quaternion component. Throws
  // tkMathError::Singular when a quaternion value is not finite.
  CameraIntrinsics intrinsicsOf(const double* x) const;
  Pose poseOf(const double* x, int held) const { return quaternionPose(held, x + kPoseFirst); }

  // Optional outputs of a pass; null pointers are not computed.
  struct Output {
    double* f = nullptr;     // n values
    double* k = nullptr;     // n x n, column-major
    double* cost = nullptr;  // J
    // eSineTan only: the weighted image residuals √w·r (2·count values, x then y per point) and
    // their derivatives √w·J (leading dimension `rowStride` >= 2·count, column-major n columns).
    // Rows of skipped points are set to 0.
    double* rows = nullptr;
    double* jacobianRows = nullptr;
    long rowStride = 0;
  };
  // One pass over the records at x.
  void evaluate(const double* x, int held, const ccal_crspPair2D3DWeighted* records,
                std::size_t count, const Output& out) const;

  // √w·r_image of every record at x (eSineTan rows as in Output; 0 for skipped points).
  void imageRows(const double* x, int held, const ccal_crspPair2D3DWeighted* records,
                 std::size_t count, double* rows) const;

 private:
  Model model_;
  int n_;
  int intrinsicValues_;  // intrinsic values the model uses (5, 8 or 11)
};

}  // namespace ccal::detail

#endif
