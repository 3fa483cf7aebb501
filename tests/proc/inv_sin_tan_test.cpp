#include <gtest/gtest.h>
#include <proc/ccal_inv_sin_tan.h>

#include <cmath>
#include <vector>

namespace {

double radiusOf(double p0, double p1, double p2, double p3, double theta) {
  return p0 * std::tan(theta / p1) + p2 * std::sin(theta / p3);
}

struct LensParams {
  double p0, p1, p2, p3;
};

// Lenses from pin-cushion to strong barrel, including parameters far from 1 and a lens whose
// tangent term has a pole inside the field (p1 < 1).
const std::vector<LensParams> kLenses = {
    {1.0, 1.0, 0.0, 1.0}, {1.0, 1.0, 1.0, 1.0},    {0.2, 1.0, 0.8, 1.0},
    {0.5, 2.0, 1.5, 1.2}, {1.3, 1.1, -0.2, 0.7},   {0.05, 3.0, 0.9, 1.0},
    {0.7, 0.8, 0.3, 2.0}, {2.0e-3, 1.0, 1.0, 1.0}, {-1.0, -1.0, -1.0, -1.0},
};

}  // namespace

TEST(InvSinTan, RecoversTheAngleOverADenseTable) {
  for (const LensParams& lens : kLenses) {
    const double thetaMax = std::fabs(lens.p1) < 1.0 ? M_PI_2 * std::fabs(lens.p1) : M_PI_2;
    for (int i = 0; i <= 400; ++i) {
      const double theta = thetaMax * (0.9999 * i / 400.0);
      const double r = radiusOf(lens.p0, lens.p1, lens.p2, lens.p3, theta);
      double solved = -1.0;
      ASSERT_EQ(ccal_xformCalib2_invSinTan_(lens.p0, lens.p1, lens.p2, lens.p3, r, &solved), 0)
          << "lens " << lens.p0 << "," << lens.p1 << "," << lens.p2 << "," << lens.p3 << " theta "
          << theta;
      // Attainable accuracy: a few units in the last place of theta plus the rounding of r
      // carried through the slope of the radius function.
      const double t1 = theta / lens.p1;
      const double slope = lens.p0 / lens.p1 / (std::cos(t1) * std::cos(t1)) +
                           lens.p2 / lens.p3 * std::cos(theta / lens.p3);
      const double eps = 2.220446049250313e-16;
      EXPECT_NEAR(solved, theta, 4 * eps * theta + 4 * eps * r / slope) << "theta " << theta;
    }
  }
}

TEST(InvSinTan, ZeroRadiusIsTheAxisAndFailureIsReportedWhereNoAngleGivesTheRadius) {
  double axis = 7.0;
  EXPECT_EQ(ccal_xformCalib2_invSinTan_(1, 1, 1, 1, 0.0, &axis), 0);
  EXPECT_EQ(axis, 0.0);
  // With p1 = 2 the tangent term stays below tan(pi/4) = 1 over the field: the largest radius
  // reachable is p0 * 1 + p2 * sin(pi/2 / p3).
  const double largest = radiusOf(0.5, 2.0, 0.5, 1.0, M_PI_2);
  double theta = 123.0;
  EXPECT_EQ(ccal_xformCalib2_invSinTan_(0.5, 2.0, 0.5, 1.0, largest * 1.01, &theta),
            CCAL_STATUS_SIN_TAN_NO_ROOT);
  EXPECT_EQ(theta, 123.0) << "output must be untouched on failure";
  EXPECT_EQ(ccal_xformCalib2_invSinTan_(0.5, 2.0, 0.5, 1.0, 1e300, &theta),
            CCAL_STATUS_SIN_TAN_NO_ROOT);
  // A lens whose radius only decreases never reaches a positive radius.
  EXPECT_EQ(ccal_xformCalib2_invSinTan_(-1.0, 1.0, -1.0, 1.0, 0.5, &theta),
            CCAL_STATUS_SIN_TAN_NO_ROOT);
}

TEST(InvSinTan, RejectsBadParameters) {
  double theta = 0.0;
  EXPECT_EQ(ccal_xformCalib2_invSinTan_(1, 0.0, 1, 1, 0.5, &theta), CCAL_STATUS_SIN_TAN_BAD_PARAMS);
  EXPECT_EQ(ccal_xformCalib2_invSinTan_(1, 1, 1, 0.0, 0.5, &theta), CCAL_STATUS_SIN_TAN_BAD_PARAMS);
  EXPECT_EQ(ccal_xformCalib2_invSinTan_(NAN, 1, 1, 1, 0.5, &theta), CCAL_STATUS_SIN_TAN_BAD_PARAMS);
  EXPECT_EQ(ccal_xformCalib2_invSinTan_(1, 1, 1, 1, INFINITY, &theta),
            CCAL_STATUS_SIN_TAN_BAD_PARAMS);
  EXPECT_EQ(ccal_xformCalib2_invSinTan_(1, 1, 1, 1, -0.1, &theta), CCAL_STATUS_SIN_TAN_BAD_PARAMS);
  EXPECT_EQ(ccal_xformCalib2_invSinTan_(1, 1, 1, 1, 0.5, nullptr), CCAL_STATUS_SIN_TAN_BAD_PARAMS);
}
