#include "support/line_scan_sets.h"

#include "support/data_sets.h"

#include <ccal/line_scan_calibration.h>
#include <tk/matrix.h>

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
  const double differences[] = {relative(a.lens.offset, b.lens.offset),
                                relative(a.lens.scale, b.lens.scale),
                                relative(a.lens.k1, b.lens.k1),
                                relative(a.lens.k2, b.lens.k2),
                                std::fabs(sign * p.a - q.a),
                                std::fabs(sign * p.b - q.b),
                                std::fabs(sign * p.c - q.c),
                                std::fabs(sign * p.d - q.d),
                                relative(a.poseInverseTranslation.x, b.poseInverseTranslation.x),
                                relative(a.poseInverseTranslation.y, b.poseInverseTranslation.y),
                                relative(a.poseInverseTranslation.z, b.poseInverseTranslation.z),
                                relative(a.scannerMotion.x, b.scannerMotion.x),
                                relative(a.scannerMotion.y, b.scannerMotion.y),
                                relative(a.scannerMotion.z, b.scannerMotion.z)};
  double largest = 0.0;
  for (double d : differences)
    largest = std::isnan(d) ? d : std::max(largest, d);
  return largest;
}

tkVector<3> cameraCentre(const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera) {
  // R(q)ᵀ·(−T), R(q) the world -> camera rotation of the unit quaternion.
  const c3d_quaternion& q = camera.poseInverseRotation.quaternion;
  const double a = q.a, b = q.b, c = q.c, d = q.d;
  const tkMatrix<3> R(a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c),
                      2 * (b * c + a * d), a * a - b * b + c * c - d * d, 2 * (c * d - a * b),
                      2 * (b * d - a * c), 2 * (c * d + a * b), a * a - b * b - c * c + d * d);
  const cmath_vect3& T = camera.poseInverseTranslation;
  return R.transpose() * tkVector<3>(-T.x, -T.y, -T.z);
}
