#include "platform/core/calib2/camera_intrinsics.h"

#include "platform/core/invalid_argument.h"

#include <cmath>
#include <vector>

namespace {

// Derivatives of the distorted point d with respect to e = q - c (the offset of the position
// at Z = 1 from the centre of expansion) and to the lens values, for the lens functions of
// ccal_lens_distortion.h. The values themselves always come from the kernel; only their
// derivatives are formed here. d depends on q and c through e alone plus the centre itself,
// d = c + D(e), so d d / d c = I - d d / d e.
struct LensDerivatives {
  double byOffset[2][2];
  double byLens[2][4];
};

// Radial model: D(e) = e * x / r with r = |e| and x + k x^3 = r. With a = 1 + 3 k x^2 and
// g = x / r = 1 / (1 + k x^2): dx/dr = 1 / a, dx/dk = -x^3 / a, and (dg/dr) / r = -2 k g^3 / a,
// which has no cancellation as r -> 0.
void radialDerivatives(double k, double ex, double ey, LensDerivatives& out) {
  const double r = std::sqrt(ex * ex + ey * ey);
  const double x = ccal_radialCubicInverse(k, r);
  const double a = 1.0 + 3.0 * k * x * x;
  const double g = r > 0.0 ? x / r : 1.0;
  const double cross = -2.0 * k * g * g * g / a;
  out.byOffset[0][0] = g + cross * ex * ex;
  out.byOffset[0][1] = cross * ex * ey;
  out.byOffset[1][0] = cross * ey * ex;
  out.byOffset[1][1] = g + cross * ey * ey;
  const double byK = -g * x * x / a;
  out.byLens[0][0] = ex * byK;
  out.byLens[1][0] = ey * byK;
}

// Sine-tangent model: D(e) = e * h(r), h = r_d(atan r) / r, with
// r_d(theta) = p0 tan(theta / p1) + p2 sin(theta / p3). The kernel maps offsets below 1e-15 to
// the centre; there the derivative is the limit h(0) = p0 / p1 + p2 / p3.
void sineTanDerivatives(const double* p, double ex, double ey, LensDerivatives& out) {
  const double r = std::sqrt(ex * ex + ey * ey);
  if (r < 1e-15) {
    const double h0 = p[0] / p[1] + p[2] / p[3];
    out.byOffset[0][0] = h0;
    out.byOffset[1][1] = h0;
    return;
  }
  const double theta = std::atan(r);
  const double tanArg = theta / p[1];
  const double sinArg = theta / p[3];
  const double cosTan = std::cos(tanArg);
  const double cosSin = std::cos(sinArg);
  const double tanValue = std::tan(tanArg);
  const double sinValue = std::sin(sinArg);
  const double rd = p[0] * tanValue + p[2] * sinValue;
  const double rdByTheta = p[0] / (p[1] * cosTan * cosTan) + p[2] * cosSin / p[3];
  const double thetaByR = 1.0 / (1.0 + r * r);
  const double h = rd / r;
  // (dh/dr) / r = (r_d'(theta) theta_r r - r_d) / r^3; its rounding error, of order eps / r^2,
  // is multiplied by e e^T (of order r^2) below.
  const double cross = (rdByTheta * thetaByR * r - rd) / (r * r * r);
  out.byOffset[0][0] = h + cross * ex * ex;
  out.byOffset[0][1] = cross * ex * ey;
  out.byOffset[1][0] = cross * ey * ex;
  out.byOffset[1][1] = h + cross * ey * ey;
  const double rdByLens[4] = {tanValue, -p[0] * theta / (p[1] * p[1] * cosTan * cosTan), sinValue,
                              -p[2] * theta * cosSin / (p[3] * p[3])};
  for (int i = 0; i < 4; ++i) {
    out.byLens[0][i] = ex / r * rdByLens[i];
    out.byLens[1][i] = ey / r * rdByLens[i];
  }
}

}  // namespace

int tk_CameraIntrinsics::lensValueCount(int32_t model) {
  switch (model) {
    case CCAL_DISTORTION_NONE:
      return 0;
    case CCAL_DISTORTION_RADIAL:
      return 1;
    case CCAL_DISTORTION_SINE_TAN:
      return 4;
    default:
      return -1;
  }
}

