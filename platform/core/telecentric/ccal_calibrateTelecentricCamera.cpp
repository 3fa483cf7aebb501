// The procedural telecentric calibration. Its interface is procedural (records and statuses,
// <proc/ccal_calibrateTelecentricCamera.h>); it is compiled with the core library because its
// refinement runs on the core's Levenberg-Marquardt framework.
#include <proc/ccal_calibrateTelecentricCamera.h>
#include <proc/csys_attention.h>
#include <tk/attention.h>
#include <tk/exception.h>

#include "platform/core/telecentric/telecentric_camera_solver.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace {

// Abort requests are polled once per pose and before every 128th point of a list.
constexpr std::size_t kAttentionInterval = 128;
// The home-frame points span space when the smallest eigenvalue of their weighted covariance is
// above this fraction of the largest (a spread ratio of 1e-6).
constexpr double kCoplanarRatio = 1e-12;
// Rows of the affine map closer to parallel than this (sine of their angle) do not determine
// a camera.
constexpr double kParallelRows = 1e-12;
// |R(2, 2)| at or below this: the optical axis lies in the home plane.
constexpr double kEdgeOn = 1e-9;

// A failure status travelling out of the computation.
struct StatusFailure {
  cstd_status status;
};

void fail(cstd_status status) {
  throw StatusFailure{status};
}

void checkAttention() {
  const cstd_status status = csys_attention_check();
  if (status < 0)
    fail(status);
}

void checkStatus(cstd_status status) {
  if (status < 0)
    fail(status);
}

bool finite3(const cmath_vect3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

struct HomePoint {
  tkVector<3> home;   // pose * plate point
  tkVector<2> image;  // pixels
  double weight;
};

// The correspondences of every pose moved into the home frame, after checking them.
struct HomeData {
  std::vector<std::vector<HomePoint>> poses;
  std::size_t weightedCount = 0;
};

HomeData gatherHomePoints(const cstd_vector_vector_ccal_crspPair2D3DWeighted& lists,
                          const cstd_vector_cmath_xformLinear3& poseList) {
  const cstd_vector_ccal_crspPair2D3DWeighted* listBegin = nullptr;
  const cmath_xformLinear3* poseBegin = nullptr;
  std::size_t listCount = 0, poseCount = 0;
  checkStatus(cstd_vector_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&lists, &listBegin,
                                                                             &listCount));
  checkStatus(cstd_vector_cmath_xformLinear3_getBeginSizeConst(&poseList, &poseBegin, &poseCount));
  if (listCount != poseCount)
    fail(CCAL_STATUS_TELECENTRIC_SIZE_MISMATCH);
  if (poseCount < 2)
    fail(CCAL_STATUS_TELECENTRIC_TOO_FEW_POSES);

  HomeData data;
  data.poses.resize(poseCount);
  for (std::size_t i = 0; i < poseCount; ++i) {
    checkAttention();
    const cmath_xformLinear3& pose = poseBegin[i];
    bool finite = finite3(pose.trans);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        finite = finite && std::isfinite(pose.matrix[r][c]);
    if (!finite)
      fail(CCAL_STATUS_TELECENTRIC_BAD_VALUE);

    const ccal_crspPair2D3DWeighted* pairs = nullptr;
    std::size_t pairCount = 0;
    checkStatus(
        cstd_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&listBegin[i], &pairs, &pairCount));
    std::vector<HomePoint>& points = data.poses[i];
    points.reserve(pairCount);
    for (std::size_t j = 0; j < pairCount; ++j) {
      if (j % kAttentionInterval == 0)
        checkAttention();
      const ccal_crspPair2D3DWeighted& pair = pairs[j];
      if (!(std::isfinite(pair.p.x) && std::isfinite(pair.p.y) && finite3(pair.P) &&
            std::isfinite(pair.w) && pair.w >= 0.0))
        fail(CCAL_STATUS_TELECENTRIC_BAD_VALUE);
      const double(&m)[3][3] = pose.matrix;
      const tkVector<3> home(
          m[0][0] * pair.P.x + m[0][1] * pair.P.y + m[0][2] * pair.P.z + pose.trans.x,
          m[1][0] * pair.P.x + m[1][1] * pair.P.y + m[1][2] * pair.P.z + pose.trans.y,
          m[2][0] * pair.P.x + m[2][1] * pair.P.y + m[2][2] * pair.P.z + pose.trans.z);
      if (!(std::isfinite(home.x()) && std::isfinite(home.y()) && std::isfinite(home.z())))
        fail(CCAL_STATUS_TELECENTRIC_BAD_VALUE);
      points.push_back(HomePoint{home, tkVector<2>(pair.p.x, pair.p.y), pair.w});
      if (pair.w > 0.0)
        ++data.weightedCount;
    }
  }
  if (data.weightedCount < 4)
    fail(CCAL_STATUS_TELECENTRIC_TOO_FEW_POINTS);
  return data;
}

