// The line-scan fit of the procedural layer (clnsc_xformLineScan_initPoints): recovery of the
// bundled cameras, the conventions every fitted record meets, noisy data, the lens model chosen
// from the point count, and the statuses of bad input.
#include <gtest/gtest.h>
#include <proc/clnsc_xformLineScan.h>

#include "support/line_scan_sets.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

class LineScanFit : public ::testing::Test {
 protected:
  // Fits set (with its distance when withDistance) and returns the status.
  static int32_t fit(const std::vector<tkVector<2>>& image,
                     const std::vector<tkVector<2>>& physical, bool withDistance, double distance,
                     clnsc_xformLineScan& record) {
    clnsc_xformLineScan_construct(&record);
    const tkProcPointList imageList(image), physicalList(physical);
    return clnsc_xformLineScan_initPoints(&record, imageList.get(), physicalList.get(),
                                          withDistance ? 1 : 0, distance);
  }

  // sqrt(mean |image − map(physical)|²) of a record over a set.
  static double rmsResidual(const clnsc_xformLineScan& record, const tkLineScanSet& set) {
    double sum = 0.0;
    for (std::size_t i = 0; i < set.image.size(); ++i) {
      const cmath_vect plate{set.physical[i].x(), set.physical[i].y()};
      cmath_vect image{};
      clnsc_xformLineScan_mapPoint(&record, &plate, &image);
      sum += std::pow(set.image[i].x() - image.x, 2) + std::pow(set.image[i].y() - image.y, 2);
    }
    return std::sqrt(sum / set.image.size());
  }

  const tkLineScanSet* exact_ = &exactLineScanSet();
  const tkLineScanSet* noisy_ = &noisyLineScanSet();
};

TEST_F(LineScanFit, ExactDataWithOrWithoutTheDistanceGiveTheGroundTruth) {
  ASSERT_TRUE(exact_->scaleIsDefault) << "without the distance the fit takes the default scale";
  for (bool withDistance : {true, false}) {
    clnsc_xformLineScan record;
    ASSERT_EQ(fit(exact_->image, exact_->physical, withDistance, exact_->distance, record), 0);
    EXPECT_LT(cameraDifference(record.camera, exact_->truth), 1e-10) << withDistance;
    EXPECT_EQ(record.w2i, 1);
    EXPECT_LT(rmsResidual(record, *exact_), 1e-6) << withDistance;
  }
}

TEST_F(LineScanFit, FittedRecordMeetsTheConventions) {
  clnsc_xformLineScan record;
  ASSERT_EQ(fit(noisy_->image, noisy_->physical, true, 150.0, record), 0);
  const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera = record.camera;
  double uMin = noisy_->image[0].x(), uMax = uMin;
  for (const tkVector<2>& p : noisy_->image) {
    uMin = std::min(uMin, p.x());
    uMax = std::max(uMax, p.x());
  }
  EXPECT_DOUBLE_EQ(camera.lens.offset, 0.5 * (uMin + uMax)) << "C1 principal point";
  const c3d_quaternion& q = camera.poseInverseRotation.quaternion;
  EXPECT_NEAR(2.0 * (q.c * q.d - q.a * q.b), 0.0, 1e-14) << "C2 upright view plane (R12)";
  EXPECT_NEAR(cameraCentre(camera).z(), 150.0, 1e-9) << "C3 height";
  EXPECT_GT(camera.lens.scale, 0.0) << "C4 focal length";
  EXPECT_GT(q.a, 0.0) << "C4 quaternion sign";
}

TEST_F(LineScanFit, DistanceBeyondTheHighestCameraGivesTheHighest) {
  // The exact set's plate is seen identically by cameras up to 669.28 units above it; a larger
  // distance gives that highest camera, and any distance the same mapping.
  clnsc_xformLineScan near, high, higher;
  ASSERT_EQ(fit(exact_->image, exact_->physical, true, 100.0, near), 0);
  ASSERT_EQ(fit(exact_->image, exact_->physical, true, 1000.0, high), 0);
  ASSERT_EQ(fit(exact_->image, exact_->physical, true, 1e5, higher), 0);
  EXPECT_NEAR(cameraCentre(near.camera).z(), 100.0, 1e-9);
  EXPECT_NEAR(cameraCentre(high.camera).z(), 669.280667, 1e-6);
  EXPECT_LT(cameraDifference(higher.camera, high.camera), 1e-12);
  EXPECT_LT(rmsResidual(near, *exact_), 1e-9);
  EXPECT_LT(rmsResidual(high, *exact_), 1e-9);
}

