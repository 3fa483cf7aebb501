// The mappings of the line-scan transform record: plate -> image -> plate, the linear
// approximations against central differences, the linearity test, the lens inverse and the
// tolerant comparison.
#include <gtest/gtest.h>
#include <proc/clnsc_xformLineScan.h>

#include "support/line_scan_sets.h"

#include <cmath>
#include <cstdint>

namespace {

cmath_vect map(const clnsc_xformLineScan& record, double x, double y) {
  const cmath_vect point{x, y};
  cmath_vect mapped{};
  EXPECT_EQ(clnsc_xformLineScan_mapPoint(&record, &point, &mapped), 0);
  return mapped;
}

int32_t isLinear(const clnsc_xformLineScan& record) {
  int32_t flag = -1;
  clnsc_xformLineScan_getIsLinear(&record, &flag);
  return flag;
}

bool equal(const clnsc_xformLineScan& a, const clnsc_xformLineScan& b) {
  int32_t flag = -1;
  EXPECT_EQ(clnsc_xformLineScan_compareEqual(&a, &b, &flag), 0);
  return flag == 1;
}

class LineScanMapping : public ::testing::Test {
 protected:
  void SetUp() override {
    clnsc_xformLineScan_construct(&camera_);
    camera_.camera = exactLineScanSet().truth;
    clnsc_xformLineScan_getInverse(&camera_, &inverse_);
  }

  clnsc_xformLineScan camera_;   // the data set's camera, physical -> image
  clnsc_xformLineScan inverse_;  // the same camera, image -> physical
};

TEST_F(LineScanMapping, ImageToPlateInvertsPlateToImageAcrossThePlate) {
  double largest = 0.0;
  for (double X = -10.0; X <= 110.0; X += 5.0) {
    for (double Y = -10.0; Y <= 70.0; Y += 5.0) {
      const cmath_vect image = map(camera_, X, Y);
      const cmath_vect plate = map(inverse_, image.x, image.y);
      largest = std::max(largest, std::hypot(plate.x - X, plate.y - Y));
    }
  }
  EXPECT_LT(largest, 1e-9) << "plate -> image -> plate (client units)";
}

TEST_F(LineScanMapping, LinearApproximationsMatchCentralDifferences) {
  for (const clnsc_xformLineScan* record : {&camera_, &inverse_}) {
    // A plate point for the forward mapping, its image for the inverse one.
    const cmath_vect at = record == &camera_ ? cmath_vect{37.0, 21.0} : map(camera_, 37.0, 21.0);
    const double step = record == &camera_ ? 1e-4 : 1e-2;
    double out[6];
    ASSERT_EQ(clnsc_xformLineScan_getLinearXform(record, &at, out), 0);
    const cmath_vect value = map(*record, at.x, at.y);
    EXPECT_NEAR(out[2] * at.x + out[3] * at.y + out[0], value.x, 1e-9 * (1 + std::fabs(value.x)));
    EXPECT_NEAR(out[4] * at.x + out[5] * at.y + out[1], value.y, 1e-9 * (1 + std::fabs(value.y)));
    for (int column = 0; column < 2; ++column) {
      const double dx = column == 0 ? step : 0.0, dy = column == 1 ? step : 0.0;
      const cmath_vect plus = map(*record, at.x + dx, at.y + dy);
      const cmath_vect minus = map(*record, at.x - dx, at.y - dy);
      const double scale = std::fabs(out[2 + column]) + std::fabs(out[4 + column]);
      EXPECT_NEAR(out[2 + column], (plus.x - minus.x) / (2 * step), 1e-6 * scale) << column;
      EXPECT_NEAR(out[4 + column], (plus.y - minus.y) / (2 * step), 1e-6 * scale) << column;
    }
  }
}

TEST_F(LineScanMapping, LinearityNeedsNoLensAndConstantDepth) {
  clnsc_xformLineScan noLens = camera_, identity;
  noLens.camera.lens.k1 = noLens.camera.lens.k2 = 0.0;
  ASSERT_EQ(clnsc_xformLineScan_construct(&identity), 0);
  EXPECT_EQ(isLinear(noLens), 0) << "a leaning camera sees a depth that changes over the plate";
  EXPECT_EQ(isLinear(identity), 1) << "the default record";
  identity.camera.lens.k2 = 1e-3;
  EXPECT_EQ(isLinear(identity), 0) << "any lens coefficient";
}

TEST_F(LineScanMapping, PixelsBeyondTheLensRangeMapToNaN) {
  // D(x) = x − 0.5·x³ rises only up to x = sqrt(2/3), where it reaches 0.544: a distorted
  // position beyond that has no undistorted one on the branch through 0.
  clnsc_xformLineScan record;
  clnsc_xformLineScan_construct(&record);
  record.camera.lens.k1 = -0.5;
  record.w2i = 0;
  EXPECT_TRUE(std::isnan(map(record, 0.6, 0.0).x));
  const cmath_vect inside = map(record, 0.5, 0.0);
  EXPECT_NEAR(inside.x - 0.5 * std::pow(inside.x, 3), 0.5, 1e-15);
}

TEST_F(LineScanMapping, ComparisonToleratesRoundingAndTheQuaternionSign) {
  clnsc_xformLineScan negated = camera_, lastBit = camera_, changed = camera_;
  c3d_quaternion& q = negated.camera.poseInverseRotation.quaternion;
  q = {-q.a, -q.b, -q.c, -q.d};
  double& z = lastBit.camera.poseInverseTranslation.z;
  z = std::nextafter(z, 0.0);
  changed.camera.lens.scale *= 1.0 + 1e-9;
  EXPECT_TRUE(equal(negated, camera_)) << "q and -q are one rotation";
  EXPECT_TRUE(equal(lastBit, camera_));
  EXPECT_FALSE(equal(changed, camera_)) << "a relative change of 1e-9";
  EXPECT_FALSE(equal(inverse_, camera_)) << "another direction";
}

}  // namespace
