// Failures of the telecentric extrinsics solver (block 0x1000AE40).
#ifndef CCAL_TELECENTRIC_EXTRINSICS_ERRORS_H
#define CCAL_TELECENTRIC_EXTRINSICS_ERRORS_H

#include <ccal/error_family.h>

class CCAL_API tk_TelecentricCalibrationDefs {
  CCAL_ERROR_SCOPE_BODY(tk_TelecentricCalibrationDefs)

  CCAL_DECLARE_ERRORS_CLASS();
  // 0x1000AE40: bad arguments.
  CCAL_DECLARE_ERROR_LEAF(BadParams);
  // 0x1000AE41: registered and persistent; the library has no throw site for it.
  CCAL_DECLARE_ERROR_LEAF(TooFewCorrespondences);
};

#endif
