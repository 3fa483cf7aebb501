// Test helpers for the core geometry values: tolerance comparisons that say what differed, and
// reproducible random rotations and points.
#ifndef CCAL_TESTS_SUPPORT_GEOMETRY_EXPECT_H
#define CCAL_TESTS_SUPPORT_GEOMETRY_EXPECT_H

#include <gtest/gtest.h>
#include <tk/matrix.h>
#include <tk/quaternion.h>
#include <tk/random_uniform.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <algorithm>
#include <cmath>

template <int N>
::testing::AssertionResult VectorsNear(const tkVector<N>& actual, const tkVector<N>& expected,
                                       double tol) {
  for (int i = 0; i < N; ++i)
    if (!(std::abs(actual[i] - expected[i]) <= tol))
      return ::testing::AssertionFailure()
             << "component " << i << ": " << actual[i] << " vs expected " << expected[i] << " (tol "
             << tol << ")";
  return ::testing::AssertionSuccess();
}

template <int N>
::testing::AssertionResult MatricesNear(const tkMatrix<N>& actual, const tkMatrix<N>& expected,
                                        double tol) {
  for (int r = 0; r < N; ++r)
    for (int c = 0; c < N; ++c)
      if (!(std::abs(actual.element(r, c) - expected.element(r, c)) <= tol))
        return ::testing::AssertionFailure()
               << "element (" << r << ", " << c << "): " << actual.element(r, c) << " vs expected "
               << expected.element(r, c) << " (tol " << tol << ")";
  return ::testing::AssertionSuccess();
}

template <int N>
::testing::AssertionResult XformsNear(const tkXform<N>& actual, const tkXform<N>& expected,
                                      double tol) {
  ::testing::AssertionResult m = MatricesNear(actual.matrix(), expected.matrix(), tol);
  return m ? VectorsNear(actual.trans(), expected.trans(), tol) << " in the translation"
           : m << " in the matrix";
}

// Poses compared with an absolute tolerance on the rotation and one relative to the length of the
// expected translation.
inline ::testing::AssertionResult PosesNearRelative(const tkXform<3>& actual,
                                                    const tkXform<3>& expected, double rotationTol,
                                                    double translationRelTol) {
  ::testing::AssertionResult rotation =
      MatricesNear(actual.matrix(), expected.matrix(), rotationTol);
  if (!rotation)
    return rotation << " (rotation)";
  return VectorsNear(actual.trans(), expected.trans(),
                     translationRelTol * expected.trans().length())
         << " (translation)";
}

// Largest of |(RᵀR − I)ij| and |det R − 1|: zero for a rotation.
inline double RotationDefect(const tkMatrix<3>& R) {
  const tkMatrix<3> gram = R.transpose() * R - tkMatrix<3>::identity();
  double defect = std::abs(R.determinant() - 1.0);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      defect = std::max(defect, std::abs(gram.element(r, c)));
  return defect;
}

// A unit quaternion drawn uniformly over rotations (rejection sampling in the unit ball).
inline tk3Quaternion RandomUnitQuaternion(tkRandomUniform& rng) {
  for (;;) {
    tk3Quaternion q(rng.next(-1, 1), rng.next(-1, 1), rng.next(-1, 1), rng.next(-1, 1));
    const double n2 = q.normSquared();
    if (n2 > 0.01 && n2 <= 1.0)
      return q.normalise();
  }
}

inline tkVector<3> RandomVector3(tkRandomUniform& rng, double scale) {
  return tkVector<3>(rng.next(-scale, scale), rng.next(-scale, scale), rng.next(-scale, scale));
}

#endif
