#include "platform/core/pose3d/pose_refinement.h"

#include <proc/csys_attention.h>
#include <tk/attention.h>
#include <tk/exception.h>
#include <tk/levmar_solve.h>

#include "platform/core/camera_model/pose.h"
#include "platform/core/finite_values.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The camera's values are those of its forward map; projecting in that form keeps the arithmetic
// of the planar calibration (only the derivatives by the point are used here).
constexpr ccal::detail::LinearValues kForward = ccal::detail::LinearValues::kImageFromDistorted;

// Levenberg-Marquardt settings of the pose refinement (parameters in the normalised frame).
tkLevMarSettings poseSettings(long maxIterations) {
  tkLevMarSettings settings;
  settings.xTol = 1e-12;
  settings.fTol = 0.0;
  settings.maxIterations = maxIterations;
  settings.lambda0 = 1e-3;
  return settings;
}

// F = image residuals (projection - observation, pixels), 2 per point; x = the six values of the
// quaternion form (camera_model/pose.h) of the pose that maps the centred, scaled physical points
// into the camera. The Jacobian chains the projection's derivatives by the camera point with the
// pose's derivatives of that point.
class PoseSolver : public tkLevMarSolve {
 public:
  PoseSolver(const tk_CameraIntrinsics& camera, const std::vector<tkVector<2>>& imagePoints,
             const std::vector<tkVector<3>>& scaledPoints, int heldIndex, long maxIterations)
      : tkLevMarSolve(6, 2 * static_cast<long>(imagePoints.size()), poseSettings(maxIterations)),
        camera_(camera.cameraModel()),
        imagePoints_(imagePoints),
        points_(scaledPoints),
        heldIndex_(heldIndex) {}

  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override {
    const long status = csys_attention_check();
    if (status < 0)
      return status;
    double* out = f.data();
    if (!finite(x)) {  // a step that left the finite values: no residual there
      std::fill(out, out + f.rows(), std::numeric_limits<double>::quiet_NaN());
      return 0;
    }
    const ccal::detail::Pose pose = ccal::detail::quaternionPose(heldIndex_, x.data());
    for (std::size_t i = 0; i < points_.size(); ++i) {
      const double P[3] = {points_[i].x(), points_[i].y(), points_[i].z()};
      double pc[3], image[2];
      ccal::detail::mapPoint(pose, P, pc, nullptr, nullptr);
      if (camera_.project<kForward>(pc, image, nullptr) != ccal::detail::ProjectionStatus::kOk) {
        out[2 * i] = out[2 * i + 1] = std::numeric_limits<double>::quiet_NaN();
        continue;
      }
      out[2 * i] = image[0] - imagePoints_[i].x();
      out[2 * i + 1] = image[1] - imagePoints_[i].y();
    }
    return 0;
  }

  long compJacob(const tkNMMatrix& x, const tkNMMatrix&, tkNMMatrix& jacobian) override {
    const ccal::detail::Pose pose = ccal::detail::quaternionPose(heldIndex_, x.data());
    const long rows = jacobian.rows();
    double* J = jacobian.data();  // column-major
    for (std::size_t i = 0; i < points_.size(); ++i) {
      const double P[3] = {points_[i].x(), points_[i].y(), points_[i].z()};
      double pc[3], byPose[3][6], image[2];
      ccal::detail::mapPoint(pose, P, pc, byPose, nullptr);
      ccal::detail::ModelJacobian d;
      const long row0 = 2 * static_cast<long>(i);
      const bool projected =
          camera_.project<kForward>(pc, image, &d) == ccal::detail::ProjectionStatus::kOk;
      for (int c = 0; c < 6; ++c)
        for (int r = 0; r < 2; ++r)
          J[row0 + r + c * rows] = projected ? d.byPoint[r][0] * byPose[0][c] +
                                                   d.byPoint[r][1] * byPose[1][c] +
                                                   d.byPoint[r][2] * byPose[2][c]
                                             : 0.0;
    }
    return 0;
  }

