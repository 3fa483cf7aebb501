#include <ccal/camera_calibration_coarse.h>

#include "ccal/single/image_normalisation.h"

#include <tk/angle_vect.h>
#include <tk/nm_matrix.h>
#include <tk/pair.h>
#include <tk/quaternion_xform.h>

#include "platform/core/invalid_argument.h"

#include <cmath>
#include <cstddef>
#include <string>

using Pairs = std::vector<std::pair<tkVector<2>, tkVector<3>>>;

namespace {

// The split projection matrix: rotation rows and translation (camera from physical) and the
// row norms a, b, c.
struct ProjectionEstimate {
  tk3QuaternionXform pose;
  double a = 0.0, b = 0.0, c = 0.0;
};

// DLT on the correspondences (N(p), s·P).
ProjectionEstimate estimateProjection(const Pairs& correspondences, const tk2XformLinear& N,
                                      double s) {
  tkNMMatrix A(12, 12);
  double* normal = A.data();
  for (const auto& pair : correspondences) {
    const tkVector<2> p = N.mapPoint(pair.first);
    const tkVector<3> P = pair.second * s;
    const double u = p.x(), v = p.y();
    const double X = P.x(), Y = P.y(), Z = P.z();
    const double a1[12] = {X, Y, Z, 1.0, 0.0, 0.0, 0.0, 0.0, -u * X, -u * Y, -u * Z, -u};
    const double a2[12] = {0.0, 0.0, 0.0, 0.0, X, Y, Z, 1.0, -v * X, -v * Y, -v * Z, -v};
    // Element (r, c) gets a_r·a_c and (c, r) gets a_c·a_r, the same product: A stays exactly
    // symmetric, so the symmetric eigen solver is used.
    for (int col = 0; col < 12; ++col)
      for (int row = 0; row < 12; ++row)
        normal[row + 12 * col] += a1[row] * a1[col] + a2[row] * a2[col];
  }
  std::vector<double> re, im;
  tkNMMatrix vectors;
  A.eigenvalues(true, re, im, vectors);
  std::size_t smallest = 0;
  double smallestMagnitude = HUGE_VAL;
  for (std::size_t k = 0; k < re.size(); ++k)
    if (std::fabs(re[k]) < smallestMagnitude) {
      smallestMagnitude = std::fabs(re[k]);
      smallest = k;
    }
  double m[12];
  for (int i = 0; i < 12; ++i)
    m[i] = vectors.element(i, static_cast<long>(smallest));

  const tkVector<3> row0(m[0], m[1], m[2]), row1(m[4], m[5], m[6]), row2(m[8], m[9], m[10]);
  ProjectionEstimate estimate;
  estimate.a = row0.length();
  estimate.b = row1.length();
  estimate.c = row2.length();
  const tkVector<3> u0 = row0.unit(), u1 = row1.unit(), u2 = row2.unit();
  tkMatrix<3> rotation(u0.x(), u0.y(), u0.z(), u1.x(), u1.y(), u1.z(), u2.x(), u2.y(), u2.z());
  tkVector<3> translation(m[3] / estimate.a, m[7] / estimate.b, m[11] / estimate.c);
  if (rotation.determinant() < 0.0) {
    rotation = rotation * -1.0;
    translation = -translation;
  }
  // Through the angle representation: the nearest proper rotation.
  const tkMatrix<3> proper = tk3AngleVect(rotation).matrix();
  estimate.pose = tk3QuaternionXform(tk3Quaternion(proper), translation);
  return estimate;
}

}  // namespace

void tfCameraCalibrationParamsCoarse(tk2XformCalib2Defs::tkCalib2DistortionModel model,
                                     const Pairs& correspondences,
                                     tkCameraCalibrationParams& result) {
  for (std::size_t i = 0; i < correspondences.size(); ++i) {
    const tkVector<2>& p = correspondences[i].first;
    const tkVector<3>& P = correspondences[i].second;
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(P.x()) ||
        !std::isfinite(P.y()) || !std::isfinite(P.z()))
      tk_throwInvalidArgument("tfCameraCalibrationParamsCoarse: correspondence " +
                              std::to_string(i) + " has a coordinate that is not finite");
  }

  // 1. The raw estimate only tells the size of the translation.
  const ProjectionEstimate raw = estimateProjection(correspondences, tk2XformLinear(), 1.0);
  const double distance = raw.pose.trans().length();
  const double s = distance == 0.0 ? 1.0 : 1.0 / distance;

  // 2.-3. The estimate on normalised image points and the scaled physical frame.
  tk_ImageNormaliser normaliser;
  for (const auto& pair : correspondences)
    normaliser.add(pair.first);
  const tk2XformLinear N = normaliser.normalisation();
  const ProjectionEstimate normalised = estimateProjection(correspondences, N, s);

  // 4. Back to the caller's unit and to pixels.
  tkPhysicalAtZEquals1FromImageParams intrinsic;
  intrinsic.cameraScale(tkPair<double>(normalised.c / normalised.a, normalised.c / normalised.b));
  intrinsic.distModel(model);
  tkCameraCalibrationParams estimate;
  estimate.physicalAtZEquals1FromImageParams(intrinsic.mapRight(N));
  estimate.cameraPoseInverse(
      tk3QuaternionXform(normalised.pose.quat(), normalised.pose.trans() / s));
  result = estimate;
}