// The camera as the refinement sees it: image = K * (R * (H - centre) + shift).xy.
struct CameraEstimate {
  double sx, sy, skew;
  tkMatrix<3> rotation;
  tkVector<2> shift;
  tkVector<3> centre;
};

// Weighted least-squares affine map home frame -> image on coordinates centred at the weighted
// centroid, factored into K (upper triangular) and the rows of a rotation.
CameraEstimate closedFormEstimate(const HomeData& data) {
  double weightSum = 0.0;
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();
  Eigen::Vector2d meanImage = Eigen::Vector2d::Zero();
  for (const auto& points : data.poses)
    for (const HomePoint& p : points) {
      weightSum += p.weight;
      centre += p.weight * Eigen::Vector3d(p.home.x(), p.home.y(), p.home.z());
      meanImage += p.weight * Eigen::Vector2d(p.image.x(), p.image.y());
    }
  centre /= weightSum;
  meanImage /= weightSum;

  Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
  Eigen::Matrix<double, 3, 2> crossCovariance = Eigen::Matrix<double, 3, 2>::Zero();
  for (const auto& points : data.poses)
    for (const HomePoint& p : points) {
      const Eigen::Vector3d d = Eigen::Vector3d(p.home.x(), p.home.y(), p.home.z()) - centre;
      const Eigen::Vector2d e = Eigen::Vector2d(p.image.x(), p.image.y()) - meanImage;
      covariance += p.weight * d * d.transpose();
      crossCovariance += p.weight * d * e.transpose();
    }

  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(covariance);
  const Eigen::Vector3d spread = eigen.eigenvalues();  // ascending
  if (!(spread(2) > 0.0) || !(spread(0) > kCoplanarRatio * spread(2)))
    fail(CCAL_STATUS_TELECENTRIC_SINGULAR);
  // Rows a, b of the map: covariance * (a b) = crossCovariance.
  const Eigen::Matrix3d& V = eigen.eigenvectors();
  const Eigen::Matrix<double, 3, 2> rows =
      V * spread.cwiseInverse().asDiagonal() * (V.transpose() * crossCovariance);
  const Eigen::Vector3d a = rows.col(0), b = rows.col(1);

  const double bLength = b.norm();
  if (!(bLength > 0.0))
    fail(CCAL_STATUS_TELECENTRIC_SINGULAR);
  const Eigen::Vector3d bUnit = b / bLength;
  const Eigen::Vector3d aPerp = a - a.dot(bUnit) * bUnit;
  const double aPerpLength = aPerp.norm();
  if (!(aPerpLength > kParallelRows * a.norm()))
    fail(CCAL_STATUS_TELECENTRIC_SINGULAR);
  const Eigen::Vector3d aUnit = aPerp / aPerpLength;
  const Eigen::Vector3d c = aUnit.cross(bUnit);

  CameraEstimate estimate;
  estimate.sx = aPerpLength;
  estimate.sy = bLength;
  estimate.skew = a.dot(bUnit);
  estimate.rotation =
      tkMatrix<3>(aUnit(0), aUnit(1), aUnit(2), bUnit(0), bUnit(1), bUnit(2), c(0), c(1), c(2));
  // The centroid's image is K * shift.
  const double shiftY = meanImage(1) / estimate.sy;
  estimate.shift = tkVector<2>((meanImage(0) - estimate.skew * shiftY) / estimate.sx, shiftY);
  estimate.centre = tkVector<3>(centre(0), centre(1), centre(2));
  return estimate;
}

