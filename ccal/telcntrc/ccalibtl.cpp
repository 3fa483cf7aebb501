// The options of telecentric calibration and its three entry points.
#include <ccal/telecentric_calibration.h>
#include <proc/ccal_calibrateTelecentricCamera.h>
#include <tk/angle_vect.h>
#include <tk/attention.h>
#include <tk/failure.h>
#include <tk/quaternion_xform.h>

#include "ccal/foundation/record_cleanup.h"
#include "ccal/telcntrc/telecentric_affine_estimate.h"
#include "ccal/telcntrc/telecentric_extrinsics_solver.h"
#include "ccal/telcntrc/telecentric_factorization.h"
#include "ccal/telcntrc/telecentric_pose_residuals.h"

#include <cmath>
#include <cstdint>
#include <utility>

namespace {

// Location of the archive operator's version check.
const char* const kArchiveLocation = "ccal/telcntrc/ccalibtl";
constexpr long kArchiveLine = 49;

// Capacity of the clean-up table of the procedural calibration.
constexpr uint32_t kCleanupCapacity = 5;

// Throws BadParams when every image point or every plate point is the same point: the affine
// estimate would then return a camera of scale near zero (or a pose of nothing) without failing.
template <typename List, typename Image, typename Plate>
void requireSpread(const std::vector<List>& lists, Image image, Plate plate) {
  bool any = false, imagesDiffer = false, platesDiffer = false;
  tkVector<2> firstImage, firstPlate;
  for (const List& list : lists)
    for (const auto& k : list) {
      if (!any) {
        any = true;
        firstImage = image(k);
        firstPlate = plate(k);
      }
      imagesDiffer = imagesDiffer || image(k) != firstImage;
      platesDiffer = platesDiffer || plate(k) != firstPlate;
    }
  if (any && !imagesDiffer)
    throw tkCalibrateTelecentricCameraDefs::BadParams(L"every image point is the same point");
  if (any && !platesDiffer)
    throw tkCalibrateTelecentricCameraDefs::BadParams(L"every plate point is the same point");
}

void requireSpread(const std::vector<std::vector<tkCrspPairWeighted>>& lists) {
  requireSpread(
      lists, [](const tkCrspPairWeighted& k) { return k.image(); },
      [](const tkCrspPairWeighted& k) { return k.physical(); });
}

void copyOut(const cstd_vectord& source, std::vector<double>& target) {
  const double* begin = nullptr;
  std::size_t size = 0;
  tfThrowExceptionOnFailure(cstd_vectord_getBeginSizeConst(&source, &begin, &size));
  target.assign(begin, begin + size);
}

// The extrinsic part of a home -> camera transform: the angles of its rotation, its translation.
tkCalib2ParamsExtrinsic extrinsicPartOf(const tkXform<3>& cameraFromHome) {
  return tkCalib2ParamsExtrinsic(tk3AngleVect(cameraFromHome.matrix()), cameraFromHome.trans());
}

// Writes the outputs of a weighted calibration: the transform first, then both vectors.
void writeOutputs(const tkCalib2ParamsIntrinsic& intrinsic, const tkXform<3>& cameraFromHome,
                  std::vector<double>& rms, std::vector<double>& largest,
                  std::vector<double>& poseRmsResiduals, std::vector<double>& poseMaxResiduals,
                  tk2XformCalib2& calibratedXform) {
  calibratedXform.init(intrinsic, extrinsicPartOf(cameraFromHome));
  poseRmsResiduals.clear();
  poseMaxResiduals.clear();
  poseRmsResiduals.swap(rms);
  poseMaxResiduals.swap(largest);
}

}  // namespace

// ---- options -------------------------------------------------------------------------------

void tkCalibrateTelecentricCameraParams::cameraHeight(double height) {
  if (!std::isfinite(height))
    throw tkCalibrateTelecentricCameraDefs::BadParams(
        L"cameraHeight == -HUGE_VAL || cameraHeight == HUGE_VAL");
  cameraHeight_ = height;
}

bool tkCalibrateTelecentricCameraParams::operator==(
    const tkCalibrateTelecentricCameraParams& other) const {
  return useCameraHeight_ == other.useCameraHeight_ && cameraHeight_ == other.cameraHeight_;
}

tkArchive& operator||(tkArchive& ar, tkCalibrateTelecentricCameraParams& params) {
  unsigned char version = 0;
  ar || version;
  if (version > 0)
    throw tkArchive::UnknownVersion(kArchiveLocation, kArchiveLine);
  // Fields go through a copy, so that a cut archive leaves params as they were.
  bool use = params.useCameraHeight_;
  double height = params.cameraHeight_;
  ar || use;
  ar || height;
  params.useCameraHeight_ = use;
  params.cameraHeight_ = height;
  return ar;
}

