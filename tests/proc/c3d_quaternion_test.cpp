// Quaternion records: values round-trip, unit records are normalised and refuse the zero
// quaternion.
#include <gtest/gtest.h>
#include <proc/c3d_quaternion.h>

#include "support/geometry_expect.h"

#include <cmath>
#include <limits>

namespace {

c3d_quaternion valuesOf(const c3d_quaternionUnit& unit) {
  c3d_quaternion q;
  EXPECT_EQ(c3d_quaternionUnit_getQuaternion(&unit, &q), CSTD_STATUS_OK);
  return q;
}

TEST(C3dQuaternion, ValuesRoundTripAndNonFiniteOnesAreRefused) {
  c3d_quaternion q;
  ASSERT_EQ(c3d_quaternion_construct(&q), CSTD_STATUS_OK);
  ASSERT_EQ(c3d_quaternion_initValues(&q, -0.5, 3.0, 1e-300, -7.25), CSTD_STATUS_OK);
  double a, b, c, d;
  ASSERT_EQ(c3d_quaternion_getValues(&q, &a, &b, &c, &d), CSTD_STATUS_OK);
  EXPECT_TRUE(a == -0.5 && b == 3.0 && c == 1e-300 && d == -7.25);
  EXPECT_EQ(c3d_quaternion_getValues(&q, &a, &b, nullptr, &d), CSTD_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(c3d_quaternion_initValues(&q, 1, std::nan(""), 0, 0), C3D_STATUS_NOT_FINITE);
  EXPECT_EQ(q.b, 3.0) << "a refused value leaves the record unchanged";
}

// The conversion path of the line-scan records: core quaternion -> records -> core quaternion.
TEST(C3dQuaternion, UnitQuaternionsPassThroughTheRecordsUnchanged) {
  tkRandomUniform rng(31);
  for (int k = 0; k < 50; ++k) {
    const tk3Quaternion original = RandomUnitQuaternion(rng);
    c3d_quaternion q;
    c3d_quaternionUnit unit;
    c3d_quaternion_initValues(&q, original.a(), original.b(), original.c(), original.d());
    ASSERT_EQ(c3d_quaternionUnit_initQuaternion(&unit, &q), CSTD_STATUS_OK);
    const c3d_quaternion back = valuesOf(unit);
    EXPECT_EQ(tk3Quaternion(back.a, back.b, back.c, back.d), original) << k;
  }
}

TEST(C3dQuaternion, UnitRecordNormalisesKeepsTheSignAndRefusesZero) {
  const double scales[3] = {1e-300, 3.0, 1e300};
  for (double s : scales) {
    c3d_quaternion q;
    c3d_quaternionUnit unit;
    c3d_quaternion_initValues(&q, -2 * s, s, 0, -2 * s);  // norm 3·s
    ASSERT_EQ(c3d_quaternionUnit_initQuaternion(&unit, &q), CSTD_STATUS_OK) << s;
    const c3d_quaternion u = valuesOf(unit);
    EXPECT_NEAR(u.a, -2.0 / 3.0, 3e-16) << s;
    EXPECT_NEAR(u.b, 1.0 / 3.0, 3e-16) << s;
    EXPECT_EQ(u.c, 0.0);
    EXPECT_NEAR(u.d, -2.0 / 3.0, 3e-16) << s;
  }
  c3d_quaternion zero, nan;
  c3d_quaternionUnit unit;
  c3d_quaternionUnit_construct(&unit);
  c3d_quaternion_initValues(&zero, 0, -0.0, 0, 0);
  EXPECT_EQ(c3d_quaternionUnit_initQuaternion(&unit, &zero), C3D_STATUS_ZERO_QUATERNION);
  nan = zero;
  nan.c = std::numeric_limits<double>::infinity();
  EXPECT_EQ(c3d_quaternionUnit_initQuaternion(&unit, &nan), C3D_STATUS_NOT_FINITE);
  EXPECT_EQ(c3d_quaternionUnit_initQuaternion(nullptr, &zero), CSTD_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(valuesOf(unit).a, 1.0) << "a refused quaternion leaves the unit record unchanged";
}

}  // namespace
