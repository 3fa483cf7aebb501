#include <proc/ccal_xformCalib2.h>

#include <cmath>

namespace {

ccal_xformCalib2 defaultRecord() {
  ccal_xformCalib2 record{};
  record.imageFromDistorted.matrix[0][0] = 1.0;
  record.imageFromDistorted.matrix[1][1] = 1.0;
  record.distortionModel = CCAL_DISTORTION_NONE;
  record.distortionParamCount = 0;
  for (int i = 0; i < 3; ++i)
    record.cameraFromWorld.matrix[i][i] = 1.0;
  record.lineScan = nullptr;
  record.lineScanOps = nullptr;
  return record;
}

// Copies every field but the line-scan transform, which stays as it is in `target`.
void copyCameraFields(ccal_xformCalib2& target, const ccal_xformCalib2& source) {
  clnsc_xformLineScan* const lineScan = target.lineScan;
  const ccal_xformCalib2_lineScanOps* const ops = target.lineScanOps;
  target = source;
  target.lineScan = lineScan;
  target.lineScanOps = ops;
}

cstd_status releaseLineScan(ccal_xformCalib2& record) {
  cstd_status status = CSTD_STATUS_OK;
  if (record.lineScan != nullptr)
    status = record.lineScanOps->release(record.lineScan);
  record.lineScan = nullptr;
  record.lineScanOps = nullptr;
  return status;
}

// *copy = a clone of the source's line-scan transform (null when it has none).
cstd_status cloneLineScan(const ccal_xformCalib2& source, clnsc_xformLineScan** copy) {
  *copy = nullptr;
  if (source.lineScan == nullptr)
    return CSTD_STATUS_OK;
  const cstd_status status = source.lineScanOps->clone(source.lineScan, copy);
  if (status < 0)
    *copy = nullptr;
  else if (*copy == nullptr)
    return CSTD_STATUS_OUT_OF_MEMORY;
  return status;
}

bool equalCameraFields(const ccal_xformCalib2& a, const ccal_xformCalib2& b) {
  const cmath_xformLinear& ka = a.imageFromDistorted;
  const cmath_xformLinear& kb = b.imageFromDistorted;
  if (!(ka.trans.x == kb.trans.x && ka.trans.y == kb.trans.y))
    return false;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c)
      if (!(ka.matrix[r][c] == kb.matrix[r][c]))
        return false;
  if (a.distortionModel != b.distortionModel || a.distortionParamCount != b.distortionParamCount)
    return false;
  const int32_t count = a.distortionParamCount;
  if (count < 0 || count > CCAL_XFORMCALIB2_MAX_DISTORTION_PARAMS)
    return false;
  for (int32_t i = 0; i < count; ++i)
    if (!(a.distortionParams[i] == b.distortionParams[i]))
      return false;
  const cmath_xformLinear3& ea = a.cameraFromWorld;
  const cmath_xformLinear3& eb = b.cameraFromWorld;
  if (!(ea.trans.x == eb.trans.x && ea.trans.y == eb.trans.y && ea.trans.z == eb.trans.z))
    return false;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      if (!(ea.matrix[r][c] == eb.matrix[r][c]))
        return false;
  return true;
}

}  // namespace

cstd_status ccal_xformCalib2_construct(ccal_xformCalib2* record) {
  if (record == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  *record = defaultRecord();
  return CSTD_STATUS_OK;
}

cstd_status ccal_xformCalib2_destruct(ccal_xformCalib2* record) {
  if (record == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  return releaseLineScan(*record);
}

cstd_status ccal_xformCalib2_constructCopy(ccal_xformCalib2* record,
                                           const ccal_xformCalib2* source) {
  if (record == nullptr || source == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  clnsc_xformLineScan* lineScan = nullptr;
  const cstd_status status = cloneLineScan(*source, &lineScan);
  // The record is constructed in every case; on failure it holds no line-scan transform.
  *record = *source;
  record->lineScan = lineScan;
  if (lineScan == nullptr)
    record->lineScanOps = nullptr;
  return status;
}

cstd_status ccal_xformCalib2_assign(ccal_xformCalib2* record, const ccal_xformCalib2* source) {
  if (record == nullptr || source == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  if (record == source)
    return CSTD_STATUS_OK;
  clnsc_xformLineScan* lineScan = nullptr;
  const cstd_status cloneStatus = cloneLineScan(*source, &lineScan);
  if (cloneStatus < 0)
    return cloneStatus;  // record unchanged
  const cstd_status releaseStatus = releaseLineScan(*record);
  copyCameraFields(*record, *source);
  record->lineScan = lineScan;
  record->lineScanOps = lineScan != nullptr ? source->lineScanOps : nullptr;
  return releaseStatus;
}

cstd_status ccal_xformCalib2_compareEqual(const ccal_xformCalib2* a, const ccal_xformCalib2* b,
                                          int32_t* equal) {
  if (a == nullptr || b == nullptr || equal == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  *equal = 0;
  if (!equalCameraFields(*a, *b))
    return CSTD_STATUS_OK;
  if (a->lineScan == nullptr || b->lineScan == nullptr) {
    *equal = a->lineScan == b->lineScan ? 1 : 0;
    return CSTD_STATUS_OK;
  }
  int32_t lineScanEqual = 0;
  const cstd_status status = a->lineScanOps->compareEqual(a->lineScan, b->lineScan, &lineScanEqual);
  if (status < 0)
    return status;
  *equal = lineScanEqual != 0 ? 1 : 0;
  return CSTD_STATUS_OK;
}

int32_t ccal_xformCalib2_distortionParamCount(int32_t model) {
  switch (model) {
    case CCAL_DISTORTION_RADIAL:
      return 3;
    case CCAL_DISTORTION_SINE_TAN:
      return 6;
    case CCAL_DISTORTION_NONE:
    case CCAL_DISTORTION_TELECENTRIC:
      return 0;
    default:
      return -1;
  }
}

cstd_status ccal_xformCalib2_attachLineScan(ccal_xformCalib2* record, clnsc_xformLineScan* lineScan,
                                            const ccal_xformCalib2_lineScanOps* ops) {
  if (record == nullptr || (lineScan != nullptr && ops == nullptr))
    return CSTD_STATUS_BAD_ARGUMENT;
  const cstd_status status = releaseLineScan(*record);
  record->lineScan = lineScan;
  record->lineScanOps = lineScan != nullptr ? ops : nullptr;
  return status;
}