CameraEstimate refine(const HomeData& data, const CameraEstimate& start, long maxIterations) {
  std::vector<tk_TelecentricObservation> observations;
  observations.reserve(data.weightedCount);
  for (const auto& points : data.poses)
    for (const HomePoint& p : points)
      if (p.weight > 0.0)
        observations.push_back({p.home - start.centre, p.image, std::sqrt(p.weight)});
  // Setting up the solver (its buffers grow with the point count) is not checked inside.
  checkAttention();

  tk_TelecentricCameraSolver solver(observations, start.rotation, maxIterations);
  tkNMMatrix x(tk_TelecentricCameraSolver::kParameterCount, 1);
  x(0, 0) = start.sx;
  x(1, 0) = start.sy;
  x(2, 0) = start.skew;
  x(6, 0) = start.shift.x();
  x(7, 0) = start.shift.y();
  solver.setX(x);
  solver.minimize();
  if (solver.termination() == tkFSolver::eFunctionStopped)
    fail(static_cast<cstd_status>(solver.functionStatus()));
  if (solver.termination() == tkFSolver::eNonFiniteStart)
    fail(CCAL_STATUS_TELECENTRIC_SINGULAR);

  const tkNMMatrix& solution = solver.getX();
  CameraEstimate refined = start;
  refined.sx = solution(0, 0);
  refined.sy = solution(1, 0);
  refined.skew = solution(2, 0);
  refined.rotation = solver.rotation(solution);
  refined.shift = tkVector<2>(solution(6, 0), solution(7, 0));
  if (!(std::isfinite(refined.sx * refined.sy) && refined.sx * refined.sy != 0.0))
    fail(CCAL_STATUS_TELECENTRIC_SINGULAR);
  return refined;
}

// E's translation: (x, y) from the shift, Z by the camera-height rule (R^T t).z = height.
tkVector<3> cameraFromHomeTranslation(const CameraEstimate& camera, double height) {
  const tkMatrix<3>& R = camera.rotation;
  const tkVector<3> rotatedCentre = R * camera.centre;
  const double tx = camera.shift.x() - rotatedCentre.x();
  const double ty = camera.shift.y() - rotatedCentre.y();
  const double r22 = R.element(2, 2);
  if (!(std::abs(r22) > kEdgeOn))
    fail(CCAL_STATUS_TELECENTRIC_EDGE_ON);
  const double tz = (height - R.element(0, 2) * tx - R.element(1, 2) * ty) / r22;
  return tkVector<3>(tx, ty, tz);
}

void poseResiduals(const HomeData& data, const CameraEstimate& camera,
                   const tkVector<3>& translation, std::vector<double>& rms,
                   std::vector<double>& largest) {
  const tkMatrix<3>& R = camera.rotation;
  for (const auto& points : data.poses) {
    checkAttention();
    double weightSum = 0.0, weightedSquares = 0.0, maximum = 0.0;
    for (std::size_t j = 0; j < points.size(); ++j) {
      if (j % kAttentionInterval == 0)
        checkAttention();
      const HomePoint& p = points[j];
      const tkVector<3> Q = R * p.home + translation;
      const double du = camera.sx * Q.x() + camera.skew * Q.y() - p.image.x();
      const double dv = camera.sy * Q.y() - p.image.y();
      const double squared = du * du + dv * dv;
      maximum = std::max(maximum, std::sqrt(squared));
      weightSum += p.weight;
      weightedSquares += p.weight * squared;
    }
    rms.push_back(weightSum != 0.0 ? std::sqrt(weightedSquares / weightSum) : 0.0);
    largest.push_back(maximum);
  }
}

void writeVector(cstd_vectord& target, const std::vector<double>& values) {
  checkStatus(cstd_vectord_resize(&target, values.size()));
  double* begin = nullptr;
  checkStatus(cstd_vectord_getBegin(&target, &begin));
  for (std::size_t i = 0; i < values.size(); ++i)
    begin[i] = values[i];
}

