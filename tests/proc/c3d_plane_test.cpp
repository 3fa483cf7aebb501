// Planes through a ray and planes carried through a transform.
#include <gtest/gtest.h>
#include <proc/c3d_plane.h>

#include "support/geometry_expect.h"
#include "support/plane_terms.h"

#include <cmath>
#include <limits>
#include <tuple>

namespace {

double dot(const cmath_vect3& a, const cmath_vect3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

TEST(C3dRayPlanes, BothPlanesContainTheRayAndOneAxisEach) {
  tkRandomUniform rng(21);
  for (int k = 0; k < 20; ++k) {
    const tkVector<3> origin = k == 0 ? tkVector<3>() : RandomVector3(rng, 5);
    const tkVector<3> direction(rng.next(-2, 2), rng.next(-2, 2), rng.next(-3, 3));
    const cmath_vect3 o = ToRecord(origin), d = ToRecord(direction);
    cmath_vect3 perps[2];
    double dots[2];
    ASSERT_EQ(c3d_computeBothCoordAxesPlanePerpsAndDots(&o, &d, perps, dots), CSTD_STATUS_OK);
    // The first plane contains the y axis direction, the second the x axis direction.
    EXPECT_TRUE(perps[0].x == 1.0 && perps[0].y == 0.0 && perps[1].x == 0.0 && perps[1].y == 1.0);
    for (int p = 0; p < 2; ++p)
      for (double s : {0.0, 1.0, -2.5})
        EXPECT_NEAR(dot(perps[p], ToRecord(origin + direction * s)), dots[p],
                    1e-13 * (1 + std::abs(s)))
            << "plane " << p << " at s = " << s;
    EXPECT_TRUE(k != 0 || (dots[0] == 0.0 && dots[1] == 0.0)) << "a ray through the origin";
  }
}

TEST(C3dRayPlanes, RaysParallelToTheXYPlaneAndBadInputAreRefusedWithNaNOutputs) {
  const cmath_vect3 origin{0, 0, 0}, ray{0.1, 0.2, 1}, badOrigin{0, HUGE_VAL, 0};
  const cmath_vect3 flat{1, 2, 0}, tiny{1, 2, 1e-320}, infiniteZ{1, 2, HUGE_VAL};
  const std::tuple<const cmath_vect3*, const cmath_vect3*, cstd_status> cases[] = {
      {&origin, &flat, C3D_STATUS_RAY_IN_XY_PLANE},
      {&origin, &tiny, C3D_STATUS_NOT_FINITE},  // slopes overflow
      {&origin, &infiniteZ, C3D_STATUS_NOT_FINITE},
      {&badOrigin, &ray, C3D_STATUS_NOT_FINITE},
      {&origin, nullptr, CSTD_STATUS_BAD_ARGUMENT}};
  for (const auto& [o, d, expected] : cases) {
    cmath_vect3 perps[2] = {};
    double dots[2] = {};
    EXPECT_EQ(c3d_computeBothCoordAxesPlanePerpsAndDots(o, d, perps, dots), expected);
    EXPECT_TRUE(d == nullptr || (std::isnan(perps[0].x) && std::isnan(perps[1].z) &&
                                 std::isnan(dots[0]) && std::isnan(dots[1])))
        << "a failure leaves NaN in every output";
  }
}

TEST(C3dPullBackPlane, SourcePlaneResidualEqualsDestinationResidual) {
  tkRandomUniform rng(22);
  const tkMatrix<3> R = RandomUnitQuaternion(rng).rotationMatrix();
  const tkMatrix<3> stretch(1, 0, 0, 0, 1.3, 0, 0, 0.2, 1.6);
  for (const tkXform<3>& xform : {tkXform<3>(R, RandomVector3(rng, 3)),  // rigid
                                  tkXform<3>(stretch * R, RandomVector3(rng, 3))}) {
    const cmath_xformLinear3 record = ToRecord(xform);
    const cmath_vect3 normal{0.6, -0.48, 0.64};
    const double offset = 1.7;
    cmath_vect3 n = normal;  // outputs may alias inputs
    double d = offset;
    ASSERT_EQ(c3d_pullBackPlane(&record, &n, d, &n, &d), CSTD_STATUS_OK);
    for (int k = 0; k < 10; ++k) {
      const tkVector<3> X = RandomVector3(rng, 4);
      EXPECT_NEAR(dot(n, ToRecord(X)) - d, dot(normal, ToRecord(xform.mapPoint(X))) - offset,
                  1e-13);
    }
  }
  cmath_xformLinear3 identity;
  cmath_xformLinear3_construct(&identity);
  identity.matrix[2][1] = std::numeric_limits<double>::infinity();
  const cmath_vect3 normal{1, 0, 0};
  cmath_vect3 n;
  double d = 0.0;
  EXPECT_EQ(c3d_pullBackPlane(&identity, &normal, 1.0, &n, &d), C3D_STATUS_NOT_FINITE)
      << "an infinite entry meets a zero normal component: 0·∞";
  EXPECT_TRUE(std::isnan(n.y) && std::isnan(d));
}

}  // namespace
