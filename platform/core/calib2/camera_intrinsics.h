// Internal: the intrinsic part of an area-scan camera as the planar calibration and the pose
// solvers see it: the values the planar calibration optimises, and their camera model.
//
// Frames and directions (the same as the calibrated transform's intrinsic part):
//   camera frame point Pc -> position at Z = 1, q = (Pc.x / Pc.z, Pc.y / Pc.z)
//   q -> distorted normalised point d (the lens stage, platform/core/camera_model/lens.h)
//   d -> image point (pixels), p = K(d):
//        p.x = scaleX * d.x + skew * d.y + transX,   p.y = scaleY * d.y + transY.
// K is the forward map (A, t) of the camera model (camera_model.h): cameraModel() holds it exactly
// and projects, with derivatives by these values, through the camera model. The lens values are
// the model's own list: lens[0] = k under the radial model, lens[0..3] = p0..p3 under the
// sine-tangent model, unused otherwise; the centre of expansion (centreX, centreY) is the fixed
// point of the distortion, in the normalised planes.
#ifndef TK_CORE_CALIB2_CAMERA_INTRINSICS_H
#define TK_CORE_CALIB2_CAMERA_INTRINSICS_H

#include <proc/ccal_lens_distortion.h>
#include <tk/calib2_params.h>
#include <tk/vector.h>

#include "platform/core/camera_model/camera_model.h"

#include <cstddef>
#include <cstdint>

struct tk_CameraIntrinsics {
  double scaleX = 1.0;
  double scaleY = 1.0;
  double skew = 0.0;
  double transX = 0.0;
  double transY = 0.0;
  int32_t model = CCAL_DISTORTION_NONE;
  double lens[4] = {0.0, 0.0, 0.0, 0.0};
  double centreX = 0.0;
  double centreY = 0.0;

  // Number of lens values of a distortion model: 1 radial, 4 sine-tangent, 0 for no
  // distortion; -1 for a model the planar calibration does not handle (telecentric, unknown).
  static int lensValueCount(int32_t model);
  // Sets the model and, from a distortion list in the calibrated transform's order ([k, cx, cy]
  // radial, [p0..p3, cx, cy] sine-tangent) of size values, the lens values and the centre; a list
  // of another size leaves them as they are.
  void distortionList(int32_t distortionModel, const double* list, std::size_t size);

  // The camera model of these values: K held exactly as its forward map, the lens stage of the
  // model and centre. A model value the camera model does not know projects without distortion.
  ccal::detail::CameraModel cameraModel() const;

  // Position at Z = 1 -> image point (cameraModel()); (0, 0) when K is singular.
  tkVector<2> imageFromPositionAtZ1(const tkVector<2>& positionAtZ1) const;
  // Image point -> position at Z = 1 (cameraModel()). Returns 0, CMATH_STATUS_SINGULAR when K is
  // singular, or the negative status of the lens kernel (no ray reaches that radius under the
  // sine-tangent model); positionAtZ1 is untouched on failure.
  int32_t positionAtZ1FromImage(const tkVector<2>& imagePoint, tkVector<2>& positionAtZ1) const;

  // True when every value in use is finite and K is regular.
  bool isFinite() const;
};

// The intrinsic part of a calibrated transform in this form (every model, telecentric included:
// the model value is copied), and back. The back conversion throws as the tkCalib2ParamsIntrinsic
// constructor (tkInvariantFailure for a model other than none, radial and sine-tangent or a
// non-finite value, tkMathError::Singular for a singular K).
tk_CameraIntrinsics tk_cameraIntrinsicsOf(const tkCalib2ParamsIntrinsic& intrinsic);
tkCalib2ParamsIntrinsic tk_calib2IntrinsicOf(const tk_CameraIntrinsics& camera);

#endif
