#include "ccal/single/camera_projection.h"

#include <proc/ccal_lens_distortion.h>

#include <cmath>

tk_CameraProjection::tk_CameraProjection(const tkCameraCalibrationParams& params)
    : cameraFromPhysical_(params.cameraPoseInverse().xform()) {
  setIntrinsic(tfIntrinsicValues(params.physicalAtZEquals1FromImageParams()));
}

tk_CameraProjection::tk_CameraProjection(const tk_CameraValues& values)
    : cameraFromPhysical_(values.rotation, values.trans) {
  setIntrinsic(values.intrinsic);
}

void tk_CameraProjection::setIntrinsic(const tk_IntrinsicValues& intrinsic) {
  intrinsic_ = intrinsic;
  hasLens_ = intrinsic.model == tk2XformCalib2Defs::eRadial ||
             intrinsic.model == tk2XformCalib2Defs::eSineTan;
  const tk2XformLinear distortedFromImage(
      tkMatrix<2>(intrinsic.sx, intrinsic.skew, 0.0, intrinsic.sy),
      tkVector<2>(intrinsic.tx, intrinsic.ty));
  singular_ = distortedFromImage.matrix().isSingular();
  if (!singular_)
    imageFromDistorted_ = distortedFromImage.inverse();
}

tkVector<2> tk_CameraProjection::imageFromPositionAtZ1(const tkVector<2>& positionAtZ1) const {
  tkVector<2> distorted = positionAtZ1;
  if (hasLens_) {
    double dx = 0.0, dy = 0.0;
    ccal_lensDistortion_distort(intrinsic_.model, intrinsic_.lens, intrinsic_.cx, intrinsic_.cy,
                                positionAtZ1.x(), positionAtZ1.y(), &dx, &dy);
    distorted = tkVector<2>(dx, dy);
  }
  if (singular_)
    return tkVector<2>(0.0, 0.0);
  return imageFromDistorted_.mapPoint(distorted);
}

double tk_CameraProjection::weightedSquaredError(const ccal_crspPair2D3DWeighted* records,
                                                 std::size_t count) const {
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const ccal_crspPair2D3DWeighted& r = records[i];
    if (r.w == 0.0)
      continue;  // a point of weight 0 is no point, whatever its error
    const tkVector<2> e = tkVector<2>(r.p.x, r.p.y) - imagePoint(tkVector<3>(r.P.x, r.P.y, r.P.z));
    sum += r.w * e.dot(e);
  }
  return sum;
}

double tk_CameraProjection::weightedSquaredError(
    const std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>& correspondences,
    double* weightSum) const {
  double sum = 0.0;
  double weights = 0.0;
  for (const auto& c : correspondences) {
    if (c.second == 0.0)
      continue;
    const tkVector<2> e = c.first.first - imagePoint(c.first.second);
    sum += c.second * e.dot(e);
    weights += c.second;
  }
  if (weightSum != nullptr)
    *weightSum = weights;
  return sum;
}

double tfWeightedRmsError(
    const tkCameraCalibrationParams& camera,
    const std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>& correspondences) {
  double weightSum = 0.0;
  const double sum = tk_CameraProjection(camera).weightedSquaredError(correspondences, &weightSum);
  return std::sqrt(sum / weightSum);
}
