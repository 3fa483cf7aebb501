#include <proc/ccal_lens_distortion.h>
#include <proc/ccal_xformCalib2.h>
#include <tk/calib2_params.h>
#include <tk/exception.h>
#include <tk/failure.h>
#include <tk/matrix.h>

#include "platform/core/calib2/camera_intrinsics.h"
#include "invalid_argument.h"

#include <cmath>
#include <string>

static_assert(tk2XformCalib2Defs::eSineTan == CCAL_DISTORTION_SINE_TAN &&
                  tk2XformCalib2Defs::eNoDistortion == CCAL_DISTORTION_NONE &&
                  tk2XformCalib2Defs::eRadial == CCAL_DISTORTION_RADIAL &&
                  tk2XformCalib2Defs::eTelecentric == CCAL_DISTORTION_TELECENTRIC,
              "the models are the procedural layer's distortion values");
static_assert(sizeof(tk2XformCalib2Defs::tkCalib2DistortionModel) == 4, "a 32-bit enumeration");

namespace {

void throwIntrinsic(const std::string& fault) {
  tk_throwInvalidArgument(("tkCalib2ParamsIntrinsic: " + fault).c_str());
}

const char* modelName(tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  switch (model) {
    case tk2XformCalib2Defs::eSineTan:
      return "the sine-tangent model takes 6 values (p0, p1, p2, p3, cx, cy)";
    case tk2XformCalib2Defs::eRadial:
      return "the radial model takes 3 values (k, cx, cy)";
    case tk2XformCalib2Defs::eNoDistortion:
      return "the model without distortion takes no values";
    default:
      return "the telecentric model takes no values";
  }
}

}  // namespace

tkCalib2ParamsIntrinsic::tkCalib2ParamsIntrinsic()
    : scale_(1.0, 1.0), skew_(0.0), translation_(), model_(tk2XformCalib2Defs::eNoDistortion) {}

tkCalib2ParamsIntrinsic::tkCalib2ParamsIntrinsic(const tkVector<2>& scale, double skew,
                                                 const tkVector<2>& translation,
                                                 tk2XformCalib2Defs::tkCalib2DistortionModel model,
                                                 const std::vector<double>& params)
    : scale_(scale), skew_(skew), translation_(translation), model_(model), params_(params) {
  const int32_t needed = ccal_xformCalib2_distortionParamCount(model);
  if (needed < 0)
    throwIntrinsic("unknown distortion model " + std::to_string(static_cast<int32_t>(model)));
  if (params.size() != static_cast<size_t>(needed))
    throwIntrinsic(std::string(modelName(model)) + ", got " + std::to_string(params.size()));
  bool finite = std::isfinite(scale.x()) && std::isfinite(scale.y()) && std::isfinite(skew) &&
                std::isfinite(translation.x()) && std::isfinite(translation.y());
  for (double value : params)
    finite = finite && std::isfinite(value);
  if (!finite)
    throwIntrinsic("a value is not finite");
  if (model == tk2XformCalib2Defs::eSineTan && (params[1] == 0.0 || params[3] == 0.0))
    throwIntrinsic("the sine-tangent divisors p1 and p3 must not be 0");
  if (tkMatrix<2>(scale.x(), skew, 0.0, scale.y()).isSingular())
    throw tkMathError::Singular();
}

tk2XformLinear tkCalib2ParamsIntrinsic::imageFromDistorted() const {
  return tk2XformLinear(tkMatrix<2>(scale_.x(), skew_, 0.0, scale_.y()), translation_);
}

tkVector<2> tkCalib2ParamsIntrinsic::mapPoint(const tkVector<2>& positionAtZ1) const {
  return tk_cameraIntrinsicsOf(*this).imageFromPositionAtZ1(positionAtZ1);
}

tkVector<2> tkCalib2ParamsIntrinsic::invMapPoint(const tkVector<2>& image) const {
  tkVector<2> positionAtZ1;
  tfThrowExceptionOnFailure(tk_cameraIntrinsicsOf(*this).positionAtZ1FromImage(image, positionAtZ1));
  return positionAtZ1;
}

bool tkCalib2ParamsIntrinsic::operator==(const tkCalib2ParamsIntrinsic& o) const {
  return scale_ == o.scale_ && skew_ == o.skew_ && translation_ == o.translation_ &&
         model_ == o.model_ && params_ == o.params_;
}

tkCalib2ParamsExtrinsic::tkCalib2ParamsExtrinsic(const tk3AngleVect& angles,
                                                 const tkVector<3>& translation)
    : angles_(angles), translation_(translation) {
  if (!(std::isfinite(angles.rx()) && std::isfinite(angles.ry()) && std::isfinite(angles.rz())))
    tk_throwInvalidArgument("tkCalib2ParamsExtrinsic: an angle is not finite");
  if (!(std::isfinite(translation.x()) && std::isfinite(translation.y()) &&
        std::isfinite(translation.z())))
    tk_throwInvalidArgument("tkCalib2ParamsExtrinsic: the translation is not finite");
}

tkCalib2ParamsExtrinsic::tkCalib2ParamsExtrinsic(const tkXform<3>& cameraFromWorld)
    : tkCalib2ParamsExtrinsic(tk3AngleVect(cameraFromWorld.matrix()), cameraFromWorld.trans()) {}

tkXform<3> tkCalib2ParamsExtrinsic::xform() const {
  return tkXform<3>(angles_.matrix(), translation_);
}
