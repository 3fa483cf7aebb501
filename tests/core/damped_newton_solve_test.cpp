// tkDampedNewtonSolve and its structured step: the step eliminated block by block equals the dense
// LU step; the minimisation takes a curved valley, ends where the merit settles when F is not
// exactly its gradient, and gives the same result with and without a declared structure.
#include "platform/core/block_newton_system.h"

#include <tk/damped_newton_solve.h>
#include <tk/exception.h>
#include <tk/jacobian_structure.h>

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace {

// Two shared blocks of 3, eight local blocks of 2; local block p is reached by shared block 0
// when p < 6 and by shared block 1 when p is odd.
tkJacobianStructure arrowhead() {
  std::vector<long> starts{0, 3};
  for (long p = 0; p < 8; ++p)
    starts.push_back(6 + 2 * p);
  tkJacobianStructure s(22, 22, starts, starts);
  s.couple(0, 0);
  s.couple(1, 1);
  for (long p = 0; p < 8; ++p) {
    const long b = 2 + p;
    s.couple(b, b);
    s.eliminate(b);
    for (long c : {0L, 1L})
      if ((c == 0 && p < 6) || (c == 1 && p % 2 == 1)) {
        s.couple(b, c);
        s.couple(c, b);
      }
  }
  return s;
}

TEST(BlockNewtonSystem, EliminatedStepEqualsTheDenseStepForAnUnsymmetricMatrix) {
  const tkJacobianStructure s = arrowhead();
  ASSERT_TRUE(tk_BlockNewtonSystem::applies(s));
  std::mt19937 random(3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  Eigen::MatrixXd k = Eigen::MatrixXd::Zero(22, 22);
  for (long b = 0; b < s.parameterBlocks(); ++b)
    for (long g : s.groupsOf(b))
      for (long i = 0; i < s.parameterCount(b); ++i)
        for (long r = 0; r < s.rowCount(g); ++r)
          k(s.rowStart(g) + r, s.parameterStart(b) + i) = unit(random);
  Eigen::VectorXd f(22), damping(22), step(22);
  for (long i = 0; i < 22; ++i) {
    f(i) = unit(random);
    damping(i) = 0.5 + 0.1 * unit(random);
  }
  tk_BlockNewtonSystem system(s);
  ASSERT_TRUE(system.solve(k.data(), f.data(), damping.data(), step.data()));
  Eigen::MatrixXd damped = k;
  damped.diagonal() += damping;
  const Eigen::VectorXd dense = damped.fullPivLu().solve(-f);
  EXPECT_LT((step - dense).norm(), 1e-12 * dense.norm());
}

TEST(BlockNewtonSystem, AppliesOnlyToArrowheadSquareStructures) {
  tkJacobianStructure coupled = arrowhead();
  coupled.couple(2, 3);  // two eliminated blocks reach each other's rows
  EXPECT_FALSE(tk_BlockNewtonSystem::applies(coupled));
  tkJacobianStructure residuals(4, 6, {0, 2}, {0, 3});
  residuals.eliminate(1);
  EXPECT_FALSE(tk_BlockNewtonSystem::applies(residuals));
  EXPECT_FALSE(tk_BlockNewtonSystem::applies(tkJacobianStructure()));
}

// F = 2·Jᵀr (+ bias) for residuals given by a callable; merit Σ r².
class GradientSolver : public tkDampedNewtonSolve {
 public:
  using Residuals = std::function<void(const double* x, std::vector<double>& r,
                                       std::vector<std::vector<double>>& jacobian)>;
  GradientSolver(long n, Residuals residuals, std::vector<double> bias = {})
      : tkDampedNewtonSolve(n, n, 1e-14, 1e-30, 300, 15, 0.01, 1e-8, 1e20, true, false),
        residuals_(std::move(residuals)),
        bias_(std::move(bias)) {}
  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override {
    residuals_(x.data(), r_, j_);
    for (long i = 0; i < getSize(); ++i) {
      double sum = bias_.empty() ? 0.0 : bias_[static_cast<std::size_t>(i)];
      for (std::size_t k = 0; k < r_.size(); ++k)
        sum += 2.0 * j_[k][static_cast<std::size_t>(i)] * r_[k];
      f(i, 0) = sum;
    }
    return 0;
  }
  double merit(const tkNMMatrix& x) const override {
    residuals_(x.data(), r_, j_);
    double sum = 0.0;
    for (double v : r_)
      sum += v * v;
    return sum;
  }
  using tkDampedNewtonSolve::jacobianStructure;

 private:
  Residuals residuals_;
  std::vector<double> bias_;
  mutable std::vector<double> r_;
  mutable std::vector<std::vector<double>> j_;
};

void rosenbrock(const double* x, std::vector<double>& r, std::vector<std::vector<double>>& j) {
  r = {10.0 * (x[1] - x[0] * x[0]), 1.0 - x[0]};
  j = {{-20.0 * x[0], 10.0}, {-1.0, 0.0}};
}

TEST(DampedNewtonSolve, FollowsACurvedValleyToTheRoot) {
  GradientSolver solver(2, rosenbrock);
  tkNMMatrix x(2, 1);
  x(0, 0) = -1.2;
  x(1, 0) = 1.0;
  solver.setX(x);
  solver.minimize();
  EXPECT_NEAR(solver.getX()(0, 0), 1.0, 1e-12);
  EXPECT_NEAR(solver.getX()(1, 0), 1.0, 1e-12);
  EXPECT_LT(solver.iterationsDone(), 60);
}

TEST(DampedNewtonSolve, MeritToleranceEndsWhereTheMeritSettles) {
  // A slightly biased gradient has its root beside the merit's minimum (1, 1): the iteration
  // stops once the merit no longer falls.
  GradientSolver solver(2, rosenbrock, {1e-7, -1e-7});
  solver.meritTolerance(1e-12);
  tkNMMatrix x(2, 1);
  x(0, 0) = 0.9;
  x(1, 0) = 0.8;
  solver.setX(x);
  solver.minimize();
  EXPECT_EQ(solver.termination(), tkFSolver::eSmallStep);
  EXPECT_LT(solver.iterationsDone(), 40);
  EXPECT_NEAR(solver.getX()(0, 0), 1.0, 1e-6);
}

// Shared (a, b), eight placements (u, v): r = a·sin(u + b·t) + v·t² − y at t = 0.3·k, k = 1..5.
void placements(const double* x, std::vector<double>& r, std::vector<std::vector<double>>& j) {
  r.clear();
  j.clear();
  for (long p = 0; p < 8; ++p) {
    const double u = x[2 + 2 * p], v = x[3 + 2 * p];
    const double truthU = 0.1 * p, truthV = 0.5 - 0.05 * p;
    for (int k = 1; k <= 5; ++k) {
      const double t = 0.3 * k;
      const double y = 1.3 * std::sin(truthU + 0.7 * t) + truthV * t * t;
      r.push_back(x[0] * std::sin(u + x[1] * t) + v * t * t - y);
      std::vector<double> row(18, 0.0);
      row[0] = std::sin(u + x[1] * t);
      row[1] = x[0] * std::cos(u + x[1] * t) * t;
      row[static_cast<std::size_t>(2 + 2 * p)] = x[0] * std::cos(u + x[1] * t);
      row[static_cast<std::size_t>(3 + 2 * p)] = t * t;
      j.push_back(row);
    }
  }
}

TEST(DampedNewtonSolve, StructuredAndDenseMinimisationsRecoverTheTruth) {
  std::vector<long> starts{0};
  for (long p = 0; p < 8; ++p)
    starts.push_back(2 + 2 * p);
  tkJacobianStructure s(18, 18, starts, starts);
  s.couple(0, 0);
  for (long b = 1; b <= 8; ++b) {
    s.couple(b, b);
    s.couple(b, 0);
    s.couple(0, b);
    s.eliminate(b);
  }
  tkNMMatrix x0(18, 1);
  x0(0, 0) = 1.2;
  x0(1, 0) = 0.75;
  for (long p = 0; p < 8; ++p) {
    x0(2 + 2 * p, 0) = 0.1 * p + 0.05;
    x0(3 + 2 * p, 0) = 0.5 - 0.05 * p - 0.03;
  }
  GradientSolver structured(18, placements), dense(18, placements);
  structured.jacobianStructure(s);
  structured.setX(x0);
  dense.setX(x0);
  structured.minimize();
  dense.minimize();
  EXPECT_NEAR(structured.getX()(0, 0), 1.3, 1e-10);
  EXPECT_NEAR(structured.getX()(1, 0), 0.7, 1e-10);
  for (long i = 0; i < 18; ++i)
    EXPECT_NEAR(structured.getX()(i, 0), dense.getX()(i, 0), 1e-10) << i;
}

TEST(DampedNewtonSolve, RejectsInvalidSettings) {
  EXPECT_THROW(GradientSolver(0, rosenbrock), tkInvariantFailure);
  GradientSolver solver(2, rosenbrock);
  EXPECT_THROW(solver.sufficientDecrease(1.0), tkInvariantFailure);
  EXPECT_THROW(solver.meritTolerance(-1e-3), tkInvariantFailure);
}

}  // namespace
