// Record functions of the telecentric calibration's params and result records.
#include <proc/ccal_calibrateTelecentricCamera.h>

#include "platform/proc/plain_record.h"

namespace {

ccal_calibrateTelecentricCameraParams defaultParams() {
  return ccal_calibrateTelecentricCameraParams{0, 0.0, 100};
}

bool equalParams(const ccal_calibrateTelecentricCameraParams& a,
                 const ccal_calibrateTelecentricCameraParams& b) {
  return a.useCameraHeight == b.useCameraHeight && a.cameraHeight == b.cameraHeight &&
         a.maxIterations == b.maxIterations;
}

// The first negative status of the two, else OK.
cstd_status firstFailure(cstd_status first, cstd_status second) {
  return first < 0 ? first : (second < 0 ? second : CSTD_STATUS_OK);
}

}  // namespace

CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(ccal_calibrateTelecentricCameraParams, defaultParams,
                                   equalParams)

cstd_status ccal_calibrateTelecentricCameraResult_construct(
    ccal_calibrateTelecentricCameraResult* record) {
  if (record == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  // Empty vectors allocate nothing, so these cannot fail.
  cstd_vectord_construct(&record->poseRmsResiduals, 0);
  cstd_vectord_construct(&record->poseMaxResiduals, 0);
  ccal_xformCalib2_construct(&record->calibratedXform);
  return CSTD_STATUS_OK;
}

cstd_status ccal_calibrateTelecentricCameraResult_destruct(
    ccal_calibrateTelecentricCameraResult* record) {
  if (record == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  // Every field is released even when one release fails; the first failure is returned.
  const cstd_status xform = ccal_xformCalib2_destruct(&record->calibratedXform);
  const cstd_status maxima = cstd_vectord_destruct(&record->poseMaxResiduals);
  const cstd_status rms = cstd_vectord_destruct(&record->poseRmsResiduals);
  return firstFailure(xform, firstFailure(maxima, rms));
}

cstd_status ccal_calibrateTelecentricCameraResult_constructCopy(
    ccal_calibrateTelecentricCameraResult* record,
    const ccal_calibrateTelecentricCameraResult* source) {
  if (record == nullptr || source == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  // Each field is constructed whatever happens, so the record can always be destructed.
  const cstd_status rms =
      cstd_vectord_constructCopy(&record->poseRmsResiduals, &source->poseRmsResiduals);
  const cstd_status maxima =
      cstd_vectord_constructCopy(&record->poseMaxResiduals, &source->poseMaxResiduals);
  const cstd_status xform =
      ccal_xformCalib2_constructCopy(&record->calibratedXform, &source->calibratedXform);
  return firstFailure(rms, firstFailure(maxima, xform));
}

cstd_status ccal_calibrateTelecentricCameraResult_assign(
    ccal_calibrateTelecentricCameraResult* record,
    const ccal_calibrateTelecentricCameraResult* source) {
  if (record == nullptr || source == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  if (record == source)
    return CSTD_STATUS_OK;
  // Copy into a temporary first, so that a failure leaves the record unchanged.
  ccal_calibrateTelecentricCameraResult copy;
  cstd_status status = ccal_calibrateTelecentricCameraResult_constructCopy(&copy, source);
  if (status >= 0) {
    const ccal_calibrateTelecentricCameraResult previous = *record;
    *record = copy;
    copy = previous;  // released below
  }
  const cstd_status release = ccal_calibrateTelecentricCameraResult_destruct(&copy);
  return firstFailure(status, release);
}

cstd_status ccal_calibrateTelecentricCameraResult_compareEqual(
    const ccal_calibrateTelecentricCameraResult* a, const ccal_calibrateTelecentricCameraResult* b,
    int32_t* equal) {
  if (a == nullptr || b == nullptr || equal == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  *equal = 0;
  int32_t rmsEqual = 0, maxEqual = 0, xformEqual = 0;
  cstd_status status =
      cstd_vectord_compareEqual(&a->poseRmsResiduals, &b->poseRmsResiduals, &rmsEqual);
  if (status >= 0)
    status = cstd_vectord_compareEqual(&a->poseMaxResiduals, &b->poseMaxResiduals, &maxEqual);
  if (status >= 0)
    status = ccal_xformCalib2_compareEqual(&a->calibratedXform, &b->calibratedXform, &xformEqual);
  if (status < 0)
    return status;
  *equal = rmsEqual && maxEqual && xformEqual ? 1 : 0;
  return CSTD_STATUS_OK;
}
