// Internal: the per-observation residuals of the camera solvers, with their Jacobian blocks.
//
// An observation is an image point p (pixels, or the normalised image frame of a solve), a
// physical point P (world frame, or a placement's plate frame) and a weight w, which the caller
// applies: the cost of an observation is w·|r|², its gradient 2·Jᵀ·w·r. The camera-frame point
// is Pc = camera(P), or camera(placement(P)) for a point on a placement (pose.h).
//
// Residuals:
// - imageResidual:          r = π(Pc) − p (camera_model.h), the reprojection error.
// - intrinsicTermResidual:  the intrinsic term of the calibration solvers' gradients,
//     with q = (Pc.x/Pc.z, Pc.y/Pc.z) and d = L(p):
//     none, radial:  r = ((W.x − q.x)/sx, (W.y − q.y)/sy), W = d + k·|d − c|²·(d − c) (k = 0
//                    without distortion), the error at Z = 1 in approximate image units;
//     sine-tangent:  r = ρ·(D(q) − d), D the lens distortion of q and ρ = |q − c|/r_d held
//                    constant in the derivatives (its limit 1/(p0/p1 + p2/p3) at the centre).
//     Its derivatives with respect to the intrinsics (q fixed) give the gradient rows; those
//     through q with respect to the poses complete the Gauss–Newton Jacobian of those rows.
// - poseTermResidual:       r = ((Pc.x − m.x·Pc.z)/z0, (Pc.y − m.y·Pc.z)/z0) with m the position
//     at Z = 1 of p (the back direction) and z0 = Pc.z held constant: the error in the plane
//     Z = 1 as a function of the poses, and through m of the intrinsics.
//
// Jacobian blocks: intrinsic values in the order of camera_model.h (0 tx ... 4 skew, 5 cx,
// 6 cy, 7.. lens values), the camera pose's and the placement's values in the order of pose.h.
// Columns past a model's lens count or a pose's value count are 0; without a placement
// byPlacement is not written.
//
// Statuses: a point whose depth Pc.z is 0 within 1e-15 contributes nothing (kAtDepthZero, r and
// J zero), as in the solvers; poseTermResidual reports kNoRay (r and J zero) when the
// sine-tangent inverse reaches no ray for p. A singular L makes imageResidual's projection
// (0, 0) with zero intrinsic derivatives. A point behind the camera is evaluated by the formulas.
// Allocation-free; no virtual calls.
#ifndef CCAL_CORE_CAMERA_MODEL_RESIDUALS_H
#define CCAL_CORE_CAMERA_MODEL_RESIDUALS_H

#include "platform/core/camera_model/camera_model.h"
#include "platform/core/camera_model/pose.h"
#include "platform/core/force_inline.h"

#include <Eigen/Core>

#include <cmath>

