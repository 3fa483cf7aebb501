// The rig data sets of data/ in the shapes of the rig calibration, and their ground truth as rig
// parameters, for the refinement, calibration and pose tests.
#ifndef CCAL_TESTS_MULTICAM_RIG_DATA_H
#define CCAL_TESTS_MULTICAM_RIG_DATA_H

#include "ccal/multicam/multiplate_refine.h"
#include "support/area_scan_truth.h"
#include "support/data_sets.h"

#include <ccal/multicamera_calibration_params.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

struct tkRigDataSet {
  tkPointFile file;
  tk_ZRotationPlacements zData;
  tk_ArbitraryPlacements aData;
  tk2XformCalib2Defs::tkCalib2DistortionModel model = tk2XformCalib2Defs::eRadial;
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams truth;  // when present
  double noiseSigmaPx = 0.0;
};

inline tk2XformCalib2Defs::tkCalib2DistortionModel tfModelNamed(const std::string& name) {
  if (name == "sine-tan" || name == "eSineTan")
    return tk2XformCalib2Defs::eSineTan;
  if (name == "none" || name == "eNoDistortion")
    return tk2XformCalib2Defs::eNoDistortion;
  return tk2XformCalib2Defs::eRadial;
}

inline tkRigDataSet tfLoadRig(const std::string& fileName) {
  tkRigDataSet set;
  set.file = loadDataSet(fileName);
  set.model = tfModelNamed(set.file.distortionModel);
  for (const tkPointPlacement& placement : set.file.placements) {
    std::vector<tk_CrspList> lists;
    for (const auto& rows : placement.points) {
      tk_CrspList list;
      for (const tkPointRow& row : rows)
        list.push_back({row.image, row.physical});
      lists.push_back(list);
    }
    if (placement.kind == "z-rotation")
      set.zData.push_back({lists, placement.height});
    else
      set.aData.push_back(lists);
  }
  if (set.file.groundTruthJson.empty())
    return set;
  const tkAreaScanTruth truth = tfParseAreaScanTruth(set.file);
  set.noiseSigmaPx = truth.noiseSigmaPx;
  std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics;
  std::vector<tk3QuaternionXform> cameras;
  for (const tkAreaScanCameraTruth& c : truth.cameras) {
    tkPhysicalAtZEquals1FromImageParams intrinsic;
    intrinsic.distModel(tfModelNamed(c.distModel));
    intrinsic.cameraScale(tkPair<double>(c.scale.x(), c.scale.y()));
    intrinsic.cameraSkew(c.skew);
    intrinsic.cameraTranslation(c.translation);
    intrinsic.centerOfExpansion(c.centerOfExpansion);
    intrinsic.lensDistParams(c.lensDistParams);
    intrinsics.push_back(intrinsic);
    cameras.push_back(tk3QuaternionXform(c.worldToCamera));
  }
  std::vector<tk3ZRotationXform> zPoses;
  std::vector<tk3QuaternionXform> aPoses;
  for (std::size_t j = 0; j < set.file.placements.size(); ++j) {
    if (set.file.placements[j].kind == "z-rotation")
      zPoses.push_back(tk3ZRotationXform(truth.plateToWorld[j]));
    else
      aPoses.push_back(tk3QuaternionXform(truth.plateToWorld[j]));
  }
  set.truth.physicalAtZEquals1FromImageParams(intrinsics);
  set.truth.cameraPoseInverses(cameras);
  set.truth.calibrationPlatePoses(zPoses);
  set.truth.arbitraryCalibrationPlatePoses(aPoses);
  return set;
}

// The data as weighted records: plate points and heights times scale, every weight `weight`.
inline tk_ZRotationPlacementsW tfWeightedZ(const tk_ZRotationPlacements& z, double scale = 1.0,
                                           double weight = 1.0) {
  tk_ZRotationPlacementsW out;
  for (const auto& placement : z) {
    std::vector<std::vector<tkCrspPairWeighted>> lists;
    for (const auto& list : placement.first) {
      lists.emplace_back();
      for (const auto& k : list)
        lists.back().push_back(tkCrspPairWeighted(k.first, k.second * scale, weight));
    }
    out.push_back({lists, placement.second * scale});
  }
  return out;
}

