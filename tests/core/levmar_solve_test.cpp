#include <gtest/gtest.h>
#include <support/function_solver.h>
#include <tk/levmar_solve.h>
#include <tk/newton_solve.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

// Residuals of the Rosenbrock function (10 (b - a^2), 1 - a): the classic test of a damped
// least-squares solver; root (1, 1).
long rosenbrockResiduals(const tkNMMatrix& x, tkNMMatrix& f) {
  const double a = x(0, 0);
  const double b = x(1, 0);
  f(0, 0) = 10.0 * (b - a * a);
  f(1, 0) = 1.0 - a;
  return 0;
}

// Gradient of the Rosenbrock function (1 - a)^2 + 100 (b - a^2)^2; its only zero is (1, 1).
// Note that |F|^2 decreases towards 1 along the curve b - a^2 = (1 - a) / (200 |a|) as
// a -> -infinity, so no descent on |F|^2 can reach the root from starts such as (-1.2, 1).
long rosenbrockGradient(const tkNMMatrix& x, tkNMMatrix& f) {
  const double a = x(0, 0);
  const double b = x(1, 0);
  f(0, 0) = -2.0 * (1.0 - a) - 400.0 * a * (b - a * a);
  f(1, 0) = 200.0 * (b - a * a);
  return 0;
}

double distanceTo(const tkNMMatrix& x, double a, double b) {
  return std::hypot(x(0, 0) - a, x(1, 0) - b);
}

// Sum of kBumps Gaussian bumps of fixed width: parameters amplitude_k (x[k]) and centre_k
// (x[kBumps + k]), 20 in all, observed at kSamples abscissae.
constexpr long kBumps = 10;
constexpr long kSamples = 241;
constexpr double kWidth = 0.5;

struct BumpData {
  std::vector<double> t;
  std::vector<double> y;
};

tkNMMatrix bumpTruth() {
  tkNMMatrix x(2 * kBumps, 1);
  for (long k = 0; k < kBumps; ++k) {
    x(k, 0) = 1.0 + 0.5 * std::cos(static_cast<double>(k));
    x(kBumps + k, 0) = static_cast<double>(k) + 0.1 * std::sin(static_cast<double>(k));
  }
  return x;
}

tkNMMatrix bumpFarStart() {
  tkNMMatrix x(2 * kBumps, 1);
  for (long k = 0; k < kBumps; ++k) {
    x(k, 0) = 0.6;
    x(kBumps + k, 0) = static_cast<double>(k) + (k % 2 == 0 ? 0.3 : -0.3);
  }
  return x;
}

// Near enough for the gradient form: the minimum of |gradient|^2 the start leads to is the root.
tkNMMatrix bumpNearStart() {
  tkNMMatrix x = bumpTruth();
  for (long k = 0; k < kBumps; ++k) {
    x(k, 0) *= 1.1;
    x(kBumps + k, 0) += (k % 2 == 0 ? 0.05 : -0.05);
  }
  return x;
}

double bumpValue(const tkNMMatrix& x, long k, double t) {
  const double u = (t - x(kBumps + k, 0)) / kWidth;
  return std::exp(-0.5 * u * u);
}

double bumpModel(const tkNMMatrix& x, double t) {
  double value = 0.0;
  for (long k = 0; k < kBumps; ++k)
    value += x(k, 0) * bumpValue(x, k, t);
  return value;
}

// Data from the truth plus Gaussian noise of deviation sigma (Box-Muller on a fixed engine).
BumpData bumpData(double sigma) {
  BumpData data;
  const tkNMMatrix truth = bumpTruth();
  std::mt19937_64 engine(20240611);
  const double scale = 1.0 / static_cast<double>(engine.max());
  for (long i = 0; i < kSamples; ++i) {
    const double t = -1.5 + 12.0 * static_cast<double>(i) / static_cast<double>(kSamples - 1);
    const double u1 = (static_cast<double>(engine()) + 1.0) * scale;
    const double u2 = static_cast<double>(engine()) * scale;
    const double noise =
        std::sqrt(-2.0 * std::log(std::min(u1, 1.0))) * std::cos(6.283185307179586 * u2);
    data.t.push_back(t);
    data.y.push_back(bumpModel(truth, t) + sigma * noise);
  }
  return data;
}

