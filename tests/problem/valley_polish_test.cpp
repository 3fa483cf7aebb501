// The sine-tangent polishing on a curved valley of known solution: residuals
// (y − x², ε·(1 − x)), whose Gauss–Newton curvature along the parabola y = x² is ε² of the
// largest, plus a value z no residual depends on (the undetermined scale).
#include "ccal/problem/valley_polish.h"

#include <gtest/gtest.h>

#include <Eigen/QR>

#include <cmath>

namespace {

using ccal::detail::ValleyPolish;
using ccal::detail::ValleyPolishProblem;

class CurvedValley final : public ValleyPolishProblem {
 public:
  // floor: the cost no step can remove (a residual that does not depend on x), as noise leaves.
  CurvedValley(double epsilon, double floor) : epsilon_(epsilon), floor_(floor) {}

  double cost(const double* p) override {
    const double r0 = p[1] - p[0] * p[0], r1 = epsilon_ * (1.0 - p[0]);
    return r0 * r0 + r1 * r1 + floor_ * floor_;
  }
  const Eigen::MatrixXd* reduce(const double* p) override {
    Eigen::MatrixXd rows = Eigen::MatrixXd::Zero(4, 4);
    rows.topRows(3) << -2.0 * p[0], 1.0, 0.0, p[1] - p[0] * p[0],  //
        -epsilon_, 0.0, 0.0, epsilon_ * (1.0 - p[0]),                 //
        0.0, 0.0, 0.0, floor_;
    const Eigen::HouseholderQR<Eigen::MatrixXd> qr(rows);
    triangle_ = qr.matrixQR().triangularView<Eigen::Upper>();
    return &triangle_;
  }

 private:
  double epsilon_, floor_;
  Eigen::MatrixXd triangle_;
};

TEST(ValleyPolish, FollowsACurvedValleyToItsEndAndLeavesANoisyFitAlone) {
  // Exact: from a point on the floor far from the end, to the end (1, 1) at rounding; z, which
  // changes nothing, stays.
  CurvedValley exact(1e-7, 0.0);
  double p[3] = {0.5, 0.25, 3.0};
  EXPECT_GT(ValleyPolish(3).polish(exact, p), 0);
  EXPECT_NEAR(p[0], 1.0, 1e-9);
  EXPECT_NEAR(p[1], 1.0, 2e-9);
  EXPECT_EQ(p[2], 3.0);
  EXPECT_LT(exact.cost(p), 1e-30);

  // The valley holds less than a tenth of the cost: nothing moves.
  CurvedValley noisy(1e-7, 1e-6);
  double q[3] = {0.5, 0.25, 3.0};
  EXPECT_EQ(ValleyPolish(3).polish(noisy, q), 0);
  EXPECT_EQ(q[0], 0.5);
  EXPECT_EQ(q[1], 0.25);
}

}  // namespace
