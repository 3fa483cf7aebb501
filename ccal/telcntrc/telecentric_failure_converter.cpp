// Turns the failure statuses of the procedural telecentric calibration (key 0x84,
// <proc/ccal_calibrateTelecentricCamera.h>) into the library's exceptions, and registers the
// converter when the library is loaded. Statuses it does not name become tkProcedureFailure.
#include <ccal/telecentric_calibration_errors.h>
#include <proc/ccal_calibrateTelecentricCamera.h>
#include <tk/exception.h>
#include <tk/failure.h>

namespace {

void convertTelecentricCalibrationFailure(long status) {
  switch (static_cast<cstd_status>(status)) {
    case CCAL_STATUS_TELECENTRIC_SIZE_MISMATCH:
      throw tkCalibrateTelecentricCameraDefs::BadParams(
          L"imagePointsPhysicalPoints.size() != poses.size()");
    case CCAL_STATUS_TELECENTRIC_TOO_FEW_POSES:
      throw tkCalibrateTelecentricCameraDefs::InsufficientPoses(L"poses.size() < 2");
    case CCAL_STATUS_TELECENTRIC_BAD_PARAMS:
      throw tkCalibrateTelecentricCameraDefs::BadParams(
          L"params.maxIterations < 0 || !std::isfinite(params.cameraHeight)");
    case CCAL_STATUS_TELECENTRIC_BAD_VALUE:
      throw tkCalibrateTelecentricCameraDefs::BadParams(
          L"!std::isfinite(correspondence or pose) || weight < 0");
    case CCAL_STATUS_TELECENTRIC_TOO_FEW_POINTS:
      throw tkCalibrateTelecentricCameraDefs::BadParams(L"points of positive weight < 4");
    case CCAL_STATUS_TELECENTRIC_SINGULAR:
    case CCAL_STATUS_TELECENTRIC_EDGE_ON:
      throw tkMathError::Singular();
    default:
      return;
  }
}

[[maybe_unused]] const bool sRegistered =
    (tfRegisterExceptionConverter(0x84, convertTelecentricCalibrationFailure), true);

}  // namespace
