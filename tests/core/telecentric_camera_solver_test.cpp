// The refinement behind the procedural telecentric calibration: its analytic Jacobian, formed
// without allocation. Its convergence: the exact-data tests of tests/telcntrc; abort requests:
// tests/reliability.
#include <gtest/gtest.h>
#include <tk/quaternion.h>
#include <tk/random_uniform.h>

#include "allocation_probe.h"
#include "platform/core/telecentric/telecentric_camera_solver.h"
#include "support/geometry_expect.h"

#include <cmath>

namespace {

// A camera and points around the centre (home-frame points less the centre), with images made
// exactly from the camera.
class TelecentricCameraSolverTest : public ::testing::Test {
 protected:
  TelecentricCameraSolverTest()
      : startRotation_(tk3Quaternion(0.2, 0.9, -0.3, 0.25).normalised().rotationMatrix()) {
    truth_ = tkNMMatrix(8, 1);
    const double values[8] = {38.8, 38.7, -0.23, 0.02, -0.01, 0.03, 12.0, -30.0};
    for (long k = 0; k < 8; ++k)
      truth_(k, 0) = values[k];
    tkRandomUniform rng(7);
    for (int k = 0; k < 60; ++k)
      observations_.push_back({RandomVector3(rng, 20.0), tkVector<2>(), rng.next(0.5, 2.0)});
    // Images from the model itself: the residual at the truth is zero.
    tk_TelecentricCameraSolver solver(observations_, startRotation_, 0);
    tkNMMatrix f(2 * 60, 1);
    solver.Func(truth_, f);
    for (std::size_t k = 0; k < observations_.size(); ++k) {
      const double s = observations_[k].sqrtWeight;
      observations_[k].image = tkVector<2>(f(2 * k, 0) / s, f(2 * k + 1, 0) / s);
    }
  }

  tkMatrix<3> startRotation_;
  tkNMMatrix truth_;
  std::vector<tk_TelecentricObservation> observations_;
};

}  // namespace

TEST_F(TelecentricCameraSolverTest, AnalyticJacobianMatchesCentralDifferencesAndAllocatesNothing) {
  tk_TelecentricCameraSolver solver(observations_, startRotation_, 10);
  const long m = solver.getFunctionSize();
  tkNMMatrix f(m, 1), jacobian(m, 8);
  {
    const AllocationProbe probe;
    ASSERT_EQ(solver.Func(truth_, f), 0);
    ASSERT_EQ(solver.compJacob(truth_, f, jacobian), 0);
    EXPECT_EQ(probe.largest(), 0u);
  }
  ASSERT_EQ(jacobian.rows(), m);
  ASSERT_EQ(jacobian.cols(), 8);
  for (long k = 0; k < 8; ++k) {
    const double h = 1e-6 * std::max(1.0, std::abs(truth_(k, 0)));
    tkNMMatrix above = truth_, below = truth_, fAbove(m, 1), fBelow(m, 1);
    above(k, 0) += h;
    below(k, 0) -= h;
    solver.Func(above, fAbove);
    solver.Func(below, fBelow);
    for (long r = 0; r < m; ++r) {
      const double numeric = (fAbove(r, 0) - fBelow(r, 0)) / (2 * h);
      EXPECT_NEAR(jacobian(r, k), numeric, 1e-6 * std::max(1.0, std::abs(numeric)))
          << "row " << r << " parameter " << k;
    }
  }
}
