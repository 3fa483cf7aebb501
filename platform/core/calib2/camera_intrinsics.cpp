#include "platform/core/calib2/camera_intrinsics.h"

#include "platform/core/camera_model/lens.h"
#include "platform/core/invalid_argument.h"

#include <cmath>
#include <vector>

namespace {

ccal::detail::Lens lensOf(const tk_CameraIntrinsics& camera) {
  ccal::detail::Lens lens;
  lens.model = camera.model;
  lens.cx = camera.centreX;
  lens.cy = camera.centreY;
  for (int i = 0; i < 4; ++i)
    lens.values[i] = camera.lens[i];
  return lens;
}

}  // namespace

int tk_CameraIntrinsics::lensValueCount(int32_t model) {
  return ccal::detail::lensValueCount(model);
}

tkVector<2> tk_CameraIntrinsics::imageFromPositionAtZ1(const tkVector<2>& positionAtZ1) const {
  const double q[2] = {positionAtZ1.x(), positionAtZ1.y()};
  double d[2];
  ccal::detail::distort(lensOf(*this), q, d, nullptr);
  return tkVector<2>(scaleX * d[0] + skew * d[1] + transX, scaleY * d[1] + transY);
}

int32_t tk_CameraIntrinsics::positionAtZ1FromImage(const tkVector<2>& imagePoint,
                                                   tkVector<2>& positionAtZ1) const {
  const double dy = (imagePoint.y() - transY) / scaleY;
  const double dx = (imagePoint.x() - transX - skew * dy) / scaleX;
  const double d[2] = {dx, dy};
  double q[2];
  const int32_t status = ccal::detail::undistort(lensOf(*this), d, q, nullptr);
  if (status < 0)
    return status;
  positionAtZ1 = tkVector<2>(q[0], q[1]);
  return 0;
}

bool tk_CameraIntrinsics::isFinite() const {
  bool finite = std::isfinite(scaleX) && std::isfinite(scaleY) && std::isfinite(skew) &&
                std::isfinite(transX) && std::isfinite(transY) && scaleX != 0.0 && scaleY != 0.0;
  const int count = lensValueCount(model);
  for (int i = 0; i < count; ++i)
    finite = finite && std::isfinite(lens[i]);
  if (count > 0)
    finite = finite && std::isfinite(centreX) && std::isfinite(centreY);
  return finite;
}

tk_CameraIntrinsics tk_cameraIntrinsicsOf(const tkCalib2ParamsIntrinsic& intrinsic) {
  tk_CameraIntrinsics camera;
  camera.scaleX = intrinsic.scale().x();
  camera.scaleY = intrinsic.scale().y();
  camera.skew = intrinsic.skew();
  camera.transX = intrinsic.translation().x();
  camera.transY = intrinsic.translation().y();
  camera.model = intrinsic.distortionModel();
  const std::vector<double>& list = intrinsic.distortionParams();
  const int count = tk_CameraIntrinsics::lensValueCount(camera.model);
  if (count > 0 && list.size() == static_cast<std::size_t>(count) + 2) {
    for (int i = 0; i < count; ++i)
      camera.lens[i] = list[static_cast<std::size_t>(i)];
    camera.centreX = list[static_cast<std::size_t>(count)];
    camera.centreY = list[static_cast<std::size_t>(count) + 1];
  }
  return camera;
}

tkCalib2ParamsIntrinsic tk_calib2IntrinsicOf(const tk_CameraIntrinsics& camera) {
  const int count = tk_CameraIntrinsics::lensValueCount(camera.model);
  if (count < 0)
    tk_throwInvalidArgument("camera intrinsics: the model is not an area-scan lens model");
  std::vector<double> list(camera.lens, camera.lens + count);
  if (count > 0) {
    list.push_back(camera.centreX);
    list.push_back(camera.centreY);
  }
  return tkCalib2ParamsIntrinsic(
      tkVector<2>(camera.scaleX, camera.scaleY), camera.skew,
      tkVector<2>(camera.transX, camera.transY),
      static_cast<tk2XformCalib2Defs::tkCalib2DistortionModel>(camera.model), list);
}

bool tk_projectCameraPoint(const tk_CameraIntrinsics& camera, const double pc[3], double image[2],
                           tk_ProjectionDerivatives* derivatives) {
  if (!(pc[2] > 0.0))
    return false;
  const double inverseZ = 1.0 / pc[2];
  const double q[2] = {pc[0] * inverseZ, pc[1] * inverseZ};
  double d[2];
  ccal::detail::LensJacobian lens;
  ccal::detail::distort(lensOf(camera), q, d, derivatives != nullptr ? &lens : nullptr);
  image[0] = camera.scaleX * d[0] + camera.skew * d[1] + camera.transX;
  image[1] = camera.scaleY * d[1] + camera.transY;
  if (derivatives == nullptr)
    return true;

  // image = A d + t, A = [[scaleX, skew], [0, scaleY]].
  const double A[2][2] = {{camera.scaleX, camera.skew}, {0.0, camera.scaleY}};
  for (int row = 0; row < 2; ++row) {
    double byQ[2];
    for (int c = 0; c < 2; ++c) {
      byQ[c] = A[row][0] * lens.byPoint[0][c] + A[row][1] * lens.byPoint[1][c];
      derivatives->byCentre[row][c] =
          A[row][0] * lens.byCentre[0][c] + A[row][1] * lens.byCentre[1][c];
    }
    derivatives->byCameraPoint[row][0] = byQ[0] * inverseZ;
    derivatives->byCameraPoint[row][1] = byQ[1] * inverseZ;
    derivatives->byCameraPoint[row][2] = -(byQ[0] * q[0] + byQ[1] * q[1]) * inverseZ;
    for (int i = 0; i < 4; ++i)
      derivatives->byLens[row][i] = A[row][0] * lens.byValues[0][i] + A[row][1] * lens.byValues[1][i];
  }
  const double byLinear[2][5] = {{d[0], 0.0, d[1], 1.0, 0.0}, {0.0, d[1], 0.0, 0.0, 1.0}};
  for (int row = 0; row < 2; ++row)
    for (int i = 0; i < 5; ++i)
      derivatives->byLinearMap[row][i] = byLinear[row][i];
  return true;
}
