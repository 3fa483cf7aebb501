// The two halves of a calibrated camera, as values: the intrinsic part (camera matrix and lens)
// and the extrinsic part (pose of the camera relative to the world). tk2XformCalib2
// (<tk/xform_calib2.h>) is built from them.
//
// Frames: the "distorted normalised plane" is the image with the camera matrix K undone; the
// "position at Z = 1" is the undistorted normalised coordinate of a viewing ray. For a
// telecentric camera the position at Z = 1 is replaced by the camera-frame point (Q.x, Q.y)
// (orthographic projection), and there is no lens distortion.
#ifndef TK_CALIB2_PARAMS_H
#define TK_CALIB2_PARAMS_H

#include <tk/angle_vect.h>
#include <tk/export.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <cstdint>
#include <vector>

// Scope of the calibrated transform's definitions.
class TK_API tk2XformCalib2Defs {
 public:
  // Lens and projection models (32-bit). Parameter lists, in order:
  enum tkCalib2DistortionModel : std::int32_t {
    eSineTan = 1,       // p0, p1, p2, p3, cx, cy: r_d = p0*tan(theta/p1) + p2*sin(theta/p3)
    eNoDistortion = 4,  // none
    eRadial = 5,        // k, cx, cy: position at Z = 1 = d + k*|d - c|^2*(d - c)
    eTelecentric = 7    // none; orthographic projection
  };
};

// Intrinsic part: the camera matrix K from the distorted normalised plane d to the image,
//   x = scale.x*d.x + skew*d.y + translation.x,   y = scale.y*d.y + translation.y,
// and the lens model with its parameter list (see tkCalib2DistortionModel; (cx, cy) is the
// centre of expansion in the distorted normalised plane). Immutable; copyable.
class TK_API tkCalib2ParamsIntrinsic {
 public:
  // K = identity, no distortion.
  tkCalib2ParamsIntrinsic();
  // Throws tkInvariantFailure when the model is not one of tkCalib2DistortionModel, when
  // params does not hold the model's number of values, when a value is not finite, or when a
  // sine-tangent p1 or p3 is 0; tkMathError::Singular when K is singular (see
  // tkMatrix::isSingular).
  tkCalib2ParamsIntrinsic(const tkVector<2>& scale, double skew, const tkVector<2>& translation,
                          tk2XformCalib2Defs::tkCalib2DistortionModel model,
                          const std::vector<double>& params);

  const tkVector<2>& scale() const { return scale_; }
  double skew() const { return skew_; }
  const tkVector<2>& translation() const { return translation_; }
  tk2XformCalib2Defs::tkCalib2DistortionModel distortionModel() const { return model_; }
  // The parameter list as given to the constructor.
  const std::vector<double>& distortionParams() const { return params_; }
  const std::vector<double>& params() const { return params_; }

  // K as a transform: the distorted normalised plane -> image.
  tk2XformLinear imageFromDistorted() const;

  // Position at Z = 1 (telecentric: camera-frame (Q.x, Q.y)) -> image: distortion, then K.
  tkVector<2> mapPoint(const tkVector<2>& positionAtZ1) const;
  // Image -> position at Z = 1 (telecentric: camera-frame (Q.x, Q.y)): K^-1, then undistortion.
  // Under the sine-tangent model throws tkProcedureFailure (with the status of
  // ccal_xformCalib2_invSinTan_) when no ray angle below 90 degrees reaches the point's radius.
  tkVector<2> invMapPoint(const tkVector<2>& image) const;

  // Exact comparison of every value.
  bool operator==(const tkCalib2ParamsIntrinsic& o) const;
  bool operator!=(const tkCalib2ParamsIntrinsic& o) const { return !(*this == o); }

 private:
  tkVector<2> scale_;
  double skew_;
  tkVector<2> translation_;
  tk2XformCalib2Defs::tkCalib2DistortionModel model_;
  std::vector<double> params_;
};

// Extrinsic part: the rigid transform from the world frame to the camera frame, as the angles of
// its rotation (tk3AngleVect: matrix = Rz*Ry*Rx) and its translation: Pc = R*P + translation.
class TK_API tkCalib2ParamsExtrinsic {
 public:
  // The identity: camera frame = world frame.
  tkCalib2ParamsExtrinsic() = default;
  // Throws tkInvariantFailure when an angle or the translation is not finite.
  tkCalib2ParamsExtrinsic(const tk3AngleVect& angles, const tkVector<3>& translation);
  // From a world -> camera transform whose matrix is a rotation up to noise (the angles are those
  // of the closest rotation, tk3AngleVect::closestRotation). Throws tkMathError::Singular for a
  // singular or non-finite matrix, tkInvariantFailure for a non-finite translation.
  explicit tkCalib2ParamsExtrinsic(const tkXform<3>& cameraFromWorld);

  const tk3AngleVect& angles() const { return angles_; }
  const tkVector<3>& translation() const { return translation_; }
  // The world -> camera transform (angles.matrix(), translation).
  tkXform<3> xform() const;

 private:
  tk3AngleVect angles_;
  tkVector<3> translation_;
};

#endif
