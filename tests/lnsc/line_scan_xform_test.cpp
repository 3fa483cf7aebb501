// tk2XformLineScan: fitting through every overload, mapping and its inverse, the residual
// figures, copies and comparison.
#include <ccal/line_scan_calibration_errors.h>
#include <ccal/line_scan_xform.h>
#include <gtest/gtest.h>
#include <tk/exception.h>
#include <tk/failure.h>

#include "support/exception_expect.h"
#include "support/line_scan_sets.h"

#include <cmath>
#include <map>
#include <utility>

namespace {

std::vector<tkPair<tkVector<2>>> pairsOf(const tkLineScanSet& set) {
  std::vector<tkPair<tkVector<2>>> pairs;
  for (std::size_t i = 0; i < set.image.size(); ++i)
    pairs.emplace_back(set.image[i], set.physical[i]);
  return pairs;
}

class LineScanXform : public ::testing::Test {
 protected:
  const tkLineScanSet* exact_ = &exactLineScanSet();
  const tkLineScanSet* noisy_ = &noisyLineScanSet();
};

TEST_F(LineScanXform, NoisyFitFiguresMatchTheProceduralCalibration) {
  tk2XformLineScan xform;
  double rms = 0.0, maxResidual = 0.0;
  xform.init(pairsOf(*noisy_), rms, maxResidual);
  EXPECT_NEAR(rms, 0.2537, 5e-4);
  EXPECT_NEAR(maxResidual, 0.787, 5e-4);
  EXPECT_TRUE(xform.w2i());
  EXPECT_FALSE(xform.isLinear());
  tkPair<double> perAxis;
  xform.computeRmsResiduals(noisy_->image, noisy_->physical, perAxis);
  EXPECT_NEAR(perAxis.first * perAxis.first + perAxis.second * perAxis.second, rms * rms, 1e-12);
}

TEST_F(LineScanXform, InverseMapsEveryImageBackAcrossThePlate) {
  const tk2XformLineScan xform(exact_->image, exact_->physical);
  const tk2XformLineScan inverse = xform.inverse();
  EXPECT_FALSE(inverse.w2i());
  const tkPtrHandle<tk2XformBase> inverseBase = xform.inverseBase();
  for (const tkVector<2>& plate : {tkVector<2>(0, 0), tkVector<2>(100, 60), tkVector<2>(30, 45)}) {
    const tkVector<2> image = xform.mapPoint(plate);
    EXPECT_LT((inverse.mapPoint(image) - plate).length(), 1e-9);
    EXPECT_LT((inverseBase->mapPoint(image) - plate).length(), 1e-9);
  }
  EXPECT_TRUE(inverse.inverse() == xform);
}

TEST_F(LineScanXform, EveryInitOverloadGivesTheModelOfTheListFit) {
  const std::vector<tkPair<tkVector<2>>> pairs = pairsOf(*noisy_);
  tk2XformLineScan fromLists, fromPairs;
  fromLists.init(noisy_->image, noisy_->physical);
  fromPairs.init(pairs);
  EXPECT_TRUE(fromPairs == fromLists);
  EXPECT_TRUE(tk2XformLineScan(noisy_->image, noisy_->physical) == fromLists);

  tk2XformLineScan withDistance, pairsWithDistance;
  double rms1 = 0, max1 = 0, rms2 = 0, max2 = 0;
  withDistance.init(noisy_->image, noisy_->physical, 150.0, rms1, max1);
  pairsWithDistance.init(pairs, 150.0, rms2, max2);
  EXPECT_TRUE(pairsWithDistance == withDistance);
  EXPECT_TRUE(tk2XformLineScan(noisy_->image, noisy_->physical, 150.0) == withDistance);
  EXPECT_EQ(rms1, rms2);
  EXPECT_EQ(max1, max2);
  EXPECT_FALSE(withDistance == fromLists) << "another distance is another camera";
}

TEST_F(LineScanXform, FailedFitThrowsTheConvertedStatusAndKeepsTheModel) {
  tk2XformLineScan xform(exact_->image, exact_->physical);
  const tk2XformLineScan before = xform;
  const std::vector<tkVector<2>> three(exact_->image.begin(), exact_->image.begin() + 3);
  const std::vector<tkVector<2>> none;
  double rms = -1.0, maxResidual = -1.0;
  EXPECT_TRUE(ThrowsWithMessage<tkCalibrateLineScanCameraDefs::InsufficientPoints>(
      [&] { xform.init(three, three, rms, maxResidual); }, L"imagePoints.size() < 4"));
  EXPECT_THROW(xform.init(none, none, rms, maxResidual),
               tkCalibrateLineScanCameraDefs::InsufficientPoints);
  EXPECT_EQ(rms, -1.0) << "figures are written after a successful fit only";
  EXPECT_THROW(xform.init(exact_->image, three), tkCalibrateLineScanCameraDefs::BadParams);
  try {
    xform.init(exact_->image, exact_->physical, -2.0);
    FAIL() << "a negative distance was accepted";
  } catch (const tkProcedureFailure& e) {
    EXPECT_EQ(static_cast<uint32_t>(e.errorNumber()), 0x80001003u);
  }
  EXPECT_TRUE(xform == before);
}

// A line-scan transform whose mapping is a table: residual figures must use the virtual
// mapPoint.
class TabulatedXform : public tk2XformLineScan {
 public:
  std::map<std::pair<double, double>, tkVector<2>> table;
  tkVector<2> mapPoint(const tkVector<2>& p) const override { return table.at({p.x(), p.y()}); }
};

TEST(LineScanResidualFigures, InitFiguresAreRmsAndLargestLength) {
  // An affine camera through 4 points fits them exactly; the table then reports one image point
  // 5 pixels off: rms = sqrt(25/4) = 2.5, largest 5.
  const std::vector<tkVector<2>> physical = {{0, 0}, {10, 0}, {0, 10}, {10, 10}};
  const std::vector<tkVector<2>> image = {{100, 20}, {130, 25}, {90, 40}, {120, 45}};
  TabulatedXform xform;
  for (std::size_t i = 0; i < 4; ++i)
    xform.table[{physical[i].x(), physical[i].y()}] = image[i];
  xform.table[{10, 10}] = image[3] + tkVector<2>(3, -4);
  double rms = 0, maxResidual = 0;
  xform.init(image, physical, rms, maxResidual);
  EXPECT_DOUBLE_EQ(rms, 2.5);
  EXPECT_DOUBLE_EQ(maxResidual, 5.0);
}

TEST(LineScanResidualFigures, PerAxisRmsAndItsChecks) {
  const tk2XformLineScan identity;  // maps (X, Y) to (X, Y)
  tkPair<double> rms;
  identity.computeRmsResiduals({{4, 1}, {1, 6}}, {{1, 1}, {1, 2}}, rms);
  EXPECT_DOUBLE_EQ(rms.first, std::sqrt(4.5));
  EXPECT_DOUBLE_EQ(rms.second, std::sqrt(8.0));

  identity.computeRmsResiduals({}, {}, rms);
  EXPECT_TRUE(std::isnan(rms.first) && std::isnan(rms.second)) << "0/0 for empty lists";

  EXPECT_TRUE(ThrowsWithMessage<tk2XformLineScanDefs::BadParams>(
      [&] {
        identity.computeRmsResiduals({{1, 1}}, {}, rms);
      },
      L"toImagePoints.size() != fromPhysicalPoints.size()"));
}

TEST_F(LineScanXform, CopiesAssignmentAndCloneKeepTheModel) {
  const tk2XformLineScan fitted(exact_->image, exact_->physical);
  tk2XformLineScan assigned;
  EXPECT_FALSE(assigned == fitted);
  assigned = fitted;
  EXPECT_TRUE(assigned == fitted);
  EXPECT_NE(assigned.lineScan(), fitted.lineScan()) << "each object owns its record";

  tk2XformLineScan& self = assigned;
  assigned = self;
  EXPECT_TRUE(assigned == fitted) << "self-assignment keeps the model";

  const tkPtrHandle<tk2XformBase> clone = fitted.clone();
  const tk2XformLineScan* typed = dynamic_cast<const tk2XformLineScan*>(clone.get());
  ASSERT_NE(typed, nullptr);
  EXPECT_TRUE(*typed == fitted);
}

}  // namespace
