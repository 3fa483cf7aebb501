// Failures of telecentric camera calibration (block 0x1000B600).
#ifndef CCAL_TELECENTRIC_CALIBRATION_ERRORS_H
#define CCAL_TELECENTRIC_CALIBRATION_ERRORS_H

#include <ccal/error_family.h>

class CCAL_API tkCalibrateTelecentricCameraDefs {
  CCAL_ERROR_SCOPE_BODY(tkCalibrateTelecentricCameraDefs)

  CCAL_DECLARE_ERRORS_CLASS();
  // 0x1000B600: bad arguments.
  CCAL_DECLARE_ERROR_LEAF(BadParams);
  // 0x1000B601: fewer plate poses than the calibration needs.
  CCAL_DECLARE_ERROR_LEAF(InsufficientPoses);
};

#endif
