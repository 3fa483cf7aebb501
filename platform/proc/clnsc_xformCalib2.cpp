#include <proc/clnsc_xformCalib2.h>

#include <new>

namespace {

cstd_status cloneTransform(const clnsc_xformLineScan* source, clnsc_xformLineScan** copy) {
  if (source == nullptr || copy == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  clnsc_xformLineScan* fresh = new (std::nothrow) clnsc_xformLineScan();
  if (fresh == nullptr)
    return CSTD_STATUS_OUT_OF_MEMORY;
  const cstd_status status = clnsc_xformLineScan_constructCopy(fresh, source);
  if (status < 0) {
    delete fresh;
    return status;
  }
  *copy = fresh;
  return CSTD_STATUS_OK;
}

cstd_status releaseTransform(clnsc_xformLineScan* record) {
  if (record == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  const cstd_status status = clnsc_xformLineScan_destruct(record);
  delete record;
  return status;
}

const ccal_xformCalib2_lineScanOps kCalib2Ops = {
    cloneTransform,
    releaseTransform,
    clnsc_xformLineScan_compareEqual,
    clnsc_xformLineScan_mapImageToPhysical,
    clnsc_xformLineScan_mapPhysicalToImage,
};

}  // namespace

const ccal_xformCalib2_lineScanOps* clnsc_xformLineScan_getCalib2Ops(void) {
  return &kCalib2Ops;
}

cstd_status ccal_getLineScanTransform(const ccal_xformCalib2* record,
                                      const clnsc_xformLineScan** lineScan) {
  if (record == nullptr || lineScan == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  if (record->lineScan == nullptr || record->lineScanOps != &kCalib2Ops)
    return CLNSC_STATUS_NO_LINE_SCAN_TRANSFORM;
  *lineScan = record->lineScan;
  return CSTD_STATUS_OK;
}

cstd_status ccal_setFromLineScanTransform(ccal_xformCalib2* record,
                                          const clnsc_xformLineScan* lineScan) {
  if (record == nullptr || lineScan == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  clnsc_xformLineScan* copy = nullptr;
  cstd_status status = cloneTransform(lineScan, &copy);
  if (status < 0)
    return status;
  // The default camera fields; assigning a record without a line-scan transform cannot fail on
  // a copy and releases the transform record held.
  ccal_xformCalib2 defaults;
  ccal_xformCalib2_construct(&defaults);
  status = ccal_xformCalib2_assign(record, &defaults);
  ccal_xformCalib2_destruct(&defaults);
  const cstd_status attachStatus = ccal_xformCalib2_attachLineScan(record, copy, &kCalib2Ops);
  return status < 0 ? status : attachStatus;
}
