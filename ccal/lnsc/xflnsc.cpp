#include <ccal/line_scan_xform.h>
#include <proc/clnsc_xformCalib2.h>
#include <proc/cstd_assert.h>
#include <tk/archive.h>
#include <tk/archive_geometry.h>
#include <tk/failure.h>

#include "ccal/lnsc/line_scan_records.h"
#include "ccal/lnsc/lnsccal3.h"
#include "ccal/lnsc/lnscdist.h"

#include <cmath>

namespace {

constexpr unsigned char kCurrentVersion = 1;
constexpr const char* kLocation = "ccal/lnsc/xflnsc";
constexpr long kLine = 34;
// The two point lists of a fit.
constexpr uint32_t kFitCleanupCapacity = 2;

// A new zero-filled record, constructed by the procedural library.
clnsc_xformLineScan* newRecord() {
  clnsc_xformLineScan* record = new clnsc_xformLineScan();
  const cstd_status status = clnsc_xformLineScan_construct(record);
  if (status < 0) {
    delete record;
    tfThrowExceptionOnFailure(status);
  }
  return record;
}

// Ends the life of a record made by newRecord. A record that cannot be destructed is left
// alone (reported as a failed internal assertion) rather than freed in an unknown state.
void deleteRecord(clnsc_xformLineScan* record) noexcept {
  if (clnsc_xformLineScan_destruct(record) < 0) {
    cstd_assert_(__FILE__, __LINE__);
    return;
  }
  delete record;
}

void splitPairs(const std::vector<tkPair<tkVector<2>>>& pairs, std::vector<tkVector<2>>& list1,
                std::vector<tkVector<2>>& list2) {
  list1.clear();
  list2.clear();
  list1.reserve(pairs.size());
  list2.reserve(pairs.size());
  for (const tkPair<tkVector<2>>& pair : pairs) {
    list1.push_back(pair.first);
    list2.push_back(pair.second);
  }
}

}  // namespace

tk2XformLineScan::tk2XformLineScan() : record_(newRecord()) {}

tk2XformLineScan::tk2XformLineScan(const tk2XformLineScan& other)
    : tk2XformBase(other), record_(newRecord()) {
  const cstd_status status = clnsc_xformLineScan_assign(record_, other.record_);
  if (status < 0) {
    deleteRecord(record_);
    tfThrowExceptionOnFailure(status);
  }
}

tk2XformLineScan::tk2XformLineScan(const clnsc_xformLineScan& record) : record_(newRecord()) {
  const cstd_status status = clnsc_xformLineScan_assign(record_, &record);
  if (status < 0) {
    deleteRecord(record_);
    tfThrowExceptionOnFailure(status);
  }
}

tk2XformLineScan::tk2XformLineScan(const std::vector<tkVector<2>>& toImagePoints,
                                   const std::vector<tkVector<2>>& fromPhysicalPoints)
    : record_(newRecord()) {
  try {
    init(toImagePoints, fromPhysicalPoints);
  } catch (...) {
    deleteRecord(record_);
    throw;
  }
}

tk2XformLineScan::tk2XformLineScan(const std::vector<tkVector<2>>& toImagePoints,
                                   const std::vector<tkVector<2>>& fromPhysicalPoints,
                                   double distanceFromCameraToTarget)
    : record_(newRecord()) {
  try {
    init(toImagePoints, fromPhysicalPoints, distanceFromCameraToTarget);
  } catch (...) {
    deleteRecord(record_);
    throw;
  }
}

tk2XformLineScan& tk2XformLineScan::operator=(const tk2XformLineScan& other) {
  if (&other != this)
    tfThrowExceptionOnFailure(clnsc_xformLineScan_assign(record_, other.record_));
  return *this;
}

tk2XformLineScan::~tk2XformLineScan() {
  deleteRecord(record_);
}

// ---- fitting ---------------------------------------------------------------------------------

void tk2XformLineScan::fit(const std::vector<tkVector<2>>& list1,
                           const std::vector<tkVector<2>>& list2, bool hasDistance,
                           double distance) {
  tk_RecordCleanup<kFitCleanupCapacity> cleanup;

  cstd_vector_cmath_vect imageList;
  tk_makeLineScanPointList(imageList, list1, cleanup);
  cstd_vector_cmath_vect physicalList;
  tk_makeLineScanPointList(physicalList, list2, cleanup);

  const cstd_status status = clnsc_xformLineScan_initPoints(
      record_, &imageList, &physicalList, hasDistance ? 1 : 0, hasDistance ? distance : 0.0);
  cleanup.execute(status);
}

