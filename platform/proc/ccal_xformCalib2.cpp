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

// The lens part of a record whose distortion list fits its model: the parameters for the
// distortion kernels (null when the model has none) and the centre of expansion.
struct Lens {
  int32_t model;
  const double* params;
  double cx;
  double cy;
};

cstd_status lensOf(const ccal_xformCalib2& record, Lens& lens) {
  const int32_t needed = ccal_xformCalib2_distortionParamCount(record.distortionModel);
  if (needed < 0)
    return CCAL_STATUS_UNKNOWN_DISTORTION_MODEL;
  if (record.distortionParamCount != needed)
    return CCAL_STATUS_XFORMCALIB2_BAD_PARAMS;
  lens.model = record.distortionModel;
  lens.params = needed > 0 ? record.distortionParams : nullptr;
  // The centre follows the lens coefficients: [k, cx, cy] or [p0..p3, cx, cy].
  lens.cx = needed > 0 ? record.distortionParams[needed - 2] : 0.0;
  lens.cy = needed > 0 ? record.distortionParams[needed - 1] : 0.0;
  return CSTD_STATUS_OK;
}

// Determinant of the 3x3 matrix with columns a, b, c: a . (b x c).
double det3(const double a[3], const double b[3], const double c[3]) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
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

cstd_status ccal_xformCalib2_mapPoint(const ccal_xformCalib2* record, const cmath_vect* image,
                                      cmath_vect* plane) {
  if (record == nullptr || image == nullptr || plane == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  if (record->lineScan != nullptr)
    return record->lineScanOps->mapPoint(record->lineScan, image, plane);

  Lens lens;
  cstd_status status = lensOf(*record, lens);
  if (status < 0)
    return status;
  cmath_xformLinear distortedFromImage;
  status = cmath_xformLinear_getInverse(&record->imageFromDistorted, &distortedFromImage);
  if (status < 0)
    return status;
  const double(&ki)[2][2] = distortedFromImage.matrix;
  const double dx = ki[0][0] * image->x + ki[0][1] * image->y + distortedFromImage.trans.x;
  const double dy = ki[1][0] * image->x + ki[1][1] * image->y + distortedFromImage.trans.y;
  double qx = 0.0, qy = 0.0;
  status =
      ccal_lensDistortion_undistort(lens.model, lens.params, lens.cx, lens.cy, dx, dy, &qx, &qy);
  if (status < 0)
    return status;

  const double(&r)[3][3] = record->cameraFromWorld.matrix;
  const cmath_vect3& t = record->cameraFromWorld.trans;
  if (lens.model == CCAL_DISTORTION_TELECENTRIC) {
    // (E*P).xy = x*R.col0.xy + y*R.col1.xy + t.xy = (qx, qy), by Cramer's rule.
    const double det = r[0][0] * r[1][1] - r[0][1] * r[1][0];
    const double bx = qx - t.x;
    const double by = qy - t.y;
    plane->x = (bx * r[1][1] - r[0][1] * by) / det;
    plane->y = (r[0][0] * by - r[1][0] * bx) / det;
    return CSTD_STATUS_OK;
  }
  // The plane point P = (x, y, 0) lies on the ray of (qx, qy, 1) when E*P = lambda*(qx, qy, 1):
  // x*R.col0 + y*R.col1 - lambda*(qx, qy, 1) = -t. Cramer's rule on the three columns; the
  // determinant vanishes exactly when the ray is parallel to the plane.
  const double col0[3] = {r[0][0], r[1][0], r[2][0]};
  const double col1[3] = {r[0][1], r[1][1], r[2][1]};
  const double ray[3] = {-qx, -qy, -1.0};
  const double rhs[3] = {-t.x, -t.y, -t.z};
  const double det = det3(col0, col1, ray);
  plane->x = det3(rhs, col1, ray) / det;
  plane->y = det3(col0, rhs, ray) / det;
  return CSTD_STATUS_OK;
}

cstd_status ccal_xformCalib2_invMapPoint(const ccal_xformCalib2* record, const cmath_vect* plane,
                                         cmath_vect* image) {
  if (record == nullptr || plane == nullptr || image == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  if (record->lineScan != nullptr)
    return record->lineScanOps->invMapPoint(record->lineScan, plane, image);

  Lens lens;
  const cstd_status status = lensOf(*record, lens);
  if (status < 0)
    return status;
  const double(&r)[3][3] = record->cameraFromWorld.matrix;
  const cmath_vect3& t = record->cameraFromWorld.trans;
  const double cameraX = r[0][0] * plane->x + r[0][1] * plane->y + t.x;
  const double cameraY = r[1][0] * plane->x + r[1][1] * plane->y + t.y;
  double qx = cameraX, qy = cameraY;
  if (lens.model != CCAL_DISTORTION_TELECENTRIC) {
    const double depth = r[2][0] * plane->x + r[2][1] * plane->y + t.z;
    qx = cameraX / depth;
    qy = cameraY / depth;
  }
  double dx = 0.0, dy = 0.0;
  ccal_lensDistortion_distort(lens.model, lens.params, lens.cx, lens.cy, qx, qy, &dx, &dy);
  const cmath_xformLinear& k = record->imageFromDistorted;
  image->x = k.matrix[0][0] * dx + k.matrix[0][1] * dy + k.trans.x;
  image->y = k.matrix[1][0] * dx + k.matrix[1][1] * dy + k.trans.y;
  return CSTD_STATUS_OK;
}
