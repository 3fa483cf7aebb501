#include "platform/core/calib2/camera_intrinsics.h"

#include <proc/cmath_xformLinear.h>

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

ccal::detail::CameraModel tk_CameraIntrinsics::cameraModel() const {
  return ccal::detail::CameraModel::fromImageFromDistorted(
      tk2XformLinear(tkMatrix<2>(scaleX, skew, 0.0, scaleY), tkVector<2>(transX, transY)),
      lensOf(*this));
}

tkVector<2> tk_CameraIntrinsics::imageFromPositionAtZ1(const tkVector<2>& positionAtZ1) const {
  const double q[2] = {positionAtZ1.x(), positionAtZ1.y()};
  double image[2];
  cameraModel().imageFromPositionAtZ1(q, image, nullptr);
  return tkVector<2>(image[0], image[1]);
}

int32_t tk_CameraIntrinsics::positionAtZ1FromImage(const tkVector<2>& imagePoint,
                                                   tkVector<2>& positionAtZ1) const {
  const ccal::detail::CameraModel camera = cameraModel();
  if (camera.singular())
    return CMATH_STATUS_SINGULAR;
  const double image[2] = {imagePoint.x(), imagePoint.y()};
  double q[2];
  const int32_t status = camera.positionAtZ1FromImage(image, q, nullptr);
  if (status < 0)
    return status;
  positionAtZ1 = tkVector<2>(q[0], q[1]);
  return 0;
}

void tk_CameraIntrinsics::distortionList(int32_t distortionModel, const double* list,
                                         std::size_t size) {
  model = distortionModel;
  const int count = lensValueCount(model);
  if (count > 0 && size == static_cast<std::size_t>(count) + 2) {
    for (int i = 0; i < count; ++i)
      lens[i] = list[i];
    centreX = list[count];
    centreY = list[count + 1];
  }
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
  const std::vector<double>& list = intrinsic.distortionParams();
  camera.distortionList(intrinsic.distortionModel(), list.data(), list.size());
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
