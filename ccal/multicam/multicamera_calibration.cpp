#include "ccal/multicam/multiplate_refine.h"
#include "ccal/multicam/pose_propagation.h"

#include <ccal/multicamera_calibration.h>
#include <proc/cstd_progress.h>
#include <tk/exception.h>
#include <tk/failure.h>
#include <tk/pose3d.h>
#include <tk/progress.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;
using Estimate = tk_MultiplateCameraEstimate;

constexpr std::size_t kViewMinimum = 10;  // a view needs more than 9 points

[[noreturn]] void fail(const std::wstring& message) {
  throw tkInvariantFailure(message);
}

void checkShapes(const tk_ZRotationData& zData, const tk_ArbitraryData& aData) {
  const std::size_t nC = zData.empty() ? 0 : zData[0].first.size();
  if (!zData.empty() && nC == 0)
    fail(L"zRotationPlacements[0].first.empty(): no camera");
  tk_checkPlacementShapes(zData, aData, nC, L"nC");
}

// One camera's own data, every weight 1.
struct CameraData {
  tk_ZRotationData1 z;
  tk_ArbitraryData1 a;
};

CameraData cameraData(const tk_ZRotationData& zData, const tk_ArbitraryData& aData, std::size_t c) {
  CameraData d;
  for (const auto& placement : zData) {
    tk_WeightedCrspList list = placement.first[c];
    for (auto& k : list)
      k.second = 1.0;
    d.z.push_back({list, placement.second});
  }
  for (const auto& placement : aData) {
    tk_WeightedCrspList list = placement[c];
    for (auto& k : list)
      k.second = 1.0;
    d.a.push_back(list);
  }
  return d;
}

Estimate defaultEstimate(std::size_t nZ, std::size_t nA,
                         tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  Estimate e;
  tkPhysicalAtZEquals1FromImageParams intrinsic;
  intrinsic.distModel(model);
  e.camera.physicalAtZEquals1FromImageParams(intrinsic);
  e.calibrationPlatePoses.assign(nZ, tk3ZRotationXform());
  e.arbitraryCalibrationPlatePoses.assign(nA, tk3QuaternionXform());
  return e;
}

// Planar calibration of the camera's views with more than 9 points; the first of them defines
// the camera's world frame.
Estimate coarseEstimate(const CameraData& d, tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  tkProgressTrackerBlock progress(1.0);
  progress.reportWork(1.0);
  if (progress.doEstimateOnly())
    return defaultEstimate(d.z.size(), d.a.size(), model);
  std::vector<std::vector<tkPair<tkVector<2>>>> views;
  for (const auto& placement : d.z)
    if (placement.first.size() >= kViewMinimum)
      views.push_back(tk_planeView(placement.first));
  for (const auto& list : d.a)
    if (list.size() >= kViewMinimum)
      views.push_back(tk_planeView(list));
  tk2XformCalib2 xform;
  std::vector<double> rms, largest;
  xform.init(views, rms, largest, model);

  Estimate e;
  tkPhysicalAtZEquals1FromImageParams intrinsic;
  tfConvert(xform, intrinsic);  // model, linear map, lens list and centre of the planar fit
  // (setting the model again would reset a sine-tangent lens list to its default)
  e.camera.physicalAtZEquals1FromImageParams(intrinsic);
  const tkXform<3> E0 = xform.extrinsicXform();
  e.camera.cameraPoseInverse(tk3QuaternionXform(E0));
  const tkXform<3> E0inverse = E0.inverse();
  bool first = true;  // the first view's pose is the identity by definition
  const auto plateToWorld = [&](const tk_WeightedCrspList& list) {
    if (list.size() < kViewMinimum)
      return tkXform<3>(E0inverse);
    if (first) {
      first = false;
      return tkXform<3>(tkMatrix<3>::identity(), tkVector<3>(0.0, 0.0, 0.0));
    }
    return E0inverse * xform.extrinsicXform(tk_planeView(list));
  };
  for (const auto& placement : d.z)
    e.calibrationPlatePoses.push_back(tk3ZRotationXform(plateToWorld(placement.first)));
  for (const auto& list : d.a)
    e.arbitraryCalibrationPlatePoses.push_back(tk3QuaternionXform(plateToWorld(list)));
  return e;
}

