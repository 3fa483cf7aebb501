#include <ccal/physical_at_z1_from_image_params.h>
#include <proc/ccal_lens_distortion.h>
#include <proc/cmath_xformLinear.h>
#include <proc/cstd_assert.h>
#include <tk/failure.h>

#include "platform/core/camera_model/camera_model.h"
#include "platform/core/invalid_argument.h"

#include <cstddef>

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

namespace {

// True when the lens list holds what the model needs; reports a failed internal assertion
// otherwise (the list was set too short through the unchecked setter or constructor).
bool lensListFits(Model model, const std::vector<double>& params) {
  if (params.size() >=
      static_cast<size_t>(tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(model)))
    return true;
  cstd_assert_(__FILE__, __LINE__);
  return false;
}

// The model in the camera model's terms; without lens (no distortion) when the list is short.
ccal::detail::CameraIntrinsics intrinsicsOf(const tkPhysicalAtZEquals1FromImageParams& model,
                                            bool withLens) {
  ccal::detail::CameraIntrinsics v;
  v.tx = model.cameraTranslation().x();
  v.ty = model.cameraTranslation().y();
  v.sx = model.cameraScale().first;
  v.sy = model.cameraScale().second;
  v.skew = model.cameraSkew();
  if (withLens) {
    v.lens.model = model.distModel();
    v.lens.cx = model.centerOfExpansion().x();
    v.lens.cy = model.centerOfExpansion().y();
    const std::vector<double>& list = model.lensDistParams();
    for (std::size_t i = 0; i < list.size() && i < 4; ++i)
      v.lens.values[i] = list[i];
  }
  return v;
}

}  // namespace

tkPhysicalAtZEquals1FromImageParams::tkPhysicalAtZEquals1FromImageParams(
    const tk2XformLinear& xform, double k, const tkVector<2>& centerOfExpansion, Model model)
    : centerOfExpansion_(centerOfExpansion),
      cameraScale_(xform.matrix().element(0, 0), xform.matrix().element(1, 1)),
      cameraSkew_(xform.matrix().element(0, 1)),
      cameraTranslation_(xform.trans()) {
  distModel(model);
  this->k(k);
}

tkPhysicalAtZEquals1FromImageParams::tkPhysicalAtZEquals1FromImageParams(
    const tk2XformLinear& xform, const tkVector<2>& centerOfExpansion, Model model,
    const std::vector<double>& lensDistParams)
    : centerOfExpansion_(centerOfExpansion),
      cameraScale_(xform.matrix().element(0, 0), xform.matrix().element(1, 1)),
      cameraSkew_(xform.matrix().element(0, 1)),
      cameraTranslation_(xform.trans()) {
  distModel(model);
  lensDistParams_ = lensDistParams;
}

void tkPhysicalAtZEquals1FromImageParams::distModel(Model m) {
  distModel_ = m;
  lensDistParams_.resize(static_cast<size_t>(lensDistParamsSize(m)));
  if (m == tk2XformCalib2Defs::eSineTan)
    lensDistParams_.assign(4, 1.0);
}

double tkPhysicalAtZEquals1FromImageParams::k() const {
  if (distModel_ != tk2XformCalib2Defs::eRadial || !lensListFits(distModel_, lensDistParams_))
    return 0.0;
  return lensDistParams_[0];
}

void tkPhysicalAtZEquals1FromImageParams::k(double k) {
  if (distModel_ != tk2XformCalib2Defs::eRadial)
    return;
  if (!lensListFits(distModel_, lensDistParams_))
    lensDistParams_.resize(1);
  lensDistParams_[0] = k;
}

int tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(Model model) {
  switch (model) {
    case tk2XformCalib2Defs::eNoDistortion:
      return 0;
    case tk2XformCalib2Defs::eRadial:
      return 1;
    case tk2XformCalib2Defs::eSineTan:
      return 4;
    default:
      cstd_assert_(__FILE__, __LINE__);
      return 0;
  }
}

