#include "platform/core/camera_model/camera_model.h"

#include "platform/core/invalid_argument.h"

namespace ccal::detail {

CameraModel CameraModel::fromImageFromDistorted(const tk2XformLinear& imageFromDistorted,
                                                const Lens& lens) {
  if (imageFromDistorted.matrix().element(1, 0) != 0.0)
    tk_throwInvalidArgument("camera model: the forward linear map must be upper triangular");
  return CameraModel(imageFromDistorted, lens);
}

CameraModel::CameraModel(const tk2XformLinear& imageFromDistorted, const Lens& lens)
    : singular_(imageFromDistorted.matrix().isSingular()) {
  intrinsics_.lens = lens;
  if (singular_)
    return;
  imageFromDistorted_ = imageFromDistorted;
  const tk2XformLinear L = imageFromDistorted.inverse();
  intrinsics_.sx = L.matrix().element(0, 0);
  intrinsics_.skew = L.matrix().element(0, 1);
  intrinsics_.sy = L.matrix().element(1, 1);
  intrinsics_.tx = L.trans().x();
  intrinsics_.ty = L.trans().y();
  inverseSx_ = 1.0 / intrinsics_.sx;
  inverseSy_ = 1.0 / intrinsics_.sy;
}

std::int32_t positionAtZ1FromImage(const CameraIntrinsics& v, const double image[2], double q[2],
                                   ModelJacobian* jacobian) {
  double d[2];
  distortedFromImage(v, image, d);
  LensJacobian lens;
  const std::int32_t status = undistort(v.lens, d, q, jacobian != nullptr ? &lens : nullptr);
  if (status < 0 || jacobian == nullptr)
    return status;
  // q = U(L(p)): d q/d θ_L = (d q/d d)·(∂L/∂θ)(p), d q/d p = (d q/d d)·A.
  ModelJacobian& J = *jacobian;
  const double byL[2][5] = {{1.0, 0.0, image[0], 0.0, image[1]}, {0.0, 1.0, 0.0, image[1], 0.0}};
  for (int r = 0; r < 2; ++r) {
    const double u0 = lens.byPoint[r][0], u1 = lens.byPoint[r][1];
    for (int i = 0; i < 5; ++i)
      J.byIntrinsics[r][i] = u0 * byL[0][i] + u1 * byL[1][i];
    J.byIntrinsics[r][kCx] = lens.byCentre[r][0];
    J.byIntrinsics[r][kCy] = lens.byCentre[r][1];
    for (int c = 0; c < 4; ++c)
      J.byIntrinsics[r][kLensValue0 + c] = lens.byValues[r][c];
    J.byPoint[r][0] = u0 * v.sx;
    J.byPoint[r][1] = u0 * v.skew + u1 * v.sy;
    J.byPoint[r][2] = 0.0;
  }
  return 0;
}

}  // namespace ccal::detail
