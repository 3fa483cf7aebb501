// Projection of physical points into the image under one camera, prepared once for many points.
//
// imagePoint(P) is tkCameraCalibrationParams::invWarpPoint(P) with the same arithmetic: the pose
// (physical -> camera), then the camera model's projection (platform/core/camera_model: the
// perspective division, the lens distortion and the inverse linear map L⁻¹; a singular L gives
// (0, 0)). Holding the pose matrix and the prepared model as plain members makes a projection a
// few dozen flops (plus the lens function) with no allocation and no virtual call.
#ifndef CCAL_SINGLE_CAMERA_PROJECTION_H
#define CCAL_SINGLE_CAMERA_PROJECTION_H

#include "ccal/single/camera_values.h"

#include <ccal/camera_calibration_params.h>
#include <proc/ccal_crspPair2D3DWeighted.h>
#include <tk/matrix.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <cstddef>
#include <utility>
#include <vector>

class tk_CameraProjection {
 public:
  // The camera of a parameter object (its pose's stored rotation matrix and translation).
  explicit tk_CameraProjection(const tkCameraCalibrationParams& params);
  // A camera given as unpacked values.
  explicit tk_CameraProjection(const tk_CameraValues& values);

  // Physical point -> image point. A point at depth 0 gives non-finite coordinates.
  tkVector<2> imagePoint(const tkVector<3>& physicalPoint) const {
    const tkVector<3> Pc = cameraFromPhysical_.mapPoint(physicalPoint);
    return imageFromPositionAtZ1(tkVector<2>(Pc.x() / Pc.z(), Pc.y() / Pc.z()));
  }
  // Position at Z = 1 -> image point (lens distortion, then L⁻¹).
  tkVector<2> imageFromPositionAtZ1(const tkVector<2>& positionAtZ1) const;

  // Σ w·|p − imagePoint(P)|² over the records. Points of weight 0 are skipped (they add exactly
  // nothing, even where their projection is not finite).
  double weightedSquaredError(const ccal_crspPair2D3DWeighted* records, std::size_t count) const;
  // Σ w·|p − imagePoint(P)|² over weighted correspondences ((p, P), w); *weightSum (when not
  // null) receives Σ w. Points of weight 0 are skipped.
  double weightedSquaredError(
      const std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>& correspondences,
      double* weightSum) const;

 private:
  tkXform<3> cameraFromPhysical_;
  ccal::detail::CameraModel model_;
};

// Weighted root-mean-square image error √(Σ w·|p − invWarpPoint(P)|² / Σ w) of a camera on
// weighted correspondences (NaN when Σ w = 0).
double tfWeightedRmsError(
    const tkCameraCalibrationParams& camera,
    const std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>& correspondences);

#endif
