// Poses under known intrinsics: tk2XformCalib2::extrinsicXform (one planar view) and
// tf3DComputePose (planar or non-planar points), on exact and noisy data. Bad input: see
// tests/reliability.
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
#include <utility>

namespace {

using Defs = tk2XformCalib2Defs;
using Pairs3D = std::vector<std::pair<tkVector<2>, tkVector<3>>>;

tk2XformCalib2 cameraOf(const tkCalib2ParamsIntrinsic& intrinsic) {
  tk2XformCalib2 camera;
  camera.init(intrinsic, tkCalib2ParamsExtrinsic());
  return camera;
}

// Rotation to 1e-10 and translation to 1e-10 relative: "exact" for 9-decimal image points.
::testing::AssertionResult PoseExact(const tkXform<3>& actual, const tkXform<3>& expected) {
  return PosesNearRelative(actual, expected, 1e-10, 1e-10);
}

// Image points of points at height z above the plate (plate frame) under a camera and a
// camera-from-plate pose.
Pairs3D imagePairs(const tk2XformCalib2& camera, const tkXform<3>& pose,
                   const std::vector<tkVector<3>>& points) {
  Pairs3D pairs;
  for (const tkVector<3>& P : points) {
    tk2XformCalib2 shifted = camera;  // the plane through P
    shifted.extrinsicXform(pose * tkXform<3>(tkMatrix<3>::identity(), tkVector<3>(0, 0, P.z())));
    pairs.emplace_back(shifted.invMapPoint(tkVector<2>(P.x(), P.y())), P);
  }
  return pairs;
}

std::vector<tkPair<tkVector<2>>> planar(const Pairs3D& pairs) {
  std::vector<tkPair<tkVector<2>>> out;
  for (const auto& pair : pairs)
    out.emplace_back(pair.first, tkVector<2>(pair.second.x(), pair.second.y()));
  return out;
}

std::vector<tkVector<3>> plateGrid() {
  std::vector<tkVector<3>> points;
  for (const tkVector<2>& p : scenes::plateGrid())
    points.emplace_back(p.x(), p.y(), 0.0);
  return points;
}

}  // namespace

// ---- extrinsicXform: the pose of one plate view ----------------------------------------------

class PlanarViewPose : public ::testing::TestWithParam<const char*> {};

TEST_P(PlanarViewPose, RecoversEveryViewOfTheDataSet) {
  const tkPointFile file = loadDataSet(GetParam());
  const tkAreaScanTruth truth = tfParseAreaScanTruth(file);
  const auto views = tfPlateViews(file, 0);
  const tk2XformCalib2 camera = cameraOf(truth.cameras[0].intrinsic());
  // Noisy points: one view's pose is known to about σ / (focal length · √n).
  const double tolerance = truth.noiseSigmaPx > 0.0 ? 1e-3 : 1e-10;
  for (std::size_t v = 0; v < views.size(); ++v)
    EXPECT_TRUE(PosesNearRelative(camera.extrinsicXform(views[v]),
                                  truth.cameras[0].worldToCamera * truth.plateToWorld[v], tolerance,
                                  tolerance))
        << "view " << v;
}

INSTANTIATE_TEST_SUITE_P(EveryModel, PlanarViewPose,
                         ::testing::Values("single-radial-exact.json", "single-none-exact.json",
                                           "single-sinetan-exact.json",
                                           "single-sinetan-noisy.json"));

TEST(PlanarViewPoseSmall, FourPointsAndAPlateSeenFromBelowTheHorizon) {
  const tk2XformCalib2 camera = cameraOf(scenes::intrinsicFor(Defs::eSineTan));
  const tkXform<3> pose = scenes::cameraAbovePlate();
  const auto four =
      imagePairs(camera, pose, {{-90, -60, 0}, {80, -70, 0}, {70, 90, 0}, {-60, 50, 0}});
  EXPECT_TRUE(PoseExact(camera.extrinsicXform(planar(four)), pose));
  // A strongly tilted plate (60 degrees) far off the optical axis.
  const tkXform<3> tilted(tk3AngleVect(1.05, -0.3, 2.0).matrix(), tkVector<3>(40.0, -30.0, 300.0));
  EXPECT_TRUE(
      PoseExact(camera.extrinsicXform(planar(imagePairs(camera, tilted, plateGrid()))), tilted));
  // An image point beyond the sine-tangent lens field raises its status.
  auto beyond = planar(imagePairs(camera, pose, plateGrid()));
  beyond[10].first = tkVector<2>(1e7, 1e7);  // no ray angle below 90 degrees reaches it
  EXPECT_THROW(camera.extrinsicXform(beyond), tkProcedureFailure);
}

