// Rig parameters (projection, conversion) and the packing of the solvers' parameter column.
#include "ccal/multicam/multiplate_gradient.h"
#include "rig_scene.h"

#include <ccal/camera_calibration_params.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

TEST(MulticameraParams, ProjectionAndConversionFollowTheSingleCamera) {
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams rig;
  rig.physicalAtZEquals1FromImageParams({tkPhysicalAtZEquals1FromImageParams()});
  rig.cameraPoseInverses({tk3QuaternionXform()});
  EXPECT_EQ(rig.invWarpPoint(tkVector<3>(1.0, 2.0, 4.0), 0), tkVector<2>(0.25, 0.5));
  EXPECT_EQ(rig.invWarpPoint(tkVector<3>(1.0, 2.0, 0.0), 0), tkVector<2>(0.0, 0.0));
  EXPECT_EQ(rig.invWarpPoint(tkVector<3>(1.0, 2.0, -2.0), 0), tkVector<2>(-0.5, -1.0));

  const auto truth = tfRigSceneTruth(3, tk2XformCalib2Defs::eRadial);
  std::vector<tk2XformCalib2> xforms(7);
  tfConvert(truth, xforms);
  ASSERT_EQ(xforms.size(), 3u);
  for (std::size_t c = 0; c < 3; ++c) {
    tkCameraCalibrationParams single;
    single.physicalAtZEquals1FromImageParams(truth.physicalAtZEquals1FromImageParams()[c]);
    single.cameraPoseInverse(truth.cameraPoseInverses()[c]);
    tk2XformCalib2 expected;
    tfConvert(single, expected);
    EXPECT_TRUE(xforms[c] == expected);
    const tkVector<3> W(0.1, -0.05, 0.0);
    EXPECT_EQ(truth.invWarpPoint(W, static_cast<long>(c)), single.invWarpPoint(W));
  }
  tfConvert(tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams(), xforms);
  EXPECT_TRUE(xforms.empty());

  auto copy = truth;
  copy.cameraPoseInverses({});
  EXPECT_EQ(truth.cameraPoseInverses().size(), 3u);
}

tk_MultiplateProblem layoutOf(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& p, bool poseOnly) {
  tk_MultiplateProblem problem;
  problem.model = p.physicalAtZEquals1FromImageParams()[0].distModel();
  problem.poseOnly = poseOnly;
  problem.cameraBlock = poseOnly ? 6 : tfCameraParamCount(problem.model);
  problem.nC = static_cast<long>(p.cameraPoseInverses().size());
  problem.nZ = static_cast<long>(p.calibrationPlatePoses().size());
  problem.nA = static_cast<long>(p.arbitraryCalibrationPlatePoses().size());
  for (const tk3ZRotationXform& pose : p.calibrationPlatePoses())
    problem.heights.push_back(pose.trans().z());
  for (const auto& intrinsic : p.physicalAtZEquals1FromImageParams())
    problem.fixedIntrinsics.push_back(tfIntrinsicValues(intrinsic));
  return problem;
}

void expectPoseNear(const tkXform<3>& a, const tkXform<3>& b, double tol) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(a.matrix().element(r, c), b.matrix().element(r, c), tol);
    EXPECT_NEAR(a.trans()[r], b.trans()[r], tol);
  }
}

