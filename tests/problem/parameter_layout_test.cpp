// The parameter layout: sizes and index functions of its three options, block numbering, and the
// packing round trip of every pose and intrinsic value.
#include "ccal/problem/parameter_layout.h"
#include "multicam/rig_scene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using ccal::detail::CameraOffset;
using ccal::detail::ParameterLayout;
using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;
using Kind = ParameterLayout::Kind;

// Hand-counted: 3 cameras, Z-rotation placements 0..3 (blocks for 1..3), 2 arbitrary placements.
TEST(ParameterLayout, IndexFunctionsMatchHandCountedSizesForEveryOption) {
  struct Case {
    ParameterLayout layout;
    long cameraBlock, size;
  };
  const Case cases[] = {
      {ParameterLayout::calibration(tk2XformCalib2Defs::eNoDistortion, 3, 4, 2), 11, 33 + 9 + 12},
      {ParameterLayout::calibration(tk2XformCalib2Defs::eRadial, 3, 4, 2), 14, 42 + 9 + 12},
      {ParameterLayout::calibration(tk2XformCalib2Defs::eSineTan, 3, 4, 2), 17, 51 + 9 + 12},
      {ParameterLayout::poseOnly(tk2XformCalib2Defs::eSineTan, 3, 4, 2), 6, 18 + 9 + 12},
  };
  for (const Case& c : cases) {
    const ParameterLayout& l = c.layout;
    SCOPED_TRACE(c.cameraBlock);
    EXPECT_EQ(l.cameraBlockSize(), c.cameraBlock);
    EXPECT_EQ(l.size(), c.size);
    EXPECT_EQ(l.cameraStart(2), 2 * c.cameraBlock);
    EXPECT_EQ(l.zRotationStart(1), 3 * c.cameraBlock);
    EXPECT_EQ(l.zRotationStart(3), 3 * c.cameraBlock + 6);
    EXPECT_EQ(l.arbitraryStart(0), 3 * c.cameraBlock + 9);
    EXPECT_EQ(l.arbitraryStart(1), 3 * c.cameraBlock + 15);
    EXPECT_EQ(l.cameraPoseOffset(), l.poseOnly() ? 0 : 5);
    ASSERT_EQ(l.blockCount(), 3 + 3 + 2);
    // Blocks tile the column in order, and blockOf inverts blockStart.
    long next = 0;
    for (long b = 0; b < l.blockCount(); ++b) {
      EXPECT_EQ(l.blockStart(b), next) << "block " << b;
      EXPECT_EQ(l.blockIndex(l.block(b)), b);
      for (long i = next; i < next + l.blockSize(b); ++i) {
        EXPECT_EQ(l.blockOf(i).kind, l.block(b).kind) << i;
        EXPECT_EQ(l.blockOf(i).index, l.block(b).index) << i;
      }
      next += l.blockSize(b);
    }
    EXPECT_EQ(next, l.size());
    EXPECT_EQ(l.block(3).kind, Kind::kZRotation);
    EXPECT_EQ(l.block(3).index, 1);
    EXPECT_EQ(l.block(7).kind, Kind::kArbitrary);
    EXPECT_EQ(l.block(7).index, 1);
    EXPECT_EQ(l.blockOf(-1).kind, Kind::kNone);
    EXPECT_EQ(l.blockOf(l.size()).kind, Kind::kNone);
    const std::vector<bool> flags = l.blockStartFlags();
    ASSERT_EQ(static_cast<long>(flags.size()), l.size());
    long starts = 0;
    for (long i = 0; i < l.size(); ++i)
      starts += flags[static_cast<std::size_t>(i)] ? 1 : 0;
    EXPECT_EQ(starts, l.blockCount());
  }
  // The single-camera option: one block, the offsets of CameraOffset.
  for (Model model : {tk2XformCalib2Defs::eNoDistortion, tk2XformCalib2Defs::eRadial,
                      tk2XformCalib2Defs::eSineTan}) {
    const ParameterLayout single = ParameterLayout::singleCamera(model);
    EXPECT_EQ(single.blockCount(), 1);
    EXPECT_EQ(single.size(), ParameterLayout::calibrationBlockSize(model));
    EXPECT_EQ(single.size(), model == tk2XformCalib2Defs::eSineTan  ? CameraOffset::kMaxSize
                             : model == tk2XformCalib2Defs::eRadial ? CameraOffset::kLensFirst + 1
                                                                    : CameraOffset::kCenterX);
  }
  // Placement 0 has no block; no placements at all gives no Z blocks.
  EXPECT_EQ(ParameterLayout::calibration(tk2XformCalib2Defs::eRadial, 2, 1, 0).size(), 28);
  EXPECT_EQ(ParameterLayout::calibration(tk2XformCalib2Defs::eRadial, 2, 0, 0).size(), 28);
  EXPECT_THROW(ParameterLayout::calibration(tk2XformCalib2Defs::eRadial, -1, 0, 0),
               tkInvariantFailure);
}