// ---- tf3DComputePose -------------------------------------------------------------------------

TEST(ComputePose, PointsOfSeveralPlanesOrOfAnyPlaneInSpaceGiveTheCameraPose) {
  for (const char* name : {"single-radial-exact.json", "single-radial-noisy.json"}) {
    SCOPED_TRACE(name);
    const tkPointFile file = loadDataSet(name);
    const tkAreaScanTruth truth = tfParseAreaScanTruth(file);
    const tk2XformCalib2 camera = cameraOf(truth.cameras[0].intrinsic());
    const bool noisy = truth.noiseSigmaPx > 0.0;
    Pairs3D all, view5;  // every placement's points in the world frame; placement 5's alone
    for (std::size_t j = 0; j < file.placements.size(); ++j)
      for (const tkPointRow& row : file.placements[j].points[0]) {
        all.emplace_back(row.image, truth.plateToWorld[j].mapPoint(row.physical));
        if (j == 5)
          view5.push_back(all.back());  // a tilted plane that is not Z = 0
      }
    tk3DComputePoseResult result;
    tf3DComputePose(all, camera, tk3DComputePoseParams(), result);
    if (!noisy) {
      EXPECT_TRUE(PoseExact(result.pose().xform(), truth.cameras[0].worldToCamera));
      EXPECT_LT(result.rms(), 1e-9);
      EXPECT_LT(result.largestResidual(), 2e-9);
      tf3DComputePose(view5, camera, tk3DComputePoseParams(), result);
      EXPECT_TRUE(PoseExact(result.pose().xform(), truth.cameras[0].worldToCamera));
      continue;
    }
    // Six pose values fitted to 2n coordinates of deviation σ.
    const double n = static_cast<double>(all.size());
    const double expected = truth.noiseSigmaPx * std::sqrt(2.0 * (1.0 - 6.0 / (2.0 * n)));
    EXPECT_NEAR(result.rms(), expected, 0.03 * expected);
    EXPECT_TRUE(
        PosesNearRelative(result.pose().xform(), truth.cameras[0].worldToCamera, 3e-5, 3e-5));
  }
}

TEST(ComputePose, FewPointsOffAPlaneUnderTheSineTangentLens) {
  const tk2XformCalib2 sineTan = cameraOf(scenes::intrinsicFor(Defs::eSineTan));
  const tkXform<3> pose(tk3AngleVect(2.8, 0.2, -0.4).matrix(), tkVector<3>(15.0, -25.0, 420.0));
  const Pairs3D pairs = imagePairs(
      sineTan, pose,
      {{-80, -60, 0}, {70, -50, 30}, {60, 80, -20}, {-50, 70, 10}, {0, 0, 45}, {20, -30, -35}});
  tk3DComputePoseResult result;
  tf3DComputePose(pairs, sineTan, tk3DComputePoseParams(), result);
  EXPECT_TRUE(PoseExact(result.pose().xform(), pose));
  // Four points, coplanar or not, suffice as well.
  tf3DComputePose({pairs[0], pairs[1], pairs[2], pairs[3]}, sineTan, tk3DComputePoseParams(),
                  result);
  EXPECT_LT(result.rms(), 1e-9);
}

TEST(ComputePose, ZeroIterationsKeepTheClosedFormWhichIsExactForPinholeData) {
  const tk2XformCalib2 pinhole = cameraOf(scenes::intrinsicFor(Defs::eNoDistortion));
  const tkXform<3> pose = scenes::cameraAbovePlate();
  tk3DComputePoseParams params;
  params.maxIterations(0);
  tk3DComputePoseResult result;
  tf3DComputePose(imagePairs(pinhole, pose, plateGrid()), pinhole, params, result);
  EXPECT_TRUE(XformsNear(result.pose().xform(), pose, 1e-8));
  EXPECT_THROW(params.maxIterations(-1), tkInvariantFailure);
}