void tk2XformLineScan::residualFigures(const std::vector<tkVector<2>>& list1,
                                       const std::vector<tkVector<2>>& list2, double& rms,
                                       double& maxResidual) const {
  double sum = 0.0;
  maxResidual = 0.0;
  for (std::size_t i = 0; i < list1.size(); ++i) {
    const tkVector<2> d = list1[i] - mapPoint(list2[i]);
    const double squared = d.dot(d);
    sum += squared;
    if (squared > maxResidual)
      maxResidual = squared;
  }
  if (maxResidual > 0.0)
    maxResidual = std::sqrt(maxResidual);
  rms = 0.0;
  if (!list1.empty())
    rms = std::sqrt(std::fabs(sum / static_cast<double>(list1.size())));
}

void tk2XformLineScan::init(const std::vector<tkVector<2>>& list1,
                            const std::vector<tkVector<2>>& list2) {
  fit(list1, list2, false, 0.0);
}

void tk2XformLineScan::init(const std::vector<tkVector<2>>& list1,
                            const std::vector<tkVector<2>>& list2,
                            double distanceFromCameraToTarget) {
  fit(list1, list2, true, distanceFromCameraToTarget);
}

void tk2XformLineScan::init(const std::vector<tkVector<2>>& list1,
                            const std::vector<tkVector<2>>& list2, double& rms,
                            double& maxResidual) {
  init(list1, list2);
  residualFigures(list1, list2, rms, maxResidual);
}

void tk2XformLineScan::init(const std::vector<tkVector<2>>& list1,
                            const std::vector<tkVector<2>>& list2,
                            double distanceFromCameraToTarget, double& rms, double& maxResidual) {
  init(list1, list2, distanceFromCameraToTarget);
  residualFigures(list1, list2, rms, maxResidual);
}

void tk2XformLineScan::init(const std::vector<tkPair<tkVector<2>>>& pairs) {
  std::vector<tkVector<2>> list1, list2;
  splitPairs(pairs, list1, list2);
  init(list1, list2);
}

void tk2XformLineScan::init(const std::vector<tkPair<tkVector<2>>>& pairs,
                            double distanceFromCameraToTarget) {
  std::vector<tkVector<2>> list1, list2;
  splitPairs(pairs, list1, list2);
  init(list1, list2, distanceFromCameraToTarget);
}

void tk2XformLineScan::init(const std::vector<tkPair<tkVector<2>>>& pairs, double& rms,
                            double& maxResidual) {
  init(pairs);
  std::vector<tkVector<2>> list1, list2;
  splitPairs(pairs, list1, list2);
  residualFigures(list1, list2, rms, maxResidual);
}

void tk2XformLineScan::init(const std::vector<tkPair<tkVector<2>>>& pairs,
                            double distanceFromCameraToTarget, double& rms, double& maxResidual) {
  init(pairs, distanceFromCameraToTarget);
  std::vector<tkVector<2>> list1, list2;
  splitPairs(pairs, list1, list2);
  residualFigures(list1, list2, rms, maxResidual);
}

// ---- mapping and queries ---------------------------------------------------------------------

tkVector<2> tk2XformLineScan::mapPoint(const tkVector<2>& p) const {
  const cmath_vect point{p.x(), p.y()};
  cmath_vect mapped{};
  tfThrowExceptionOnFailure(clnsc_xformLineScan_mapPoint(record_, &point, &mapped));
  return tkVector<2>(mapped.x, mapped.y);
}

bool tk2XformLineScan::isLinear() const {
  int32_t flag = 0;
  tfThrowExceptionOnFailure(clnsc_xformLineScan_getIsLinear(record_, &flag));
  return flag == 1;
}

tk2XformLinear tk2XformLineScan::linearXform(const tkVector<2>& p) const {
  const cmath_vect point{p.x(), p.y()};
  double out[6];
  tfThrowExceptionOnFailure(clnsc_xformLineScan_getLinearXform(record_, &point, out));
  return tk2XformLinear(tkMatrix<2>(out[2], out[3], out[4], out[5]), tkVector<2>(out[0], out[1]));
}

tk2XformLineScan tk2XformLineScan::inverse() const {
  tk2XformLineScan result;
  tfThrowExceptionOnFailure(clnsc_xformLineScan_getInverse(record_, result.record_));
  return result;
}

tkPtrHandle<tk2XformBase> tk2XformLineScan::inverseBase() const {
  return tkPtrHandle<tk2XformBase>(new tk2XformLineScan(inverse()));
}

