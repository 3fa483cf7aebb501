// Failures of rig (multi-camera) calibration and pose estimation (block 0x1000AE80).
#ifndef CCAL_MULTICAMERA_CALIBRATION_ERRORS_H
#define CCAL_MULTICAMERA_CALIBRATION_ERRORS_H

#include <ccal/error_family.h>

class CCAL_API tk_MulticameraCalibrationDefs {
  CCAL_ERROR_SCOPE_BODY(tk_MulticameraCalibrationDefs)

  CCAL_DECLARE_ERRORS_CLASS();
  // 0x1000AE80: bad arguments, a rig pose that cannot be set ("calib not set"), or a solve that
  // gave the outlier rejection no usable rig.
  CCAL_DECLARE_ERROR_LEAF(BadParams);
  // 0x1000AE81: registered and persistent; no throw site in the library.
  CCAL_DECLARE_ERROR_LEAF(NotImplemented);
  // 0x1000AE82: outlier rejection left no point to solve with (<ccal/outlier_rejection.h>).
  CCAL_DECLARE_ERROR_LEAF(TooFewCorrespondences);
};

#endif
