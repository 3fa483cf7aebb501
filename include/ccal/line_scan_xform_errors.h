// Failures of the line-scan transform (block 0x1000AA00).
#ifndef CCAL_LINE_SCAN_XFORM_ERRORS_H
#define CCAL_LINE_SCAN_XFORM_ERRORS_H

#include <ccal/error_family.h>

class CCAL_API tk2XformLineScanDefs {
  CCAL_ERROR_SCOPE_BODY(tk2XformLineScanDefs)

  CCAL_DECLARE_ERRORS_CLASS();
  // 0x1000AA00: registered and persistent; the library has no throw site for it.
  CCAL_DECLARE_ERROR_LEAF(InsufficientPoints);
  // 0x1000AA01: bad arguments of the line-scan transform.
  CCAL_DECLARE_ERROR_LEAF(BadParams);
};

#endif
