// Helpers of the line-scan entry points for the procedural records they build: filling of point
// lists and their registration with a call's clean-up table.
#ifndef CCAL_LNSC_LINE_SCAN_RECORDS_H
#define CCAL_LNSC_LINE_SCAN_RECORDS_H

#include <proc/cstd_vector.h>
#include <tk/failure.h>
#include <tk/vector.h>

#include "ccal/foundation/record_cleanup.h"

#include <stdint.h>

#include <vector>

// Resizes a constructed list to points.size() and writes each point as (x, y), in order.
// Throws what tfThrowExceptionOnFailure raises (out of memory).
void tk_fillLineScanPointList(cstd_vector_cmath_vect& list, const std::vector<tkVector<2>>& points);

// Constructs list, registers it in the call's clean-up table (tk_RecordCleanup::add) and fills it
// with points (tk_fillLineScanPointList). Throws what those throw; once registered, the list is
// destroyed by the table's clean-up whatever happens next.
template <uint32_t Capacity>
void tk_makeLineScanPointList(cstd_vector_cmath_vect& list, const std::vector<tkVector<2>>& points,
                              tk_RecordCleanup<Capacity>& cleanup) {
  tfThrowExceptionOnFailure(cstd_vector_cmath_vect_construct(&list, 0));
  cleanup.add(&list, cstd_vector_cmath_vect_destruct, csys_typeCheck_cstd_vector_cmath_vect,
              csys_typeCheckFunc_cstd_vector_cmath_vect);
  tk_fillLineScanPointList(list, points);
}

#endif
