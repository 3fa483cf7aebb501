#include "ccal/single/camera_projection.h"

#include <cmath>

tk_CameraProjection::tk_CameraProjection(const tkCameraCalibrationParams& params)
    : cameraFromPhysical_(params.cameraPoseInverse().xform()),
      model_(tfModelIntrinsics(tfIntrinsicValues(params.physicalAtZEquals1FromImageParams()))) {}

tk_CameraProjection::tk_CameraProjection(const tk_CameraValues& values)
    : cameraFromPhysical_(values.rotation, values.trans),
      model_(tfModelIntrinsics(values.intrinsic)) {}

tkVector<2> tk_CameraProjection::imageFromPositionAtZ1(const tkVector<2>& positionAtZ1) const {
  const double q[2] = {positionAtZ1.x(), positionAtZ1.y()};
  double image[2];
  model_.imageFromPositionAtZ1(q, image, nullptr);
  return tkVector<2>(image[0], image[1]);
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