tkVector<2> tk_CameraIntrinsics::imageFromPositionAtZ1(const tkVector<2>& positionAtZ1) const {
  double dx = 0.0, dy = 0.0;
  ccal_lensDistortion_distort(model, lens, centreX, centreY, positionAtZ1.x(), positionAtZ1.y(),
                              &dx, &dy);
  return tkVector<2>(scaleX * dx + skew * dy + transX, scaleY * dy + transY);
}

int32_t tk_CameraIntrinsics::positionAtZ1FromImage(const tkVector<2>& imagePoint,
                                                   tkVector<2>& positionAtZ1) const {
  const double dy = (imagePoint.y() - transY) / scaleY;
  const double dx = (imagePoint.x() - transX - skew * dy) / scaleX;
  double qx = 0.0, qy = 0.0;
  const int32_t status =
      ccal_lensDistortion_undistort(model, lens, centreX, centreY, dx, dy, &qx, &qy);
  if (status < 0)
    return status;
  positionAtZ1 = tkVector<2>(qx, qy);
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
  const double qx = pc[0] * inverseZ;
  const double qy = pc[1] * inverseZ;
  double dx = 0.0, dy = 0.0;
  ccal_lensDistortion_distort(camera.model, camera.lens, camera.centreX, camera.centreY, qx, qy,
                              &dx, &dy);
  image[0] = camera.scaleX * dx + camera.skew * dy + camera.transX;
  image[1] = camera.scaleY * dy + camera.transY;
  if (derivatives == nullptr)
    return true;

  LensDerivatives lens = {{{1.0, 0.0}, {0.0, 1.0}}, {{0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 0.0}}};
  const double ex = qx - camera.centreX;
  const double ey = qy - camera.centreY;
  if (camera.model == CCAL_DISTORTION_RADIAL) {
    radialDerivatives(camera.lens[0], ex, ey, lens);
  } else if (camera.model == CCAL_DISTORTION_SINE_TAN) {
    lens.byOffset[0][0] = lens.byOffset[1][1] = 0.0;
    sineTanDerivatives(camera.lens, ex, ey, lens);
  }
  const bool hasCentre =
      camera.model == CCAL_DISTORTION_RADIAL || camera.model == CCAL_DISTORTION_SINE_TAN;

  // image = A d + t, A = [[scaleX, skew], [0, scaleY]].
  const double a00 = camera.scaleX, a01 = camera.skew, a11 = camera.scaleY;
  double byQ[2][2];
  for (int c = 0; c < 2; ++c) {
    byQ[0][c] = a00 * lens.byOffset[0][c] + a01 * lens.byOffset[1][c];
    byQ[1][c] = a11 * lens.byOffset[1][c];
  }
  for (int row = 0; row < 2; ++row) {
    derivatives->byCameraPoint[row][0] = byQ[row][0] * inverseZ;
    derivatives->byCameraPoint[row][1] = byQ[row][1] * inverseZ;
    derivatives->byCameraPoint[row][2] = -(byQ[row][0] * qx + byQ[row][1] * qy) * inverseZ;
    // d d / d c = I - d d / d e.
    const double aRow[2] = {row == 0 ? a00 : 0.0, row == 0 ? a01 : a11};
    for (int c = 0; c < 2; ++c) {
      double value = 0.0;
      for (int k = 0; k < 2; ++k)
        value += aRow[k] * ((k == c ? 1.0 : 0.0) - lens.byOffset[k][c]);
      derivatives->byCentre[row][c] = hasCentre ? value : 0.0;
    }
    for (int i = 0; i < 4; ++i) {
      derivatives->byLens[row][i] =
          row == 0 ? a00 * lens.byLens[0][i] + a01 * lens.byLens[1][i] : a11 * lens.byLens[1][i];
    }
  }
  const double byLinear[2][5] = {{dx, 0.0, dy, 1.0, 0.0}, {0.0, dy, 0.0, 0.0, 1.0}};
  for (int row = 0; row < 2; ++row)
    for (int i = 0; i < 5; ++i)
      derivatives->byLinearMap[row][i] = byLinear[row][i];
  return true;
}
