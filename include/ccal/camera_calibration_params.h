// The full model of one area-scan camera: its intrinsic model and its pose relative to the
// calibration plate (the physical, or world, frame). The result type of single-camera
// calibration; converts into the calibrated transform tk2XformCalib2.
//
// A physical point P maps to camera coordinates Pc = cameraPoseInverse(P) (rotation, then
// translation); Pc.z is the depth along the optical axis, and (Pc.x/Pc.z, Pc.y/Pc.z) is the
// position at Z = 1 that the intrinsic model maps to the image. Physical points are in plate or
// world units, image points in pixels.
//
// A plain value class with member-wise copy.
#ifndef CCAL_CAMERA_CALIBRATION_PARAMS_H
#define CCAL_CAMERA_CALIBRATION_PARAMS_H

#include <ccal/export.h>
#include <ccal/physical_at_z1_from_image_params.h>
#include <tk/quaternion_xform.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

class CCAL_API tkCameraCalibrationParams {
 public:
  // The default intrinsic model (eRadial, k = 0, identity linear part, centre (0, 0)) and the
  // identity pose (quaternion (1, 0, 0, 0), translation (0, 0, 0)).
  tkCameraCalibrationParams();

  const tkPhysicalAtZEquals1FromImageParams& physicalAtZEquals1FromImageParams() const {
    return physicalAtZEquals1FromImageParams_;
  }
  void physicalAtZEquals1FromImageParams(const tkPhysicalAtZEquals1FromImageParams& intrinsic) {
    physicalAtZEquals1FromImageParams_ = intrinsic;
  }
  // The rigid transform physical (plate) -> camera.
  const tk3QuaternionXform& cameraPoseInverse() const { return cameraPoseInverse_; }
  void cameraPoseInverse(const tk3QuaternionXform& pose) { cameraPoseInverse_ = pose; }

  // Physical point -> image point: Pc = cameraPoseInverse(P), then the intrinsic model's
  // invWarpPoint((Pc.x/Pc.z, Pc.y/Pc.z)). A point with Pc.z = 0 gives non-finite coordinates.
  tkVector<2> invWarpPoint(const tkVector<3>& physicalPoint) const;
  // Image point -> the physical point on the plane Z = 0 seen there (its z is 0 up to
  // rounding): the line through the camera centre and the position at Z = 1 (carried into the
  // physical frame) met with the plane. A ray parallel to the plane gives non-finite
  // coordinates; with the camera centre on the plane the result is undefined. Throws as the
  // intrinsic model's warpPoint under eSineTan.
  tkVector<3> warpPointToZeroPlane(const tkVector<2>& imagePoint) const;

 private:
  tkPhysicalAtZEquals1FromImageParams physicalAtZEquals1FromImageParams_;
  tk3QuaternionXform cameraPoseInverse_;
};

// dst.init(intrinsic, extrinsic) with the intrinsic part computeParamsIntrinsic() of the intrinsic
// model and the extrinsic part (tk3AngleVect of cameraPoseInverse's rotation matrix, its
// translation). Exceptions of computeParamsIntrinsic and init pass through; dst is then
// unchanged.
CCAL_API void tfConvert(const tkCameraCalibrationParams& src, tk2XformCalib2& dst);

#endif