 private:
  static bool finite(const tkNMMatrix& x) {
    for (long i = 0; i < 6; ++i)
      if (!std::isfinite(x(i, 0)))
        return false;
    return true;
  }

  const ccal::detail::CameraModel camera_;
  const std::vector<tkVector<2>>& imagePoints_;
  const std::vector<tkVector<3>>& points_;
  int heldIndex_;
};

}  // namespace

void tk_poseResiduals(const tk_CameraIntrinsics& camera,
                      const std::vector<tkVector<2>>& imagePoints,
                      const std::vector<tkVector<3>>& physicalPoints, const tkXform<3>& pose,
                      double& rms, double& largest) {
  const ccal::detail::CameraModel model = camera.cameraModel();
  double sum = 0.0;
  largest = 0.0;
  for (std::size_t i = 0; i < imagePoints.size(); ++i) {
    const tkVector<3> cameraPoint = pose.mapPoint(physicalPoints[i]);
    const double pc[3] = {cameraPoint.x(), cameraPoint.y(), cameraPoint.z()};
    double image[2];
    if (model.project<kForward>(pc, image, nullptr) != ccal::detail::ProjectionStatus::kOk) {
      rms = largest = std::numeric_limits<double>::infinity();
      return;
    }
    const double e2 = (image[0] - imagePoints[i].x()) * (image[0] - imagePoints[i].x()) +
                      (image[1] - imagePoints[i].y()) * (image[1] - imagePoints[i].y());
    sum += e2;
    largest = std::max(largest, std::sqrt(e2));
  }
  rms = imagePoints.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(imagePoints.size()));
}

tkXform<3> tk_refinePose(const tk_CameraIntrinsics& camera,
                         const std::vector<tkVector<2>>& imagePoints,
                         const std::vector<tkVector<3>>& physicalPoints, const tkXform<3>& start,
                         double* rms, double* largest, long maxIterations) {
  // Physical frame of the solver: P' = (P - centroid) / spread, so that the camera point is
  // spread * (R P' + t') with t' = (R centroid + t) / spread; the projection ignores the factor.
  const double n = static_cast<double>(physicalPoints.size());
  tkVector<3> centroid;
  for (const tkVector<3>& P : physicalPoints)
    centroid += P / n;
  double spread = 0.0;
  for (const tkVector<3>& P : physicalPoints)
    spread += (P - centroid).dot(P - centroid) / n;
  spread = std::sqrt(spread);
  if (!(spread > 0.0) || !std::isfinite(spread))
    throw tkMathError::Singular();
  std::vector<tkVector<3>> scaledPoints(physicalPoints.size());
  for (std::size_t i = 0; i < physicalPoints.size(); ++i)
    scaledPoints[i] = (physicalPoints[i] - centroid) / spread;

  const tkXform<3> scaledStart(start.matrix(), (start.mapPoint(centroid)) / spread);
  tkNMMatrix x(6, 1);
  const int heldIndex = ccal::detail::packQuaternionPose(scaledStart, x.data());

  PoseSolver solver(camera, imagePoints, scaledPoints, heldIndex, maxIterations);
  solver.setX(x);
  const double cost = solver.minimize();
  if (solver.termination() == tkFSolver::eFunctionStopped)
    tkAttention::check();
  if (!std::isfinite(cost))
    throw tkMathError::Singular();

  const tkXform<3> scaled = ccal::detail::quaternionXform(heldIndex, solver.getX().data());
  const tkXform<3> pose(scaled.matrix(), scaled.trans() * spread - scaled.matrix() * centroid);
  if (!tk_isFinite(pose))
    throw tkMathError::Singular();
  double rmsValue = 0.0, largestValue = 0.0;
  tk_poseResiduals(camera, imagePoints, physicalPoints, pose, rmsValue, largestValue);
  if (rms != nullptr)
    *rms = rmsValue;
  if (largest != nullptr)
    *largest = largestValue;
  return pose;
}