// ---- overload 1: the procedural calibration ----------------------------------------------

void tfCalibrateTelecentricCamera(
    const std::vector<std::vector<tkPair<tkVector<2>>>>& imagePointsPhysicalPoints,
    const std::vector<tkXform<3>>& poses, const tkCalibrateTelecentricCameraParams& params,
    std::vector<double>& poseRmsResiduals, std::vector<double>& poseMaxResiduals,
    tk2XformCalib2& calibratedXform) {
  if (imagePointsPhysicalPoints.size() != poses.size())
    throw tkCalibrateTelecentricCameraDefs::BadParams(
        L"imagePointsPhysicalPoints.size() != poses.size()");
  if (poses.size() < 2)
    throw tkCalibrateTelecentricCameraDefs::InsufficientPoses(L"poses.size() < 2");
  requireSpread(
      imagePointsPhysicalPoints, [](const tkPair<tkVector<2>>& k) { return k.first; },
      [](const tkPair<tkVector<2>>& k) { return k.second; });

  tk_RecordCleanup<kCleanupCapacity> cleanup;

  cstd_vector_vector_ccal_crspPair2D3DWeighted lists;
  tfThrowExceptionOnFailure(cstd_vector_vector_ccal_crspPair2D3DWeighted_construct(&lists, 0));
  cleanup.add(&lists, cstd_vector_vector_ccal_crspPair2D3DWeighted_destruct,
              csys_typeCheck_cstd_vector_vector_ccal_crspPair2D3DWeighted,
              csys_typeCheckFunc_cstd_vector_vector_ccal_crspPair2D3DWeighted);
  tfThrowExceptionOnFailure(cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(
      &lists, imagePointsPhysicalPoints.size()));
  cstd_vector_ccal_crspPair2D3DWeighted* listBegin = nullptr;
  tfThrowExceptionOnFailure(
      cstd_vector_vector_ccal_crspPair2D3DWeighted_getBegin(&lists, &listBegin));
  for (std::size_t i = 0; i < imagePointsPhysicalPoints.size(); ++i) {
    const std::vector<tkPair<tkVector<2>>>& source = imagePointsPhysicalPoints[i];
    tfThrowExceptionOnFailure(
        cstd_vector_ccal_crspPair2D3DWeighted_resize(&listBegin[i], source.size()));
    ccal_crspPair2D3DWeighted* pairs = nullptr;
    tfThrowExceptionOnFailure(
        cstd_vector_ccal_crspPair2D3DWeighted_getBegin(&listBegin[i], &pairs));
    for (std::size_t j = 0; j < source.size(); ++j)
      pairs[j] = ccal_crspPair2D3DWeighted{{source[j].first.x(), source[j].first.y()},
                                           {source[j].second.x(), source[j].second.y(), 0.0},
                                           1.0};
  }

  cstd_vector_cmath_xformLinear3 poseList;
  tfThrowExceptionOnFailure(cstd_vector_cmath_xformLinear3_construct(&poseList, 0));
  cleanup.add(&poseList, cstd_vector_cmath_xformLinear3_destruct,
              csys_typeCheck_cstd_vector_cmath_xformLinear3,
              csys_typeCheckFunc_cstd_vector_cmath_xformLinear3);
  tfThrowExceptionOnFailure(cstd_vector_cmath_xformLinear3_resize(&poseList, poses.size()));
  cmath_xformLinear3* poseBegin = nullptr;
  tfThrowExceptionOnFailure(cstd_vector_cmath_xformLinear3_getBegin(&poseList, &poseBegin));
  for (std::size_t i = 0; i < poses.size(); ++i) {
    const tkVector<3>& t = poses[i].trans();
    poseBegin[i].trans = {t.x(), t.y(), t.z()};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        poseBegin[i].matrix[r][c] = poses[i].matrix().element(r, c);
  }

  ccal_calibrateTelecentricCameraParams paramsRecord;
  tfThrowExceptionOnFailure(ccal_calibrateTelecentricCameraParams_construct(&paramsRecord));
  cleanup.add(&paramsRecord, ccal_calibrateTelecentricCameraParams_destruct,
              csys_typeCheck_ccal_calibrateTelecentricCameraParams,
              csys_typeCheckFunc_ccal_calibrateTelecentricCameraParams);
  paramsRecord.useCameraHeight = params.useCameraHeight() ? 1 : 0;
  paramsRecord.cameraHeight = params.cameraHeight();

  ccal_calibrateTelecentricCameraResult result;
  tfThrowExceptionOnFailure(ccal_calibrateTelecentricCameraResult_construct(&result));
  cleanup.add(&result, ccal_calibrateTelecentricCameraResult_destruct,
              csys_typeCheck_ccal_calibrateTelecentricCameraResult,
              csys_typeCheckFunc_ccal_calibrateTelecentricCameraResult);

  const cstd_status status =
      ccal_calibrateTelecentricCamera(&lists, &poseList, &paramsRecord, &result);
  tfThrowExceptionOnFailure(status);

  // Everything is read out before any output is touched, so a failure leaves them unchanged.
  const tk2XformCalib2 calibrated(result.calibratedXform);
  std::vector<double> rms, largest;
  copyOut(result.poseRmsResiduals, rms);
  copyOut(result.poseMaxResiduals, largest);
  cleanup.execute(status);

  calibratedXform = calibrated;
  poseRmsResiduals.swap(rms);
  poseMaxResiduals.swap(largest);
}

