#include "platform/core/camera_model/camera_model.h"

#include "platform/core/invalid_argument.h"
#include "platform/proc/radial_distortion.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ccal::detail {

namespace {

LanePair laneSqrt(const LanePair& v) {
#if defined(__SSE2__)
  return reinterpret_cast<LanePair>(_mm_sqrt_pd(reinterpret_cast<__m128d>(v)));
#else
  return LanePair{std::sqrt(v[0]), std::sqrt(v[1])};
#endif
}

}  // namespace

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

std::int32_t positionAtZ1FromImageByLens(const CameraIntrinsics& v, const double image[2],
                                         double q[2], ModelJacobian* jacobian) {
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

bool CameraModel::projectLanes(const LanePair& x, const LanePair& y, const LanePair& z,
                               LanePair& imageX, LanePair& imageY) const {
  const std::int32_t model = intrinsics_.lens.model;
  if (singular_ || (model != CCAL_DISTORTION_NONE && model != CCAL_DISTORTION_RADIAL) ||
      z[0] == 0.0 || z[1] == 0.0)
    return false;
  // The steps of project(), imageFromPositionAtZ1() and ccal_lensDistortion_distort.
  const LanePair qx = x / z, qy = y / z;
  LanePair dx = qx, dy = qy;
  if (model == CCAL_DISTORTION_RADIAL) {
    const Lens& lens = intrinsics_.lens;
    const LanePair ex = qx - lens.cx, ey = qy - lens.cy;
    const LanePair r = laneSqrt(ex * ex + ey * ey);
    const double k = lens.values[0];
    LanePair root = r;  // ccal_radialCubicInverse's root for k = 0 within 1e-15
    if (!(std::fabs(k - 0.0) <= 1e-15)) {
      const LanePair u = k * r * r;
      if (!(std::fabs(u[0]) <= kRadialWeakLimit && std::fabs(u[1]) <= kRadialWeakLimit))
        return false;
      const LanePair kLanes = LanePair{k, k};
      radialWeakRoot(kLanes, r, u, root);
    }
    const LanePair one = {1.0, 1.0};
    const LanePair rSafe = r == 0.0 ? one : r;
    radialDistortedPoint(lens.cx, lens.cy, ex, ey, root, rSafe, dx, dy);
  }
  // tkXform::mapPoint: (0 + a00·d.x + a01·d.y) + t.x, (0 + a10·d.x + a11·d.y) + t.y.
  const tkMatrix<2>& A = imageFromDistorted_.matrix();
  const tkVector<2>& t = imageFromDistorted_.trans();
  imageX = ((0.0 + A.element(0, 0) * dx) + A.element(0, 1) * dy) + t.x();
  imageY = ((0.0 + A.element(1, 0) * dx) + A.element(1, 1) * dy) + t.y();
  return true;
}

}  // namespace ccal::detail
