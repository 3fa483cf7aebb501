#include <ccal/line_scan_calibration_errors.h>
#include <tk/exception.h>

#include <cstdint>

void convertLineScanCalibrationFailure(long status) {
  switch (static_cast<uint32_t>(static_cast<int32_t>(status))) {
    case 0x80001000u:
      throw tkCalibrateLineScanCameraDefs::BadParams(
          L"imagePoints.size() != physicalPoints.size()");
    case 0x80001001u:
      throw tkCalibrateLineScanCameraDefs::InsufficientPoints(L"imagePoints.size() < 4");
    case 0x80001002u:
      throw tkMathError::Singular();
    default:
      return;
  }
}