void writeResult(const CameraEstimate& camera, const tkVector<3>& translation,
                 const std::vector<double>& rms, const std::vector<double>& largest,
                 ccal_calibrateTelecentricCameraResult& result) {
  ccal_xformCalib2 xform;
  ccal_xformCalib2_construct(&xform);
  xform.imageFromDistorted.matrix[0][0] = camera.sx;
  xform.imageFromDistorted.matrix[0][1] = camera.skew;
  xform.imageFromDistorted.matrix[1][0] = 0.0;
  xform.imageFromDistorted.matrix[1][1] = camera.sy;
  xform.imageFromDistorted.trans = {0.0, 0.0};
  xform.distortionModel = CCAL_DISTORTION_TELECENTRIC;
  xform.distortionParamCount = 0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      xform.cameraFromWorld.matrix[r][c] = camera.rotation.element(r, c);
  xform.cameraFromWorld.trans = {translation.x(), translation.y(), translation.z()};

  writeVector(result.poseRmsResiduals, rms);
  writeVector(result.poseMaxResiduals, largest);
  // xform holds no line-scan transform: the assignment only releases the result's old one.
  const cstd_status status = ccal_xformCalib2_assign(&result.calibratedXform, &xform);
  ccal_xformCalib2_destruct(&xform);
  checkStatus(status);
}

cstd_status calibrate(const cstd_vector_vector_ccal_crspPair2D3DWeighted& lists,
                      const cstd_vector_cmath_xformLinear3& poses,
                      const ccal_calibrateTelecentricCameraParams& params,
                      ccal_calibrateTelecentricCameraResult& result) {
  const HomeData data = gatherHomePoints(lists, poses);
  const CameraEstimate start = closedFormEstimate(data);
  const CameraEstimate camera = refine(data, start, params.maxIterations);
  const double height = params.useCameraHeight != 0 ? params.cameraHeight : 0.0;
  const tkVector<3> translation = cameraFromHomeTranslation(camera, height);
  std::vector<double> rms, largest;
  poseResiduals(data, camera, translation, rms, largest);
  writeResult(camera, translation, rms, largest, result);
  return CSTD_STATUS_OK;
}

}  // namespace

cstd_status ccal_calibrateTelecentricCamera(
    const cstd_vector_vector_ccal_crspPair2D3DWeighted* correspondences,
    const cstd_vector_cmath_xformLinear3* poses,
    const ccal_calibrateTelecentricCameraParams* params,
    ccal_calibrateTelecentricCameraResult* result) {
  if (correspondences == nullptr || poses == nullptr || params == nullptr || result == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  try {
    // The argument statuses come in the documented order: sizes and pose count first (inside
    // gatherHomePoints), so the params record is checked after them.
    const cstd_vector_ccal_crspPair2D3DWeighted* listBegin = nullptr;
    const cmath_xformLinear3* poseBegin = nullptr;
    std::size_t listCount = 0, poseCount = 0;
    checkStatus(cstd_vector_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(
        correspondences, &listBegin, &listCount));
    checkStatus(cstd_vector_cmath_xformLinear3_getBeginSizeConst(poses, &poseBegin, &poseCount));
    if (listCount != poseCount)
      return CCAL_STATUS_TELECENTRIC_SIZE_MISMATCH;
    if (poseCount < 2)
      return CCAL_STATUS_TELECENTRIC_TOO_FEW_POSES;
    if (params->maxIterations < 0 ||
        (params->useCameraHeight != 0 && !std::isfinite(params->cameraHeight)))
      return CCAL_STATUS_TELECENTRIC_BAD_PARAMS;
    return calibrate(*correspondences, *poses, *params, *result);
  } catch (const StatusFailure& failure) {
    return failure.status;
  } catch (const std::bad_alloc&) {
    return CSTD_STATUS_OUT_OF_MEMORY;
  } catch (const tkMathError::Singular&) {
    return CCAL_STATUS_TELECENTRIC_SINGULAR;
  } catch (const tkAttention::Aborted&) {
    return CSTD_STATUS_ABORTED;
  } catch (...) {
    // A procedural function never throws.
    return CCAL_STATUS_TELECENTRIC_NUMERIC_FAILURE;
  }
}