// F = residuals model(t_i) - y_i (m = kSamples > n).
FunctionSolver::Function bumpResiduals(const BumpData& data) {
  return [data](const tkNMMatrix& x, tkNMMatrix& f) {
    for (long i = 0; i < kSamples; ++i) {
      f(i, 0) = bumpModel(x, data.t[size_t(i)]) - data.y[size_t(i)];
    }
    return 0L;
  };
}

// F = gradient of the sum of squared residuals (m = n), as the calibration solvers use it.
FunctionSolver::Function bumpGradient(const BumpData& data) {
  return [data](const tkNMMatrix& x, tkNMMatrix& f) {
    for (long i = 0; i < kSamples; ++i) {
      const double t = data.t[size_t(i)];
      const double residual = bumpModel(x, t) - data.y[size_t(i)];
      for (long k = 0; k < kBumps; ++k) {
        const double g = bumpValue(x, k, t);
        f(k, 0) += 2.0 * residual * g;
        f(kBumps + k, 0) +=
            2.0 * residual * x(k, 0) * g * (t - x(kBumps + k, 0)) / (kWidth * kWidth);
      }
    }
    return 0L;
  };
}

double maxDeviation(const tkNMMatrix& a, const tkNMMatrix& b) {
  double largest = 0.0;
  for (long i = 0; i < a.rows(); ++i)
    largest = std::max(largest, std::fabs(a(i, 0) - b(i, 0)));
  return largest;
}

LevMarSettings tightSettings() {
  LevMarSettings s;
  s.xTol = 1e-14;
  s.fTol = 0.0;
  return s;
}

}  // namespace

// ---- convergence -------------------------------------------------------------------------------

TEST(LevMarConvergence, RosenbrockFromClassicAndFarStarts) {
  const std::vector<std::vector<double>> starts = {{-1.2, 1.0}, {-30.0, 50.0}, {12.0, -40.0}};
  for (const auto& start : starts) {
    FunctionSolver solver(2, 2, rosenbrockResiduals, tightSettings());
    solver.setX(columnOf(start));
    const double cost = solver.minimize();
    EXPECT_LT(distanceTo(solver.getX(), 1.0, 1.0), 1e-12)
        << "from (" << start[0] << ", " << start[1] << "), stopped with " << solver.termination()
        << " after " << solver.iterationsDone();
    EXPECT_LT(cost, 1e-25);
  }

  // Driving the gradient to zero, from starts in the root's basin of |F|^2.
  for (const auto& start : std::vector<std::vector<double>>{{0.0, 0.0}, {1.5, 3.0}}) {
    FunctionSolver solver(2, 2, rosenbrockGradient, tightSettings());
    solver.setX(columnOf(start));
    solver.minimize();
    EXPECT_LT(distanceTo(solver.getX(), 1.0, 1.0), 1e-12)
        << "gradient from (" << start[0] << ", " << start[1] << "), stopped with "
        << solver.termination() << " after " << solver.iterationsDone();
  }
}