namespace ccal::detail {

struct ResidualJacobian {
  double byIntrinsics[2][kIntrinsicValues];
  double byCamera[2][kMaxPoseValues];
  double byPlacement[2][kMaxPoseValues];
};

enum class ResidualStatus { kOk, kAtDepthZero, kNoRay };

namespace residual_internal {

constexpr double kZeroDepth = 1e-15;

inline void clear(double r[2], ResidualJacobian* jacobian) {
  r[0] = r[1] = 0.0;
  if (jacobian != nullptr)
    *jacobian = ResidualJacobian{};
}

// Pc of P (and its derivatives into point when jacobian is not null). False, with r and the
// jacobian cleared, for a point at depth 0, which contributes nothing.
inline bool cameraPointOrClear(const Pose& camera, const Pose* placement, const double P[3],
                               double pc[3], PointJacobian& point, double r[2],
                               ResidualJacobian* jacobian) {
  cameraPointOf(camera, placement, P, pc, jacobian != nullptr ? &point : nullptr);
  if (std::fabs(pc[2]) > kZeroDepth)
    return true;
  clear(r, jacobian);
  return false;
}

// out = byPc · byPose for a pose of kValues values (the columns past them 0).
template <int kValues>
CCAL_FORCE_INLINE void chainPose(const double byPc[2][3], const double (&byPose)[3][6],
                                 double (&out)[2][6]) {
  using Row = Eigen::Matrix<double, 1, kValues>;
  const Eigen::Map<const Row> b0(byPose[0]), b1(byPose[1]), b2(byPose[2]);
  for (int r = 0; r < 2; ++r) {
    Eigen::Map<Row> row(out[r]);
    row = byPc[r][0] * b0 + byPc[r][1] * b1 + byPc[r][2] * b2;
    for (int v = kValues; v < kMaxPoseValues; ++v)
      out[r][v] = 0.0;
  }
}

// byCamera and, with a placement, byPlacement of J from d r/d Pc (byPlacement is left as it
// is without one: no column of it exists). A pose has 6 values (quaternion form) or 3.
CCAL_FORCE_INLINE void chainPoses(const double byPc[2][3], const Pose& camera,
                                  const Pose* placement, const PointJacobian& point,
                                  ResidualJacobian& J) {
  if (camera.valueCount == kMaxPoseValues)
    chainPose<kMaxPoseValues>(byPc, point.byCamera, J.byCamera);
  else
    chainPose<3>(byPc, point.byCamera, J.byCamera);
  if (placement == nullptr)
    return;
  if (placement->valueCount == kMaxPoseValues)
    chainPose<kMaxPoseValues>(byPc, point.byPlacement, J.byPlacement);
  else
    chainPose<3>(byPc, point.byPlacement, J.byPlacement);
}

// d q/d Pc at Pc for q = (Pc.x/Pc.z, Pc.y/Pc.z) (inverseZ = 1/Pc.z), chained after d r/d q.
// d r/d q comes as values (not an array that was just stored: its elements then load at once).
CCAL_FORCE_INLINE void chainDivision(double byQ00, double byQ01, double byQ10, double byQ11,
                                     double inverseZ, const double q[2], double byPc[2][3]) {
  byPc[0][0] = byQ00 * inverseZ;
  byPc[0][1] = byQ01 * inverseZ;
  byPc[0][2] = -(byQ00 * q[0] + byQ01 * q[1]) * inverseZ;
  byPc[1][0] = byQ10 * inverseZ;
  byPc[1][1] = byQ11 * inverseZ;
  byPc[1][2] = -(byQ10 * q[0] + byQ11 * q[1]) * inverseZ;
}

}  // namespace residual_internal

inline ResidualStatus imageResidual(const CameraModel& model, const Pose& camera,
                                    const Pose* placement, const double image[2], const double P[3],
                                    double r[2], ResidualJacobian* jacobian) {
  using namespace residual_internal;
  double pc[3];
  PointJacobian point;
  if (!cameraPointOrClear(camera, placement, P, pc, point, r, jacobian))
    return ResidualStatus::kAtDepthZero;
  double projected[2] = {0.0, 0.0};
  ModelJacobian mj;
  model.project(pc, projected, jacobian != nullptr ? &mj : nullptr);
  r[0] = projected[0] - image[0];
  r[1] = projected[1] - image[1];
  if (jacobian != nullptr) {
    for (int row = 0; row < 2; ++row)
      for (int i = 0; i < kIntrinsicValues; ++i)
        jacobian->byIntrinsics[row][i] = mj.byIntrinsics[row][i];
    chainPoses(mj.byPoint, camera, placement, point, *jacobian);
  }
  return ResidualStatus::kOk;
}

// imageResidual without derivatives of two observations at once (images[i], points[i] ->
// r[i]), bit for bit. False, with r untouched, where one of them needs the one-point form (a
// depth of 0, or a projection CameraModel::projectLanes declines).
inline bool imageResidualPair(const CameraModel& model, const Pose& camera, const Pose* placement,
                              const double* const images[2], const double* const points[2],
                              double* const r[2]) {
  using namespace residual_internal;
  double pc[2][3];
  for (int i = 0; i < 2; ++i) {
    cameraPointOf(camera, placement, points[i], pc[i], nullptr);
    if (!(std::fabs(pc[i][2]) > kZeroDepth))
      return false;
  }
  LanePair x, y;
  if (!model.projectLanes(LanePair{pc[0][0], pc[1][0]}, LanePair{pc[0][1], pc[1][1]},
                          LanePair{pc[0][2], pc[1][2]}, x, y))
    return false;
  for (int i = 0; i < 2; ++i) {
    r[i][0] = x[i] - images[i][0];
    r[i][1] = y[i] - images[i][1];
  }
  return true;
}

namespace residual_internal {

// The intrinsic term at the camera point pc (depth checked by the caller) with its pose
// derivatives point; W and wj: the position at Z = 1 of the image point and its intrinsic
// derivatives (read under eNoDistortion / eRadial only; wj only with a Jacobian).
CCAL_FORCE_INLINE void intrinsicTermAt(const CameraModel& model, const Pose& camera,
                                       const Pose* placement, const double image[2],
                                       const double pc[3], const PointJacobian& point,
                                       const double W[2], const ModelJacobian& wj, double r[2],
                                       ResidualJacobian* jacobian) {
  const double inverseZ = 1.0 / pc[2];
  const double q[2] = {pc[0] * inverseZ, pc[1] * inverseZ};
  const CameraIntrinsics& v = model.intrinsics();
  double byPc[2][3];
  if (v.lens.model != CCAL_DISTORTION_SINE_TAN) {
    const double inverseSx = model.inverseSx(), inverseSy = model.inverseSy();
    r[0] = (W[0] - q[0]) * inverseSx;
    r[1] = (W[1] - q[1]) * inverseSy;
    if (jacobian == nullptr)
      return;
    for (int i = 0; i < kIntrinsicValues; ++i) {
      jacobian->byIntrinsics[0][i] = wj.byIntrinsics[0][i] * inverseSx;
      jacobian->byIntrinsics[1][i] = wj.byIntrinsics[1][i] * inverseSy;
    }
    jacobian->byIntrinsics[0][kSx] -= r[0] * inverseSx;
    jacobian->byIntrinsics[1][kSy] -= r[1] * inverseSy;
    chainDivision(-inverseSx, 0.0, 0.0, -inverseSy, inverseZ, q, byPc);
  } else {
    const double* p = v.lens.values;
    const double ex = q[0] - v.lens.cx;
    const double ey = q[1] - v.lens.cy;
    const double radius = std::sqrt(ex * ex + ey * ey);
    const double theta = std::atan(radius);
    const double rd = p[0] * std::tan(theta / p[1]) + p[2] * std::sin(theta / p[3]);
    const double rho = radius == 0.0 ? 1.0 / (p[0] / p[1] + p[2] / p[3]) : radius / rd;
    double D[2], d[2];
    LensJacobian lens;
    distort(v.lens, q, D, jacobian != nullptr ? &lens : nullptr);
    model.distortedFromImage(image, d);
    r[0] = rho * (D[0] - d[0]);
    r[1] = rho * (D[1] - d[1]);
    if (jacobian == nullptr)
      return;
    double(&J)[2][kIntrinsicValues] = jacobian->byIntrinsics;
    const double byL[2][5] = {{1.0, 0.0, image[0], 0.0, image[1]}, {0.0, 1.0, 0.0, image[1], 0.0}};
    double byQ[2][2];
    for (int row = 0; row < 2; ++row) {
      for (int i = 0; i < 5; ++i)
        J[row][i] = -rho * byL[row][i];
      J[row][kCx] = rho * lens.byCentre[row][0];
      J[row][kCy] = rho * lens.byCentre[row][1];
      for (int i = 0; i < 4; ++i)
        J[row][kLensValue0 + i] = rho * lens.byValues[row][i];
      byQ[row][0] = rho * lens.byPoint[row][0];
      byQ[row][1] = rho * lens.byPoint[row][1];
    }
    chainDivision(byQ[0][0], byQ[0][1], byQ[1][0], byQ[1][1], inverseZ, q, byPc);
  }
  chainPoses(byPc, camera, placement, point, *jacobian);
}

// The pose term at the camera point pc given m, the position at Z = 1 of the image point, and
// its intrinsic derivatives mj (read only with a Jacobian).
CCAL_FORCE_INLINE void poseTermAt(const Pose& camera, const Pose* placement, const double pc[3],
                                  const PointJacobian& point, const double m[2],
                                  const ModelJacobian& mj, double r[2],
                                  ResidualJacobian* jacobian) {
  const double inverseZ0 = 1.0 / pc[2];
  r[0] = (pc[0] - m[0] * pc[2]) * inverseZ0;
  r[1] = (pc[1] - m[1] * pc[2]) * inverseZ0;
  if (jacobian == nullptr)
    return;
  // d r/d m = −(Pc.z/z0)·I = −I at the current pose.
  for (int row = 0; row < 2; ++row)
    for (int i = 0; i < kIntrinsicValues; ++i)
      jacobian->byIntrinsics[row][i] = -mj.byIntrinsics[row][i];
  const double byPc[2][3] = {{inverseZ0, 0.0, -m[0] * inverseZ0},
                             {0.0, inverseZ0, -m[1] * inverseZ0}};
  chainPoses(byPc, camera, placement, point, *jacobian);
}

}  // namespace residual_internal

inline ResidualStatus intrinsicTermResidual(const CameraModel& model, const Pose& camera,
                                            const Pose* placement, const double image[2],
                                            const double P[3], double r[2],
                                            ResidualJacobian* jacobian) {
  using namespace residual_internal;
  double pc[3];
  PointJacobian point;
  if (!cameraPointOrClear(camera, placement, P, pc, point, r, jacobian))
    return ResidualStatus::kAtDepthZero;
  double W[2] = {0.0, 0.0};
  ModelJacobian wj;
  if (model.intrinsics().lens.model != CCAL_DISTORTION_SINE_TAN)
    model.positionAtZ1FromImage(image, W, jacobian != nullptr ? &wj : nullptr);
  intrinsicTermAt(model, camera, placement, image, pc, point, W, wj, r, jacobian);
  return ResidualStatus::kOk;
}

inline ResidualStatus poseTermResidual(const CameraModel& model, const Pose& camera,
                                       const Pose* placement, const double image[2],
                                       const double P[3], double r[2], ResidualJacobian* jacobian) {
  using namespace residual_internal;
  double pc[3];
  PointJacobian point;
  if (!cameraPointOrClear(camera, placement, P, pc, point, r, jacobian))
    return ResidualStatus::kAtDepthZero;
  double m[2];
  ModelJacobian mj;
  if (model.positionAtZ1FromImage(image, m, jacobian != nullptr ? &mj : nullptr) < 0) {
    clear(r, jacobian);
    return ResidualStatus::kNoRay;
  }
  poseTermAt(camera, placement, pc, point, m, mj, r, jacobian);
  return ResidualStatus::kOk;
}

// The gradient terms of a calibration cost that mixes them, of one observation at once: the
// intrinsic term (when intrinsic is not null) and the pose term, from one camera point, one set
// of its pose derivatives and one position at Z = 1 of the image point. Each equals what the
// single function above returns; jacobians are written when not null. Returns kAtDepthZero (both
// 0) or the pose term's status (kNoRay: the pose term 0, the intrinsic term evaluated). The image
// residual of the same observation is imageResidual's (the list residual takes it from its loop
// of the image rows).
CCAL_FORCE_INLINE ResidualStatus mixedTermResiduals(const CameraModel& model, const Pose& camera,
                                                    const Pose* placement, const double image[2],
                                                    const double P[3], double intrinsic[2],
                                                    ResidualJacobian* intrinsicJacobian,
                                                    double pose[2],
                                                    ResidualJacobian* poseJacobian) {
  using namespace residual_internal;
  const bool derivatives = intrinsicJacobian != nullptr || poseJacobian != nullptr;
  double pc[3];
  PointJacobian point;
  cameraPointOf(camera, placement, P, pc, derivatives ? &point : nullptr);
  if (std::fabs(pc[2]) <= kZeroDepth) {
    if (intrinsic != nullptr)
      clear(intrinsic, intrinsicJacobian);
    clear(pose, poseJacobian);
    return ResidualStatus::kAtDepthZero;
  }
  double m[2] = {0.0, 0.0};
  ModelJacobian mj;
  const bool ray = model.positionAtZ1FromImage(image, m, derivatives ? &mj : nullptr) >= 0;
  if (intrinsic != nullptr)
    intrinsicTermAt(model, camera, placement, image, pc, point, m, mj, intrinsic,
                    intrinsicJacobian);
  if (ray)
    poseTermAt(camera, placement, pc, point, m, mj, pose, poseJacobian);
  else
    clear(pose, poseJacobian);
  return ray ? ResidualStatus::kOk : ResidualStatus::kNoRay;
}

}  // namespace ccal::detail

#endif
