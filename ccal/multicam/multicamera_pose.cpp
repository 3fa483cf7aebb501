#include "ccal/multicam/multiplate_refine.h"
#include "ccal/multicam/pose_propagation.h"

#include <ccal/multicamera_calibration.h>
#include <ccal/multicamera_calibration_errors.h>
#include <proc/cstd_assert.h>
#include <tk/attention.h>
#include <tk/exception.h>
#include <tk/progress.h>

#include <cmath>
#include <cstddef>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

[[noreturn]] void fail(const std::wstring& message) {
  throw tkInvariantFailure(message);
}

void checkShapes(std::size_t nC, const tk_ZRotationData& zData, const tk_ArbitraryData& aData) {
  tk_checkPlacementShapes(zData, aData, nC, L"intrinsics.size()");
}

// Poses propagated from the camera with most points in placement 0 through lists of at least 9
// points; every camera and placement must be reached.
Params initialPoses(const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
                    const tk_ZRotationData& zData, const tk_ArbitraryData& aData) {
  const std::size_t nC = intrinsics.size();
  checkShapes(nC, zData, aData);
  const std::size_t nZ = zData.size(), nA = aData.size();
  std::vector<tk2XformCalib2> cameras(nC);
  for (std::size_t c = 0; c < nC; ++c)
    cameras[c].init(intrinsics[c].computeParamsIntrinsic(), tkCalib2ParamsExtrinsic());
  std::vector<bool> registered(nC, false);
  const std::size_t best = tk_cameraWithMostPoints(zData[0].first);
  if (best == nC)
    fail(L"no camera has a point in Z-rotation placement 0");
  const std::size_t most = zData[0].first[best].size();

  Params start;
  tkProgressTrackerBlock progress(1.0);
  progress.reportWork(1.0);
  if (progress.doEstimateOnly()) {
    start.physicalAtZEquals1FromImageParams(intrinsics);
    start.cameraPoseInverses(std::vector<tk3QuaternionXform>(nC));
    start.calibrationPlatePoses(std::vector<tk3ZRotationXform>(nZ));
    start.arbitraryCalibrationPlatePoses(std::vector<tk3QuaternionXform>(nA));
    return start;
  }
  CSTD_ASSERT(most > 9);  // the world frame needs a view of the best camera
  cameras[best].extrinsicXform(cameras[best].extrinsicXform(tk_planeView(zData[0].first[best])));
  registered[best] = true;
  std::vector<bool> zPlaced(nZ, false), aPlaced(nA, false);
  std::vector<tkXform<3>> zPoses(nZ), aPoses(nA);  // plate -> world
  zPlaced[0] = true;
  zPoses[0] = tkXform<3>(tkMatrix<3>::identity(), tkVector<3>(0.0, 0.0, 0.0));

  // Through the best camera first, then through every camera and placement pair.
  const auto placeThrough = [&](std::size_t c, const tk_WeightedCrspList& list, tkXform<3>& pose,
                                bool& placed) {
    try {
      const tkXform<3> X = cameras[c].extrinsicXform(tk_planeView(list));
      pose = cameras[c].extrinsicXform().inverse() * X;
      placed = true;
      return true;
    } catch (const tkAttention::Aborted&) {
      throw;  // the caller's abort, not a failed list
    } catch (const tkException&) {
      return false;
    }
  };
  const auto pair = [&](std::size_t c, const tk_WeightedCrspList& list, tkXform<3>& pose,
                        std::vector<bool>::reference placedRef) {
    bool placed = placedRef;
    if (registered[c] == placed || list.size() < 9)
      return false;
    if (registered[c]) {
      if (!placeThrough(c, list, pose, placed))
        return false;
      placedRef = true;
      return true;
    }
    try {
      const tkXform<3> X = cameras[c].extrinsicXform(tk_planeView(list));
      cameras[c].extrinsicXform(X * pose.inverse());
      registered[c] = true;
      return true;
    } catch (const tkAttention::Aborted&) {
      throw;  // the caller's abort, not a failed list
    } catch (const tkException&) {
      return false;
    }
  };
  bool changed = true;
  while (changed) {
    changed = false;
    for (std::size_t j = 0; j < nZ; ++j)
      if (!zPlaced[j]) {
        bool placed = false;
        if (placeThrough(best, zData[j].first[best], zPoses[j], placed)) {
          zPlaced[j] = true;
          changed = true;
        }
      }
    for (std::size_t j = 0; j < nA; ++j)
      if (!aPlaced[j]) {
        bool placed = false;
        if (placeThrough(best, aData[j][best], aPoses[j], placed)) {
          aPlaced[j] = true;
          changed = true;
        }
      }
    for (std::size_t c = 0; c < nC; ++c)
      for (std::size_t j = 0; j < nZ; ++j)
        changed = pair(c, zData[j].first[c], zPoses[j], zPlaced[j]) || changed;
    for (std::size_t c = 0; c < nC; ++c)
      for (std::size_t j = 0; j < nA; ++j)
        changed = pair(c, aData[j][c], aPoses[j], aPlaced[j]) || changed;
  }
  for (std::size_t c = 0; c < nC; ++c)
    if (!registered[c])
      throw tk_MulticameraCalibrationDefs::BadParams(L"calib not set");
  for (std::size_t j = 0; j < nZ; ++j)
    if (!zPlaced[j])
      throw tk_MulticameraCalibrationDefs::BadParams(L"calib not set");
  for (std::size_t j = 0; j < nA; ++j)
    if (!aPlaced[j])
      throw tk_MulticameraCalibrationDefs::BadParams(L"calib not set");

  std::vector<tk3QuaternionXform> cameraPoses;
  for (const tk2XformCalib2& camera : cameras)
    cameraPoses.push_back(tk3QuaternionXform(camera.extrinsicXform()));
  std::vector<tk3ZRotationXform> zOut;
  for (const tkXform<3>& pose : zPoses)
    zOut.push_back(tk3ZRotationXform(pose));
  zOut[0] = tk3ZRotationXform();
  std::vector<tk3QuaternionXform> aOut;
  for (const tkXform<3>& pose : aPoses)
    aOut.push_back(tk3QuaternionXform(pose));
  start.physicalAtZEquals1FromImageParams(intrinsics);
  start.cameraPoseInverses(cameraPoses);
  start.calibrationPlatePoses(zOut);
  start.arbitraryCalibrationPlatePoses(aOut);
  return start;
}

