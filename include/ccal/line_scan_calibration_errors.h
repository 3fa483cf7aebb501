// Failures of line-scan camera calibration (block 0x1000B400), and the converter that turns the
// line-scan procedural library's failure statuses into them.
#ifndef CCAL_LINE_SCAN_CALIBRATION_ERRORS_H
#define CCAL_LINE_SCAN_CALIBRATION_ERRORS_H

#include <ccal/error_family.h>

#include <cstdint>

class CCAL_API tkCalibrateLineScanCameraDefs {
  CCAL_ERROR_SCOPE_BODY(tkCalibrateLineScanCameraDefs)

  // How line-scan camera calibration sets the Y axis of the client frame (a 32-bit value; only
  // these two are valid).
  enum CalibrationYAxisAdjustmentMode : int32_t {
    // The client frame is the frame of the given physical points.
    eNoYAxisAdjustment = 0,
    // The client frame is turned about its Z axis (through its origin) so that +Y points along
    // the in-plate part of the scanner motion: image columns then map to lines X = const, and
    // Y grows with the scan line.
    eAlignYAxisToScannerMotion = 1
  };

  CCAL_DECLARE_ERRORS_CLASS();
  // 0x1000B400: bad arguments (also status 0x80001000).
  CCAL_DECLARE_ERROR_LEAF(BadParams);
  // 0x1000B401: too few points (status 0x80001001).
  CCAL_DECLARE_ERROR_LEAF(InsufficientPoints);
};

// Converter registered under key 128 (statuses 0x80xxxxxx):
//   0x80001000 -> tkCalibrateLineScanCameraDefs::BadParams
//                 ("imagePoints.size() != physicalPoints.size()")
//   0x80001001 -> tkCalibrateLineScanCameraDefs::InsufficientPoints ("imagePoints.size() < 4")
//   0x80001002 -> tkMathError::Singular
// Any other status returns without throwing.
CCAL_API void convertLineScanCalibrationFailure(long status);

#endif
