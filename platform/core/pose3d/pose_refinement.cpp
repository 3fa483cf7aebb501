#include "platform/core/pose3d/pose_refinement.h"

#include <proc/csys_attention.h>
#include <tk/attention.h>
#include <tk/exception.h>
#include <tk/levmar_solve.h>

#include "platform/core/finite_values.h"
#include "platform/core/pose3d/pose_parameters.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Levenberg-Marquardt settings of the pose refinement (parameters in the normalised frame).
constexpr double kXTolerance = 1e-12;
constexpr long kMaxLambdaSteps = 15;
constexpr double kLambda0 = 1e-3;
constexpr double kLambdaMax = 1e20;

// F = image residuals (projection - observation, pixels), 2 per point; x = the six pose values
// of the pose that maps the centred, scaled physical points into the camera.
class PoseSolver : public tkLevMarSolve {
 public:
  PoseSolver(const tk_CameraIntrinsics& camera, const std::vector<tkVector<2>>& imagePoints,
             const std::vector<tkVector<3>>& scaledPoints, tk_PoseParameters parameters,
             long maxIterations)
      : tkLevMarSolve(6, 2 * static_cast<long>(imagePoints.size()), kXTolerance, 0.0, maxIterations,
                      kMaxLambdaSteps, kLambda0, 1e-8, kLambdaMax, true, false),
        camera_(camera),
        imagePoints_(imagePoints),
        points_(scaledPoints),
        parameters_(parameters) {}

  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override {
    const long status = csys_attention_check();
    if (status < 0)
      return status;
    double R[3][3];
    parameters_.rotation(x.data(), R, nullptr);
    double* out = f.data();
    for (std::size_t i = 0; i < points_.size(); ++i) {
      double pc[3], image[2];
      cameraPoint(R, x.data() + 3, points_[i], pc);
      if (!tk_projectCameraPoint(camera_, pc, image, nullptr)) {
        out[2 * i] = out[2 * i + 1] = std::numeric_limits<double>::quiet_NaN();
        continue;
      }
      out[2 * i] = image[0] - imagePoints_[i].x();
      out[2 * i + 1] = image[1] - imagePoints_[i].y();
    }
    return 0;
  }

  long compJacob(const tkNMMatrix& x, const tkNMMatrix&, tkNMMatrix& jacobian) override {
    double R[3][3], byValue[3][3][3];
    parameters_.rotation(x.data(), R, byValue);
    const long rows = jacobian.rows();
    double* J = jacobian.data();  // column-major
    for (std::size_t i = 0; i < points_.size(); ++i) {
      double pc[3], image[2];
      cameraPoint(R, x.data() + 3, points_[i], pc);
      tk_ProjectionDerivatives d;
      const long row0 = 2 * static_cast<long>(i);
      if (!tk_projectCameraPoint(camera_, pc, image, &d)) {
        for (long c = 0; c < 6; ++c)
          J[row0 + c * rows] = J[row0 + 1 + c * rows] = 0.0;
        continue;
      }
      const tkVector<3>& P = points_[i];
      for (int k = 0; k < 3; ++k) {
        double moved[3];
        for (int r = 0; r < 3; ++r)
          moved[r] = byValue[k][r][0] * P.x() + byValue[k][r][1] * P.y() + byValue[k][r][2] * P.z();
        for (int r = 0; r < 2; ++r)
          J[row0 + r + k * rows] = d.byCameraPoint[r][0] * moved[0] +
                                   d.byCameraPoint[r][1] * moved[1] +
                                   d.byCameraPoint[r][2] * moved[2];
      }
      for (int j = 0; j < 3; ++j)
        for (int r = 0; r < 2; ++r)
          J[row0 + r + (3 + j) * rows] = d.byCameraPoint[r][j];
    }
    return 0;
  }

 private:
  static void cameraPoint(const double R[3][3], const double* t, const tkVector<3>& P,
                          double pc[3]) {
    for (int r = 0; r < 3; ++r)
      pc[r] = R[r][0] * P.x() + R[r][1] * P.y() + R[r][2] * P.z() + t[r];
  }

  const tk_CameraIntrinsics& camera_;
  const std::vector<tkVector<2>>& imagePoints_;
  const std::vector<tkVector<3>>& points_;
  tk_PoseParameters parameters_;
};

}  // namespace

void tk_poseResiduals(const tk_CameraIntrinsics& camera,
                      const std::vector<tkVector<2>>& imagePoints,
                      const std::vector<tkVector<3>>& physicalPoints, const tkXform<3>& pose,
                      double& rms, double& largest) {
  double sum = 0.0;
  largest = 0.0;
  for (std::size_t i = 0; i < imagePoints.size(); ++i) {
    const tkVector<3> cameraPoint = pose.mapPoint(physicalPoints[i]);
    const double pc[3] = {cameraPoint.x(), cameraPoint.y(), cameraPoint.z()};
    double image[2];
    if (!tk_projectCameraPoint(camera, pc, image, nullptr)) {
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
  tk_PoseParameters parameters;
  tkNMMatrix x(6, 1);
  parameters.pack(scaledStart, x.data());

  PoseSolver solver(camera, imagePoints, scaledPoints, parameters, maxIterations);
  solver.setX(x);
  const double cost = solver.minimize();
  if (solver.termination() == tkFSolver::eFunctionStopped)
    tkAttention::check();
  if (!std::isfinite(cost))
    throw tkMathError::Singular();

  const tkXform<3> scaled = parameters.unpack(solver.getX().data());
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