TEST(LevMarConvergence, QuadraticNearARegularRoot) {
  // F = (a^2 + b^2 - 2, a - b), root (1, 1). Run 1, 2, ... iterations from the same start and
  // watch the error square from one iteration to the next.
  auto circleAndLine = [](const tkNMMatrix& x, tkNMMatrix& f) {
    f(0, 0) = x(0, 0) * x(0, 0) + x(1, 0) * x(1, 0) - 2.0;
    f(1, 0) = x(0, 0) - x(1, 0);
    return 0L;
  };
  LevMarSettings settings = tightSettings();
  settings.lambda0 = 1e-12;
  std::vector<double> errors = {distanceTo(columnOf({1.1, 0.95}), 1.0, 1.0)};
  for (long iterations = 1; iterations <= 5; ++iterations) {
    settings.maxIterations = iterations;
    FunctionSolver solver(2, 2, circleAndLine, settings);
    solver.setX(columnOf({1.1, 0.95}));
    solver.minimize();
    errors.push_back(distanceTo(solver.getX(), 1.0, 1.0));
  }
  for (size_t k = 0; k + 1 < errors.size() && errors[k] > 1e-14; ++k) {
    EXPECT_LE(errors[k + 1], 2.0 * errors[k] * errors[k] + 1e-7 * errors[k] + 1e-15)
        << "iteration " << k + 1 << " is not quadratic";
  }
  EXPECT_LT(errors.back(), 1e-15);

  // With the calibration settings a start near the solution also needs only a few iterations.
  FunctionSolver rosenbrock(2, 2, rosenbrockResiduals);
  rosenbrock.setX(columnOf({1.01, 1.03}));
  rosenbrock.minimize();
  EXPECT_LE(rosenbrock.iterationsDone(), 6);
  EXPECT_LT(distanceTo(rosenbrock.getX(), 1.0, 1.0), 1e-8);
}

TEST(LevMarConvergence, TwentyParameterCurveFitOnExactData) {
  const BumpData data = bumpData(0.0);
  FunctionSolver residuals(2 * kBumps, kSamples, bumpResiduals(data), tightSettings());
  residuals.setX(bumpFarStart());
  EXPECT_LT(residuals.minimize(), 1e-25);
  EXPECT_LT(maxDeviation(residuals.getX(), bumpTruth()), 1e-10) << "residual form (m > n)";

  FunctionSolver gradient(2 * kBumps, 2 * kBumps, bumpGradient(data), tightSettings());
  gradient.setX(bumpNearStart());
  gradient.minimize();
  EXPECT_LT(maxDeviation(gradient.getX(), bumpTruth()), 1e-10) << "gradient form (m == n)";
}

TEST(LevMarConvergence, TwentyParameterCurveFitOnNoisyData) {
  const double sigma = 0.01;
  const BumpData data = bumpData(sigma);
  FunctionSolver residuals(2 * kBumps, kSamples, bumpResiduals(data), tightSettings());
  residuals.setX(bumpFarStart());
  const double cost = residuals.minimize();
  const double rms = std::sqrt(2.0 * cost / kSamples);
  const double expected = sigma * std::sqrt(1.0 - 2.0 * kBumps / static_cast<double>(kSamples));
  EXPECT_NEAR(rms, expected, 0.1 * expected) << "residual should be what the noise explains";
  EXPECT_LT(maxDeviation(residuals.getX(), bumpTruth()), 10.0 * sigma);

  // Driving the gradient to zero reaches the same least-squares minimum.
  FunctionSolver gradient(2 * kBumps, 2 * kBumps, bumpGradient(data), tightSettings());
  gradient.setX(bumpNearStart());
  gradient.minimize();
  // The residual form settles where the forward-difference Jacobian is orthogonal to the
  // residuals; its O(h) error moves that point by about h * |r| / (smallest singular value).
  EXPECT_LT(maxDeviation(gradient.getX(), residuals.getX()), 1e-8);
}

TEST(LevMarConvergence, NonFiniteTrialValuesAreNeverAccepted) {
  // F = log(x / 2): the undamped Newton step from 10 lands at negative x, where F is NaN.
  auto logarithm = [](const tkNMMatrix& x, tkNMMatrix& f) {
    f(0, 0) = std::log(x(0, 0) / 2.0);
    return 0L;
  };
  FunctionSolver solver(1, 1, logarithm, tightSettings());
  solver.setX(columnOf({10.0}));
  solver.minimize();
  EXPECT_NEAR(solver.getX()(0, 0), 2.0, 1e-12);

  // A non-finite F at the start: nothing to improve on; x stays, the cost is +inf.
  FunctionSolver atNaN(1, 1, logarithm, tightSettings());
  atNaN.setX(columnOf({-1.0}));
  EXPECT_TRUE(std::isinf(atNaN.minimize()));
  EXPECT_EQ(atNaN.termination(), tkFSolver::eNonFiniteStart);
  EXPECT_EQ(atNaN.getX()(0, 0), -1.0);
}