tkVector<2> tkPhysicalAtZEquals1FromImageParams::warpPoint(const tkVector<2>& imagePoint) const {
  const bool lens =
      distModel_ == tk2XformCalib2Defs::eRadial || distModel_ == tk2XformCalib2Defs::eSineTan;
  if (!lens && distModel_ != tk2XformCalib2Defs::eNoDistortion)
    cstd_assert_(__FILE__, __LINE__);
  const double p[2] = {imagePoint.x(), imagePoint.y()};
  double q[2];
  tfThrowExceptionOnFailure(ccal::detail::positionAtZ1FromImage(
      intrinsicsOf(*this, lens && lensListFits(distModel_, lensDistParams_)), p, q, nullptr));
  return tkVector<2>(q[0], q[1]);
}

tkVector<2> tkPhysicalAtZEquals1FromImageParams::invWarpPoint(
    const tkVector<2>& positionAtZ1) const {
  const bool lens =
      (distModel_ == tk2XformCalib2Defs::eRadial || distModel_ == tk2XformCalib2Defs::eSineTan) &&
      lensListFits(distModel_, lensDistParams_);
  const double q[2] = {positionAtZ1.x(), positionAtZ1.y()};
  double image[2];
  ccal::detail::CameraModel(intrinsicsOf(*this, lens)).imageFromPositionAtZ1(q, image, nullptr);
  return tkVector<2>(image[0], image[1]);
}

tk2XformLinear tkPhysicalAtZEquals1FromImageParams::xform() const {
  return tk2XformLinear(tkMatrix<2>(cameraScale_.first, cameraSkew_, 0.0, cameraScale_.second),
                        cameraTranslation_);
}

tkPhysicalAtZEquals1FromImageParams tkPhysicalAtZEquals1FromImageParams::mapRight(
    const tk2XformLinear& T) const {
  return tkPhysicalAtZEquals1FromImageParams(xform() * T, centerOfExpansion_, distModel_,
                                             lensDistParams_);
}

tkPhysicalAtZEquals1FromImageParams tkPhysicalAtZEquals1FromImageParams::mapLeft(
    const tk2XformLinear& T) const {
  return tkPhysicalAtZEquals1FromImageParams(T * xform(), centerOfExpansion_, distModel_,
                                             lensDistParams_);
}

tkCalib2ParamsIntrinsic tkPhysicalAtZEquals1FromImageParams::computeParamsIntrinsic() const {
  const tk2XformLinear imageFromDistorted = xform().inverse();
  std::vector<double> list;
  if (distModel_ == tk2XformCalib2Defs::eRadial || distModel_ == tk2XformCalib2Defs::eSineTan) {
    list = lensDistParams_;
    list.push_back(centerOfExpansion_.x());
    list.push_back(centerOfExpansion_.y());
  }
  const tkMatrix<2>& K = imageFromDistorted.matrix();
  return tkCalib2ParamsIntrinsic(tkVector<2>(K.element(0, 0), K.element(1, 1)), K.element(0, 1),
                                 imageFromDistorted.trans(), distModel_, list);
}

void tfConvert(const tk2XformCalib2& src, tkPhysicalAtZEquals1FromImageParams& dst) {
  const ccal_xformCalib2& record = src.data();
  const Model model = static_cast<Model>(record.distortionModel);
  if (model == tk2XformCalib2Defs::eTelecentric)
    tk_throwInvalidArgument(
        "tfConvert: a telecentric transform has no tkPhysicalAtZEquals1FromImageParams");
  cmath_xformLinear distortedFromImage;
  tfThrowExceptionOnFailure(
      cmath_xformLinear_getInverse(&record.imageFromDistorted, &distortedFromImage));
  const double(&L)[2][2] = distortedFromImage.matrix;
  dst.cameraScale(tkPair<double>(L[0][0], L[1][1]));
  dst.cameraSkew(L[0][1]);
  dst.cameraTranslation(tkVector<2>(distortedFromImage.trans.x, distortedFromImage.trans.y));
  dst.distModel(src.intrinsicParams().distortionModel());
  const double* list = record.distortionParams;
  if (model == tk2XformCalib2Defs::eRadial) {
    dst.k(list[0]);
    dst.centerOfExpansion(tkVector<2>(list[1], list[2]));
  } else if (model == tk2XformCalib2Defs::eSineTan) {
    dst.lensDistParams(std::vector<double>(list, list + 4));
    dst.centerOfExpansion(tkVector<2>(list[4], list[5]));
  }
}
