// The closed-form (DLT) camera estimate.
#include <ccal/camera_calibration_coarse.h>
#include <gtest/gtest.h>
#include <tk/angle_vect.h>
#include <tk/random_uniform.h>

#include "ccal/single/projection_matrix.h"
#include "support/geometry_expect.h"

#include <cmath>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<tkVector<2>, tkVector<3>>>;

// A pinhole camera without distortion and skew whose principal point is the centroid of the image
// points it sees: the model the estimate recovers exactly. The positions at Z = 1 are drawn first
// and centred, then placed at depths 400..800 (so the physical points are not coplanar).
class CoarseEstimate : public ::testing::Test {
 protected:
  void SetUp() override {
    tkRandomUniform random(3);
    std::vector<tkVector<2>> positions;
    tkVector<2> mean;
    for (int i = 0; i < 40; ++i) {
      positions.emplace_back(random.next(-0.4, 0.4), random.next(-0.3, 0.3));
      mean += positions.back() / 40.0;
    }
    const tkMatrix<3> R = tk3AngleVect(0.3, -0.2, 2.0).matrix();
    pose_ = tk3QuaternionXform(tkXform<3>(R, tkVector<3>(15.0, -40.0, 600.0)));
    const tkXform<3> physicalFromCamera = pose_.inverse().xform();
    for (const tkVector<2>& position : positions) {
      const tkVector<2> q = position - mean;
      const double depth = random.next(400.0, 800.0);
      const tkVector<3> P = physicalFromCamera.mapPoint(tkVector<3>(q.x(), q.y(), 1.0) * depth);
      const tkVector<2> image(kFx * q.x() + kU0, kFy * q.y() + kV0);
      pairs_.push_back({image, P});
    }
  }
  static constexpr double kFx = 2400.0, kFy = 2380.0, kU0 = 1000.0, kV0 = 700.0;
  tk3QuaternionXform pose_;
  Pairs pairs_;
};

TEST_F(CoarseEstimate, NoiseFreePinholeCameraIsRecovered) {
  tkCameraCalibrationParams result;
  tfCameraCalibrationParamsCoarse(tk2XformCalib2Defs::eNoDistortion, pairs_, result);
  EXPECT_TRUE(XformsNear(result.cameraPoseInverse().xform(), pose_.xform(), 1e-9));
  const tkPhysicalAtZEquals1FromImageParams& intrinsic = result.physicalAtZEquals1FromImageParams();
  EXPECT_NEAR(intrinsic.cameraScale().first * kFx, 1.0, 1e-10);
  EXPECT_NEAR(intrinsic.cameraScale().second * kFy, 1.0, 1e-10);
  EXPECT_EQ(intrinsic.cameraSkew(), 0.0);
  // The principal point (the image of the optical axis) is at the centroid of the image points.
  EXPECT_TRUE(
      VectorsNear(intrinsic.invWarpPoint(tkVector<2>(0.0, 0.0)), tkVector<2>(kU0, kV0), 1e-7));
}

TEST_F(CoarseEstimate, ScalingThePhysicalFrameScalesOnlyTheTranslation) {
  tkCameraCalibrationParams reference, scaled;
  tfCameraCalibrationParamsCoarse(tk2XformCalib2Defs::eRadial, pairs_, reference);
  Pairs micrometres = pairs_;
  for (auto& pair : micrometres)
    pair.second = pair.second * 1000.0;
  tfCameraCalibrationParamsCoarse(tk2XformCalib2Defs::eRadial, micrometres, scaled);
  EXPECT_TRUE(MatricesNear(scaled.cameraPoseInverse().xform().matrix(),
                           reference.cameraPoseInverse().xform().matrix(), 1e-12));
  EXPECT_TRUE(VectorsNear(scaled.cameraPoseInverse().trans() / 1000.0,
                          reference.cameraPoseInverse().trans(), 1e-9));
  const tkPhysicalAtZEquals1FromImageParams& a = scaled.physicalAtZEquals1FromImageParams();
  const tkPhysicalAtZEquals1FromImageParams& b = reference.physicalAtZEquals1FromImageParams();
  EXPECT_TRUE(XformsNear(a.xform(), b.xform(), 1e-12));
}

// The sign of the null vector is arbitrary: m and −m (whose rotation part has determinant −1)
// must give the same camera.
TEST_F(CoarseEstimate, NegativeDeterminantIsTurnedIntoTheSameProperPose) {
  // The frame the estimate works in: principal point at the origin, camera at distance about 1.
  const tk2XformLinear N(tkMatrix<2>(1e-3, 0.0, 0.0, 1e-3), tkVector<2>(-kU0 * 1e-3, -kV0 * 1e-3));
  const double s = 1.0 / 600.0;
  double m[12];
  tfEstimateProjectionMatrix(pairs_, N, s, m);
  double negated[12];
  for (int i = 0; i < 12; ++i)
    negated[i] = -m[i];
  const tkMatrix<3> rows(m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]);
  const tkMatrix<3> negatedRows = rows * -1.0;
  ASSERT_LT(rows.determinant() * negatedRows.determinant(), 0.0);

  const tk_ProjectionSplit a = tfSplitProjectionMatrix(m);
  const tk_ProjectionSplit b = tfSplitProjectionMatrix(negated);
  const tkXform<3> expected(pose_.xform().matrix(), pose_.trans() * s);
  EXPECT_TRUE(XformsNear(a.pose.xform(), expected, 1e-10));
  EXPECT_TRUE(XformsNear(b.pose.xform(), expected, 1e-10));
  EXPECT_NEAR(b.pose.xform().matrix().determinant(), 1.0, 1e-14);
  EXPECT_EQ(a.c, b.c);
}

}  // namespace