// The rig refined from the start that initialPoses finds (which uses no weights).
Params refinedPoses(const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
                    const tk_ZRotationData& zData, const tk_ArbitraryData& aData) {
  Params refined;
  tfRefineCameraPoseMultiplateMulticamera(zData, aData, initialPoses(intrinsics, zData, aData),
                                          refined);
  return refined;
}

}  // namespace

void tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(
    const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
    const tkMulticameraZRotationPlacements& zRotationPlacements,
    const tkMulticameraArbitraryPlacements& arbitraryPlacements, Params& result) {
  result = refinedPoses(intrinsics, tfWeightedData(zRotationPlacements),
                        tfWeightedData(arbitraryPlacements));
}

void tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(
    const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements, Params& result) {
  const tk_ZRotationData original = tfWeightedData(zRotationPlacements);
  const tk_ArbitraryData originalA = tfWeightedData(arbitraryPlacements);
  tk_ZRotationData zData = original;
  tk_ArbitraryData aData = originalA;
  checkShapes(intrinsics.size(), zData, aData);
  const double s = tfPlateScale(zData, aData);
  tfScalePlates(s, zData, aData);
  const Params candidate = tfScaleTranslations(refinedPoses(intrinsics, zData, aData), 1.0 / s);

  // Unweighted image error over the caller's data: a non-finite one gives an empty result.
  double e = 0.0;
  const auto add = [&](const std::vector<tk_WeightedCrspList>& lists, const tkXform<3>& pose) {
    for (std::size_t c = 0; c < lists.size(); ++c)
      for (const auto& k : lists[c]) {
        const tkVector<2> d =
            candidate.invWarpPoint(pose.mapPoint(k.first.second), static_cast<long>(c)) -
            k.first.first;
        e += d.dot(d);
      }
  };
  if (!candidate.calibrationPlatePoses().empty())
    for (std::size_t j = 0; j < original.size(); ++j)
      add(original[j].first, candidate.calibrationPlatePoses()[j].xform());
  if (!candidate.arbitraryCalibrationPlatePoses().empty())
    for (std::size_t j = 0; j < originalA.size(); ++j)
      add(originalA[j], candidate.arbitraryCalibrationPlatePoses()[j].xform());
  result = e < HUGE_VAL ? candidate : Params();
}