// √(Σd²/count) of the camera's data under an estimate (NaN without points).
double rmsOf(const CameraData& d, const Estimate& e) {
  double sum = 0.0;
  long count = 0;
  const auto add = [&](const tk_WeightedCrspList& list, const tkXform<3>& pose) {
    for (const auto& k : list) {
      const tkVector<2> q = e.camera.invWarpPoint(pose.mapPoint(k.first.second));
      const tkVector<2> diff = k.first.first - q;
      sum += diff.dot(diff);
      ++count;
    }
  };
  for (std::size_t j = 0; j < d.z.size(); ++j)
    add(d.z[j].first, e.calibrationPlatePoses[j].xform());
  for (std::size_t j = 0; j < d.a.size(); ++j)
    add(d.a[j], e.arbitraryCalibrationPlatePoses[j].xform());
  return std::sqrt(sum / static_cast<double>(count));
}

tk3QuaternionXform asQuaternion(const tk3ZRotationXform& pose) {
  return tk3QuaternionXform(pose.xform());
}

// Camera c's pose from the best camera's model through the placements both saw well.
void reseedFromBest(const std::vector<CameraData>& data, std::vector<Estimate>& estimates,
                    std::vector<double>& rms, std::size_t best, std::size_t c) {
  std::vector<std::pair<tkVector<2>, tkVector<3>>> pairs;
  std::size_t largest = 0;
  const auto addPlacement = [&](const tk_WeightedCrspList& mine, const tk_WeightedCrspList& theirs,
                                const tkXform<3>& bestPose) {
    if (mine.size() >= kViewMinimum && theirs.size() >= kViewMinimum)
      for (const auto& k : mine)
        pairs.push_back({k.first.first, bestPose.mapPoint(k.first.second)});
    largest = std::max(largest, mine.size() * theirs.size());
  };
  for (std::size_t j = 0; j < data[c].z.size(); ++j)
    addPlacement(data[c].z[j].first, data[best].z[j].first,
                 estimates[best].calibrationPlatePoses[j].xform());
  for (std::size_t j = 0; j < data[c].a.size(); ++j)
    addPlacement(data[c].a[j], data[best].a[j],
                 estimates[best].arbitraryCalibrationPlatePoses[j].xform());
  if (largest == 0 || pairs.empty())
    return;
  tk2XformCalib2 camera;
  camera.init(estimates[best].camera.physicalAtZEquals1FromImageParams().computeParamsIntrinsic(),
              tkCalib2ParamsExtrinsic());
  tk3DComputePoseResult pose;
  tf3DComputePose(pairs, camera, tk3DComputePoseParams(), pose);
  Estimate seed = estimates[best];
  seed.camera.cameraPoseInverse(pose.pose());
  Estimate candidate;
  tfRefineCameraCalibrationMultiplateSingleCamera(data[c].z, data[c].a, seed, candidate);
  const double candidateRms = rmsOf(data[c], candidate);
  if (rms[c] > candidateRms) {
    estimates[c] = candidate;
    rms[c] = candidateRms;
  }
}

// Moves camera c's estimate into the frame of registered camera c2 through placement poses
// T (c2's) and U (c's) of one shared placement.
void link(Estimate& e, const tk3QuaternionXform& T, const tk3QuaternionXform& U) {
  const tk3QuaternionXform move = T * U.inverse();
  e.camera.cameraPoseInverse(e.camera.cameraPoseInverse() * U * T.inverse());
  for (auto& pose : e.calibrationPlatePoses)
    pose = tk3ZRotationXform((move * asQuaternion(pose)).xform());
  for (auto& pose : e.arbitraryCalibrationPlatePoses)
    pose = move * pose;
}

