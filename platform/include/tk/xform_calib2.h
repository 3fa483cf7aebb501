// The calibrated transform: a calibrated camera seen as a two-dimensional transform between the
// image (pixels) and the plane Z = 0 of the world frame (world units).
//
//   mapPoint:     image -> K^-1 -> distorted normalised plane -> undistortion -> position at
//                 Z = 1 -> viewing ray from the camera centre -> meeting point with Z = 0.
//   invMapPoint:  world plane point (x, y, 0) -> E (world -> camera) -> (X/Z, Y/Z) -> distortion
//                 -> K -> image.
//   Telecentric model: image = K*(Q.x, Q.y) with Q = E*(x, y, 0); mapPoint solves that for the
//                 plane point.
//
// The transform wraps the procedural record ccal_xformCalib2 (<proc/ccal_xformCalib2.h>) and
// forwards copying, assignment, comparison and destruction to it. Every transform holds a valid
// camera: K invertible, a distortion list that fits its model, finite values, E a rotation
// (up to 1e-9) and a translation.
#ifndef TK_XFORM_CALIB2_H
#define TK_XFORM_CALIB2_H

#include <proc/ccal_xformCalib2.h>
#include <tk/calib2_params.h>
#include <tk/export.h>
#include <tk/vector.h>
#include <tk/xform.h>

class TK_API tk2XformCalib2 {
 public:
  // K = identity, no distortion, E = identity (the camera centre lies on the plane Z = 0, so
  // mapPoint maps every image point to the origin until a pose is set).
  tk2XformCalib2();
  // A copy of a record filled by the procedural layer. Throws as init() for a record that does
  // not hold a valid camera (std::invalid_argument, or tkMathError::Singular for a singular K),
  // tkMathError::Singular when the record's line-scan transform cannot be copied.
  explicit tk2XformCalib2(const ccal_xformCalib2& record);
  tk2XformCalib2(const tk2XformCalib2& other);
  tk2XformCalib2& operator=(const tk2XformCalib2& other);
  ~tk2XformCalib2();

  // Sets the camera. Both parts are valid by construction; the extrinsic rotation is stored as
  // the matrix of its angles. Any line-scan transform held before is released.
  void init(const tkCalib2ParamsIntrinsic& intrinsic, const tkCalib2ParamsExtrinsic& extrinsic);

  // The intrinsic part (K's scale, skew and translation, model, distortion list).
  tkCalib2ParamsIntrinsic intrinsicParams() const;
  // The extrinsic part; the angles are read back from the stored rotation matrix, so they equal
  // those given to init() up to rounding and the ranges of tk3AngleVect.
  tkCalib2ParamsExtrinsic extrinsicParams() const;
  // E, the world -> camera transform.
  tkXform<3> extrinsicXform() const;
  // Replaces E. Throws std::invalid_argument (transform unchanged) when a value is not finite or
  // the matrix is not a rotation within 1e-9 (|RᵀR - I| and |det R - 1|).
  void extrinsicXform(const tkXform<3>& cameraFromWorld);

  // Image point (pixels) -> point (x, y) of the world plane Z = 0. Geometry is not checked: a ray
  // parallel to the plane (telecentric: a plate seen edge-on) gives non-finite coordinates, and
  // the meeting point is returned even when it lies behind the camera. Throws under the
  // sine-tangent lens when no ray reaches the image point (as the procedural layer's status
  // conversion does).
  tkVector<2> mapPoint(const tkVector<2>& image) const;
  // World plane point (x, y) -> image point (pixels). A point in the camera's focal plane gives
  // non-finite coordinates. Never throws.
  tkVector<2> invMapPoint(const tkVector<2>& plane) const;

  // The procedural record: K (distorted normalised plane -> image), the distortion model and
  // list (radial: k, cx, cy; sine-tangent: p0..p3, cx, cy), E and the optional line-scan
  // transform. Valid until this transform is next changed or destroyed.
  const ccal_xformCalib2& data() const { return record_; }

  // Equality of the records (every value exactly; line-scan transforms by their comparison).
  bool operator==(const tk2XformCalib2& other) const;
  bool operator!=(const tk2XformCalib2& other) const { return !(*this == other); }

 private:
  ccal_xformCalib2 record_;
};

#endif
