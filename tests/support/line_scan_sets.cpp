#include "support/line_scan_sets.h"

#include "support/data_sets.h"

#include <ccal/line_scan_calibration.h>
#include <tk/quaternion.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

double relative(double a, double b) {
  return std::fabs(a - b) / std::max(1.0, std::fabs(b));
}

}  // namespace

tkLineScanSet loadLineScanSet(const std::string& fileName) {
  const tkPointFile file = loadDataSet(fileName);
  if (file.kind != "line-scan" || file.placements.size() != 1 || file.groundTruthJson.empty())
    throw std::runtime_error(fileName + " is not a line-scan set with a ground truth");
  tkLineScanSet set;
  const tkPointPlacement& placement = file.placements[0];
  for (const tkPointRow& row : placement.points[0]) {
    set.image.push_back(row.image);
    set.physical.emplace_back(row.physical.x(), row.physical.y());
  }
  set.distance = placement.distanceToTarget;

  const nlohmann::json truth = nlohmann::json::parse(file.groundTruthJson);
  clnsc_lineScanCameraUnconstrainedCalibrationParams& camera = set.truth;
  clnsc_lineScanCameraUnconstrainedCalibrationParams_construct(&camera);
  camera.lens = {truth["lens"]["offset"].get<double>(), truth["lens"]["scale"].get<double>(),
                 truth["lens"]["k1"].get<double>(), truth["lens"]["k2"].get<double>()};
  const std::vector<double> q = truth["pose"]["quaternion"].get<std::vector<double>>();
  const std::vector<double> t = truth["pose"]["translation"].get<std::vector<double>>();
  const std::vector<double> m = truth["motion"].get<std::vector<double>>();
  const c3d_quaternion quaternion{q.at(0), q.at(1), q.at(2), q.at(3)};
  c3d_quaternionUnit_initQuaternion(&camera.poseInverseRotation, &quaternion);
  camera.poseInverseTranslation = {t.at(0), t.at(1), t.at(2)};
  camera.scannerMotion = {m.at(0), m.at(1), m.at(2)};
  set.scaleIsDefault = truth["scale_is_default"].get<bool>();
  return set;
}

const tkLineScanSet& exactLineScanSet() {
  static const tkLineScanSet set = loadLineScanSet("linescan-exact.json");
  return set;
}

tk2XformCalib2 calibrateExactLineScanSet() {
  const tkLineScanSet& set = exactLineScanSet();
  tkCalibrateLineScanCameraParams params;
  double rms = 0.0, largest = 0.0;
  tk2XformCalib2 xform;
  tfCalibrateLineScanCamera(set.image, set.physical, params, rms, largest, xform);
  return xform;
}

const tkLineScanSet& noisyLineScanSet() {
  static const tkLineScanSet set = loadLineScanSet("linescan-noisy.json");
  return set;
}

std::vector<tkPair<tkVector<2>>> lineScanPairs(const tkLineScanSet& set) {
  std::vector<tkPair<tkVector<2>>> pairs;
  for (std::size_t i = 0; i < set.image.size(); ++i)
    pairs.emplace_back(set.image[i], set.physical[i]);
  return pairs;
}

tkProcPointList::tkProcPointList(const std::vector<tkVector<2>>& points) {
  cstd_vector_cmath_vect_construct(&list_, points.size());
  cmath_vect* begin = nullptr;
  cstd_vector_cmath_vect_getBegin(&list_, &begin);
  for (std::size_t i = 0; i < points.size(); ++i)
    begin[i] = {points[i].x(), points[i].y()};
}

tkProcPointList::~tkProcPointList() {
  cstd_vector_cmath_vect_destruct(&list_);
}

double cameraDifference(const clnsc_lineScanCameraUnconstrainedCalibrationParams& a,
                        const clnsc_lineScanCameraUnconstrainedCalibrationParams& b) {
  const c3d_quaternion& p = a.poseInverseRotation.quaternion;
  const c3d_quaternion& q = b.poseInverseRotation.quaternion;
  const double sign = p.a * q.a + p.b * q.b + p.c * q.c + p.d * q.d < 0.0 ? -1.0 : 1.0;
  const auto values = [](const clnsc_lineScanCameraUnconstrainedCalibrationParams& c) {
    const cmath_vect3 &t = c.poseInverseTranslation, &m = c.scannerMotion;
    return std::vector<double>{c.lens.offset, c.lens.scale, c.lens.k1, c.lens.k2, t.x,
                               t.y,           t.z,          m.x,       m.y,       m.z};
  };
  std::vector<double> differences = {std::fabs(sign * p.a - q.a), std::fabs(sign * p.b - q.b),
                                     std::fabs(sign * p.c - q.c), std::fabs(sign * p.d - q.d)};
  const std::vector<double> va = values(a), vb = values(b);
  for (std::size_t i = 0; i < va.size(); ++i)
    differences.push_back(relative(va[i], vb[i]));
  double largest = 0.0;
  for (double d : differences)
    largest = std::isnan(d) ? d : std::max(largest, d);
  return largest;
}

tkVector<3> cameraCentre(const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera) {
  const c3d_quaternion& q = camera.poseInverseRotation.quaternion;
  const cmath_vect3& T = camera.poseInverseTranslation;
  return tk3Quaternion(q.a, q.b, q.c, q.d).rotationMatrix().transpose() *
         tkVector<3>(-T.x, -T.y, -T.z);
}