void linkCameras(const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
                 std::vector<Estimate>& estimates) {
  const std::size_t nC = estimates.size();
  std::vector<bool> registered(nC);
  bool changed = false;
  for (std::size_t c = 0; c < nC; ++c) {
    registered[c] = zData[0].first[c].size() >= 9;
    changed = changed || registered[c];
  }
  while (changed) {
    changed = false;
    for (std::size_t c = 0; c < nC; ++c) {
      if (registered[c])
        continue;
      std::size_t shared = 0, via = 0, placement = 0;
      bool zRotation = false;
      for (std::size_t c2 = 0; c2 < nC; ++c2) {
        if (!registered[c2])
          continue;
        for (std::size_t j = 1; j < zData.size(); ++j) {
          const std::size_t m = std::min(zData[j].first[c2].size(), zData[j].first[c].size());
          if (m > shared) {
            shared = m, via = c2, placement = j, zRotation = true;
          }
        }
        for (std::size_t j = 0; j < aData.size(); ++j) {
          const std::size_t m = std::min(aData[j][c2].size(), aData[j][c].size());
          if (m > shared) {
            shared = m, via = c2, placement = j, zRotation = false;
          }
        }
      }
      if (shared == 0)
        continue;
      const tk3QuaternionXform T =
          zRotation ? asQuaternion(estimates[via].calibrationPlatePoses[placement])
                    : estimates[via].arbitraryCalibrationPlatePoses[placement];
      const tk3QuaternionXform U = zRotation
                                       ? asQuaternion(estimates[c].calibrationPlatePoses[placement])
                                       : estimates[c].arbitraryCalibrationPlatePoses[placement];
      link(estimates[c], T, U);
      registered[c] = true;
      changed = true;
    }
  }
  for (std::size_t c = 0; c < nC; ++c)
    if (!registered[c])
      fail(L"camera " + std::to_wstring(c) +
           L" cannot be linked to the world frame: fewer than 9 points in Z-rotation placement 0 "
           L"and no placement shared with a linked camera");
}

// The starting rig: each camera alone, linked into the world frame of placement 0.
Params initialEstimate(const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
                       tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  checkShapes(zData, aData);
  int32_t estimateOnly = 0;
  tfThrowExceptionOnFailure(cstd_progressGetThreadDoEstimateOnly(&estimateOnly));
  const std::size_t nC = zData[0].first.size();
  const std::size_t nZ = zData.size(), nA = aData.size();
  std::vector<CameraData> data;
  std::vector<Estimate> estimates;
  std::vector<double> rms(nC, std::numeric_limits<double>::infinity());
  for (std::size_t c = 0; c < nC; ++c) {
    data.push_back(cameraData(zData, aData, c));
    Estimate coarse = coarseEstimate(data[c], model);
    if (data[c].z[0].first.size() >= kViewMinimum) {
      Estimate refined;
      tfRefineCameraCalibrationMultiplateSingleCamera(data[c].z, data[c].a, coarse, refined);
      coarse = refined;
    }
    estimates.push_back(coarse);
    if (estimateOnly == 0)
      rms[c] = rmsOf(data[c], coarse);
  }
  Params start;
  if (estimateOnly != 0) {
    const Estimate e = defaultEstimate(nZ, nA, model);
    start.physicalAtZEquals1FromImageParams(std::vector<tkPhysicalAtZEquals1FromImageParams>(
        nC, e.camera.physicalAtZEquals1FromImageParams()));
    start.cameraPoseInverses(std::vector<tk3QuaternionXform>(nC));
    start.calibrationPlatePoses(e.calibrationPlatePoses);
    start.arbitraryCalibrationPlatePoses(e.arbitraryCalibrationPlatePoses);
    return start;
  }

  std::size_t best = nC;
  for (std::size_t c = 0; c < nC; ++c)
    if (std::isfinite(rms[c]) && (best == nC || rms[c] < rms[best]))
      best = c;
  // Re-seeding refines candidates in the best camera's frame, which must be the world frame of
  // placement 0 (the refinement's precondition); a best camera that did not see placement 0
  // re-seeds nobody.
  if (model == tk2XformCalib2Defs::eSineTan && best < nC &&
      data[best].z[0].first.size() >= kViewMinimum)
    for (std::size_t c = 0; c < nC; ++c)
      if (c != best)
        reseedFromBest(data, estimates, rms, best, c);

  linkCameras(zData, aData, estimates);

  std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics;
  std::vector<tk3QuaternionXform> cameras;
  for (const Estimate& e : estimates) {
    intrinsics.push_back(e.camera.physicalAtZEquals1FromImageParams());
    cameras.push_back(e.camera.cameraPoseInverse());
  }
  // Each placement's pose from the camera that saw most of it.
  std::vector<tk3ZRotationXform> zPoses(nZ);
  for (std::size_t j = 1; j < nZ; ++j) {
    const std::size_t who = tk_cameraWithMostPoints(zData[j].first);
    if (who < nC)
      zPoses[j] = estimates[who].calibrationPlatePoses[j];
  }
  std::vector<tk3QuaternionXform> aPoses(nA);
  for (std::size_t j = 0; j < nA; ++j) {
    const std::size_t who = tk_cameraWithMostPoints(aData[j]);
    if (who < nC)
      aPoses[j] = estimates[who].arbitraryCalibrationPlatePoses[j];
  }
  start.physicalAtZEquals1FromImageParams(intrinsics);
  start.cameraPoseInverses(cameras);
  start.calibrationPlatePoses(zPoses);  // placement 0: the world frame, the identity
  start.arbitraryCalibrationPlatePoses(aPoses);
  return start;
}