TEST_F(LineScanFit, NoisyResidualMatchesTheNoise) {
  // 200 points, 10 values fitted: the best RMS of the 2-D residual is about
  // σ·sqrt(2·(n − 5)/n); this draw of the noise is a little small (its own RMS against the
  // true camera is 0.2585 instead of 0.2828), which predicts 0.2552.
  clnsc_xformLineScan record;
  ASSERT_EQ(fit(noisy_->image, noisy_->physical, true, noisy_->distance, record), 0);
  clnsc_xformLineScan truth;
  clnsc_xformLineScan_construct(&truth);
  truth.camera = noisy_->truth;
  const double noiseRms = rmsResidual(truth, *noisy_);
  const double fitRms = rmsResidual(record, *noisy_);
  const double n = static_cast<double>(noisy_->image.size());
  EXPECT_NEAR(noiseRms, 0.2585, 5e-4);
  EXPECT_LT(fitRms, noiseRms) << "a least-squares fit explains the data at least as well";
  EXPECT_NEAR(fitRms, noiseRms * std::sqrt((n - 5.0) / n), 0.01);
}

TEST_F(LineScanFit, FewPointsGiveALinearRecordThatFitsThem) {
  for (std::size_t count : {4u, 5u}) {
    const std::vector<tkVector<2>> image(exact_->image.begin(), exact_->image.begin() + count);
    std::vector<tkVector<2>> physical = {{0, 0}, {10, 0}, {0, 10}, {10, 10}, {5, 3}};
    physical.resize(count);
    std::vector<tkVector<2>> affineImage;
    for (const tkVector<2>& p : physical)
      affineImage.emplace_back(100 + 3 * p.x() - p.y(), 20 + 0.5 * p.x() + 2 * p.y());
    clnsc_xformLineScan record;
    ASSERT_EQ(fit(affineImage, physical, false, 0.0, record), 0) << count << " points";
    int32_t isLinear = 0;
    clnsc_xformLineScan_getIsLinear(&record, &isLinear);
    EXPECT_EQ(isLinear, 1) << count << " points";
    for (std::size_t i = 0; i < count; ++i) {
      const cmath_vect plate{physical[i].x(), physical[i].y()};
      cmath_vect mapped{};
      clnsc_xformLineScan_mapPoint(&record, &plate, &mapped);
      EXPECT_NEAR(mapped.x, affineImage[i].x(), 1e-9);
      EXPECT_NEAR(mapped.y, affineImage[i].y(), 1e-9);
    }
  }
}

TEST_F(LineScanFit, BadInputGivesItsStatusAndLeavesTheRecord) {
  const std::vector<tkVector<2>> image(exact_->image.begin(), exact_->image.begin() + 10);
  const std::vector<tkVector<2>> plate(exact_->physical.begin(), exact_->physical.begin() + 10);
  const std::vector<tkVector<2>> shortPlate(plate.begin(), plate.begin() + 9);
  const std::vector<tkVector<2>> three(image.begin(), image.begin() + 3);
  std::vector<tkVector<2>> withNaN = image;
  withNaN[4] = tkVector<2>(std::numeric_limits<double>::quiet_NaN(), 1.0);
  const std::vector<tkVector<2>> collinear = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4},
                                              {5, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 9}};
  struct Case {
    const char* name;
    const std::vector<tkVector<2>>& image;
    const std::vector<tkVector<2>>& plate;
    bool withDistance;
    double distance;
    uint32_t status;
  };
  const Case cases[] = {
      {"size mismatch", image, shortPlate, false, 0.0, 0x80001000u},
      {"three points", three, three, false, 0.0, 0x80001001u},
      {"non-finite coordinate", withNaN, plate, false, 0.0, 0x80001003u},
      {"zero distance", image, plate, true, 0.0, 0x80001003u},
      {"infinite distance", image, plate, true, HUGE_VAL, 0x80001003u},
      {"collinear plate points", image, collinear, false, 0.0, 0x80001002u},
  };
  for (const Case& c : cases) {
    clnsc_xformLineScan record;
    clnsc_xformLineScan_construct(&record);
    clnsc_xformLineScan before = record;
    const tkProcPointList imageList(c.image), plateList(c.plate);
    const int32_t status = clnsc_xformLineScan_initPoints(&record, imageList.get(), plateList.get(),
                                                          c.withDistance ? 1 : 0, c.distance);
    EXPECT_EQ(static_cast<uint32_t>(status), c.status) << c.name;
    int32_t unchanged = 0;
    clnsc_xformLineScan_compareEqual(&record, &before, &unchanged);
    EXPECT_EQ(unchanged, 1) << c.name;
  }
}

}  // namespace
