// Poses under known intrinsics: tk2XformCalib2::extrinsicXform (one planar view) and
// tf3DComputePose (planar or non-planar points).
#include <gtest/gtest.h>
#include <tk/exception.h>
#include <tk/failure.h>
#include <tk/pose3d.h>
#include <tk/xform_calib2.h>

#include "support/area_scan_truth.h"
#include "support/camera_scenes.h"
#include "support/data_sets.h"
#include "support/geometry_expect.h"

#include <cmath>
#include <limits>
#include <utility>

namespace {

using Defs = tk2XformCalib2Defs;
using Pairs3D = std::vector<std::pair<tkVector<2>, tkVector<3>>>;

// The calibrated transform of a data set's camera 0 (identity extrinsic part).
tk2XformCalib2 trueCamera(const tkAreaScanTruth& truth) {
  tk2XformCalib2 camera;
  camera.init(truth.cameras[0].intrinsic(), tkCalib2ParamsExtrinsic());
  return camera;
}

// Rotation to 1e-10 and translation to 1e-10 relative: "exact" for 9-decimal image points.
::testing::AssertionResult PoseExact(const tkXform<3>& actual, const tkXform<3>& expected) {
  return PosesNearRelative(actual, expected, 1e-10, 1e-10);
}

// Image points of plate points (Z = 0 of the plate) under a camera and a camera-from-plate pose.
std::vector<tkPair<tkVector<2>>> imagePairs(const tk2XformCalib2& camera, const tkXform<3>& pose,
                                            const std::vector<tkVector<2>>& platePoints) {
  tk2XformCalib2 posed = camera;
  posed.extrinsicXform(pose);
  std::vector<tkPair<tkVector<2>>> pairs;
  for (const tkVector<2>& plate : platePoints)
    pairs.emplace_back(posed.invMapPoint(plate), plate);
  return pairs;
}

}  // namespace

// ---- extrinsicXform: the pose of each plate view of the data sets ---------------------------

class PlanarViewPose : public ::testing::TestWithParam<const char*> {};

TEST_P(PlanarViewPose, RecoversEveryViewOfTheExactDataSet) {
  const tkPointFile file = loadDataSet(GetParam());
  const tkAreaScanTruth truth = tfParseAreaScanTruth(file);
  const auto views = tfPlateViews(file, 0);
  const tk2XformCalib2 camera = trueCamera(truth);
  for (std::size_t v = 0; v < views.size(); ++v)
    EXPECT_TRUE(PoseExact(camera.extrinsicXform(views[v]),
                          truth.cameras[0].worldToCamera * truth.plateToWorld[v]))
        << "view " << v;
}

INSTANTIATE_TEST_SUITE_P(EveryModel, PlanarViewPose,
                         ::testing::Values("single-radial-exact.json", "single-none-exact.json",
                                           "single-sinetan-exact.json"));

TEST(PlanarViewPoseSmall, FourPointsAndAPlateSeenFromBelowTheHorizon) {
  const tk2XformCalib2 camera = [] {
    tk2XformCalib2 c;
    c.init(scenes::intrinsicFor(Defs::eSineTan), tkCalib2ParamsExtrinsic());
    return c;
  }();
  const tkXform<3> pose = scenes::cameraAbovePlate();
  const auto four =
      imagePairs(camera, pose, {{-90.0, -60.0}, {80.0, -70.0}, {70.0, 90.0}, {-60.0, 50.0}});
  EXPECT_TRUE(PoseExact(camera.extrinsicXform(four), pose));
  // A strongly tilted plate (60 degrees) far off the optical axis.
  const tkXform<3> tilted(tk3AngleVect(1.05, -0.3, 2.0).matrix(), tkVector<3>(40.0, -30.0, 300.0));
  EXPECT_TRUE(
      PoseExact(camera.extrinsicXform(imagePairs(camera, tilted, scenes::plateGrid())), tilted));
}

TEST(PlanarViewPoseRejects, TooFewCollinearAndNonFiniteInput) {
  tk2XformCalib2 camera;
  camera.init(scenes::intrinsicFor(Defs::eRadial), tkCalib2ParamsExtrinsic());
  const auto pairs = imagePairs(camera, scenes::cameraAbovePlate(), scenes::plateGrid());
  EXPECT_THROW(camera.extrinsicXform({pairs.begin(), pairs.begin() + 3}), tkInvariantFailure);
  std::vector<tkPair<tkVector<2>>> row(pairs.begin(), pairs.begin() + 9);  // one grid column
  EXPECT_THROW(camera.extrinsicXform(row), tkMathError::Singular);
  auto notFinite = pairs;
  notFinite[4].second = tkVector<2>(std::numeric_limits<double>::infinity(), 0.0);
  EXPECT_THROW(camera.extrinsicXform(notFinite), tkInvariantFailure);
  tk2XformCalib2 telecentric;
  telecentric.init(scenes::intrinsicFor(Defs::eTelecentric), tkCalib2ParamsExtrinsic());
  EXPECT_THROW(telecentric.extrinsicXform(pairs), tkInvariantFailure);
  // An image point beyond the sine-tangent lens field raises its status.
  tk2XformCalib2 sineTan;
  sineTan.init(scenes::intrinsicFor(Defs::eSineTan), tkCalib2ParamsExtrinsic());
  auto beyond = imagePairs(sineTan, scenes::cameraAbovePlate(), scenes::plateGrid());
  beyond[10].first = tkVector<2>(1e7, 1e7);  // no ray angle below 90 degrees reaches it
  EXPECT_THROW(sineTan.extrinsicXform(beyond), tkProcedureFailure);
}

// ---- tf3DComputePose -------------------------------------------------------------------------