// The rig refined from the start that initialEstimate finds.
Params refinedRig(const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
                  tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  Params refined;
  tfRefineCameraCalibrationMultiplateMulticamera(zData, aData, initialEstimate(zData, aData, model),
                                                 refined);
  return refined;
}

}  // namespace

void tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
    tk2XformCalib2Defs::tkCalib2DistortionModel distModel,
    const tkMulticameraZRotationPlacements& zRotationPlacements,
    const tkMulticameraArbitraryPlacements& arbitraryPlacements, Params& result) {
  result = refinedRig(tfWeightedData(zRotationPlacements), tfWeightedData(arbitraryPlacements),
                      distModel);
}

void tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
    tk2XformCalib2Defs::tkCalib2DistortionModel distModel,
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements, Params& result,
    std::vector<double>& rmsErrorsZRotation, std::vector<double>& maxErrorsZRotation,
    std::vector<double>& rmsErrorsArbitrary, std::vector<double>& maxErrorsArbitrary) {
  tk_ZRotationData zData = tfWeightedData(zRotationPlacements);
  tk_ArbitraryData aData = tfWeightedData(arbitraryPlacements);
  checkShapes(zData, aData);
  const double s = tfPlateScale(zData, aData);
  tfScalePlates(s, zData, aData);
  const Params scaled = refinedRig(zData, aData, distModel);

  const std::size_t nC = zData[0].first.size();
  std::vector<double> rmsZ, maxZ(nC), rmsA, maxA(nC);
  const auto figures = [&](const auto& placements, const auto& listsOf, const auto& poseOf,
                           std::size_t c, std::vector<double>& rmsOut,
                           std::vector<double>& maxOut) {
    double sum = 0.0, weights = 0.0, largest = 0.0;
    for (std::size_t j = 0; j < placements.size(); ++j) {
      const tkXform<3> pose = poseOf(j);
      for (const auto& k : listsOf(placements[j])[c]) {
        const tkVector<2> d = k.first.first - scaled.invWarpPoint(pose.mapPoint(k.first.second),
                                                                  static_cast<long>(c));
        sum += k.second * d.dot(d);
        weights += k.second;
        largest = std::max(largest, d.dot(d));
      }
    }
    rmsOut.push_back(weights == 0.0 ? 0.0 : std::sqrt(sum / weights));
    maxOut[c] = std::sqrt(largest);
  };
  for (std::size_t c = 0; c < nC; ++c) {
    figures(
        zData, [](const auto& p) -> const std::vector<tk_WeightedCrspList>& { return p.first; },
        [&](std::size_t j) { return scaled.calibrationPlatePoses()[j].xform(); }, c, rmsZ, maxZ);
    figures(
        aData, [](const auto& p) -> const std::vector<tk_WeightedCrspList>& { return p; },
        [&](std::size_t j) { return scaled.arbitraryCalibrationPlatePoses()[j].xform(); }, c, rmsA,
        maxA);
  }
  result = tfScaleTranslations(scaled, 1.0 / s);
  rmsErrorsZRotation = rmsZ;
  maxErrorsZRotation = maxZ;
  rmsErrorsArbitrary = rmsA;
  maxErrorsArbitrary = maxA;
}

void tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
    tk2XformCalib2Defs::tkCalib2DistortionModel distModel,
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements, Params& result) {
  std::vector<double> rmsZ, maxZ, rmsA, maxA;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
      distModel, zRotationPlacements, arbitraryPlacements, result, rmsZ, maxZ, rmsA, maxA);
}
