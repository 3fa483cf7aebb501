// Progress reporting: how blocks partition [0, 1], the sink, estimate-only mode and the
// behaviour without a scope.
#include <gtest/gtest.h>
#include <proc/cstd_progress.h>
#include <tk/progress.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

class Progress : public ::testing::Test {
 protected:
  std::function<void(double)> recorder() {
    return [this](double fraction) { fractions_.push_back(fraction); };
  }
  // Every fraction the sink received lies in [0, 1] and none is below its predecessor.
  void expectMonotoneInUnitRange() const {
    for (size_t i = 0; i < fractions_.size(); ++i) {
      EXPECT_TRUE(fractions_[i] >= 0.0 && fractions_[i] <= 1.0) << "report " << i;
      EXPECT_TRUE(i == 0 || fractions_[i] >= fractions_[i - 1]) << "report " << i;
    }
  }
  static int32_t estimateOnlyFlag() {
    int32_t flag = -1;
    EXPECT_EQ(cstd_progressGetThreadDoEstimateOnly(&flag), CSTD_STATUS_OK);
    return flag;
  }
  std::vector<double> fractions_;
};

TEST_F(Progress, BlocksPartitionTheirParent) {
  {
    tkProgressScope first(recorder(), false);
    tkProgressTrackerBlock block(4.0);
    for (int i = 0; i < 4; ++i)
      block.reportWork(1.0);
  }
  EXPECT_EQ(fractions_, (std::vector<double>{0.25, 0.5, 0.75, 1.0, 1.0}));
  fractions_.clear();
  tkProgressScope scope(recorder(), false);
  tkProgressTrackerBlock whole(10.0);
  {
    tkProgressTrackerBlock firstPart(1.0, 2.0);  // explicit share: [0, 0.2]
    firstPart.reportWork(0.5);
    EXPECT_DOUBLE_EQ(scope.fraction(), 0.1);
  }
  {
    tkProgressTrackerBlock secondPart(3.0, 8.0);  // [0.2, 1.0]
    {
      tkProgressTrackerBlock nested(2.0);  // one unit of secondPart: [0.2, 0.2 + 0.8 / 3]
      nested.reportWork(1.0);
      EXPECT_DOUBLE_EQ(scope.fraction(), 0.2 + 0.4 / 3.0);
    }
    EXPECT_DOUBLE_EQ(scope.fraction(), 0.2 + 0.8 / 3.0);
  }
  // Shares beyond what the parent has left are cut to the rest.
  tkProgressTrackerBlock late(1.0, 5.0);
  late.reportWork(1.0);
  EXPECT_DOUBLE_EQ(scope.fraction(), 1.0);
  expectMonotoneInUnitRange();
}

TEST_F(Progress, ExcessAndInvalidReportsKeepFractionsMonotoneAndBounded) {
  tkProgressScope scope(recorder(), false);
  tkProgressTrackerBlock outer(2.0);
  {
    tkProgressTrackerBlock inner(1.0);
    for (double work : {50.0, -3.0, std::nan(""), std::numeric_limits<double>::infinity()})
      inner.reportWork(work);  // more than the block holds, then invalid amounts
    outer.reportWork(0.25);    // the parent reporting while a child is open
  }
  {
    tkProgressTrackerBlock invalidWeight(0.0);
    invalidWeight.reportWork(1.0);
  }
  EXPECT_DOUBLE_EQ(scope.fraction(), 1.0);
  EXPECT_DOUBLE_EQ(scope.reportedWork(), 51.25);
  expectMonotoneInUnitRange();
}

TEST_F(Progress, WithoutScopeEverythingIsInertAndEarlierBlocksDoNotFeedALaterScope) {
  {
    tkProgressTrackerBlock block(3.0);
    block.reportWork(1.0);
    EXPECT_FALSE(block.doEstimateOnly());
  }
  EXPECT_EQ(estimateOnlyFlag(), 0);
  tkProgressTrackerBlock orphan(1.0);
  tkProgressScope scope(recorder(), false);
  orphan.reportWork(1.0);
  EXPECT_TRUE(fractions_.empty());
}

TEST_F(Progress, EstimateOnlyFlagIsPerThreadAndRestored) {
  {
    tkProgressScope estimate(nullptr, true);  // empty sink: estimate without reporting
    tkProgressTrackerBlock block(1.0);
    EXPECT_TRUE(block.doEstimateOnly());
    EXPECT_EQ(estimateOnlyFlag(), 1);
    int32_t otherThread = -1;
    std::thread([&] { cstd_progressGetThreadDoEstimateOnly(&otherThread); }).join();
    EXPECT_EQ(otherThread, 0) << "the flag belongs to the thread that opened the scope";
    {
      tkProgressScope real(recorder(), false);
      EXPECT_FALSE(tkProgressTrackerBlock(1.0).doEstimateOnly());
      EXPECT_EQ(estimateOnlyFlag(), 0);
    }
    EXPECT_EQ(estimateOnlyFlag(), 1) << "the inner scope did not restore the flag";
    block.reportWork(5474.65);
    EXPECT_DOUBLE_EQ(estimate.reportedWork(), 5474.65);
  }
  EXPECT_EQ(estimateOnlyFlag(), 0);
}

TEST_F(Progress, SinkExceptionsLeaveReportWorkButNotClosingBlocks) {
  tkProgressScope scope([](double) { throw std::runtime_error("cancelled by the sink"); }, false);
  tkProgressTrackerBlock outer(2.0);
  {
    tkProgressTrackerBlock inner(1.0);
    EXPECT_THROW(inner.reportWork(0.5), std::runtime_error);
  }  // closing calls the sink again; the exception must not escape the destructor
  EXPECT_DOUBLE_EQ(scope.fraction(), 0.5);
}

}  // namespace
