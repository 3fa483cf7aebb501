// A small synthetic rig in normalised image units (the frame the solvers work in) for the
// multi-plate tests: cameras about one unit above plates of 7 x 7 points, two Z-rotation placements
// and one arbitrary placement, projected exactly.
#ifndef CCAL_TESTS_MULTICAM_RIG_SCENE_H
#define CCAL_TESTS_MULTICAM_RIG_SCENE_H

#include "ccal/multicam/multiplate_data.h"
#include "ccal/problem/parameter_layout.h"

#include <ccal/multicamera_calibration_params.h>

#include <cmath>

inline tkPhysicalAtZEquals1FromImageParams tfRigSceneIntrinsic(
    int camera, tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  tkPhysicalAtZEquals1FromImageParams intrinsic;
  intrinsic.distModel(model);
  intrinsic.cameraScale(tkPair<double>(1.0 / (1.0 + 0.02 * camera), 1.0 / 1.01));
  intrinsic.cameraSkew(1e-3);
  intrinsic.cameraTranslation(tkVector<2>(-0.01, 0.02));
  if (model == tk2XformCalib2Defs::eRadial) {
    intrinsic.k(-0.08 + 0.01 * camera);
    intrinsic.centerOfExpansion(tkVector<2>(0.01, -0.02));
  } else if (model == tk2XformCalib2Defs::eSineTan) {
    intrinsic.lensDistParams({0.6, 1.1, 0.4, 0.9});
    intrinsic.centerOfExpansion(tkVector<2>(0.005, -0.01));
  }
  return intrinsic;
}

// Truth: nCameras cameras, Z-rotation placements 0 (identity) and 1 (rotZ 0.3, height 0.05),
// arbitrary placement 0.
inline tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams tfRigSceneTruth(
    int nCameras, tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams truth;
  std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics;
  std::vector<tk3QuaternionXform> cameras;
  for (int c = 0; c < nCameras; ++c) {
    intrinsics.push_back(tfRigSceneIntrinsic(c, model));
    cameras.push_back(tk3QuaternionXform(tk3Quaternion(1.0, 0.04 * c - 0.02, 0.03, 0.01 * c),
                                         tkVector<3>(0.1 * c - 0.05, -0.02, 1.0 + 0.05 * c)));
  }
  truth.physicalAtZEquals1FromImageParams(intrinsics);
  truth.cameraPoseInverses(cameras);
  truth.calibrationPlatePoses(
      {tk3ZRotationXform(), tk3ZRotationXform(0.3, tkVector<3>(0.02, -0.01, 0.05))});
  truth.arbitraryCalibrationPlatePoses(
      {tk3QuaternionXform(tk3Quaternion(0.99, 0.08, -0.05, 0.02), tkVector<3>(0.01, 0.02, 0.1))});
  return truth;
}

inline tk_WeightedCrspList tfRigSceneList(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& truth, int camera,
    const tkXform<3>& plateToWorld, int pointsPerSide = 7) {
  tk_WeightedCrspList list;
  for (int a = 0; a < pointsPerSide; ++a)
    for (int b = 0; b < pointsPerSide; ++b) {
      const tkVector<3> P(-0.24 + 0.48 * a / (pointsPerSide - 1),
                          -0.2 + 0.4 * b / (pointsPerSide - 1), 0.0);
      const tkVector<2> p = truth.invWarpPoint(plateToWorld.mapPoint(P), camera);
      list.push_back({{p, P}, 1.0 + 0.1 * ((a + b) % 3)});
    }
  return list;
}

inline void tfRigSceneData(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& truth,
    tk_ZRotationData& zData, tk_ArbitraryData& aData, int pointsPerSide = 7) {
  const int nC = static_cast<int>(truth.cameraPoseInverses().size());
  zData.clear();
  aData.clear();
  for (const tk3ZRotationXform& pose : truth.calibrationPlatePoses()) {
    std::vector<tk_WeightedCrspList> lists;
    for (int c = 0; c < nC; ++c)
      lists.push_back(tfRigSceneList(truth, c, pose.xform(), pointsPerSide));
    zData.push_back({lists, pose.trans().z()});
  }
  for (const tk3QuaternionXform& pose : truth.arbitraryCalibrationPlatePoses()) {
    std::vector<tk_WeightedCrspList> lists;
    for (int c = 0; c < nC; ++c)
      lists.push_back(tfRigSceneList(truth, c, pose.xform(), pointsPerSide));
    aData.push_back(lists);
  }
}

// The solvers' column for the counts of p (model of camera 0), calibration or pose-only.
inline ccal::detail::ParameterLayout tfRigLayout(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& p, bool poseOnly) {
  using Layout = ccal::detail::ParameterLayout;
  const auto model = p.physicalAtZEquals1FromImageParams()[0].distModel();
  const long nC = static_cast<long>(p.cameraPoseInverses().size());
  const long nZ = static_cast<long>(p.calibrationPlatePoses().size());
  const long nA = static_cast<long>(p.arbitraryCalibrationPlatePoses().size());
  return poseOnly ? Layout::poseOnly(model, nC, nZ, nA) : Layout::calibration(model, nC, nZ, nA);
}

#endif
