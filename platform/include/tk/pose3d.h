// Pose library: the rigid pose of a calibrated camera relative to a set of physical points
// whose images it saw.
#ifndef TK_POSE3D_H
#define TK_POSE3D_H

#include <tk/export.h>
#include <tk/quaternion_xform.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

#include <utility>
#include <vector>

// Options of tf3DComputePose.
class TK_API tk3DComputePoseParams {
 public:
  // Default: at most 100 iterations of the refinement.
  tk3DComputePoseParams() = default;

  // Largest number of Levenberg-Marquardt iterations (>= 0; 0 keeps the closed-form pose).
  // The setter throws tkInvariantFailure for a negative value.
  long maxIterations() const { return maxIterations_; }
  void maxIterations(long iterations);

 private:
  long maxIterations_ = 100;
};

// Result of tf3DComputePose.
class TK_API tk3DComputePoseResult {
 public:
  // The identity pose, no residuals.
  tk3DComputePoseResult() = default;
  tk3DComputePoseResult(const tk3QuaternionXform& pose, double rms, double largest)
      : pose_(pose), rms_(rms), largest_(largest) {}

  // Camera from physical: Pc = pose().mapPoint(P).
  const tk3QuaternionXform& pose() const { return pose_; }
  // Root-mean-square image residual over the points (pixels).
  double rms() const { return rms_; }
  // Largest image residual (pixels).
  double largestResidual() const { return largest_; }

 private:
  tk3QuaternionXform pose_;
  double rms_ = 0.0;
  double largest_ = 0.0;
};

// The rigid pose (camera from physical) that minimises the image residual of the pairs
// (image point in pixels, physical point) under the intrinsic part of `camera` (its extrinsic
// part is not used). The points may lie on one plane or not.
// Start: the image points are taken to their positions at Z = 1; the pose from the plane that
// fits the physical points best (homography) and, for 6 or more points that do not lie on one
// plane, the direct linear transform compete, the one with the smaller image residual wins;
// then Levenberg-Marquardt on the image residual over the six pose values.
// Throws tkInvariantFailure for fewer than 4 pairs, a non-finite coordinate or a
// telecentric camera; tkProcedureFailure (the status of ccal_xformCalib2_invSinTan_) for an
// image point that no ray reaches under the sine-tangent lens; tkMathError::Singular for
// collinear physical points or image points, or a refinement that fails; tkAttention::Aborted
// on an abort request. result is written only on success.
TK_API void tf3DComputePose(const std::vector<std::pair<tkVector<2>, tkVector<3>>>& pairs,
                            const tk2XformCalib2& camera, const tk3DComputePoseParams& params,
                            tk3DComputePoseResult& result);

#endif