class ComputePose : public ::testing::Test {
 protected:
  void SetUp() override {
    const tkPointFile file = loadDataSet("single-radial-exact.json");
    truth = tfParseAreaScanTruth(file);
    camera = trueCamera(truth);
    // Every placement's points in the world frame: several planes.
    for (std::size_t j = 0; j < file.placements.size(); ++j) {
      planes.emplace_back();
      for (const tkPointRow& row : file.placements[j].points[0])
        planes.back().emplace_back(row.image, truth.plateToWorld[j].mapPoint(row.physical));
      worldPairs.insert(worldPairs.end(), planes.back().begin(), planes.back().end());
    }
  }
  tkAreaScanTruth truth;
  tk2XformCalib2 camera;
  Pairs3D worldPairs;
  std::vector<Pairs3D> planes;  // per placement
};

TEST_F(ComputePose, NonPlanarPointsOrPointsOfAnyPlaneInSpaceGiveTheCameraPose) {
  tk3DComputePoseResult result;
  tf3DComputePose(worldPairs, camera, tk3DComputePoseParams(), result);
  EXPECT_TRUE(PoseExact(result.pose().xform(), truth.cameras[0].worldToCamera));
  EXPECT_LT(result.rms(), 1e-9);
  EXPECT_LT(result.largestResidual(), 2e-9);
  // View 5's plate in world coordinates: a tilted plane that is not Z = 0.
  tf3DComputePose(planes[5], camera, tk3DComputePoseParams(), result);
  EXPECT_TRUE(PoseExact(result.pose().xform(), truth.cameras[0].worldToCamera));
}

TEST_F(ComputePose, FewPointsOffAPlaneUnderTheSineTangentLens) {
  tk2XformCalib2 sineTan;
  sineTan.init(scenes::intrinsicFor(Defs::eSineTan), tkCalib2ParamsExtrinsic());
  const tkXform<3> pose(tk3AngleVect(2.8, 0.2, -0.4).matrix(), tkVector<3>(15.0, -25.0, 420.0));
  tk2XformCalib2 posed = sineTan;
  posed.extrinsicXform(pose);
  const std::vector<tkVector<3>> points = {{-80, -60, 0}, {70, -50, 30}, {60, 80, -20},
                                           {-50, 70, 10}, {0, 0, 45},    {20, -30, -35}};
  Pairs3D pairs;
  for (const tkVector<3>& P : points) {
    // Image of a 3-D point: shift the plane so that P lies on it.
    tk2XformCalib2 shifted = sineTan;
    shifted.extrinsicXform(pose * tkXform<3>(tkMatrix<3>::identity(), tkVector<3>(0, 0, P.z())));
    pairs.emplace_back(shifted.invMapPoint(tkVector<2>(P.x(), P.y())), P);
  }
  tk3DComputePoseResult result;
  tf3DComputePose(pairs, sineTan, tk3DComputePoseParams(), result);
  EXPECT_TRUE(PoseExact(result.pose().xform(), pose));
  // Four coplanar points suffice as well.
  tf3DComputePose({pairs[0], pairs[1], pairs[2], pairs[3]}, sineTan, tk3DComputePoseParams(),
                  result);
  EXPECT_LT(result.rms(), 1e-9);
}

TEST_F(ComputePose, ZeroIterationsKeepTheClosedFormWhichIsExactForPinholeData) {
  tk2XformCalib2 pinhole;
  pinhole.init(scenes::intrinsicFor(Defs::eNoDistortion), tkCalib2ParamsExtrinsic());
  const tkXform<3> pose = scenes::cameraAbovePlate();
  Pairs3D pairs;
  for (const auto& pair : imagePairs(pinhole, pose, scenes::plateGrid()))
    pairs.emplace_back(pair.first, tkVector<3>(pair.second.x(), pair.second.y(), 0.0));
  tk3DComputePoseParams params;
  params.maxIterations(0);
  tk3DComputePoseResult result;
  tf3DComputePose(pairs, pinhole, params, result);
  EXPECT_TRUE(XformsNear(result.pose().xform(), pose, 1e-8));
  EXPECT_THROW(params.maxIterations(-1), tkInvariantFailure);
}

TEST_F(ComputePose, RejectsDegenerateInputAndLeavesTheResult) {
  const tk3DComputePoseResult untouched(
      tk3QuaternionXform(tk3Quaternion(), tkVector<3>(1.0, 2.0, 3.0)), 5.0, 6.0);
  tk3DComputePoseResult result = untouched;
  const tk3DComputePoseParams params;
  EXPECT_THROW(
      tf3DComputePose({worldPairs.begin(), worldPairs.begin() + 3}, camera, params, result),
      tkInvariantFailure);
  Pairs3D collinear(worldPairs.begin(), worldPairs.begin() + 20);  // one row of a plate
  EXPECT_THROW(tf3DComputePose(collinear, camera, params, result), tkMathError::Singular);
  Pairs3D notFinite = worldPairs;
  notFinite[7].second = tkVector<3>(0.0, std::numeric_limits<double>::quiet_NaN(), 0.0);
  EXPECT_THROW(tf3DComputePose(notFinite, camera, params, result), tkInvariantFailure);
  tk2XformCalib2 telecentric;
  telecentric.init(scenes::intrinsicFor(Defs::eTelecentric), tkCalib2ParamsExtrinsic());
  EXPECT_THROW(tf3DComputePose(worldPairs, telecentric, params, result), tkInvariantFailure);
  EXPECT_TRUE(XformsNear(result.pose().xform(), untouched.pose().xform(), 0.0));
  EXPECT_EQ(result.rms(), 5.0);
}
