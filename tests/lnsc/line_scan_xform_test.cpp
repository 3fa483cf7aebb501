// tk2XformLineScan: fitting through every overload, the inverse, the residual figures, copies and
// comparison. Failed fits: the point-list table of tests/reliability and the statuses of
// line_scan_fit_test.
#include <ccal/line_scan_xform.h>
#include <gtest/gtest.h>
#include <tk/exception.h>

#include "support/exception_expect.h"
#include "support/line_scan_sets.h"

#include <cmath>

namespace {

class LineScanXform : public ::testing::Test {
 protected:
  const tkLineScanSet& exact_ = exactLineScanSet();
  const tkLineScanSet& noisy_ = noisyLineScanSet();
};

TEST_F(LineScanXform, NoisyFitFiguresMatchTheNoise) {
  // 200 points, 10 values fitted: the best RMS of the 2-D residual is about σ·sqrt(2·(n − 5)/n);
  // this draw of the noise is a little small (its own RMS against the true camera is 0.2585
  // instead of 0.2828), which predicts 0.2552.
  tk2XformLineScan xform;
  double rms = 0.0, maxResidual = 0.0;
  xform.init(lineScanPairs(noisy_), rms, maxResidual);
  EXPECT_NEAR(rms, 0.2537, 5e-4);
  EXPECT_NEAR(maxResidual, 0.787, 5e-4);
  EXPECT_TRUE(xform.w2i());
  EXPECT_FALSE(xform.isLinear());
  tkPair<double> perAxis;
  xform.computeRmsResiduals(noisy_.image, noisy_.physical, perAxis);
  EXPECT_NEAR(perAxis.first * perAxis.first + perAxis.second * perAxis.second, rms * rms, 1e-12);
}

TEST_F(LineScanXform, EveryInitOverloadGivesTheModelOfTheListFit) {
  const std::vector<tkPair<tkVector<2>>> pairs = lineScanPairs(noisy_);
  tk2XformLineScan fromLists, fromPairs, withDistance, pairsWithDistance;
  fromLists.init(noisy_.image, noisy_.physical);
  fromPairs.init(pairs);
  EXPECT_TRUE(fromPairs == fromLists);
  EXPECT_TRUE(tk2XformLineScan(noisy_.image, noisy_.physical) == fromLists);
  double rms1 = 0, max1 = 0, rms2 = 0, max2 = 0;
  withDistance.init(noisy_.image, noisy_.physical, 150.0, rms1, max1);
  pairsWithDistance.init(pairs, 150.0, rms2, max2);
  EXPECT_TRUE(pairsWithDistance == withDistance);
  EXPECT_TRUE(tk2XformLineScan(noisy_.image, noisy_.physical, 150.0) == withDistance);
  EXPECT_TRUE(rms1 == rms2 && max1 == max2);
  EXPECT_FALSE(withDistance == fromLists) << "another distance is another camera";
}

TEST_F(LineScanXform, InverseCopiesAndCloneKeepTheModel) {
  const tk2XformLineScan fitted(exact_.image, exact_.physical);
  const tk2XformLineScan inverse = fitted.inverse();
  const tkPtrHandle<tk2XformBase> inverseBase = fitted.inverseBase(), clone = fitted.clone();
  EXPECT_FALSE(inverse.w2i());
  const tkVector<2> plate(30, 45), image = fitted.mapPoint(plate);
  EXPECT_LT((inverse.mapPoint(image) - plate).length(), 1e-9);
  EXPECT_LT((inverseBase->mapPoint(image) - plate).length(), 1e-9);
  EXPECT_TRUE(inverse.inverse() == fitted);

  tk2XformLineScan assigned;
  assigned = fitted;
  tk2XformLineScan& self = assigned;
  assigned = self;
  EXPECT_TRUE(assigned == fitted) << "self-assignment keeps the model";
  const tk2XformLineScan* typed = dynamic_cast<const tk2XformLineScan*>(clone.get());
  ASSERT_NE(typed, nullptr);
  EXPECT_TRUE(*typed == fitted);
}

TEST(LineScanResidualFigures, PerAxisRmsAndItsChecks) {
  const tk2XformLineScan identity;  // maps (X, Y) to (X, Y)
  tkPair<double> perAxis;
  identity.computeRmsResiduals({{4, 1}, {1, 6}}, {{1, 1}, {1, 2}}, perAxis);
  EXPECT_DOUBLE_EQ(perAxis.first, std::sqrt(4.5));
  EXPECT_DOUBLE_EQ(perAxis.second, std::sqrt(8.0));
  identity.computeRmsResiduals({}, {}, perAxis);
  EXPECT_TRUE(std::isnan(perAxis.first) && std::isnan(perAxis.second)) << "0/0 for empty lists";
  EXPECT_TRUE(ThrowsWithMessage<tk2XformLineScanDefs::BadParams>(
      [&] {
        identity.computeRmsResiduals({{1, 1}}, {}, perAxis);
      },
      L"toImagePoints.size() != fromPhysicalPoints.size()"));
}

}  // namespace
