#include <proc/ccal_crspPair2D3DWeighted.h>

#include "platform/proc/plain_record.h"

namespace {

ccal_crspPair2D3DWeighted defaultPair() {
  return ccal_crspPair2D3DWeighted{{0.0, 0.0}, {0.0, 0.0, 0.0}, 1.0};
}

bool equalPairs(const ccal_crspPair2D3DWeighted& a, const ccal_crspPair2D3DWeighted& b) {
  return a.p.x == b.p.x && a.p.y == b.p.y && a.P.x == b.P.x && a.P.y == b.P.y && a.P.z == b.P.z &&
         a.w == b.w;
}

}  // namespace

CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(ccal_crspPair2D3DWeighted, defaultPair, equalPairs)
