// Helpers of the line-scan entry points for the procedural records they build: registration
// with a call's clean-up table and filling of point lists.
#ifndef CCAL_LNSC_LINE_SCAN_RECORDS_H
#define CCAL_LNSC_LINE_SCAN_RECORDS_H

#include <proc/cstd_vector.h>
#include <proc/csys_cleanup.h>
#include <tk/failure.h>
#include <tk/vector.h>

#include <stdint.h>

#include <vector>

// Runs the record's two type checks and enters it in the call's clean-up table (capacity
// entries, count registered so far) with its own destruct function. Throws what
// tfThrowExceptionOnFailure raises for a failed check or a full table; the record is then not
// registered.
template <class Record>
void tk_registerLineScanRecord(Record* record, cstd_status (*destruct)(Record*),
                               cstd_status (*typeCheck)(const Record*),
                               cstd_status (*typeCheckFunc)(cstd_status (*)(Record*),
                                                            csys_destructFunc*),
                               csys_cleanupEntry* table, uint32_t capacity, uint32_t& count) {
  csys_destructFunc generic = nullptr;
  tfThrowExceptionOnFailure(typeCheck(record));
  tfThrowExceptionOnFailure(typeCheckFunc(destruct, &generic));
  tfThrowExceptionOnFailure(csys_cleanup_addEntry(table, capacity, &count, record, generic));
}

// Resizes a constructed list to points.size() and writes each point as (x, y), in order.
// Throws what tfThrowExceptionOnFailure raises (out of memory).
void tk_fillLineScanPointList(cstd_vector_cmath_vect& list, const std::vector<tkVector<2>>& points);

// Constructs list, registers it in the call's clean-up table (see tk_registerLineScanRecord) and
// fills it with points (see tk_fillLineScanPointList). Throws what those throw; once registered,
// the list is destroyed by the table's clean-up whatever happens next.
void tk_makeLineScanPointList(cstd_vector_cmath_vect& list, const std::vector<tkVector<2>>& points,
                              csys_cleanupEntry* table, uint32_t capacity, uint32_t& count);

#endif
