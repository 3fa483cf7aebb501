// A calibrated-transform record (<proc/ccal_xformCalib2.h>) that holds a line-scan transform.
//
// The line-scan library supplies the functions through which a calibrated-transform record
// copies, releases, compares and maps through the clnsc_xformLineScan it owns. Such a record
// maps image -> plate (mapPoint) and plate -> image (invMapPoint) with the camera of the
// line-scan transform, whatever its w2i flag; its other camera fields keep their default value.
#ifndef PROC_CLNSC_XFORMCALIB2_H
#define PROC_CLNSC_XFORMCALIB2_H

#include <proc/ccal_xformCalib2.h>
#include <proc/clnsc_status.h>
#include <proc/clnsc_xformLineScan.h>
#include <tk/export.h>

// The static table of the line-scan library's functions for calibrated-transform records
// (heap copies made with new; clone answers CSTD_STATUS_OUT_OF_MEMORY when none can be made).
TK_API const ccal_xformCalib2_lineScanOps* clnsc_xformLineScan_getCalib2Ops(void);

// *lineScan = the line-scan transform inside record (read only, valid while record holds it).
// Returns CLNSC_STATUS_NO_LINE_SCAN_TRANSFORM when record holds none (or one that another
// library attached) and CSTD_STATUS_BAD_ARGUMENT for a null pointer; *lineScan is then unchanged.
TK_API cstd_status ccal_getLineScanTransform(const ccal_xformCalib2* record,
                                             const clnsc_xformLineScan** lineScan);

// record becomes the calibrated transform of a copy of lineScan: the default camera fields
// (K = identity, no distortion, E = identity) and the copy, which record owns. The transform
// record held before is released. Returns CSTD_STATUS_BAD_ARGUMENT for a null pointer and
// CSTD_STATUS_OUT_OF_MEMORY when no copy can be made; record is unchanged then.
TK_API cstd_status ccal_setFromLineScanTransform(ccal_xformCalib2* record,
                                                 const clnsc_xformLineScan* lineScan);

#endif