void expectPoseNear(const tkXform<3>& a, const tkXform<3>& b, double tol) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(a.matrix().element(r, c), b.matrix().element(r, c), tol);
    EXPECT_NEAR(a.trans()[r], b.trans()[r], tol);
  }
}

// Rotations of ±π/2 and quaternions whose largest component is each of the four.
TEST(ParameterLayout, PackThenUnpackReproducesEveryPoseAndIntrinsicValue) {
  const double halfPi = 1.5707963267948966;
  const tk3Quaternion quats[4] = {
      tk3Quaternion(0.9, 0.1, -0.2, 0.1), tk3Quaternion(0.1, -0.9, 0.2, 0.1),
      tk3Quaternion(0.2, 0.1, 0.9, -0.3), tk3Quaternion(-0.1, 0.3, 0.2, -0.9)};
  for (Model model : {tk2XformCalib2Defs::eNoDistortion, tk2XformCalib2Defs::eRadial,
                      tk2XformCalib2Defs::eSineTan}) {
    for (bool poseOnly : {false, true}) {
      SCOPED_TRACE(poseOnly ? "pose only" : "calibration");
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
      ParameterLayout layout = tfRigLayout(params, poseOnly);
      std::vector<double> x(static_cast<std::size_t>(layout.size()));
      layout.pack(params, x.data());
      EXPECT_EQ(layout.cameraUnitValIndices(), (std::vector<int>{0, 1, 2, 3}));
      EXPECT_EQ(layout.arbitraryUnitValIndices(), (std::vector<int>{3, 1}));
      EXPECT_DOUBLE_EQ(x[static_cast<std::size_t>(layout.zRotationStart(1))], 1.0);
      EXPECT_DOUBLE_EQ(x[static_cast<std::size_t>(layout.zRotationStart(2))], -1.0);
      std::vector<double> heights;
      for (const tk3ZRotationXform& pose : params.calibrationPlatePoses())
        heights.push_back(pose.trans().z());
      std::vector<tk_IntrinsicValues> fixed;
      for (const auto& intrinsic : params.physicalAtZEquals1FromImageParams())
        fixed.push_back(tfIntrinsicValues(intrinsic));
      tk_MultiplateValues values;
      layout.unpack(x.data(), heights, fixed, values);
      for (std::size_t c = 0; c < 4; ++c) {
        expectPoseNear(tkXform<3>(values.cameras[c].rotation, values.cameras[c].trans),
                       cameras[c].xform(), 1e-15);
        const tk_IntrinsicValues a = values.cameras[c].intrinsic;
        const tk_IntrinsicValues& b = fixed[c];
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

// One camera and placement 0 only: the rig column is the single-camera column, value for value,
// and the single-camera packing round-trips the camera.
TEST(ParameterLayout, OneCameraRigColumnIsTheSingleCameraColumn) {
  for (Model model : {tk2XformCalib2Defs::eNoDistortion, tk2XformCalib2Defs::eRadial,
                      tk2XformCalib2Defs::eSineTan}) {
    auto params = tfRigSceneTruth(1, model);
    params.calibrationPlatePoses({tk3ZRotationXform()});
    params.arbitraryCalibrationPlatePoses({});
    ParameterLayout rig = tfRigLayout(params, false);
    ParameterLayout single = ParameterLayout::singleCamera(model);
    ASSERT_EQ(rig.size(), single.size());
    std::vector<double> x(static_cast<std::size_t>(rig.size()));
    std::vector<double> y(x.size());
    rig.pack(params, x.data());
    tkCameraCalibrationParams camera;
    camera.physicalAtZEquals1FromImageParams(params.physicalAtZEquals1FromImageParams()[0]);
    camera.cameraPoseInverse(params.cameraPoseInverses()[0]);
    single.packCamera(camera, 0, y.data());
    EXPECT_EQ(x, y);
    EXPECT_EQ(single.cameraUnitValIndices(), rig.cameraUnitValIndices());
    tk_CameraValues values;
    single.unpackCamera(y.data(), 0, nullptr, values);
    const tkCameraCalibrationParams back = tfCameraParamsFromValues(values);
    expectPoseNear(back.cameraPoseInverse().xform(), camera.cameraPoseInverse().xform(), 1e-15);
    EXPECT_EQ(back.physicalAtZEquals1FromImageParams().lensDistParams(),
              camera.physicalAtZEquals1FromImageParams().lensDistParams());
  }
}

}  // namespace
