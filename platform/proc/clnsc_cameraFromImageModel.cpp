// Stage 2 of the line-scan fit: the camera record of an image model, in closed form, and the
// whole fit with its argument checks.
//
// At its own scan time every plate point has camera coordinates R·P + T − v·m (m = R·M), which
// must equal λ·(xrow·P~, 0, zrow·P~) with xrow = (halfSpan/f)·numerator and zrow = denominator
// (the image model fixes the two rows up to the common factor λ). With the view plane upright
// (R12 = 0) the second row of R is ±(e, 0), e the unit direction of (rowV1, rowV2); the first and
// third rows of R restricted to X, Y must then lie along e⊥, which fixes λ, the in-camera motion
// and the translation. The remaining sign puts the camera above the plate.
#include <proc/clnsc_status.h>

#include "clnsc_cameraGeometry.h"
#include "clnsc_lineScanFit.h"

#include <cmath>

namespace {

double dot2(const double a[2], const double b[2]) {
  return a[0] * b[0] + a[1] * b[1];
}

}  // namespace

cstd_status clnsc_cameraFromImageModel(const clnsc_imageModel& model, bool hasDistance,
                                       double distance,
                                       clnsc_lineScanCameraUnconstrainedCalibrationParams* camera) {
  const double* g = model.rowV;
  const double* a = model.numerator;
  const double* b = model.denominator;
  const double F = model.halfSpan;

  // Directions across (e) and along (e⊥) the footprints of the scan lines on the plate.
  const double gNorm = std::hypot(g[0], g[1]);
  if (!(gNorm > 0.0))
    return CLNSC_STATUS_SINGULAR;
  const double e[2] = {g[0] / gNorm, g[1] / gNorm};
  const double ePerp[2] = {-e[1], e[0]};

  const double aPerp = dot2(a, ePerp), aAlong = dot2(a, e);
  const double bPerp = dot2(b, ePerp), bAlong = dot2(b, e);
  // Level lines of u parallel to those of v: no pixel separates points of one scan line.
  if (!(std::fabs(aPerp) > 1e-9 * std::hypot(a[0], a[1])))
    return CLNSC_STATUS_SINGULAR;
  // Numerator and denominator at the foot of the scan line v = 0.
  const double alpha0 = a[2] - g[2] * aAlong / gNorm;
  const double beta0 = b[2] - g[2] * bAlong / gNorm;
  const double K = F * std::fabs(bPerp * alpha0 - aPerp * beta0);
  const double H1 = (F * aPerp) * (F * aPerp);
  const double H2 = bPerp * bPerp;
  if (!(K > 0.0))
    return CLNSC_STATUS_SINGULAR;

  // The camera for focal length f stands at height K·f/(H1 + H2·f²).
  double f = 4.0 * F;
  if (hasDistance) {
    const double disc = K * K - 4.0 * H1 * H2 * distance * distance;
    if (disc >= 0.0)
      f = 2.0 * H1 * distance / (K + std::sqrt(disc));  // the smaller root
    else
      f = std::sqrt(H1 / H2);  // the highest camera; it stays below the distance
  }
  if (!(f > 0.0) || !std::isfinite(f))
    return CLNSC_STATUS_SINGULAR;

  const double ratio = F / f;
  const double xrow[3] = {ratio * a[0], ratio * a[1], ratio * a[2]};
  const double* zrow = b;
  const double wx = dot2(xrow, ePerp), wz = dot2(zrow, ePerp);
  const double lambda = 1.0 / std::hypot(wx, wz);
  const double betaX = lambda * wx, betaZ = lambda * wz;
  const double muX = -lambda * dot2(xrow, e) / gNorm;
  const double muZ = -lambda * dot2(zrow, e) / gNorm;
  const double Tx = lambda * xrow[2] + g[2] * muX;
  const double Tz = lambda * zrow[2] + g[2] * muZ;
  const double heightTerm = betaZ * Tx - betaX * Tz;  // −σ·Cz
  if (!(heightTerm != 0.0) || !std::isfinite(heightTerm))
    return CLNSC_STATUS_SINGULAR;
  const double sigma = heightTerm > 0.0 ? -1.0 : 1.0;

  const double R[3][3] = {{betaX * ePerp[0], betaX * ePerp[1], sigma * betaZ},
                          {sigma * e[0], sigma * e[1], 0.0},
                          {betaZ * ePerp[0], betaZ * ePerp[1], -sigma * betaX}};
  const double m[3] = {muX, sigma / gNorm, muZ};
  const cmath_vect3 motion{R[0][0] * m[0] + R[1][0] * m[1] + R[2][0] * m[2],
                           R[0][1] * m[0] + R[1][1] * m[1] + R[2][1] * m[2],
                           R[0][2] * m[0] + R[1][2] * m[1] + R[2][2] * m[2]};
  const cmath_vect3 translation{Tx, g[2] * sigma / gNorm, Tz};

  clnsc_lineScanCameraUnconstrainedCalibrationParams result{};
  result.lens = {model.u0, f, model.kappa1 * (f / F) * (f / F),
                 model.kappa2 * (f / F) * (f / F) * (f / F) * (f / F)};
  const c3d_quaternion rotation = clnsc_quaternionOfRotation(R);
  const cstd_status status =
      c3d_quaternionUnit_initQuaternion(&result.poseInverseRotation, &rotation);
  if (status < 0)
    return CLNSC_STATUS_SINGULAR;
  result.poseInverseTranslation = translation;
  result.scannerMotion = motion;
  if (!clnsc_cameraIsValid(result))
    return CLNSC_STATUS_SINGULAR;
  *camera = result;
  return CSTD_STATUS_OK;
}

cstd_status clnsc_fitLineScanCamera(const cstd_vector_cmath_vect* imagePoints,
                                    const cstd_vector_cmath_vect* physicalPoints, bool hasDistance,
                                    double distance,
                                    clnsc_lineScanCameraUnconstrainedCalibrationParams* camera) {
  if (imagePoints == nullptr || physicalPoints == nullptr || camera == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  const cmath_vect* image = nullptr;
  const cmath_vect* plate = nullptr;
  size_t imageCount = 0, plateCount = 0;
  cstd_status status = cstd_vector_cmath_vect_getBeginSizeConst(imagePoints, &image, &imageCount);
  if (status < 0)
    return status;
  status = cstd_vector_cmath_vect_getBeginSizeConst(physicalPoints, &plate, &plateCount);
  if (status < 0)
    return status;
  if (imageCount != plateCount)
    return CLNSC_STATUS_SIZE_MISMATCH;
  if (imageCount < 4)
    return CLNSC_STATUS_TOO_FEW_POINTS;
  for (size_t i = 0; i < imageCount; ++i)
    if (!std::isfinite(image[i].x) || !std::isfinite(image[i].y) || !std::isfinite(plate[i].x) ||
        !std::isfinite(plate[i].y))
      return CLNSC_STATUS_BAD_VALUE;
  if (hasDistance && !(std::isfinite(distance) && distance > 0.0))
    return CLNSC_STATUS_BAD_VALUE;

  clnsc_imageModel model;
  status = clnsc_fitImageModel(image, plate, imageCount, &model);
  if (status < 0)
    return status;
  return clnsc_cameraFromImageModel(model, hasDistance, distance, camera);
}
