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
#include <tk/pair.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <vector>

class TK_API tk2XformCalib2 {
 public:
  // K = identity, no distortion, E = identity (the camera centre lies on the plane Z = 0, so
  // mapPoint maps every image point to the origin until a pose is set).
  tk2XformCalib2();
  // A copy of a record filled by the procedural layer. Throws tkInvariantFailure for a record
  // that does not hold a valid camera (tkMathError::Singular for a singular K), and what
  // tfThrowExceptionOnFailure raises for the status of a line-scan transform that cannot be
  // copied. Copy construction and assignment throw the same way; assignment then leaves the
  // target unchanged.
  explicit tk2XformCalib2(const ccal_xformCalib2& record);
  tk2XformCalib2(const tk2XformCalib2& other);
  tk2XformCalib2& operator=(const tk2XformCalib2& other);
  ~tk2XformCalib2();

  // Sets the camera. Both parts are valid by construction; the extrinsic rotation is stored as
  // the matrix of its angles. Any line-scan transform held before is released.
  void init(const tkCalib2ParamsIntrinsic& intrinsic, const tkCalib2ParamsExtrinsic& extrinsic);

  // Planar multi-view calibration of one area-scan camera. views[v] lists pairs (image point in
  // pixels, plate point (X, Y) on the plate's plane Z = 0) of one view of a calibration plate;
  // model is eNoDistortion, eRadial or eSineTan. Afterwards the intrinsic part is the calibrated
  // camera (radial list: k, cx, cy; sine-tangent list: p0..p3, cx, cy) and the extrinsic part is
  // the pose of the first view's plate (world = plate of view 0). rmsPerView[v] and
  // largestPerView[v] receive the root-mean-square and the largest image residual of view v in
  // pixels (both resized to views.size()).
  // Method: per view a normalised homography; the camera matrix in closed form (three or more
  // views: everything; two views: zero skew; one view: zero skew, square pixels and the
  // principal point at the centroid of the image points, which stay fixed in the refinement
  // too); closed-form poses; then Levenberg-Marquardt on the image residual over the camera
  // matrix, the lens values including the centre of expansion, and every view's pose, starting
  // without distortion. Under eSineTan the lens is refined with p0/p1 + p2/p3 = 1 (the focal
  // length lives in K alone; see docs/planar-calibration.md).
  // Throws tkInvariantFailure for no view, a view with fewer than 4 pairs, a non-finite
  // coordinate, another model, or fewer coordinates than unknowns; tkMathError::Singular for a
  // view whose plate or image points are collinear or whose homography is undetermined, or when
  // the refinement ends without a finite camera; tkAttention::Aborted on an abort request. The
  // transform and the two vectors are changed only on success.
  void init(const std::vector<std::vector<tkPair<tkVector<2>>>>& views,
            std::vector<double>& rmsPerView, std::vector<double>& largestPerView,
            tk2XformCalib2Defs::tkCalib2DistortionModel model);

  // The pose (camera from plate) of one more planar view under this transform's intrinsic part:
  // pairs (image point in pixels, plate point (X, Y) on the plate's plane Z = 0). Closed form
  // from the homography between the plate points and the image points taken to Z = 1, then
  // Levenberg-Marquardt on the image residual over the six pose values. The extrinsic part
  // plays no role. Throws tkInvariantFailure for fewer than 4 pairs, a non-finite coordinate
  // or a telecentric transform; tkProcedureFailure (as mapPoint) for an image point that no ray
  // reaches under the sine-tangent lens; tkMathError::Singular for collinear plate or image
  // points, or a refinement that fails; tkAttention::Aborted on an abort request.
  tkXform<3> extrinsicXform(const std::vector<tkPair<tkVector<2>>>& pairs) const;

  // The intrinsic part (K's scale, skew and translation, model, distortion list).
  tkCalib2ParamsIntrinsic intrinsicParams() const;
  // The extrinsic part; the angles are read back from the stored rotation matrix, so they equal
  // those given to init() up to rounding and the ranges of tk3AngleVect.
  tkCalib2ParamsExtrinsic extrinsicParams() const;
  // E, the world -> camera transform.
  tkXform<3> extrinsicXform() const;
  // Replaces E. Throws tkInvariantFailure (transform unchanged) when a value is not finite or
  // the matrix is not a rotation within 1e-9 (|RᵀR - I| and |det R - 1|).
  void extrinsicXform(const tkXform<3>& cameraFromWorld);

  // Image point (pixels) -> point (x, y) of the world plane Z = 0. Geometry is not checked: a ray
  // parallel to the plane (telecentric: a plate seen edge-on) gives non-finite coordinates, and
  // the meeting point is returned even when it lies behind the camera. Under the sine-tangent
  // lens throws tkProcedureFailure (with the status of ccal_xformCalib2_invSinTan_) when no ray
  // angle below 90 degrees reaches the image point.
  tkVector<2> mapPoint(const tkVector<2>& image) const;
  // World plane point (x, y) -> image point (pixels). A point in the camera's focal plane gives
  // non-finite coordinates. Never throws for an area-scan or telecentric camera.
  // When the record holds a line-scan transform both mappings go through it, and its negative
  // statuses are raised through tfThrowExceptionOnFailure.
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
