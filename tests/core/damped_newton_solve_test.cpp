// tkDampedNewtonSolve: the minimisation takes a curved valley and ends where the merit settles
// when F is not exactly its gradient (its steps: step_solver_test).
#include <tk/damped_newton_solve.h>
#include <tk/exception.h>
#include <tk/jacobian_structure.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace {

// F = 2·Jᵀr (+ bias) for residuals given by a callable; merit Σ r².
class GradientSolver : public tkDampedNewtonSolve {
 public:
  using Residuals = std::function<void(const double* x, std::vector<double>& r,
                                       std::vector<std::vector<double>>& jacobian)>;
  GradientSolver(long n, Residuals residuals, std::vector<double> bias = {})
      : tkDampedNewtonSolve(n, n, 1e-14, 1e-30, 300, 15, 0.01, 1e-8, 1e20, true, false),
        residuals_(std::move(residuals)),
        bias_(std::move(bias)) {}
  mutable long functionCalls = 0;
  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override {
    ++functionCalls;
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

// Minimises from Rosenbrock's customary start (-1.2, 1).
void minimizeFromTheStart(GradientSolver& solver) {
  tkNMMatrix x(2, 1);
  x(0, 0) = -1.2;
  x(1, 0) = 1.0;
  solver.setX(x);
  solver.minimize();
}

TEST(DampedNewtonSolve, FollowsACurvedValleyToTheRoot) {
  // Judging trials by the merit before F takes the very same steps with F evaluated at the
  // accepted points only; with and without the sufficient-decrease rule.
  for (const double share : {0.0, 0.25}) {
    long callsFFirst = 0;
    std::vector<double> reached;
    for (const bool meritFirst : {false, true}) {
      GradientSolver solver(2, rosenbrock);
      solver.sufficientDecrease(share);
      solver.meritFirst(meritFirst);
      minimizeFromTheStart(solver);
      EXPECT_NEAR(solver.getX()(0, 0), 1.0, 1e-12);
      EXPECT_NEAR(solver.getX()(1, 0), 1.0, 1e-12);
      EXPECT_LT(solver.iterationsDone(), 60);
      if (!meritFirst) {
        callsFFirst = solver.functionCalls;
        reached = {solver.getX()(0, 0), solver.getX()(1, 0),
                   static_cast<double>(solver.iterationsDone())};
        continue;
      }
      EXPECT_EQ(reached, (std::vector<double>{solver.getX()(0, 0), solver.getX()(1, 0),
                                              static_cast<double>(solver.iterationsDone())}));
      EXPECT_LT(solver.functionCalls, callsFFirst);
    }
  }
}

// Rosenbrock's residuals are affine in x1: the best x1 for a given x0 is x0². Projecting every
// trial there leaves a one-dimensional problem without the curved valley.
class ProjectingSolver : public GradientSolver {
 public:
  ProjectingSolver() : GradientSolver(2, rosenbrock) {}
  mutable long unprojectedMerits = 0;
  double merit(const tkNMMatrix& x) const override {
    if (x(1, 0) != x(0, 0) * x(0, 0))
      ++unprojectedMerits;
    return GradientSolver::merit(x);
  }
  void adjustTrial(double* x) override { x[1] = x[0] * x[0]; }
};

TEST(DampedNewtonSolve, JudgesEveryTrialWhereTheSolverMovedIt) {
  GradientSolver plain(2, rosenbrock);
  minimizeFromTheStart(plain);
  ProjectingSolver projecting;
  minimizeFromTheStart(projecting);
  EXPECT_EQ(projecting.unprojectedMerits, 1) << "the start only";
  EXPECT_NEAR(projecting.getX()(0, 0), 1.0, 1e-12);
  EXPECT_NEAR(projecting.getX()(1, 0), 1.0, 1e-12);
  EXPECT_LT(2 * projecting.iterationsDone(), plain.iterationsDone())
      << projecting.iterationsDone() << " against " << plain.iterationsDone();
}

// A solver that lets λ fall by a fixed factor after every accepted step.
class SlowDampingSolver : public GradientSolver {
 public:
  explicit SlowDampingSolver(double factor) : GradientSolver(2, rosenbrock), factor_(factor) {}
  mutable long asked = 0;
  double dampingDecrease(double usual) const override {
    ++asked;
    EXPECT_EQ(usual, 10.0);
    return factor_;
  }

 private:
  double factor_;
};

TEST(DampedNewtonSolve, LowersTheDampingByTheSolversFactor) {
  // λ starts at 0.01 and rises tenfold per rejected trial: held after every accepted step it
  // never ends below its start, and falling by 2 instead of 10 it ends higher than by 10.
  GradientSolver usual(2, rosenbrock);
  minimizeFromTheStart(usual);
  for (const double factor : {1.0, 2.0}) {
    SlowDampingSolver solver(factor);
    minimizeFromTheStart(solver);
    EXPECT_NEAR(solver.getX()(0, 0), 1.0, 1e-10);
    EXPECT_GE(solver.asked, 1);
    EXPECT_LE(solver.asked, solver.iterationsDone());
    if (factor == 1.0) {
      EXPECT_GE(solver.lambda(), 0.01);
    }
    EXPECT_GT(solver.lambda(), usual.lambda());
  }
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

TEST(DampedNewtonSolve, RejectsInvalidSettings) {
  EXPECT_THROW(GradientSolver(0, rosenbrock), tkInvariantFailure);
  GradientSolver solver(2, rosenbrock);
  EXPECT_THROW(solver.sufficientDecrease(1.0), tkInvariantFailure);
  EXPECT_THROW(solver.meritTolerance(-1e-3), tkInvariantFailure);
  EXPECT_THROW(solver.meritFloor(-1e-3), tkInvariantFailure);
  EXPECT_THROW(solver.meritFloor(std::nan("")), tkInvariantFailure);
}

}  // namespace