tkPtrHandle<tk2XformBase> tk2XformLineScan::clone() const {
  return tkPtrHandle<tk2XformBase>(new tk2XformLineScan(*this));
}

bool tk2XformLineScan::operator==(const tk2XformLineScan& other) const {
  int32_t equal = 0;
  tfThrowExceptionOnFailure(clnsc_xformLineScan_compareEqual(record_, other.record_, &equal));
  return equal == 1;
}

bool tk2XformLineScan::w2i() const {
  return record_->w2i == 1;
}

void tk2XformLineScan::computeRmsResiduals(const std::vector<tkVector<2>>& toImagePoints,
                                           const std::vector<tkVector<2>>& fromPhysicalPoints,
                                           tkPair<double>& rms) const {
  if (toImagePoints.size() != fromPhysicalPoints.size())
    throw tk2XformLineScanDefs::BadParams(L"toImagePoints.size() != fromPhysicalPoints.size()");
  double sumX = 0.0, sumY = 0.0;
  for (std::size_t i = 0; i < toImagePoints.size(); ++i) {
    const tkVector<2> d = toImagePoints[i] - mapPoint(fromPhysicalPoints[i]);
    sumX += d.x() * d.x();
    sumY += d.y() * d.y();
  }
  const double n = static_cast<double>(toImagePoints.size());
  rms = tkPair<double>(std::sqrt(sumX / n), std::sqrt(sumY / n));
}

// ---- persistence -----------------------------------------------------------------------------

tkPersistent* tk2XformLineScan::make() {
  return new tk2XformLineScan();
}

void tk2XformLineScan::dispatchSerialize(tkArchive& ar) {
  if (haveVisited(this, sizeof(*this)))
    return;
  unsigned char version = kCurrentVersion;
  ar || version;
  serialize_(ar, version);
  setVisited(this, sizeof(*this));
}

void tk2XformLineScan::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0 && version != 1)
    throw tkArchive::UnknownVersion(kLocation, kLine);
  tk2XformBase::dispatchSerialize(ar);

  clnsc_lineScanCameraUnconstrainedCalibrationParams camera;
  tfThrowExceptionOnFailure(
      clnsc_lineScanCameraUnconstrainedCalibrationParams_constructCopy(&camera, &record_->camera));
  if (version == 1) {
    ar || camera;
  } else {
    // The earlier layout, read only: lens, pose inverse, motion in the plate plane.
    clnsc_physicalAtZEquals1FromLineScanImageParams lens = camera.lens;
    tkXform<3> poseInverse = tk_lineScanCameraPoseInverse(camera).xform();
    tkVector<2> motion(camera.scannerMotion.x, camera.scannerMotion.y);
    ar || lens;
    ar || poseInverse;
    ar || motion;
    if (ar.isLoading()) {
      tfThrowExceptionOnFailure(
          clnsc_lineScanCameraUnconstrainedCalibrationParams_setLens(&camera, &lens));
      tk_setLineScanCameraPoseInverse(camera, poseInverse);
      const cmath_vect3 scannerMotion{motion.x(), motion.y(), 0.0};
      tfThrowExceptionOnFailure(clnsc_lineScanCameraUnconstrainedCalibrationParams_setScannerMotion(
          &camera, &scannerMotion));
    }
  }
  // Loading replaces nothing until every field is read: a cut archive leaves the transform whole.
  bool worldToImage = record_->w2i == 1;
  ar || worldToImage;
  if (ar.isLoading()) {
    tfThrowExceptionOnFailure(
        clnsc_lineScanCameraUnconstrainedCalibrationParams_assign(&record_->camera, &camera));
    record_->w2i = worldToImage ? 1 : 0;
  }
}

// ---- conversions with the calibrated transform -----------------------------------------------

void tfConvert(const tk2XformCalib2& src, tk2XformLineScan& dst) {
  const clnsc_xformLineScan* record = nullptr;
  tfThrowExceptionOnFailure(ccal_getLineScanTransform(&src.data(), &record));
  dst = tk2XformLineScan(*record);
}

void tfConvert(const tk2XformLineScan& src, tk2XformCalib2& dst) {
  ccal_xformCalib2 record;
  tfThrowExceptionOnFailure(ccal_xformCalib2_construct(&record));
  const cstd_status status = ccal_setFromLineScanTransform(&record, src.lineScan());
  try {
    tfThrowExceptionOnFailure(status);
    dst = tk2XformCalib2(record);
  } catch (...) {
    ccal_xformCalib2_destruct(&record);
    throw;
  }
  ccal_xformCalib2_destruct(&record);
}
