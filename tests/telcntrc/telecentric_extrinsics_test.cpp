// The numeric core of the known-intrinsic telecentric calibration: the orthonormalisation of the
// estimate and the extrinsics solver. The affine estimate and its factorisation make up the
// closed-form calibration, whose exact-data test (telecentric_calibration_test) checks them.
#include <gtest/gtest.h>
#include <tk/quaternion_xform.h>

#include "ccal/telcntrc/telecentric_extrinsics_solver.h"
#include "ccal/telcntrc/telecentric_factorization.h"
#include "support/geometry_expect.h"
#include "support/telecentric_sets.h"

#include <algorithm>
#include <cmath>

namespace {

// The bundled geometry with images computed exactly from the true camera (no rounding).
class TelecentricNumerics : public ::testing::Test {
 protected:
  TelecentricNumerics() : set_(exactTelecentricSet()) {
    for (std::size_t i = 0; i < set_.poses.size(); ++i)
      for (tkCrspPairWeighted& c : set_.correspondences[i])
        c.image(set_.truth.image(set_.poses[i].mapPoint(c.physical3D())));
  }

  // Camera-plane points against home-frame points, as the known-intrinsic calibration pairs them.
  tkTelecentricPairs cameraPlanePairs() const {
    tkTelecentricPairs pairs;
    for (std::size_t i = 0; i < set_.poses.size(); ++i)
      for (const tkCrspPairWeighted& c : set_.correspondences[i])
        pairs.emplace_back(set_.truth.intrinsic.invMapPoint(c.image()),
                           set_.poses[i].mapPoint(c.physical3D()));
    return pairs;
  }

  tkTelecentricSet set_;
};

tkNMMatrix solutionOf(const tk3QuaternionXform& pose) {
  tkNMMatrix x(5, 1);
  x(0, 0) = pose.quat().var1();
  x(1, 0) = pose.quat().var2();
  x(2, 0) = pose.quat().var3();
  x(3, 0) = pose.trans().x();
  x(4, 0) = pose.trans().y();
  return x;
}

}  // namespace

TEST(TelecentricOrthonormalization, KeepsTheSecondRowAndStraightensTheFirst) {
  // Orthonormal rows come back with their cross product; the third row is ignored.
  const double c = std::cos(0.3), s = std::sin(0.3);
  const tkMatrix<3> rotation(c, -s, 0.0, s, c, 0.0, 9.0, 9.0, 9.0);
  EXPECT_TRUE(MatricesNear(orthonormalizeTelecentricRotation(rotation),
                           tkMatrix<3>(c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0), 1e-15));
  // A first row with a component along the second loses it; lengths do not matter.
  const tkMatrix<3> sheared(3.0, 3.0, 0.0, 0.0, 0.5, 0.0, 0.0, 0.0, 0.0);
  EXPECT_TRUE(
      MatricesNear(orthonormalizeTelecentricRotation(sheared), tkMatrix<3>::identity(), 1e-15));
  // Parallel rows determine no rotation.
  EXPECT_THROW(orthonormalizeTelecentricRotation(tkMatrix<3>(1, 2, 3, 2, 4, 6, 0, 0, 1)),
               tkMathError::Singular);
}

// ---- extrinsics solver -----------------------------------------------------------------------

TEST_F(TelecentricNumerics, SolverReachesThePoseFromADisturbedStart) {
  const tk3QuaternionXform truth(set_.truth.cameraFromHome);
  // About 7 degrees and 0.9 plate units off: with the Gauss-Newton Jacobian of the gradient the
  // iteration no longer ends in a valley of |gradient| (which it did from here with the
  // numerical Jacobian of the gradient).
  const tk3QuaternionXform disturbance(tk3Quaternion(1.0, 0.035, -0.035, 0.035),
                                       tkVector<3>(0.53, -0.74, 0.0));
  const tk3QuaternionXform start = disturbance * truth;
  tk3DTelecentricExtrinsicsSolver solver(5, 5, 1e-12, 1e-12, 300, 15, 0.01, 1e-8, 1e20, false);
  const int index = start.quat().unitValIndex();
  solver.unitValIndex(index);
  solver.pairs(cameraPlanePairs());
  solver.setX(solutionOf(start));
  solver.minimize();
  tkXform<3> solved;
  telecentricXformFromSolution(solver.getX(), index, solved);
  EXPECT_TRUE(MatricesNear(solved.matrix(), truth.xform().matrix(), 1e-10));
  EXPECT_TRUE(
      VectorsNear(solved.trans(), tkVector<3>(truth.trans().x(), truth.trans().y(), 0.0), 1e-9));
}

// F is twice the gradient of the sum of squares S: away from the solution it equals the central
// difference (S(x + h) - S(x - h)) / h, h = 1e-8, up to that difference's error (rounding of S
// over h: measured 8e-9 of |F| here, see docs/telecentric.md), and a fourth-order difference to
// 1e-11 of |F|. At the exact pose (residuals 0) K is F's Jacobian.
TEST_F(TelecentricNumerics, SolverFunctionIsTwiceTheGradientAndKItsJacobianAtTheSolution) {
  const tk3QuaternionXform truth(set_.truth.cameraFromHome);
  const tk3QuaternionXform start =
      tk3QuaternionXform(tk3Quaternion(1.0, 0.009, -0.006, 0.015), tkVector<3>(0.15, -0.21, 0.0)) *
      truth;
  const int index = start.quat().unitValIndex();
  tk3DTelecentricExtrinsicsSolver solver(5, 5, 1e-12, 1e-12, 300, 15, 0.01, 1e-8, 1e20, false);
  solver.unitValIndex(index);
  solver.pairs(cameraPlanePairs());
  const auto cost = [&](const tkNMMatrix& x) {
    tkXform<3> xform;
    telecentricXformFromSolution(x, index, xform);
    return telecentricSumOfSquares(solver.pairs(), xform);
  };
  const auto difference = [&](const tkNMMatrix& x, long k, double h) {
    tkNMMatrix above = x, below = x;
    above(k, 0) += h;
    below(k, 0) -= h;
    return (cost(above) - cost(below)) / h;
  };
  const tkNMMatrix x = solutionOf(start);
  tkNMMatrix f(5, 1);
  ASSERT_EQ(solver.Func(x, f), 0);
  double largest = 0.0;
  for (long k = 0; k < 5; ++k)
    largest = std::max(largest, std::abs(f(k, 0)));
  for (long k = 0; k < 5; ++k) {
    EXPECT_NEAR(f(k, 0), difference(x, k, 1e-8), 1e-7 * largest) << k;
    const double fourthOrder = (4.0 * difference(x, k, 1e-4) - difference(x, k, 2e-4)) / 3.0;
    EXPECT_NEAR(f(k, 0), fourthOrder, 1e-11 * largest) << k;
  }

  const tkNMMatrix atTruth = solutionOf(truth);
  tkNMMatrix K;
  ASSERT_EQ(solver.compJacob(atTruth, f, K), 0);
  ASSERT_EQ(K.rows(), 5);
  ASSERT_EQ(K.cols(), 5);
  for (long k = 0; k < 5; ++k) {
    tkNMMatrix above = atTruth, below = atTruth, fAbove(5, 1), fBelow(5, 1);
    above(k, 0) += 1e-6;
    below(k, 0) -= 1e-6;
    solver.Func(above, fAbove);
    solver.Func(below, fBelow);
    for (long i = 0; i < 5; ++i)
      EXPECT_NEAR(K(i, k), (fAbove(i, 0) - fBelow(i, 0)) / 2e-6, 1e-6 * std::abs(K(k, k))) << i;
  }
}