TEST(NewtonConvergence, UndampedNewtonSolvesARegularSystem) {
  class CircleAndLine : public tkNewtonSolve {
   public:
    CircleAndLine() : tkNewtonSolve(2, 2, 1e-14, 0.0, 50, 1e-8, false) {}
    long Func(const tkNMMatrix& x, tkNMMatrix& f) const override {
      f(0, 0) = x(0, 0) * x(0, 0) + x(1, 0) * x(1, 0) - 2.0;
      f(1, 0) = x(0, 0) - x(1, 0);
      return 0;
    }
  } solver;
  solver.setX(columnOf({2.0, 0.5}));
  solver.minimize();
  EXPECT_LT(distanceTo(solver.getX(), 1.0, 1.0), 1e-14);
  EXPECT_LE(solver.iterationsDone(), 8);
}

// ---- stopping rules ----------------------------------------------------------------------------

TEST(LevMarStopping, IterationLimitIsRespected) {
  FunctionSolver solver(2, 2, rosenbrockGradient, tightSettings());
  const tkNMMatrix start = columnOf({-1.2, 1.0});
  solver.setX(start);
  solver.nIter(3);
  EXPECT_EQ(solver.nIter(), 3);
  solver.minimize();
  EXPECT_EQ(solver.iterationsDone(), 3);
  EXPECT_EQ(solver.termination(), tkFSolver::eIterationLimit);

  // No iteration at all: x stays and the cost is that of the start.
  solver.setX(start);
  solver.nIter(0);
  tkNMMatrix f(2, 1);
  rosenbrockGradient(start, f);
  EXPECT_DOUBLE_EQ(solver.minimize(), 0.5 * (f(0, 0) * f(0, 0) + f(1, 0) * f(1, 0)));
  EXPECT_EQ(solver.getX()(0, 0), -1.2);
}

TEST(LevMarStopping, SmallFunctionStopsBeforeAnyWork) {
  LevMarSettings settings;
  settings.fTol = 1e-6;
  FunctionSolver solver(2, 2, rosenbrockGradient, settings);
  solver.setX(columnOf({1.0, 1.0}));
  EXPECT_EQ(solver.minimize(), 0.0);
  EXPECT_EQ(solver.termination(), tkFSolver::eSmallFunction);
  EXPECT_EQ(solver.iterationsDone(), 0);
  EXPECT_EQ(solver.calls, 1);
}

TEST(LevMarStopping, NegativeStatusEndsTheMinimisationKeepingTheLastAcceptedX) {
  // The function refuses to be evaluated within 0.1 of the solution.
  auto refusingNearSolution = [](const tkNMMatrix& x, tkNMMatrix& f) {
    if (distanceTo(x, 1.0, 1.0) < 0.1)
      return -7L;
    return rosenbrockResiduals(x, f);
  };
  FunctionSolver solver(2, 2, refusingNearSolution, tightSettings());
  solver.setX(columnOf({-1.2, 1.0}));
  const double cost = solver.minimize();
  EXPECT_EQ(solver.termination(), tkFSolver::eFunctionStopped);
  EXPECT_EQ(solver.functionStatus(), -7);
  EXPECT_GE(distanceTo(solver.getX(), 1.0, 1.0), 0.1) << "x must be a point the function accepted";
  EXPECT_GT(distanceTo(solver.getX(), -1.2, 1.0), 0.0) << "accepted progress must be kept";
  tkNMMatrix f(2, 1);
  rosenbrockResiduals(solver.getX(), f);
  EXPECT_DOUBLE_EQ(cost, 0.5 * (f(0, 0) * f(0, 0) + f(1, 0) * f(1, 0)));

  // Refused at the start: x stays, the cost is unknown (+inf).
  solver.setX(columnOf({1.0, 1.05}));
  EXPECT_TRUE(std::isinf(solver.minimize()));
  EXPECT_EQ(solver.termination(), tkFSolver::eFunctionStopped);
  EXPECT_EQ(solver.getX()(1, 0), 1.05);
}
