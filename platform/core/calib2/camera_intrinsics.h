// Internal: the intrinsic part of an area-scan camera as the planar calibration and the pose
// solvers see it, with the projection of a camera-frame point into the image and its
// derivatives.
//
// Frames and directions (the same as the calibrated transform's intrinsic part):
//   camera frame point Pc -> position at Z = 1, q = (Pc.x / Pc.z, Pc.y / Pc.z)
//   q -> distorted normalised point d (the lens stage of the camera model,
//        platform/core/camera_model/lens.h, which also gives its derivatives)
//   d -> image point (pixels), p = K(d):
//        p.x = scaleX * d.x + skew * d.y + transX,   p.y = scaleY * d.y + transY.
// The back direction (image -> position at Z = 1) inverts K and undistorts (the same lens stage).
// K is the inverse of the camera model's linear map L (camera_model.h). The lens values are the
// model's own list: lens[0] = k under the radial model, lens[0..3] = p0..p3 under the
// sine-tangent model, unused otherwise; the centre of expansion (centreX, centreY) is the fixed
// point of the distortion, in the normalised planes.
#ifndef TK_CORE_CALIB2_CAMERA_INTRINSICS_H
#define TK_CORE_CALIB2_CAMERA_INTRINSICS_H

#include <proc/ccal_lens_distortion.h>
#include <tk/calib2_params.h>
#include <tk/vector.h>

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

  // Position at Z = 1 -> image point. Never fails.
  tkVector<2> imageFromPositionAtZ1(const tkVector<2>& positionAtZ1) const;
  // Image point -> position at Z = 1. Returns 0, or the negative status of the lens kernel (no
  // ray reaches that radius under the sine-tangent model; positionAtZ1 is then untouched).
  // Precondition: scaleX and scaleY are not zero.
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

// Derivatives of an image point with respect to what it depends on (row 0: x, row 1: y).
struct tk_ProjectionDerivatives {
  double byCameraPoint[2][3];  // d image / d Pc
  double byLinearMap[2][5];    // d image / d (scaleX, scaleY, skew, transX, transY)
  double byLens[2][4];         // d image / d lens[0..3] (the model's values only)
  double byCentre[2][2];       // d image / d (centreX, centreY)
};

// Image point of the camera-frame point pc (x, y, z). Returns false, leaving the outputs
// untouched, when pc.z is not positive (the point is not in front of the camera). With a
// non-null derivatives argument also fills the derivatives; the hot paths of the solvers call
// this once per point per evaluation, so it allocates nothing and makes one lens-kernel call.
bool tk_projectCameraPoint(const tk_CameraIntrinsics& camera, const double pc[3], double image[2],
                           tk_ProjectionDerivatives* derivatives);

#endif
