#include "ccal/lnsc/lnscdist.h"

#include <tk/archive_geometry.h>
#include <tk/xform1.h>

namespace {

constexpr unsigned char kLensVersion = 0;
constexpr const char* kLocation = "ccal/lnsc/lnscdist";
constexpr long kLine = 96;

}  // namespace

tkArchive& operator||(tkArchive& ar, clnsc_physicalAtZEquals1FromLineScanImageParams& lens) {
  unsigned char version = kLensVersion;
  ar || version;
  if (version != kLensVersion)
    throw tkArchive::UnknownVersion(kLocation, kLine);
  ar || lens.k1;
  ar || lens.k2;
  tk1Xform pixelsFromDistorted(lens.scale, lens.offset);
  ar || pixelsFromDistorted;
  lens.scale = pixelsFromDistorted.scale();
  lens.offset = pixelsFromDistorted.offset();
  return ar;
}