inline tk_ArbitraryPlacementsW tfWeightedA(const tk_ArbitraryPlacements& a, double scale = 1.0,
                                           double weight = 1.0) {
  tk_ArbitraryPlacementsW out;
  for (const auto& placement : a) {
    out.emplace_back();
    for (const auto& list : placement) {
      out.back().emplace_back();
      for (const auto& k : list)
        out.back().back().push_back(tkCrspPairWeighted(k.first, k.second * scale, weight));
    }
  }
  return out;
}

// Relative closeness of two values on the scale of `scale` (the size of the quantity they belong
// to, so that values near 0 are judged against their group).
inline void tfExpectRelNear(double actual, double expected, double scale, double tol,
                            const std::string& what) {
  EXPECT_NEAR(actual, expected, tol * std::max(scale, 1e-300)) << what;
}

inline void tfExpectPoseNear(const tkXform<3>& actual, const tkXform<3>& expected,
                             double translationScale, double tol, const std::string& what) {
  for (int r = 0; r < 3; ++r) {
    tfExpectRelNear(actual.trans()[r], expected.trans()[r], translationScale, tol,
                    what + " translation");
    for (int k = 0; k < 3; ++k)
      tfExpectRelNear(actual.matrix().element(r, k), expected.matrix().element(r, k), 1.0, tol,
                      what + " rotation");
  }
}

// Every intrinsic model, camera pose and placement pose within tol (relative; translations on
// the scale of the largest camera distance).
inline void tfExpectRigNear(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& actual,
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& expected, double tol,
    bool compareIntrinsics = true) {
  ASSERT_EQ(actual.cameraPoseInverses().size(), expected.cameraPoseInverses().size());
  ASSERT_EQ(actual.calibrationPlatePoses().size(), expected.calibrationPlatePoses().size());
  ASSERT_EQ(actual.arbitraryCalibrationPlatePoses().size(),
            expected.arbitraryCalibrationPlatePoses().size());
  double distance = 0.0;
  for (const auto& pose : expected.cameraPoseInverses())
    distance = std::max(distance, pose.trans().length());
  for (std::size_t c = 0; c < expected.cameraPoseInverses().size(); ++c) {
    const std::string cam = "camera " + std::to_string(c);
    tfExpectPoseNear(actual.cameraPoseInverses()[c].xform(),
                     expected.cameraPoseInverses()[c].xform(), distance, tol, cam);
    if (!compareIntrinsics)
      continue;
    const auto& a = actual.physicalAtZEquals1FromImageParams()[c];
    const auto& e = expected.physicalAtZEquals1FromImageParams()[c];
    const double sx = std::fabs(e.cameraScale().first);
    tfExpectRelNear(a.cameraScale().first, e.cameraScale().first, sx, tol, cam + " sx");
    tfExpectRelNear(a.cameraScale().second, e.cameraScale().second, sx, tol, cam + " sy");
    tfExpectRelNear(a.cameraSkew(), e.cameraSkew(), sx, tol, cam + " skew");
    tfExpectRelNear(a.cameraTranslation().x(), e.cameraTranslation().x(), 1.0, tol, cam + " tx");
    tfExpectRelNear(a.cameraTranslation().y(), e.cameraTranslation().y(), 1.0, tol, cam + " ty");
    tfExpectRelNear(a.centerOfExpansion().x(), e.centerOfExpansion().x(), 1.0, tol, cam + " cx");
    tfExpectRelNear(a.centerOfExpansion().y(), e.centerOfExpansion().y(), 1.0, tol, cam + " cy");
    ASSERT_EQ(a.lensDistParams().size(), e.lensDistParams().size());
    for (std::size_t i = 0; i < e.lensDistParams().size(); ++i)
      tfExpectRelNear(a.lensDistParams()[i], e.lensDistParams()[i], 1.0, tol, cam + " lens");
  }
  for (std::size_t j = 0; j < expected.calibrationPlatePoses().size(); ++j)
    tfExpectPoseNear(actual.calibrationPlatePoses()[j].xform(),
                     expected.calibrationPlatePoses()[j].xform(), distance, tol,
                     "z-rotation placement " + std::to_string(j));
  for (std::size_t j = 0; j < expected.arbitraryCalibrationPlatePoses().size(); ++j)
    tfExpectPoseNear(actual.arbitraryCalibrationPlatePoses()[j].xform(),
                     expected.arbitraryCalibrationPlatePoses()[j].xform(), distance, tol,
                     "arbitrary placement " + std::to_string(j));
}

