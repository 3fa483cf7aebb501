// Quaternion records: unit records are normalised, keep the sign and the values of a unit
// quaternion, and refuse the zero and non-finite quaternions.
#include <gtest/gtest.h>
#include <proc/c3d_quaternion.h>

#include "support/geometry_expect.h"

#include <cmath>
#include <limits>

namespace {

// The unit record of (a, b, c, d), read back.
c3d_quaternion throughUnitRecord(double a, double b, double c, double d) {
  c3d_quaternion q, back{};
  c3d_quaternionUnit unit;
  EXPECT_EQ(c3d_quaternion_initValues(&q, a, b, c, d), CSTD_STATUS_OK);
  EXPECT_EQ(c3d_quaternionUnit_initQuaternion(&unit, &q), CSTD_STATUS_OK);
  EXPECT_EQ(c3d_quaternionUnit_getQuaternion(&unit, &back), CSTD_STATUS_OK);
  return back;
}

TEST(C3dQuaternion, UnitRecordNormalisesKeepsTheSignAndPassesUnitQuaternionsUnchanged) {
  for (double s : {1e-300, 3.0, 1e300}) {
    const c3d_quaternion u = throughUnitRecord(-2 * s, s, 0, -2 * s);  // norm 3·s
    EXPECT_NEAR(u.a, -2.0 / 3.0, 3e-16) << s;
    EXPECT_NEAR(u.b, 1.0 / 3.0, 3e-16) << s;
    EXPECT_EQ(u.c, 0.0);
    EXPECT_NEAR(u.d, -2.0 / 3.0, 3e-16) << s;
  }
  // The conversion path of the line-scan records: core quaternion -> records -> core quaternion.
  tkRandomUniform rng(31);
  for (int k = 0; k < 50; ++k) {
    const tk3Quaternion original = RandomUnitQuaternion(rng);
    const c3d_quaternion back =
        throughUnitRecord(original.a(), original.b(), original.c(), original.d());
    EXPECT_EQ(tk3Quaternion(back.a, back.b, back.c, back.d), original) << k;
  }
}

TEST(C3dQuaternion, ZeroAndNonFiniteQuaternionsAreRefusedLeavingTheRecords) {
  c3d_quaternion q;
  ASSERT_EQ(c3d_quaternion_initValues(&q, -0.5, 3.0, 1e-300, -7.25), CSTD_STATUS_OK);
  EXPECT_EQ(c3d_quaternion_initValues(&q, 1, std::nan(""), 0, 0), C3D_STATUS_NOT_FINITE);
  EXPECT_EQ(q.b, 3.0) << "a refused value leaves the record unchanged";
  c3d_quaternionUnit unit;
  c3d_quaternionUnit_construct(&unit);
  c3d_quaternion zero, infinite;
  c3d_quaternion_initValues(&zero, 0, -0.0, 0, 0);
  EXPECT_EQ(c3d_quaternionUnit_initQuaternion(&unit, &zero), C3D_STATUS_ZERO_QUATERNION);
  infinite = zero;
  infinite.c = std::numeric_limits<double>::infinity();
  EXPECT_EQ(c3d_quaternionUnit_initQuaternion(&unit, &infinite), C3D_STATUS_NOT_FINITE);
  EXPECT_EQ(c3d_quaternionUnit_initQuaternion(nullptr, &zero), CSTD_STATUS_BAD_ARGUMENT);
  c3d_quaternion values;
  c3d_quaternionUnit_getQuaternion(&unit, &values);
  EXPECT_EQ(values.a, 1.0) << "a refused quaternion leaves the unit record unchanged";
}

}  // namespace
