// How the fitted camera follows the client frame: turning and moving the plate points in their
// plane changes only the pose and the motion, and the alignment to the scanner motion is such a
// turn that keeps every image.
#include <gtest/gtest.h>
#include <proc/clnsc_xformLineScan.h>

#include "support/geometry_expect.h"
#include "support/line_scan_sets.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

class LineScanFrames : public ::testing::Test {
 protected:
  void SetUp() override { set_ = loadLineScanSet("linescan-exact.json"); }

  clnsc_lineScanCameraUnconstrainedCalibrationParams fit(
      const std::vector<tkVector<2>>& physical) const {
    clnsc_xformLineScan record;
    clnsc_xformLineScan_construct(&record);
    const tkProcPointList imageList(set_.image), physicalList(physical);
    EXPECT_EQ(clnsc_xformLineScan_initPoints(&record, imageList.get(), physicalList.get(), 1,
                                             set_.distance),
              0);
    return record.camera;
  }

  tkLineScanSet set_;
};

tkVector<3> translationOf(const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera) {
  const cmath_vect3& T = camera.poseInverseTranslation;
  return tkVector<3>(T.x, T.y, T.z);
}

TEST_F(LineScanFrames, TurningAndMovingThePlateChangesOnlyPoseAndMotion) {
  // Client coordinates P' = A·P + t, A a turn about Z by 0.7 rad.
  const double c = std::cos(0.7), s = std::sin(0.7);
  const tkMatrix<3> A(c, -s, 0, s, c, 0, 0, 0, 1);
  const tkVector<3> t(12.0, -30.0, 0.0);
  std::vector<tkVector<2>> moved;
  for (const tkVector<2>& p : set_.physical)
    moved.emplace_back(c * p.x() - s * p.y() + t.x(), s * p.x() + c * p.y() + t.y());
  const clnsc_lineScanCameraUnconstrainedCalibrationParams original = fit(set_.physical);
  const clnsc_lineScanCameraUnconstrainedCalibrationParams turned = fit(moved);

  // Expected: R' = R·Aᵀ, T' = T − R·Aᵀ·t, M' = A·M, the lens unchanged.
  const tkMatrix<3> RAt = cameraRotation(original) * A.transpose();
  EXPECT_TRUE(MatricesNear(cameraRotation(turned), RAt, 1e-12));
  EXPECT_TRUE(VectorsNear(translationOf(turned), translationOf(original) - RAt * t, 1e-9));
  const cmath_vect3& M = original.scannerMotion;
  EXPECT_NEAR(turned.scannerMotion.x, c * M.x - s * M.y, 1e-15);
  EXPECT_NEAR(turned.scannerMotion.y, s * M.x + c * M.y, 1e-15);
  EXPECT_NEAR(turned.lens.scale, original.lens.scale, 1e-9 * original.lens.scale);
  EXPECT_NEAR(turned.lens.k1, original.lens.k1, 1e-12);
}

TEST_F(LineScanFrames, AlignmentPutsTheMotionOnYAndKeepsEveryImage) {
  clnsc_xformLineScan camera;
  clnsc_xformLineScan_construct(&camera);
  camera.camera = set_.truth;
  clnsc_xformLineScan aligned = camera;
  ASSERT_EQ(clnsc_lineScanCameraSyntheticallyAlignToScannerMotion(&camera.camera, &aligned.camera),
            0);
  const cmath_vect3& M = camera.camera.scannerMotion;
  EXPECT_EQ(aligned.camera.scannerMotion.x, 0.0);
  EXPECT_DOUBLE_EQ(aligned.camera.scannerMotion.y, std::hypot(M.x, M.y));
  EXPECT_EQ(aligned.camera.scannerMotion.z, M.z);
  EXPECT_GT(aligned.camera.poseInverseRotation.quaternion.a, 0.0);

  // Aligned client coordinates are A·P with A the turn about Z by atan2(Mx, My).
  const double theta = std::atan2(M.x, M.y), c = std::cos(theta), s = std::sin(theta);
  for (std::size_t i = 0; i < set_.physical.size(); ++i) {
    const tkVector<2>& P = set_.physical[i];
    const cmath_vect plate{P.x(), P.y()}, turned{c * P.x() - s * P.y(), s * P.x() + c * P.y()};
    cmath_vect before{}, after{};
    clnsc_xformLineScan_mapPoint(&camera, &plate, &before);
    clnsc_xformLineScan_mapPoint(&aligned, &turned, &after);
    ASSERT_NEAR(after.x, before.x, 1e-8) << "point " << i;
    ASSERT_NEAR(after.y, before.y, 1e-9) << "point " << i;
  }

  clnsc_xformLineScan twice = aligned;
  ASSERT_EQ(clnsc_lineScanCameraSyntheticallyAlignToScannerMotion(&twice.camera, &twice.camera), 0);
  EXPECT_EQ(std::memcmp(&twice.camera, &aligned.camera, sizeof twice.camera), 0)
      << "aligning twice changes nothing";

  // Without motion in the plate there is nothing to align to.
  clnsc_lineScanCameraUnconstrainedCalibrationParams vertical = set_.truth;
  vertical.scannerMotion = {1e-15, 0.0, 0.5};
  clnsc_lineScanCameraUnconstrainedCalibrationParams untouched = set_.truth;
  EXPECT_EQ(static_cast<uint32_t>(
                clnsc_lineScanCameraSyntheticallyAlignToScannerMotion(&vertical, &untouched)),
            0x80001002u);
  EXPECT_EQ(std::memcmp(&untouched, &set_.truth, sizeof untouched), 0) << "left unchanged";
}

}  // namespace
