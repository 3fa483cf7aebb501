// The line-scan fit of the procedural layer (clnsc_xformLineScan_initPoints): recovery of the
// bundled cameras, the conventions of a fitted record, the linear model of few points, and the
// statuses of a bad distance. Noisy data: line_scan_xform_test, through the same fit.
#include <gtest/gtest.h>
#include <proc/clnsc_xformLineScan.h>

#include "support/line_scan_sets.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using Points = std::vector<tkVector<2>>;

// Fits record to the points (with the distance when withDistance); returns the status.
int32_t fit(const Points& image, const Points& physical, clnsc_xformLineScan& record,
            bool withDistance = false, double distance = 0.0) {
  clnsc_xformLineScan_construct(&record);
  const tkProcPointList imageList(image), physicalList(physical);
  return clnsc_xformLineScan_initPoints(&record, imageList.get(), physicalList.get(),
                                        withDistance ? 1 : 0, distance);
}

// The record fitted to a set.
clnsc_xformLineScan fitted(const tkLineScanSet& set, bool withDistance, double distance) {
  clnsc_xformLineScan record;
  EXPECT_EQ(fit(set.image, set.physical, record, withDistance, distance), 0);
  return record;
}

// sqrt(mean |image − map(physical)|²) of a record over a set.
double rmsResidual(const clnsc_xformLineScan& record, const tkLineScanSet& set) {
  double sum = 0.0;
  for (std::size_t i = 0; i < set.image.size(); ++i) {
    const cmath_vect plate{set.physical[i].x(), set.physical[i].y()};
    cmath_vect image{};
    clnsc_xformLineScan_mapPoint(&record, &plate, &image);
    sum += std::pow(set.image[i].x() - image.x, 2) + std::pow(set.image[i].y() - image.y, 2);
  }
  return std::sqrt(sum / set.image.size());
}

class LineScanFit : public ::testing::Test {
 protected:
  const tkLineScanSet& exact_ = exactLineScanSet();
  const tkLineScanSet& noisy_ = noisyLineScanSet();
};

TEST_F(LineScanFit, ExactDataGiveTheTrueCameraOrAnotherOfItsFamily) {
  // Without the distance the fit takes the default scale, which is the data set's. The plate is
  // seen identically by cameras up to 669.28 units above it: another distance gives another
  // camera with the same mapping, and a distance beyond gives that highest camera.
  ASSERT_TRUE(exact_.scaleIsDefault);
  const clnsc_xformLineScan without = fitted(exact_, false, 0.0);
  const clnsc_xformLineScan with = fitted(exact_, true, exact_.distance);
  const clnsc_xformLineScan near = fitted(exact_, true, 100.0), high = fitted(exact_, true, 1000.0);
  EXPECT_LT(cameraDifference(without.camera, exact_.truth), 1e-10);
  EXPECT_LT(cameraDifference(with.camera, exact_.truth), 1e-10);
  EXPECT_NEAR(cameraCentre(near.camera).z(), 100.0, 1e-9);
  EXPECT_NEAR(cameraCentre(high.camera).z(), 669.280667, 1e-6);
  EXPECT_LT(cameraDifference(fitted(exact_, true, 1e5).camera, high.camera), 1e-12);
  for (const clnsc_xformLineScan* record : {&without, &with, &near, &high}) {
    EXPECT_EQ(record->w2i, 1);
    EXPECT_LT(rmsResidual(*record, exact_), 1e-9);
  }
}

TEST_F(LineScanFit, FittedRecordMeetsTheConventions) {
  const clnsc_lineScanCameraUnconstrainedCalibrationParams camera =
      fitted(noisy_, true, 150.0).camera;
  double uMin = noisy_.image[0].x(), uMax = uMin;
  for (const tkVector<2>& p : noisy_.image) {
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

TEST_F(LineScanFit, FewPointsGiveALinearRecordThatFitsThem) {
  for (std::size_t count : {4u, 5u}) {
    Points physical = {{0, 0}, {10, 0}, {0, 10}, {10, 10}, {5, 3}}, image;
    physical.resize(count);
    for (const tkVector<2>& p : physical)
      image.emplace_back(100 + 3 * p.x() - p.y(), 20 + 0.5 * p.x() + 2 * p.y());
    clnsc_xformLineScan record;
    ASSERT_EQ(fit(image, physical, record), 0) << count << " points";
    int32_t isLinear = 0;
    clnsc_xformLineScan_getIsLinear(&record, &isLinear);
    EXPECT_EQ(isLinear, 1) << count << " points";
    for (std::size_t i = 0; i < count; ++i) {
      const cmath_vect plate{physical[i].x(), physical[i].y()};
      cmath_vect mapped{};
      clnsc_xformLineScan_mapPoint(&record, &plate, &mapped);
      EXPECT_LT(std::hypot(mapped.x - image[i].x(), mapped.y - image[i].y()), 1e-9) << count;
    }
  }
}

// The statuses of bad point lists reach callers as the exceptions of the point-list table of
// tests/reliability (converted as tests/foundation pins); the distance is checked here only.
TEST_F(LineScanFit, BadDistanceGivesItsStatusAndLeavesTheRecord) {
  clnsc_xformLineScan before;
  clnsc_xformLineScan_construct(&before);
  for (double distance : {0.0, HUGE_VAL, -2.0}) {
    clnsc_xformLineScan record;
    EXPECT_EQ(static_cast<uint32_t>(fit(exact_.image, exact_.physical, record, true, distance)),
              0x80001003u)
        << distance;
    int32_t unchanged = 0;
    clnsc_xformLineScan_compareEqual(&record, &before, &unchanged);
    EXPECT_EQ(unchanged, 1) << distance;
  }
}

}  // namespace