// The image distances between the projections of two rigs over every correspondence's plate
// point (each rig with its own placement poses): the largest and the RMS.
struct tkProjectionDifference {
  double largest = 0.0, rms = 0.0;
};

inline tkProjectionDifference tfProjectionDifference(
    const tkRigDataSet& set,
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& a,
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& b) {
  tkProjectionDifference out;
  double sum = 0.0, count = 0.0;
  const auto over = [&](const std::vector<tk_CrspList>& lists, const tkXform<3>& poseA,
                        const tkXform<3>& poseB) {
    for (std::size_t c = 0; c < lists.size(); ++c)
      for (const auto& k : lists[c]) {
        const long camera = static_cast<long>(c);
        const double d = (a.invWarpPoint(poseA.mapPoint(k.second), camera) -
                          b.invWarpPoint(poseB.mapPoint(k.second), camera))
                             .length();
        out.largest = std::max(out.largest, d);
        sum += d * d;
        count += 1.0;
      }
  };
  for (std::size_t j = 0; j < set.zData.size(); ++j)
    over(set.zData[j].first, a.calibrationPlatePoses()[j].xform(),
         b.calibrationPlatePoses()[j].xform());
  for (std::size_t j = 0; j < set.aData.size(); ++j)
    over(set.aData[j], a.arbitraryCalibrationPlatePoses()[j].xform(),
         b.arbitraryCalibrationPlatePoses()[j].xform());
  out.rms = std::sqrt(sum / count);
  return out;
}

// Every value of two results equal bit for bit (poses through their transforms).
inline void tfExpectSameBits(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& a,
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& b) {
  ASSERT_EQ(a.cameraPoseInverses().size(), b.cameraPoseInverses().size());
  for (std::size_t c = 0; c < a.cameraPoseInverses().size(); ++c) {
    EXPECT_TRUE(a.cameraPoseInverses()[c].xform() == b.cameraPoseInverses()[c].xform()) << c;
    const auto& x = a.physicalAtZEquals1FromImageParams()[c];
    const auto& y = b.physicalAtZEquals1FromImageParams()[c];
    EXPECT_TRUE(x.xform().matrix() == y.xform().matrix() && x.xform().trans() == y.xform().trans());
    EXPECT_EQ(x.centerOfExpansion(), y.centerOfExpansion());
    EXPECT_EQ(x.lensDistParams(), y.lensDistParams());
  }
  ASSERT_EQ(a.calibrationPlatePoses().size(), b.calibrationPlatePoses().size());
  for (std::size_t j = 0; j < a.calibrationPlatePoses().size(); ++j)
    EXPECT_TRUE(a.calibrationPlatePoses()[j].xform() == b.calibrationPlatePoses()[j].xform());
  ASSERT_EQ(a.arbitraryCalibrationPlatePoses().size(), b.arbitraryCalibrationPlatePoses().size());
  for (std::size_t j = 0; j < a.arbitraryCalibrationPlatePoses().size(); ++j)
    EXPECT_TRUE(a.arbitraryCalibrationPlatePoses()[j].xform() ==
                b.arbitraryCalibrationPlatePoses()[j].xform());
}

#endif
