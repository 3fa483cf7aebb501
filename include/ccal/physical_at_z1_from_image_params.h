// The intrinsic model of an area-scan camera: image position (pixels) <-> position at Z = 1.
//
// The "position at Z = 1" is the point where a viewing ray meets the plane Z = 1 of the camera's
// own frame: the undistorted normalised image coordinate. The model maps
//
//   image p --L--> distorted normalised point d --undistortion--> position at Z = 1
//
// with the linear (upper-triangular) map L
//   d.x = sx*p.x + skew*p.y + tx,   d.y = sy*p.y + ty
// (sx, sy = cameraScale, skew = cameraSkew, (tx, ty) = cameraTranslation; L has no lower-left
// element) and one of three lens models:
//   eNoDistortion  no parameters; d is the position at Z = 1.
//   eRadial        k: position = d + k*|d - c|^2*(d - c), c = centerOfExpansion.
//   eSineTan       p0..p3: a ray at angle theta from the optical axis lands at the distorted
//                  radius p0*tan(theta/p1) + p2*sin(theta/p3) from c.
// L acts from the image to the normalised plane, so it is the inverse of the camera matrix K of
// tk2XformCalib2; centerOfExpansion lives in the distorted normalised plane (not pixels).
//
// A plain value class with member-wise copy. The setters keep lensDistParams at
// lensDistParamsSize(distModel) entries, except lensDistParams(const std::vector<double>&) and the
// constructor taking a list, which store the list as given; a list too short for the model is a
// broken invariant that the mappings report as a failed internal assertion (cstd_assert_) and
// treat as no distortion.
#ifndef CCAL_PHYSICAL_AT_Z1_FROM_IMAGE_PARAMS_H
#define CCAL_PHYSICAL_AT_Z1_FROM_IMAGE_PARAMS_H

#include <ccal/export.h>
#include <tk/calib2_params.h>
#include <tk/pair.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>

#include <vector>

class CCAL_API tkPhysicalAtZEquals1FromImageParams {
 public:
  // Linear part from xform: scale = (element (0,0), element (1,1)), skew = element (0,1),
  // translation = xform.trans() (element (1,0) is ignored); centre of expansion as given; then
  // distModel(model) and k(k) (effective under eRadial only). The default object is eRadial with
  // k = 0, the identity linear part and centre (0, 0): warpPoint is the identity.
  tkPhysicalAtZEquals1FromImageParams(
      const tk2XformLinear& xform = tk2XformLinear(), double k = 0.0,
      const tkVector<2>& centerOfExpansion = tkVector<2>(),
      tk2XformCalib2Defs::tkCalib2DistortionModel model = tk2XformCalib2Defs::eRadial);
  // The same, but after distModel(model) the parameter list is replaced by lensDistParams
  // (its length is not checked).
  tkPhysicalAtZEquals1FromImageParams(const tk2XformLinear& xform,
                                      const tkVector<2>& centerOfExpansion,
                                      tk2XformCalib2Defs::tkCalib2DistortionModel model,
                                      const std::vector<double>& lensDistParams);

  // Centre of the lens distortion, in the distorted normalised plane.
  const tkVector<2>& centerOfExpansion() const { return centerOfExpansion_; }
  void centerOfExpansion(const tkVector<2>& c) { centerOfExpansion_ = c; }
  // first = x scale sx, second = y scale sy of L.
  const tkPair<double>& cameraScale() const { return cameraScale_; }
  void cameraScale(const tkPair<double>& s) { cameraScale_ = s; }
  double cameraSkew() const { return cameraSkew_; }
  void cameraSkew(double skew) { cameraSkew_ = skew; }
  const tkVector<2>& cameraTranslation() const { return cameraTranslation_; }
  void cameraTranslation(const tkVector<2>& t) { cameraTranslation_ = t; }
  // The lens parameters of distModel: [k] radial, [p0, p1, p2, p3] sine-tangent, [] none.
  const std::vector<double>& lensDistParams() const { return lensDistParams_; }
  // Stores a copy without checking its length; pass lensDistParamsSize(distModel()) values.
  void lensDistParams(const std::vector<double>& params) { lensDistParams_ = params; }
  tk2XformCalib2Defs::tkCalib2DistortionModel distModel() const { return distModel_; }
  // Stores m and resizes lensDistParams to lensDistParamsSize(m) as std::vector::resize does
  // (leading values kept, new ones 0.0); under eSineTan all four values then become 1.0.
  void distModel(tk2XformCalib2Defs::tkCalib2DistortionModel m);
  // Under eRadial lensDistParams[0], otherwise 0.0.
  double k() const;
  // Under eRadial stores k into lensDistParams[0]; does nothing under other models.
  void k(double k);