// Rotations of ±π/2 and quaternions whose largest component is each of the four.
TEST(MultiplatePacking, RoundTripsEveryPoseAndIntrinsicValue) {
  const double halfPi = 1.5707963267948966;
  const tk3Quaternion quats[4] = {
      tk3Quaternion(0.9, 0.1, -0.2, 0.1), tk3Quaternion(0.1, -0.9, 0.2, 0.1),
      tk3Quaternion(0.2, 0.1, 0.9, -0.3), tk3Quaternion(-0.1, 0.3, 0.2, -0.9)};
  for (Model model : {tk2XformCalib2Defs::eNoDistortion, tk2XformCalib2Defs::eRadial,
                      tk2XformCalib2Defs::eSineTan}) {
    for (bool poseOnly : {false, true}) {
      auto params = tfRigSceneTruth(4, model);
      std::vector<tk3QuaternionXform> cameras;
      for (int c = 0; c < 4; ++c)
        cameras.push_back(tk3QuaternionXform(quats[c], tkVector<3>(0.1 * c, 0.2, 1.0)));
      params.cameraPoseInverses(cameras);
      params.calibrationPlatePoses({tk3ZRotationXform(),
                                    tk3ZRotationXform(halfPi, tkVector<3>(0.1, 0.2, 0.3)),
                                    tk3ZRotationXform(-halfPi, tkVector<3>(-0.1, 0.0, -0.2))});
      params.arbitraryCalibrationPlatePoses({tk3QuaternionXform(quats[3], tkVector<3>(1, 2, 3)),
                                             tk3QuaternionXform(quats[1], tkVector<3>(-1, 0, 2))});
      tk_MultiplateProblem problem = layoutOf(params, poseOnly);
      const long expectedN = (poseOnly ? 6 : tfCameraParamCount(model)) * 4 + 3 * 2 + 6 * 2;
      ASSERT_EQ(problem.size(), expectedN);
      std::vector<double> x(static_cast<std::size_t>(problem.size()));
      tfPackMultiplate(params, problem, x.data());
      EXPECT_EQ(problem.cameraUnitValIndices, (std::vector<int>{0, 1, 2, 3}));
      EXPECT_EQ(problem.arbitraryUnitValIndices, (std::vector<int>{3, 1}));
      EXPECT_DOUBLE_EQ(x[static_cast<std::size_t>(problem.zStart())], 1.0);
      EXPECT_DOUBLE_EQ(x[static_cast<std::size_t>(problem.zStart()) + 3], -1.0);
      tk_MultiplateValues values;
      tfUnpackMultiplate(problem, x.data(), values);
      for (std::size_t c = 0; c < 4; ++c) {
        expectPoseNear(tkXform<3>(values.cameras[c].rotation, values.cameras[c].trans),
                       cameras[c].xform(), 1e-15);
        const tk_IntrinsicValues a = values.cameras[c].intrinsic;
        const tk_IntrinsicValues b =
            tfIntrinsicValues(params.physicalAtZEquals1FromImageParams()[c]);
        EXPECT_EQ(a.sx, b.sx);
        EXPECT_EQ(a.skew, b.skew);
        EXPECT_EQ(a.ty, b.ty);
        EXPECT_EQ(a.cx, b.cx);
        for (int k = 0; k < 4; ++k)
          EXPECT_EQ(a.lens[k], b.lens[k]);
      }
      for (std::size_t j = 0; j < 3; ++j)
        expectPoseNear(values.zPoses[j], params.calibrationPlatePoses()[j].xform(), 1e-15);
      for (std::size_t j = 0; j < 2; ++j)
        expectPoseNear(values.aPoses[j].xform(), params.arbitraryCalibrationPlatePoses()[j].xform(),
                       1e-15);
    }
  }
}

// One camera, one Z-rotation placement, no arbitrary one: the single-camera layout (N = nI).
TEST(MultiplatePacking, OneCameraOnePlacementIsTheSingleCameraBlock) {
  for (Model model : {tk2XformCalib2Defs::eNoDistortion, tk2XformCalib2Defs::eRadial,
                      tk2XformCalib2Defs::eSineTan}) {
    auto params = tfRigSceneTruth(1, model);
    params.calibrationPlatePoses({tk3ZRotationXform()});
    params.arbitraryCalibrationPlatePoses({});
    tk_MultiplateProblem problem = layoutOf(params, false);
    ASSERT_EQ(problem.size(), tfCameraParamCount(model));
    std::vector<double> x(static_cast<std::size_t>(problem.size()));
    std::vector<double> single(static_cast<std::size_t>(problem.size()));
    tfPackMultiplate(params, problem, x.data());
    tkCameraCalibrationParams camera;
    camera.physicalAtZEquals1FromImageParams(params.physicalAtZEquals1FromImageParams()[0]);
    camera.cameraPoseInverse(params.cameraPoseInverses()[0]);
    tfPackCameraParams(camera, single.data());
    EXPECT_EQ(x, single);
  }
}

}  // namespace
