// The refinement procedure: convergence from a perturbed start on the exact rig and single-camera
// sets (both stages run: every list has 300 entries), the Z-rotation removal, the
// preconditions and the estimate-only mode.
#include "ccal/multicam/multiplate_refine.h"
#include "rig_data.h"

#include <tk/exception.h>
#include <tk/progress.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

// The truth moved away from the solution by f times: intrinsics by about 1e-4 relative, rotations
// by about 1 mrad, camera translations by 0.1%, plate translations by 0.1 to 0.2 plate units.
// (The minimisation drives |gradient|² down, whose Hessian squares the condition of the
// problem's; from ten times farther it needs more than the iteration limit.)
Params perturbed(const Params& truth, double f = 1.0) {
  Params p = truth;
  std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics =
      truth.physicalAtZEquals1FromImageParams();
  for (std::size_t c = 0; c < intrinsics.size(); ++c) {
    auto& m = intrinsics[c];
    m.cameraScale(tkPair<double>(m.cameraScale().first * (1.0 + 2e-4 * f),
                                 m.cameraScale().second * (1.0 - 1e-4 * f)));
    m.cameraTranslation(m.cameraTranslation() + tkVector<2>(1e-4, -2e-4) * f);
    std::vector<double> lens = m.lensDistParams();
    for (double& v : lens)
      v *= 1.0 + 1e-4 * f;
    m.lensDistParams(lens);
  }
  p.physicalAtZEquals1FromImageParams(intrinsics);
  const auto turn = [](const tkXform<3>& x, double a, const tkVector<3>& dt) {
    const tkXform<3> r =
        tk3QuaternionXform(tk3Quaternion(1.0, a, -a, 0.5 * a), tkVector<3>()).xform();
    return tkXform<3>(r.matrix() * x.matrix(), x.trans() + dt);
  };
  std::vector<tk3QuaternionXform> cameras = truth.cameraPoseInverses();
  for (auto& pose : cameras)
    pose = tk3QuaternionXform(turn(pose.xform(), 5e-4 * f, pose.trans() * 1e-3 * f));
  p.cameraPoseInverses(cameras);
  std::vector<tk3ZRotationXform> zPoses = truth.calibrationPlatePoses();
  for (std::size_t j = 1; j < zPoses.size(); ++j)
    zPoses[j] = tk3ZRotationXform(zPoses[j].rotZ() + 1e-3 * f,
                                  zPoses[j].trans() + tkVector<3>(0.2, -0.1, 0.0) * f);
  p.calibrationPlatePoses(zPoses);
  std::vector<tk3QuaternionXform> aPoses = truth.arbitraryCalibrationPlatePoses();
  for (auto& pose : aPoses)
    pose = tk3QuaternionXform(turn(pose.xform(), -4e-4 * f, tkVector<3>(0.1, 0.2, -0.1) * f));
  p.arbitraryCalibrationPlatePoses(aPoses);
  return p;
}

tk_MultiplateCameraEstimate cameraOf(const Params& p, std::size_t c) {
  tk_MultiplateCameraEstimate e;
  e.camera.physicalAtZEquals1FromImageParams(p.physicalAtZEquals1FromImageParams()[c]);
  e.camera.cameraPoseInverse(p.cameraPoseInverses()[c]);
  e.calibrationPlatePoses = p.calibrationPlatePoses();
  e.arbitraryCalibrationPlatePoses = p.arbitraryCalibrationPlatePoses();
  return e;
}

TEST(MultiplateRefine, RigConvergesFromAPerturbedStartToTheTruth) {
  const tkRigDataSet set = tfLoadRig("rig3-radial-exact.json");
  Params result;
  tfRefineCameraCalibrationMultiplateMulticamera(set.zData, set.aData, perturbed(set.truth),
                                                 result);
  tfExpectRigNear(result, set.truth, 1e-9);
}

TEST(MultiplateRefine, SingleCameraConvergesAndRestoresLargeZRotations) {
  const tkRigDataSet set = tfLoadRig("single-radial-exact.json");
  std::vector<std::pair<tk_CrspList, double>> z;
  for (const auto& placement : set.zData)
    z.push_back({placement.first[0], placement.second});
  std::vector<tk_CrspList> a;
  for (const auto& placement : set.aData)
    a.push_back(placement[0]);
  tk_MultiplateCameraEstimate start = cameraOf(perturbed(set.truth), 0);
  tk_MultiplateCameraEstimate result;
  tfRefineCameraCalibrationMultiplateSingleCamera(z, a, start, result);
  tfExpectRigNear(
      [&] {
        Params p;
        p.physicalAtZEquals1FromImageParams({result.camera.physicalAtZEquals1FromImageParams()});
        p.cameraPoseInverses({result.camera.cameraPoseInverse()});
        p.calibrationPlatePoses(result.calibrationPlatePoses);
        p.arbitraryCalibrationPlatePoses(result.arbitraryCalibrationPlatePoses);
        return p;
      }(),
      set.truth, 1e-7);

  // Placement 1 turned by 3 rad more in its plate frame: the result carries the full angle.
  const double extra = 3.0;
  const tkXform<3> turn = tk3ZRotationXform(-extra, tkVector<3>()).xform();
  for (auto& k : z[1].first)
    k.second = turn.mapPoint(k.second);
  start.calibrationPlatePoses[1].rotZ(start.calibrationPlatePoses[1].rotZ() + extra);
  tfRefineCameraCalibrationMultiplateSingleCamera(z, a, start, result);
  const double expected = set.truth.calibrationPlatePoses()[1].rotZ() + extra;
  EXPECT_NEAR(std::remainder(result.calibrationPlatePoses[1].rotZ() - expected, 2 * M_PI), 0.0,
              1e-9);
}

TEST(MultiplateRefine, BrokenPreconditionsThrowAndEstimateOnlyReturnsTheStart) {
  const tkRigDataSet set = tfLoadRig("rig3-radial-exact.json");
  Params result;
  Params shifted = set.truth;
  std::vector<tk3ZRotationXform> zPoses = shifted.calibrationPlatePoses();
  zPoses[0].trans(tkVector<3>(0.0, 1e-3, 0.0));
  shifted.calibrationPlatePoses(zPoses);
  EXPECT_THROW(
      tfRefineCameraCalibrationMultiplateMulticamera(set.zData, set.aData, shifted, result),
      tkInvariantFailure);
  tk_ZRotationPlacements missingCamera = set.zData;
  missingCamera[1].first.pop_back();
  EXPECT_THROW(
      tfRefineCameraCalibrationMultiplateMulticamera(missingCamera, set.aData, set.truth, result),
      tkInvariantFailure);
  EXPECT_THROW(tfRefineCameraCalibrationMultiplateMulticamera(tk_ZRotationPlacements(), set.aData,
                                                              set.truth, result),
               tkInvariantFailure);

  const Params start = perturbed(set.truth);
  tkProgressScope scope(nullptr, true);
  tfRefineCameraCalibrationMultiplateMulticamera(set.zData, set.aData, start, result);
  tfExpectRigNear(result, start, 1e-14);  // the start, up to the rounding of the normalisation
  EXPECT_GT(scope.reportedWork(), 0.0);
}

}  // namespace