  // 0 for eNoDistortion, 1 for eRadial, 4 for eSineTan. Any other value is a broken invariant:
  // reported as a failed internal assertion, answered with 0.
  static int lensDistParamsSize(tk2XformCalib2Defs::tkCalib2DistortionModel model);

  // Image point (pixels) -> position at Z = 1. Under eSineTan a point whose L(p) lies within
  // 1e-15 of the centre maps to the centre, and a radius that no ray angle reaches throws what
  // tfThrowExceptionOnFailure raises for the status of ccal_xformCalib2_invSinTan_
  // (tkProcedureFailure; the model is unchanged). Under an
  // unsupported model reports a failed internal assertion and returns L(p).
  tkVector<2> warpPoint(const tkVector<2>& imagePoint) const;
  // Position at Z = 1 -> image point (pixels). Under eRadial the distorted radius x solves
  // x + k*x^3 = r on the branch through 0; when k < 0 and r exceeds the largest value of the cubic,
  // x is its turning point 1/sqrt(-3k), the radius that comes closest. Under eSineTan the ray
  // angle is atan(r). A singular L gives (0, 0). Never throws.
  tkVector<2> invWarpPoint(const tkVector<2>& positionAtZ1) const;
  // Same as warpPoint / invWarpPoint.
  tkVector<2> positionFromZEquals1FromImagePosition(const tkVector<2>& imagePoint) const {
    return warpPoint(imagePoint);
  }
  tkVector<2> imagePositionFromPositionAtZEquals1(const tkVector<2>& positionAtZ1) const {
    return invWarpPoint(positionAtZ1);
  }

  // L as a transform: matrix [[sx, skew], [0, sy]], translation (tx, ty).
  tk2XformLinear xform() const;
  // The model of an image transformed by T^-1 beforehand: linear part xform() * T (T applied
  // first), same centre, model and lens parameters. The lower-left element of the product is
  // dropped.
  tkPhysicalAtZEquals1FromImageParams mapRight(const tk2XformLinear& T) const;
  // The same with T applied after L: linear part T * xform(); lower-left element dropped.
  tkPhysicalAtZEquals1FromImageParams mapLeft(const tk2XformLinear& T) const;

  // The model in the calibrated transform's terms: K = L^-1 (scale (K00, K11), skew K01,
  // translation of K), the model, and the list [k, cx, cy] (radial), [p0..p3, cx, cy]
  // (sine-tangent) or [] (none). Throws tkMathError::Singular when L is singular, and
  // tkInvariantFailure (from tkCalib2ParamsIntrinsic) when lensDistParams does not fit the
  // model or holds a value that the calibrated transform rejects.
  tkCalib2ParamsIntrinsic computeParamsIntrinsic() const;

 private:
  tkVector<2> centerOfExpansion_;
  tkPair<double> cameraScale_;
  double cameraSkew_ = 0.0;
  tkVector<2> cameraTranslation_;
  tk2XformCalib2Defs::tkCalib2DistortionModel distModel_ = tk2XformCalib2Defs::eRadial;
  std::vector<double> lensDistParams_;
};

// Reads the intrinsic part of a calibrated transform into dst: L = the inverse of the
// transform's camera matrix, then dst.distModel(model); under eRadial k = list[0] and centre =
// (list[1], list[2]); under eSineTan lensDistParams = list[0..3] and centre = (list[4], list[5]);
// under eNoDistortion dst's centre of expansion is left as it was. Throws tkInvariantFailure
// (dst unchanged) for a telecentric transform, which this model cannot describe.
CCAL_API void tfConvert(const tk2XformCalib2& src, tkPhysicalAtZEquals1FromImageParams& dst);

#endif
