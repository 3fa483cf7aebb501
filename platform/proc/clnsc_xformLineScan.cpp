#include <proc/clnsc_xformLineScan.h>

#include "clnsc_cameraGeometry.h"
#include "clnsc_lineScanFit.h"
#include "plain_record.h"

#include <cmath>
#include <limits>

namespace {

// Largest ∂z_c/∂X, ∂z_c/∂Y (dimensionless) of a camera still taken as affine.
constexpr double kLinearTolerance = 1e-12;

clnsc_xformLineScan defaultTransform() {
  clnsc_xformLineScan record{};
  clnsc_lineScanCameraUnconstrainedCalibrationParams_construct(&record.camera);
  record.w2i = 1;
  return record;
}

bool equalTransforms(const clnsc_xformLineScan& a, const clnsc_xformLineScan& b) {
  int32_t camerasEqual = 0;
  clnsc_lineScanCameraUnconstrainedCalibrationParams_compareEqual(&a.camera, &b.camera,
                                                                  &camerasEqual);
  return a.w2i == b.w2i && camerasEqual == 1;
}

// Maps a point with one direction of the record's camera geometry (plate -> image or image ->
// plate); CSTD_STATUS_BAD_ARGUMENT for a null pointer.
cstd_status mapThrough(void (*map)(const clnsc_cameraGeometry&, double, double, double&, double&),
                       const clnsc_xformLineScan* record, const cmath_vect* from, cmath_vect* to) {
  if (record == nullptr || from == nullptr || to == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  double x = 0.0, y = 0.0;
  map(clnsc_cameraGeometryOf(record->camera), from->x, from->y, x, y);
  *to = {x, y};
  return CSTD_STATUS_OK;
}

}  // namespace

CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(clnsc_xformLineScan, defaultTransform, equalTransforms)

cstd_status clnsc_xformLineScan_initPoints(clnsc_xformLineScan* record,
                                           const cstd_vector_cmath_vect* imagePoints,
                                           const cstd_vector_cmath_vect* physicalPoints,
                                           int32_t hasDistance, double distance) {
  if (record == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  clnsc_lineScanCameraUnconstrainedCalibrationParams camera;
  const cstd_status status =
      clnsc_fitLineScanCamera(imagePoints, physicalPoints, hasDistance != 0, distance, &camera);
  if (status < 0)
    return status;
  record->camera = camera;
  record->w2i = 1;
  return CSTD_STATUS_OK;
}

cstd_status clnsc_xformLineScan_mapPhysicalToImage(const clnsc_xformLineScan* record,
                                                   const cmath_vect* physical, cmath_vect* image) {
  return mapThrough(clnsc_plateToImage, record, physical, image);
}

cstd_status clnsc_xformLineScan_mapImageToPhysical(const clnsc_xformLineScan* record,
                                                   const cmath_vect* image, cmath_vect* physical) {
  return mapThrough(clnsc_imageToPlate, record, image, physical);
}

cstd_status clnsc_xformLineScan_mapPoint(const clnsc_xformLineScan* record, const cmath_vect* point,
                                         cmath_vect* mapped) {
  if (record == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  return record->w2i == 1 ? clnsc_xformLineScan_mapPhysicalToImage(record, point, mapped)
                          : clnsc_xformLineScan_mapImageToPhysical(record, point, mapped);
}

cstd_status clnsc_xformLineScan_getIsLinear(const clnsc_xformLineScan* record, int32_t* isLinear) {
  if (record == nullptr || isLinear == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  const clnsc_cameraGeometry geometry = clnsc_cameraGeometryOf(record->camera);
  const double depthRate = geometry.motion[2] / geometry.motion[1];
  const double slopeX = geometry.rotation[2][0] - depthRate * geometry.rotation[1][0];
  const double slopeY = geometry.rotation[2][1] - depthRate * geometry.rotation[1][1];
  // The comparisons are false for NaN, so a non-finite camera is not linear.
  *isLinear = geometry.k1 == 0.0 && geometry.k2 == 0.0 && std::fabs(slopeX) <= kLinearTolerance &&
                      std::fabs(slopeY) <= kLinearTolerance
                  ? 1
                  : 0;
  return CSTD_STATUS_OK;
}

cstd_status clnsc_xformLineScan_getLinearXform(const clnsc_xformLineScan* record,
                                               const cmath_vect* point, double out[6]) {
  if (record == nullptr || point == nullptr || out == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  const clnsc_cameraGeometry geometry = clnsc_cameraGeometryOf(record->camera);
  double J[2][2];
  double tx = 0.0, ty = 0.0;
  if (record->w2i == 1) {
    clnsc_plateToImageJacobian(geometry, point->x, point->y, J);
    double u = 0.0, v = 0.0;
    clnsc_plateToImage(geometry, point->x, point->y, u, v);
    tx = u - (J[0][0] * point->x + J[0][1] * point->y);
    ty = v - (J[1][0] * point->x + J[1][1] * point->y);
  } else {
    double X = 0.0, Y = 0.0;
    clnsc_imageToPlate(geometry, point->x, point->y, X, Y);
    double forward[2][2];
    clnsc_plateToImageJacobian(geometry, X, Y, forward);
    const double det = forward[0][0] * forward[1][1] - forward[0][1] * forward[1][0];
    if (det == 0.0) {
      J[0][0] = J[0][1] = J[1][0] = J[1][1] = std::numeric_limits<double>::quiet_NaN();
    } else {
      J[0][0] = forward[1][1] / det;
      J[0][1] = -forward[0][1] / det;
      J[1][0] = -forward[1][0] / det;
      J[1][1] = forward[0][0] / det;
    }
    tx = X - (J[0][0] * point->x + J[0][1] * point->y);
    ty = Y - (J[1][0] * point->x + J[1][1] * point->y);
  }
  out[0] = tx;
  out[1] = ty;
  out[2] = J[0][0];
  out[3] = J[0][1];
  out[4] = J[1][0];
  out[5] = J[1][1];
  return CSTD_STATUS_OK;
}

cstd_status clnsc_xformLineScan_getInverse(const clnsc_xformLineScan* record,
                                           clnsc_xformLineScan* inverse) {
  if (record == nullptr || inverse == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  const int32_t w2i = record->w2i == 1 ? 0 : 1;
  *inverse = *record;
  inverse->w2i = w2i;
  return CSTD_STATUS_OK;
}
