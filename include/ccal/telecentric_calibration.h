// Calibration of a telecentric camera from a planar calibration plate seen in several known poses.
//
// Camera model (orthographic projection): a plate point P of pose i maps to the image point
//   image = K * (Q.x, Q.y) + translation,   Q = E * (pose_i * P),
// where pose_i (plate -> home frame) is given by the caller, E (home -> camera frame) is the
// extrinsic rigid transform and K, translation form the intrinsic part (tkCalib2ParamsIntrinsic
// with distortion model tk2XformCalib2Defs::eTelecentric = 7). Q.z, and with it the Z translation
// of E, never reaches the image: it cannot be measured, and tkCalibrateTelecentricCameraParams::
// cameraHeight may supply it. The intrinsic translation and E's (x, y) translation act on the
// image alike; the calibrations put the whole image offset into E and leave the intrinsic
// translation at (0, 0) (overload 3 keeps the caller's intrinsic part). See docs/telecentric.md.
//
// Image points are in pixels, plate points in plate units (their Z is 0 on the plate); the
// per-pose residual figures are in pixels.
#ifndef CCAL_TELECENTRIC_CALIBRATION_H
#define CCAL_TELECENTRIC_CALIBRATION_H

#include <ccal/export.h>
#include <ccal/telecentric_calibration_errors.h>
#include <ccal/telecentric_extrinsics_errors.h>
#include <tk/archive.h>
#include <tk/calib2_params.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/pair.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>

#include <vector>

// Options of tfCalibrateTelecentricCamera. A plain value class with member-wise copy.
class CCAL_API tkCalibrateTelecentricCameraParams {
 public:
  // useCameraHeight false, cameraHeight 0.0.
  tkCalibrateTelecentricCameraParams() = default;

  // When true, cameraHeight fixes the Z translation that the projection cannot measure:
  //   overload 1: the camera frame's origin lies at home-frame Z = -cameraHeight
  //               (E's translation t satisfies (R^T t).z = cameraHeight);
  //   overload 2: cameraHeight is the Z of the affine estimate's translation before it is
  //               factored, which places the camera frame's origin likewise;
  //   overload 3: E's translation Z becomes cameraHeight, negated when E's rotation entry
  //               (2, 2) is negative.
  // When false, overloads 1 and 2 put the camera frame's origin on the home plane Z = 0 and
  // overload 3 leaves E's translation Z at 0.
  bool useCameraHeight() const { return useCameraHeight_; }
  void useCameraHeight(bool use) { useCameraHeight_ = use; }

  double cameraHeight() const { return cameraHeight_; }
  // Any finite value (0 and negative values included). Throws
  // tkCalibrateTelecentricCameraDefs::BadParams ("cameraHeight == -HUGE_VAL || cameraHeight ==
  // HUGE_VAL") for an infinite value or NaN; the stored value is then unchanged.
  void cameraHeight(double height);

  // Both flags equal and both heights equal as doubles (the height counts even when the flag is
  // false).
  bool operator==(const tkCalibrateTelecentricCameraParams& other) const;
  bool operator!=(const tkCalibrateTelecentricCameraParams& other) const {
    return !(*this == other);
  }

 private:
  bool useCameraHeight_ = false;
  double cameraHeight_ = 0.0;

  friend CCAL_API tkArchive& operator||(tkArchive& ar, tkCalibrateTelecentricCameraParams& params);
};

// Stores or loads the options: a version byte (0), useCameraHeight (bool), cameraHeight
// (double), each in the archive encoding. Loading a version byte other than 0 throws
// tkArchive::UnknownVersion ("ccal/telcntrc/ccalibtl", line 49) before any field is read; the
// fields are written into params as they are read, and a loaded cameraHeight is not validated.
CCAL_API tkArchive& operator||(tkArchive& ar, tkCalibrateTelecentricCameraParams& params);

// Overload 1: unweighted correspondences, intrinsic and extrinsic part computed by the
// procedural calibration ccal_calibrateTelecentricCamera
// (<proc/ccal_calibrateTelecentricCamera.h>), which refines the closed-form estimate by minimising
// the image residual: the most accurate of the three overloads.
//   imagePointsPhysicalPoints[i]: pairs (image point, plate point (X, Y)) of pose i;
//   poses[i]: plate -> home transform of pose i.
// Outputs (written only after the calibration succeeded; the two vectors get exactly
// poses.size() entries): calibratedXform, the camera (model 7, intrinsic translation (0, 0));
// poseRmsResiduals[i] and poseMaxResiduals[i], the RMS and the largest image residual (pixels)
// of pose i.
// Throws, in this order of checking:
//   tkCalibrateTelecentricCameraDefs::BadParams "imagePointsPhysicalPoints.size() != poses.size()";
//   tkCalibrateTelecentricCameraDefs::InsufficientPoses "poses.size() < 2";
// then, from the procedural calibration, BadParams for non-finite values or fewer than 4 points,
// tkMathError::Singular when the home-frame points lie in one plane (for example when every pose
// is the same) or the camera sees the home plane edge-on, tkAttention::Aborted on an abort
// request, std::bad_alloc.
CCAL_API void tfCalibrateTelecentricCamera(
    const std::vector<std::vector<tkPair<tkVector<2>>>>& imagePointsPhysicalPoints,
    const std::vector<tkXform<3>>& poses, const tkCalibrateTelecentricCameraParams& params,
    std::vector<double>& poseRmsResiduals, std::vector<double>& poseMaxResiduals,
    tk2XformCalib2& calibratedXform);

// Overload 2: weighted correspondences, intrinsic and extrinsic part in closed form (a weighted
// linear fit of the affine map home frame -> image, factored into K and E; no iteration).
//   correspondences[i]: image(), physical3D() (plate point) and weight() (>= 0; multiplies the
//   point's squared error) of pose i.
// Outputs as overload 1 (weighted RMS). Throws, in this order:
//   tk_TelecentricCalibrationDefs::BadParams "poses.size() < 2";
//   tk_TelecentricCalibrationDefs::BadParams "poses.size() != correspondences.size()";
//   tk_TelecentricCalibrationDefs::BadParams for a negative or non-finite weight;
//   tkMathError::Singular when the weighted home-frame points do not span space (coplanar, too
//   few) or the estimate cannot be factored; tkInvariantFailure for non-finite coordinates;
//   tkAttention::Aborted on an abort request.
CCAL_API void tfCalibrateTelecentricCamera(
    const std::vector<std::vector<tkCrspPairWeighted>>& correspondences,
    const std::vector<tkXform<3>>& poses, const tkCalibrateTelecentricCameraParams& params,
    std::vector<double>& poseRmsResiduals, std::vector<double>& poseMaxResiduals,
    tk2XformCalib2& calibratedXform);

// Overload 3: the intrinsic part is known; E is estimated from the affine fit and refined by
// minimising the unweighted residual in the camera plane (intrinsic.invMapPoint of the image
// points) over E's rotation and (x, y) translation. calibratedXform receives the caller's
// intrinsic part unchanged (its distortion model included) and E; the per-pose figures use
// intrinsic.mapPoint((Q.x, Q.y)) with the weights. Throws as overload 2, plus what
// intrinsic.invMapPoint throws.
CCAL_API void tfCalibrateTelecentricCamera(
    const std::vector<std::vector<tkCrspPairWeighted>>& correspondences,
    const std::vector<tkXform<3>>& poses, const tkCalibrateTelecentricCameraParams& params,
    const tkCalib2ParamsIntrinsic& intrinsic, std::vector<double>& poseRmsResiduals,
    std::vector<double>& poseMaxResiduals, tk2XformCalib2& calibratedXform);

#endif
