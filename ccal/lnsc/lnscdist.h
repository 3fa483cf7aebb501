// Archive code of the line-scan lens record (clnsc_physicalAtZEquals1FromLineScanImageParams).
//
// Layout: version byte 0, k1 (double), k2 (double), the one-dimensional transform
// tk1Xform(scale, offset). Another version byte throws tkArchive::UnknownVersion
// ("ccal/lnsc/lnscdist", 96) before any value is read. When loading each value is written into
// the record as it is read (nothing is validated here; the camera record's setter does that).
#ifndef CCAL_LNSC_LNSCDIST_H
#define CCAL_LNSC_LNSCDIST_H

#include <proc/clnsc_lineScanCamera.h>
#include <tk/archive.h>

tkArchive& operator||(tkArchive& ar, clnsc_physicalAtZEquals1FromLineScanImageParams& lens);

#endif
