#include <proc/clnsc_calibrateLineScanCamera.h>
#include <proc/clnsc_xformCalib2.h>
#include <proc/clnsc_xformLineScan.h>

#include "clnsc_cameraGeometry.h"
#include "clnsc_lineScanFit.h"
#include "plain_record.h"

#include <algorithm>
#include <cmath>

namespace {

clnsc_calibrateLineScanCameraParams defaultParams() {
  return {0, 0.0, 0};
}

bool equalParams(const clnsc_calibrateLineScanCameraParams& a,
                 const clnsc_calibrateLineScanCameraParams& b) {
  return a.useDistanceFromCameraToTarget == b.useDistanceFromCameraToTarget &&
         a.distanceFromCameraToTarget == b.distanceFromCameraToTarget &&
         a.alignYAxisToScannerMotion == b.alignYAxisToScannerMotion;
}

// RMS and largest length of image_i − (plate -> image)(plate_i), pixels.
void residualFigures(const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera,
                     const cstd_vector_cmath_vect& imagePoints,
                     const cstd_vector_cmath_vect& physicalPoints, double& rms, double& largest) {
  const clnsc_cameraGeometry geometry = clnsc_cameraGeometryOf(camera);
  double sum = 0.0;
  largest = 0.0;
  for (size_t i = 0; i < imagePoints.size; ++i) {
    double u = 0.0, v = 0.0;
    clnsc_plateToImage(geometry, physicalPoints.elements[i].x, physicalPoints.elements[i].y, u, v);
    const double du = imagePoints.elements[i].x - u, dv = imagePoints.elements[i].y - v;
    const double squared = du * du + dv * dv;
    sum += squared;
    largest = std::max(largest, squared);
  }
  largest = std::sqrt(largest);
  rms = std::sqrt(sum / static_cast<double>(imagePoints.size));
}

}  // namespace

CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(clnsc_calibrateLineScanCameraParams, defaultParams, equalParams)

cstd_status clnsc_calibrateLineScanCameraResult_construct(
    clnsc_calibrateLineScanCameraResult* record) {
  if (record == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  record->rmsResidual = 0.0;
  record->maxResidual = 0.0;
  return ccal_xformCalib2_construct(&record->calibratedXform);
}

cstd_status clnsc_calibrateLineScanCameraResult_destruct(
    clnsc_calibrateLineScanCameraResult* record) {
  if (record == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  return ccal_xformCalib2_destruct(&record->calibratedXform);
}

cstd_status clnsc_calibrateLineScanCameraResult_constructCopy(
    clnsc_calibrateLineScanCameraResult* record,
    const clnsc_calibrateLineScanCameraResult* source) {
  if (record == nullptr || source == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  record->rmsResidual = source->rmsResidual;
  record->maxResidual = source->maxResidual;
  return ccal_xformCalib2_constructCopy(&record->calibratedXform, &source->calibratedXform);
}

cstd_status clnsc_calibrateLineScanCameraResult_assign(
    clnsc_calibrateLineScanCameraResult* record,
    const clnsc_calibrateLineScanCameraResult* source) {
  if (record == nullptr || source == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  const cstd_status status =
      ccal_xformCalib2_assign(&record->calibratedXform, &source->calibratedXform);
  if (status < 0)
    return status;
  record->rmsResidual = source->rmsResidual;
  record->maxResidual = source->maxResidual;
  return status;
}

cstd_status clnsc_calibrateLineScanCameraResult_compareEqual(
    const clnsc_calibrateLineScanCameraResult* a, const clnsc_calibrateLineScanCameraResult* b,
    int32_t* equal) {
  if (a == nullptr || b == nullptr || equal == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  int32_t xformsEqual = 0;
  const cstd_status status =
      ccal_xformCalib2_compareEqual(&a->calibratedXform, &b->calibratedXform, &xformsEqual);
  if (status < 0)
    return status;
  *equal = xformsEqual == 1 && a->rmsResidual == b->rmsResidual && a->maxResidual == b->maxResidual
               ? 1
               : 0;
  return CSTD_STATUS_OK;
}

cstd_status clnsc_calibrateLineScanCamera(const cstd_vector_cmath_vect* imagePoints,
                                          const cstd_vector_cmath_vect* physicalPoints,
                                          const clnsc_calibrateLineScanCameraParams* params,
                                          clnsc_calibrateLineScanCameraResult* result) {
  if (imagePoints == nullptr || physicalPoints == nullptr || params == nullptr || result == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  clnsc_xformLineScan transform;
  clnsc_xformLineScan_construct(&transform);
  cstd_status status = clnsc_fitLineScanCamera(
      imagePoints, physicalPoints, params->useDistanceFromCameraToTarget != 0,
      params->distanceFromCameraToTarget, &transform.camera);
  if (status < 0)
    return status;
  double rms = 0.0, largest = 0.0;
  residualFigures(transform.camera, *imagePoints, *physicalPoints, rms, largest);
  if (params->alignYAxisToScannerMotion != 0) {
    status =
        clnsc_lineScanCameraSyntheticallyAlignToScannerMotion(&transform.camera, &transform.camera);
    if (status < 0)
      return status;
  }

  ccal_xformCalib2 calibrated;
  ccal_xformCalib2_construct(&calibrated);
  status = ccal_setFromLineScanTransform(&calibrated, &transform);
  if (status >= 0)
    status = ccal_xformCalib2_assign(&result->calibratedXform, &calibrated);
  ccal_xformCalib2_destruct(&calibrated);
  if (status < 0)
    return status;
  result->rmsResidual = rms;
  result->maxResidual = largest;
  return CSTD_STATUS_OK;
}
