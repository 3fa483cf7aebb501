// One camera as plain numbers: the intrinsic model and the pose physical -> camera. The residual
// functions read these in their hot loops, so building them allocates nothing. Where the values
// sit in a parameter column is the business of ccal/problem/parameter_layout.h.
#ifndef CCAL_SINGLE_CAMERA_VALUES_H
#define CCAL_SINGLE_CAMERA_VALUES_H

#include "platform/core/camera_model/camera_model.h"

#include <ccal/camera_calibration_params.h>
#include <tk/matrix.h>
#include <tk/quaternion.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

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

// The intrinsic model's fields as plain numbers. A lens list shorter than the model needs is a
// broken invariant (reported; the missing values are 0).
tk_IntrinsicValues tfIntrinsicValues(const tkPhysicalAtZEquals1FromImageParams& intrinsic);

// The parameter object of unpacked values: intrinsic model built by the default constructor,
// then distModel(model), centre and lens list (eRadial, eSineTan), translation, scale, skew; the
// pose from the quaternion and translation.
tkCameraCalibrationParams tfCameraParamsFromValues(const tk_CameraValues& values);

#endif
