// Rig parameters: projection and conversion.
#include "rig_scene.h"

#include <ccal/camera_calibration_params.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

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

}  // namespace
