#include <ccal/line_scan_calibration.h>

#include <cmath>

namespace {

constexpr unsigned char kArchiveVersion = 0;
constexpr const char* kArchiveLocation = "ccal/lnsc/ccalibls";
constexpr long kArchiveLine = 107;

}  // namespace

void tkCalibrateLineScanCameraParams::distanceFromCameraToTarget(double distance) {
  // NaN fails both comparisons, so it is refused with the negative values.
  if (!(distance >= 0.0) || distance == HUGE_VAL)
    throw tkCalibrateLineScanCameraDefs::BadParams(
        L"distanceFromCameraToTarget < 0 || distanceFromCameraToTarget == HUGE_VAL");
  distanceFromCameraToTarget_ = distance;
}

void tkCalibrateLineScanCameraParams::calibrationYAxisAdjustmentMode(
    tkCalibrateLineScanCameraDefs::CalibrationYAxisAdjustmentMode mode) {
  if (mode != tkCalibrateLineScanCameraDefs::eNoYAxisAdjustment &&
      mode != tkCalibrateLineScanCameraDefs::eAlignYAxisToScannerMotion)
    throw tkCalibrateLineScanCameraDefs::BadParams(L"invalid enum");
  calibrationYAxisAdjustmentMode_ = mode;
}

bool tkCalibrateLineScanCameraParams::operator==(
    const tkCalibrateLineScanCameraParams& other) const {
  return useDistanceFromCameraToTarget_ == other.useDistanceFromCameraToTarget_ &&
         distanceFromCameraToTarget_ == other.distanceFromCameraToTarget_ &&
         calibrationYAxisAdjustmentMode_ == other.calibrationYAxisAdjustmentMode_;
}

tkArchive& operator||(tkArchive& ar, tkCalibrateLineScanCameraParams& params) {
  unsigned char version = kArchiveVersion;
  ar || version;
  if (version > kArchiveVersion)
    throw tkArchive::UnknownVersion(kArchiveLocation, kArchiveLine);
  // Fields go through a copy, so that a cut archive leaves params as they were.
  bool use = params.useDistanceFromCameraToTarget_;
  double distance = params.distanceFromCameraToTarget_;
  ar || use;
  ar || distance;
  // The mode as an unsigned 32-bit value; loaded values are taken as they are.
  unsigned long mode =
      static_cast<unsigned long>(static_cast<uint32_t>(params.calibrationYAxisAdjustmentMode_));
  ar || mode;
  if (ar.isLoading()) {
    params.useDistanceFromCameraToTarget_ = use;
    params.distanceFromCameraToTarget_ = distance;
    params.calibrationYAxisAdjustmentMode_ =
        static_cast<tkCalibrateLineScanCameraDefs::CalibrationYAxisAdjustmentMode>(
            static_cast<int32_t>(static_cast<uint32_t>(mode)));
  }
  return ar;
}
