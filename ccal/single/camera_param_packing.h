// Parameter column of one camera in the single-camera and rig solvers, and its unpacked form.
//
// Layout of a camera block (offsets into the solver's column x):
//   0, 1     cameraTranslation x, y of the intrinsic linear map L (image -> distorted plane)
//   2, 3     cameraScale x, y
//   4        cameraSkew
//   5, 6, 7  var1, var2, var3 of the pose quaternion (cameraPoseInverse, physical -> camera);
//            the held component is the quaternion's unitValIndex at packing time, kept by the
//            solver beside x
//   8, 9, 10 cameraPoseInverse translation x, y, z
//   11, 12   centerOfExpansion x, y            (eRadial and eSineTan only)
//   13 ...   lensDistParams in order           (k for eRadial; p0..p3 for eSineTan)
// The block has 11 (eNoDistortion), 14 (eRadial) or 17 (eSineTan) entries.
//
// tk_CameraValues is the unpacked block as plain numbers: the residual functions read it in
// their hot loops, so unpacking allocates nothing.
#ifndef CCAL_SINGLE_CAMERA_PARAM_PACKING_H
#define CCAL_SINGLE_CAMERA_PARAM_PACKING_H

#include "platform/core/camera_model/camera_model.h"

#include <ccal/camera_calibration_params.h>
#include <tk/matrix.h>
#include <tk/quaternion.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

// Offsets of the camera block.
enum tk_CameraParamOffset {
  tk_kTranslationX = 0,
  tk_kTranslationY = 1,
  tk_kScaleX = 2,
  tk_kScaleY = 3,
  tk_kSkew = 4,
  tk_kQuatVar1 = 5,
  tk_kPoseTranslationX = 8,
  tk_kCenterX = 11,
  tk_kCenterY = 12,
  tk_kLensFirst = 13,
  tk_kMaxCameraParams = 17
};

// The intrinsic model as plain numbers. lens holds lensDistParamsSize(model) values, the rest 0.
struct tk_IntrinsicValues {
  tk2XformCalib2Defs::tkCalib2DistortionModel model = tk2XformCalib2Defs::eNoDistortion;
  double tx = 0.0, ty = 0.0;  // cameraTranslation
  double sx = 1.0, sy = 1.0;  // cameraScale
  double skew = 0.0;
  double cx = 0.0, cy = 0.0;  // centerOfExpansion
  double lens[4] = {0.0, 0.0, 0.0, 0.0};
};

// One camera unpacked: intrinsics and the pose physical -> camera (unit quaternion, its
// rotation matrix and the translation).
struct tk_CameraValues {
  tk_IntrinsicValues intrinsic;
  tk3Quaternion quat;
  tkMatrix<3> rotation = tkMatrix<3>::identity();
  tkVector<3> trans;
};

// The intrinsic values in the camera model's terms (platform/core/camera_model/camera_model.h,
// whose intrinsic order is the block's 0..4 then 11..).
inline ccal::detail::CameraIntrinsics tfModelIntrinsics(const tk_IntrinsicValues& v) {
  ccal::detail::CameraIntrinsics c;
  c.tx = v.tx;
  c.ty = v.ty;
  c.sx = v.sx;
  c.sy = v.sy;
  c.skew = v.skew;
  c.lens.model = v.model;
  c.lens.cx = v.cx;
  c.lens.cy = v.cy;
  for (int i = 0; i < 4; ++i)
    c.lens.values[i] = v.lens[i];
  return c;
}

// Size of the camera block for a distortion model: 11, 14 or 17. Any other model is a broken
// invariant: reported as a failed internal assertion (cstd_assert_), answered with 0.
int tfCameraParamCount(tk2XformCalib2Defs::tkCalib2DistortionModel model);

// The intrinsic model's fields as plain numbers. A lens list shorter than the model needs is a
// broken invariant (reported; the missing values are 0).
tk_IntrinsicValues tfIntrinsicValues(const tkPhysicalAtZEquals1FromImageParams& intrinsic);

// Writes the camera block of params (tfCameraParamCount(model) values, model taken from the
// intrinsic model) to x and returns the unitValIndex of the pose quaternion, which the caller
// keeps for unpacking. Throws tkMathError::Singular for a non-finite pose quaternion.
int tfPackCameraParams(const tkCameraCalibrationParams& params, double* x);

// Reads a camera block without allocating. The quaternion is rebuilt from (1, 0, 0, 0) with
// setUsingUnitValIndex(unitValIndex, x[5], x[6], x[7]). Throws tkMathError::Singular when one of
// those values is not finite.
void tfUnpackCameraValues(const double* x, int unitValIndex,
                          tk2XformCalib2Defs::tkCalib2DistortionModel model, tk_CameraValues& out);

// The parameter object of unpacked values: intrinsic model built by the default constructor,
// then distModel(model), centre and lens list (eRadial, eSineTan), translation, scale, skew; the
// pose from the quaternion and translation.
tkCameraCalibrationParams tfCameraParamsFromValues(const tk_CameraValues& values);

#endif