// ---- overload 2: closed form ---------------------------------------------------------------

void tfCalibrateTelecentricCamera(
    const std::vector<std::vector<tkCrspPairWeighted>>& correspondences,
    const std::vector<tkXform<3>>& poses, const tkCalibrateTelecentricCameraParams& params,
    std::vector<double>& poseRmsResiduals, std::vector<double>& poseMaxResiduals,
    tk2XformCalib2& calibratedXform) {
  tkXform<3> estimate;
  estimateTelecentricXform(correspondences, poses, estimate);
  requireSpread(correspondences);
  if (params.useCameraHeight())
    estimate.trans(tkVector<3>(estimate.trans().x(), estimate.trans().y(), params.cameraHeight()));

  tkCalib2ParamsIntrinsic intrinsic;
  tkXform<3> cameraFromHome;
  factorTelecentricEstimate(estimate, intrinsic, cameraFromHome);

  std::vector<double> rms, largest;
  appendTelecentricPoseResiduals(correspondences, poses, cameraFromHome, intrinsic, rms, largest);
  writeOutputs(intrinsic, cameraFromHome, rms, largest, poseRmsResiduals, poseMaxResiduals,
               calibratedXform);
}

// ---- overload 3: known intrinsic part ------------------------------------------------------

void tfCalibrateTelecentricCamera(
    const std::vector<std::vector<tkCrspPairWeighted>>& correspondences,
    const std::vector<tkXform<3>>& poses, const tkCalibrateTelecentricCameraParams& params,
    const tkCalib2ParamsIntrinsic& intrinsic, std::vector<double>& poseRmsResiduals,
    std::vector<double>& poseMaxResiduals, tk2XformCalib2& calibratedXform) {
  checkTelecentricArguments(correspondences, poses);
  requireSpread(correspondences);

  // Camera-plane points (the intrinsic part undone) against home-frame points; unweighted.
  tkTelecentricPairs pairs;
  for (std::size_t i = 0; i < poses.size(); ++i) {
    tkAttention::check();
    const std::vector<tkCrspPairWeighted>& list = correspondences[i];
    for (std::size_t j = 0; j < list.size(); ++j) {
      if (j % 128 == 0)
        tkAttention::check();
      pairs.emplace_back(intrinsic.invMapPoint(list[j].image()),
                         poses[i].mapPoint(list[j].physical3D()));
    }
  }

  tkXform<3> estimate;
  estimateTelecentricXform(correspondences, poses, estimate);
  estimate.matrix(orthonormalizeTelecentricRotation(estimate.matrix()));
  const tk3QuaternionXform start = initialTelecentricPose(estimate, intrinsic);

  tk3DTelecentricExtrinsicsSolver solver(5, 5, 1e-12, 1e-12, 300, 15, 0.01, 1e-8, 1e20, false);
  const int unitValIndex = start.quat().unitValIndex();
  solver.unitValIndex(unitValIndex);
  solver.pairs(pairs);
  tkNMMatrix x0(5, 1);
  x0(0, 0) = start.quat().var1();
  x0(1, 0) = start.quat().var2();
  x0(2, 0) = start.quat().var3();
  x0(3, 0) = start.trans().x();
  x0(4, 0) = start.trans().y();
  solver.setX(x0);
  solver.minimize();
  tkXform<3> cameraFromHome;
  telecentricXformFromSolution(solver.getX(), unitValIndex, cameraFromHome);

  if (params.useCameraHeight()) {
    const double sign = cameraFromHome.matrix().element(2, 2) >= 0.0 ? 1.0 : -1.0;
    cameraFromHome.trans(tkVector<3>(cameraFromHome.trans().x(), cameraFromHome.trans().y(),
                                     sign * params.cameraHeight()));
  }

  std::vector<double> rms, largest;
  appendTelecentricPoseResiduals(correspondences, poses, cameraFromHome, intrinsic, rms, largest);
  writeOutputs(intrinsic, cameraFromHome, rms, largest, poseRmsResiduals, poseMaxResiduals,
               calibratedXform);
}
