#include <proc/clnsc_lineScanCamera.h>

#include "clnsc_cameraGeometry.h"
#include "plain_record.h"

#include <algorithm>
#include <cmath>

namespace {

// Relative tolerance of every line-scan comparison: far above the rounding of a record that
// went through an archive (pose as a matrix, quaternion rebuilt), far below any real change.
constexpr double kEqualTolerance = 1e-12;

bool closeValues(double a, double b) {
  return std::fabs(a - b) <= kEqualTolerance * std::max({1.0, std::fabs(a), std::fabs(b)});
}

bool closeVectors(const cmath_vect3& a, const cmath_vect3& b) {
  return closeValues(a.x, b.x) && closeValues(a.y, b.y) && closeValues(a.z, b.z);
}

// q and −q are the same rotation: compare up to sign, componentwise.
bool closeRotations(const c3d_quaternion& p, const c3d_quaternion& q) {
  const double same = std::max(
      {std::fabs(p.a - q.a), std::fabs(p.b - q.b), std::fabs(p.c - q.c), std::fabs(p.d - q.d)});
  const double opposite = std::max(
      {std::fabs(p.a + q.a), std::fabs(p.b + q.b), std::fabs(p.c + q.c), std::fabs(p.d + q.d)});
  return std::min(same, opposite) <= kEqualTolerance;
}

clnsc_physicalAtZEquals1FromLineScanImageParams defaultLens() {
  return {0.0, 1.0, 0.0, 0.0};
}

bool equalLenses(const clnsc_physicalAtZEquals1FromLineScanImageParams& a,
                 const clnsc_physicalAtZEquals1FromLineScanImageParams& b) {
  return closeValues(a.offset, b.offset) && closeValues(a.scale, b.scale) &&
         closeValues(a.k1, b.k1) && closeValues(a.k2, b.k2);
}

clnsc_lineScanCameraUnconstrainedCalibrationParams defaultCamera() {
  clnsc_lineScanCameraUnconstrainedCalibrationParams camera{};
  camera.lens = defaultLens();
  camera.poseInverseRotation.quaternion = {0.0, 1.0, 0.0, 0.0};
  camera.poseInverseTranslation = {0.0, 0.0, 1.0};
  camera.scannerMotion = {0.0, 1.0, 0.0};
  return camera;
}

bool equalCameras(const clnsc_lineScanCameraUnconstrainedCalibrationParams& a,
                  const clnsc_lineScanCameraUnconstrainedCalibrationParams& b) {
  return equalLenses(a.lens, b.lens) &&
         closeRotations(a.poseInverseRotation.quaternion, b.poseInverseRotation.quaternion) &&
         closeVectors(a.poseInverseTranslation, b.poseInverseTranslation) &&
         closeVectors(a.scannerMotion, b.scannerMotion);
}

bool finite(const cmath_vect3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Hamilton product p ⊗ q: rotates by q first.
c3d_quaternion multiply(const c3d_quaternion& p, const c3d_quaternion& q) {
  return {
      p.a * q.a - p.b * q.b - p.c * q.c - p.d * q.d, p.a * q.b + p.b * q.a + p.c * q.d - p.d * q.c,
      p.a * q.c - p.b * q.d + p.c * q.a + p.d * q.b, p.a * q.d + p.b * q.c - p.c * q.b + p.d * q.a};
}

}  // namespace

CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(clnsc_physicalAtZEquals1FromLineScanImageParams, defaultLens,
                                   equalLenses)
CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(clnsc_lineScanCameraUnconstrainedCalibrationParams,
                                   defaultCamera, equalCameras)

cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_getLens(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams* camera,
    clnsc_physicalAtZEquals1FromLineScanImageParams* lens) {
  if (camera == nullptr || lens == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  *lens = camera->lens;
  return CSTD_STATUS_OK;
}

cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_setLens(
    clnsc_lineScanCameraUnconstrainedCalibrationParams* camera,
    const clnsc_physicalAtZEquals1FromLineScanImageParams* lens) {
  if (camera == nullptr || lens == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  if (!std::isfinite(lens->offset) || !std::isfinite(lens->scale) || !std::isfinite(lens->k1) ||
      !std::isfinite(lens->k2) || lens->scale == 0.0)
    return CLNSC_STATUS_BAD_VALUE;
  camera->lens = *lens;
  return CSTD_STATUS_OK;
}

cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_getCameraPoseInverse(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams* camera, c3d_quaternionUnit* rotation,
    cmath_vect3* translation) {
  if (camera == nullptr || rotation == nullptr || translation == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  *rotation = camera->poseInverseRotation;
  *translation = camera->poseInverseTranslation;
  return CSTD_STATUS_OK;
}

cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_setCameraPoseInverse(
    clnsc_lineScanCameraUnconstrainedCalibrationParams* camera, const c3d_quaternionUnit* rotation,
    const cmath_vect3* translation) {
  if (camera == nullptr || rotation == nullptr || translation == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  if (!finite(*translation))
    return CLNSC_STATUS_BAD_VALUE;
  camera->poseInverseRotation = *rotation;
  camera->poseInverseTranslation = *translation;
  return CSTD_STATUS_OK;
}

cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_getScannerMotion(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams* camera, cmath_vect3* motion) {
  if (camera == nullptr || motion == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  *motion = camera->scannerMotion;
  return CSTD_STATUS_OK;
}

cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_setScannerMotion(
    clnsc_lineScanCameraUnconstrainedCalibrationParams* camera, const cmath_vect3* motion) {
  if (camera == nullptr || motion == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  if (!finite(*motion))
    return CLNSC_STATUS_BAD_VALUE;
  camera->scannerMotion = *motion;
  return CSTD_STATUS_OK;
}

cstd_status clnsc_lineScanCameraSyntheticallyAlignToScannerMotion(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams* source,
    clnsc_lineScanCameraUnconstrainedCalibrationParams* aligned) {
  if (source == nullptr || aligned == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  const cmath_vect3& M = source->scannerMotion;
  const double inPlate = std::hypot(M.x, M.y);
  const double length = std::sqrt(M.x * M.x + M.y * M.y + M.z * M.z);
  if (!(inPlate > 1e-12 * length))
    return CLNSC_STATUS_SINGULAR;

  // A turns the client frame about Z by θ, taking (Mx, My) to (0, |(Mx, My)|); R' = R·Aᵀ, and
  // Aᵀ is the rotation of (cos(θ/2), 0, 0, −sin(θ/2)).
  const double halfAngle = 0.5 * std::atan2(M.x, M.y);
  const c3d_quaternion turnBack{std::cos(halfAngle), 0.0, 0.0, -std::sin(halfAngle)};
  const c3d_quaternion rotation =
      clnsc_canonicalSign(multiply(source->poseInverseRotation.quaternion, turnBack));
  c3d_quaternionUnit unitRotation;
  const cstd_status status = c3d_quaternionUnit_initQuaternion(&unitRotation, &rotation);
  if (status < 0)
    return status;

  clnsc_lineScanCameraUnconstrainedCalibrationParams result = *source;
  result.poseInverseRotation = unitRotation;
  result.scannerMotion = {0.0, inPlate, M.z};
  *aligned = result;
  return CSTD_STATUS_OK;
}
