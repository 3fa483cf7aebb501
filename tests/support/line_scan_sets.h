// The bundled line-scan data sets (data/linescan-*.json) as the line-scan functions take them,
// their ground-truth camera record, and small helpers for tests of the procedural line-scan
// records.
#ifndef CCAL_TESTS_SUPPORT_LINE_SCAN_SETS_H
#define CCAL_TESTS_SUPPORT_LINE_SCAN_SETS_H

#include <proc/clnsc_lineScanCamera.h>
#include <proc/cstd_vector.h>
#include <tk/pair.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

#include <string>
#include <vector>

struct tkLineScanSet {
  std::vector<tkVector<2>> image;     // (u, v) pixels and scan lines
  std::vector<tkVector<2>> physical;  // plate (X, Y), client units
  double distance = 0.0;              // distance_to_target of the placement
  clnsc_lineScanCameraUnconstrainedCalibrationParams truth;
  bool scaleIsDefault = false;
};

// Loads "linescan-exact.json" or "linescan-noisy.json" from data/.
tkLineScanSet loadLineScanSet(const std::string& fileName);
// The same sets, loaded once per test program.
const tkLineScanSet& exactLineScanSet();
const tkLineScanSet& noisyLineScanSet();
// The calibrated transform of tfCalibrateLineScanCamera on the exact set (default options).
tk2XformCalib2 calibrateExactLineScanSet();

// The set's points as (image, plate) pairs.
std::vector<tkPair<tkVector<2>>> lineScanPairs(const tkLineScanSet& set);

// A procedural point list filled from points; destructed with the object.
class tkProcPointList {
 public:
  explicit tkProcPointList(const std::vector<tkVector<2>>& points);
  ~tkProcPointList();
  tkProcPointList(const tkProcPointList&) = delete;
  tkProcPointList& operator=(const tkProcPointList&) = delete;
  const cstd_vector_cmath_vect* get() const { return &list_; }

 private:
  cstd_vector_cmath_vect list_;
};

// Largest difference between the 13 values of two cameras, each relative to max(1, |value|):
// lens (offset, scale, k1, k2), quaternion (compared up to sign), translation, motion.
double cameraDifference(const clnsc_lineScanCameraUnconstrainedCalibrationParams& a,
                        const clnsc_lineScanCameraUnconstrainedCalibrationParams& b);

// The projection centre C = −Rᵀ·T of a camera at scan line 0, client units.
tkVector<3> cameraCentre(const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera);

#endif
