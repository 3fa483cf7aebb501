#include <gtest/gtest.h>
#include <proc/ccal_inv_sin_tan.h>
#include <proc/ccal_lens_distortion.h>

#include <cmath>

namespace {

// Undistorts (dx, dy), distorts the result again and expects the start back.
void expectRoundTrip(int32_t model, const double* params, double cx, double cy, double dx,
                     double dy, double tolerance) {
  double qx = 0.0, qy = 0.0, bx = 0.0, by = 0.0;
  ASSERT_EQ(ccal_lensDistortion_undistort(model, params, cx, cy, dx, dy, &qx, &qy), 0);
  ccal_lensDistortion_distort(model, params, cx, cy, qx, qy, &bx, &by);
  EXPECT_NEAR(bx, dx, tolerance) << "model " << model << " at " << dx << "," << dy;
  EXPECT_NEAR(by, dy, tolerance) << "model " << model << " at " << dx << "," << dy;
}

}  // namespace

TEST(RadialCubicInverse, SolvesTheCubicOnTheMonotonicBranch) {
  for (double k : {-0.3, -0.05, -1e-6, 1e-9, 0.02, 0.4, 3.0}) {
    // x + k x^3 is increasing for x < 1/sqrt(-3k) when k < 0.
    const double xMax = k < 0.0 ? 0.95 / std::sqrt(-3.0 * k) : 2.0;
    for (int i = 0; i <= 200; ++i) {
      const double x = xMax * i / 200.0;
      const double r = x + k * x * x * x;
      // Attainable accuracy: the rounding of r carried through the slope of the cubic.
      const double slope = 1.0 + 3.0 * k * x * x;
      EXPECT_NEAR(ccal_radialCubicInverse(k, r), x, 4e-16 * (std::max(1.0, r) / slope + x))
          << "k " << k << " x " << x;
    }
  }
  EXPECT_EQ(ccal_radialCubicInverse(0.0, 0.7), 0.7);
  EXPECT_EQ(ccal_radialCubicInverse(1e-16, 0.7), 0.7);
}

TEST(LensDistortion, RoundTripsUnderEveryModel) {
  const double radialBarrel[] = {0.08};
  const double radialPincushion[] = {-0.08};
  const double sineTan[] = {0.4, 1.1, 0.6, 0.9};
  for (double dx = -0.8; dx <= 0.8; dx += 0.1) {
    for (double dy = -0.6; dy <= 0.6; dy += 0.1) {
      expectRoundTrip(CCAL_DISTORTION_RADIAL, radialBarrel, 0.01, -0.02, dx, dy, 1e-14);
      expectRoundTrip(CCAL_DISTORTION_RADIAL, radialPincushion, 0.01, -0.02, dx, dy, 1e-14);
      expectRoundTrip(CCAL_DISTORTION_SINE_TAN, sineTan, 0.03, 0.01, dx, dy, 1e-14);
      expectRoundTrip(CCAL_DISTORTION_NONE, nullptr, 0.0, 0.0, dx, dy, 0.0);
      expectRoundTrip(CCAL_DISTORTION_TELECENTRIC, nullptr, 0.0, 0.0, dx, dy, 0.0);
    }
  }
}

TEST(LensDistortion, ReportsUnknownModelsLeavingTheInput) {
  // Unreachable sine-tangent radii: see inv_sin_tan_test.
  double qx = 42.0, qy = 42.0;
  EXPECT_EQ(ccal_lensDistortion_undistort(3, nullptr, 0, 0, 0.5, 0.25, &qx, &qy),
            CCAL_STATUS_UNKNOWN_DISTORTION_MODEL);
  EXPECT_EQ(qx, 0.5);
  EXPECT_EQ(qy, 0.25);
}
