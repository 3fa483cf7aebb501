// The damped least-squares solver: convergence on exact and noisy problems, the stopping rules,
// the Func/FuncI contract, the extension hooks and the validation of settings.
#include <gtest/gtest.h>
#include <support/function_solver.h>
#include <tk/exception.h>
#include <tk/levmar_solve.h>
#include <tk/newton_solve.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

// Residuals of the Rosenbrock function (10 (b - a^2), 1 - a): the classic test of a damped
// least-squares solver; root (1, 1).
long rosenbrock(const tkNMMatrix& x, tkNMMatrix& f) {
  f(0, 0) = 10.0 * (x(1, 0) - x(0, 0) * x(0, 0));
  f(1, 0) = 1.0 - x(0, 0);
  return 0;
}

// F = (a^2 + b^2 - 2, a - b): a regular root at (1, 1).
long circleAndLine(const tkNMMatrix& x, tkNMMatrix& f) {
  f(0, 0) = x(0, 0) * x(0, 0) + x(1, 0) * x(1, 0) - 2.0;
  f(1, 0) = x(0, 0) - x(1, 0);
  return 0;
}

double distanceTo(const tkNMMatrix& x, double a, double b) {
  return std::hypot(x(0, 0) - a, x(1, 0) - b);
}

double halfSquaredNorm(FunctionSolver::Function function, const tkNMMatrix& x) {
  tkNMMatrix f(2, 1);
  function(x, f);
  return 0.5 * (f(0, 0) * f(0, 0) + f(1, 0) * f(1, 0));
}

LevMarSettings tightSettings() {
  LevMarSettings s;
  s.xTol = 1e-14;
  s.fTol = 0.0;
  return s;
}

// Sum of kBumps Gaussian bumps of fixed width: parameters amplitude_k (x[k]) and centre_k
// (x[kBumps + k]), 20 in all, observed at kSamples abscissae.
constexpr long kBumps = 10;
constexpr long kSamples = 241;
constexpr double kWidth = 0.5;

tkNMMatrix bumpTruth() {
  tkNMMatrix x(2 * kBumps, 1);
  for (long k = 0; k < kBumps; ++k) {
    x(k, 0) = 1.0 + 0.5 * std::cos(static_cast<double>(k));
    x(kBumps + k, 0) = static_cast<double>(k) + 0.1 * std::sin(static_cast<double>(k));
  }
  return x;
}

// Far start for the residual form; near start (x 1.1, centres ±0.05) for the gradient form,
// whose nearest minimum of |gradient|^2 must be the root.
tkNMMatrix bumpStart(bool near) {
  tkNMMatrix x = bumpTruth();
  for (long k = 0; k < kBumps; ++k) {
    const double sign = k % 2 == 0 ? 1.0 : -1.0;
    x(k, 0) = near ? 1.1 * x(k, 0) : 0.6;
    x(kBumps + k, 0) = near ? x(kBumps + k, 0) + 0.05 * sign : static_cast<double>(k) + 0.3 * sign;
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

double sampleTime(long i) {
  return -1.5 + 12.0 * static_cast<double>(i) / static_cast<double>(kSamples - 1);
}

struct BumpFits {
  double cost;  // of the residual form
  tkNMMatrix residualX, gradientX;
};

// Fits data from the truth plus Gaussian noise of deviation sigma in the residual form
// (m = kSamples > n) and in the gradient form (m = n, as the calibration solvers use it).
BumpFits fitBumps(double sigma) {
  // Box-Muller on a fixed engine: the same draws with every standard library.
  std::mt19937_64 engine(20240611);
  const double scale = 1.0 / static_cast<double>(engine.max());
  std::vector<double> y;
  for (long i = 0; i < kSamples; ++i) {
    const double u1 = (static_cast<double>(engine()) + 1.0) * scale;
    const double u2 = static_cast<double>(engine()) * scale;
    const double noise =
        std::sqrt(-2.0 * std::log(std::min(u1, 1.0))) * std::cos(6.283185307179586 * u2);
    y.push_back(bumpModel(bumpTruth(), sampleTime(i)) + sigma * noise);
  }
  auto residuals = [y](const tkNMMatrix& x, tkNMMatrix& f) {
    for (long i = 0; i < kSamples; ++i)
      f(i, 0) = bumpModel(x, sampleTime(i)) - y[size_t(i)];
    return 0L;
  };
  auto gradient = [y](const tkNMMatrix& x, tkNMMatrix& f) {
    for (long i = 0; i < kSamples; ++i) {
      const double t = sampleTime(i), residual = bumpModel(x, t) - y[size_t(i)];
      for (long k = 0; k < kBumps; ++k) {
        const double g = bumpValue(x, k, t);
        f(k, 0) += 2.0 * residual * g;
        f(kBumps + k, 0) +=
            2.0 * residual * x(k, 0) * g * (t - x(kBumps + k, 0)) / (kWidth * kWidth);
      }
    }
    return 0L;
  };
  FunctionSolver byResiduals(2 * kBumps, kSamples, residuals, tightSettings());
  byResiduals.setX(bumpStart(false));
  const double cost = byResiduals.minimize();
  FunctionSolver byGradient(2 * kBumps, 2 * kBumps, gradient, tightSettings());
  byGradient.setX(bumpStart(true));
  byGradient.minimize();
  return {cost, byResiduals.getX(), byGradient.getX()};
}

double maxDeviation(const tkNMMatrix& a, const tkNMMatrix& b) {
  double largest = 0.0;
  for (long i = 0; i < a.rows(); ++i)
    largest = std::max(largest, std::fabs(a(i, 0) - b(i, 0)));
  return largest;
}

}  // namespace

// ---- convergence -------------------------------------------------------------------------------

TEST(LevMarConvergence, RosenbrockFromClassicAndFarStarts) {
  for (const auto& start : std::vector<std::vector<double>>{{-1.2, 1.0}, {-30, 50}, {12, -40}}) {
    FunctionSolver solver(2, 2, rosenbrock, tightSettings());
    solver.setX(columnOf(start));
    EXPECT_LT(solver.minimize(), 1e-25);
    EXPECT_LT(distanceTo(solver.getX(), 1.0, 1.0), 1e-12)
        << "from (" << start[0] << ", " << start[1] << "), stopped with " << solver.termination()
        << " after " << solver.iterationsDone();
  }
}

TEST(LevMarConvergence, QuadraticNearARegularRoot) {
  // Run 1, 2, ... iterations from the same start and watch the error square each time.
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
  for (size_t k = 0; k + 1 < errors.size() && errors[k] > 1e-14; ++k)
    EXPECT_LE(errors[k + 1], 2.0 * errors[k] * errors[k] + 1e-7 * errors[k] + 1e-15)
        << "iteration " << k + 1 << " is not quadratic";
  EXPECT_LT(errors.back(), 1e-15);
}

TEST(LevMarConvergence, TwentyParameterCurveFitOnExactAndNoisyData) {
  const BumpFits exact = fitBumps(0.0);
  EXPECT_LT(exact.cost, 1e-25);
  EXPECT_LT(maxDeviation(exact.residualX, bumpTruth()), 1e-10) << "residual form (m > n)";
  EXPECT_LT(maxDeviation(exact.gradientX, bumpTruth()), 1e-10) << "gradient form (m == n)";

  const double sigma = 0.01;
  const BumpFits noisy = fitBumps(sigma);
  const double rms = std::sqrt(2.0 * noisy.cost / kSamples);
  const double expected = sigma * std::sqrt(1.0 - 2.0 * kBumps / static_cast<double>(kSamples));
  EXPECT_NEAR(rms, expected, 0.1 * expected) << "residual should be what the noise explains";
  EXPECT_LT(maxDeviation(noisy.residualX, bumpTruth()), 10.0 * sigma);
  // Both forms reach the same least-squares minimum. The residual form settles where the
  // forward-difference Jacobian is orthogonal to the residuals; its O(h) error moves that point
  // by about h * |r| / (smallest singular value).
  EXPECT_LT(maxDeviation(noisy.gradientX, noisy.residualX), 1e-8);
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
  solver.setX(columnOf({-1.0}));
  EXPECT_TRUE(std::isinf(solver.minimize()));
  EXPECT_EQ(solver.termination(), tkFSolver::eNonFiniteStart);
  EXPECT_EQ(solver.getX()(0, 0), -1.0);
}

TEST(NewtonConvergence, UndampedNewtonSolvesARegularSystem) {
  class CircleAndLine : public tkNewtonSolve {
   public:
    CircleAndLine() : tkNewtonSolve(2, 2, 1e-14, 0.0, 50, 1e-8, false) {}
    long Func(const tkNMMatrix& x, tkNMMatrix& f) const override { return circleAndLine(x, f); }
  } solver;
  solver.setX(columnOf({2.0, 0.5}));
  solver.minimize();
  EXPECT_LT(distanceTo(solver.getX(), 1.0, 1.0), 1e-14);
  EXPECT_LE(solver.iterationsDone(), 8);
}

// ---- stopping rules ----------------------------------------------------------------------------

TEST(LevMarStopping, IterationLimitAndSmallFunction) {
  FunctionSolver solver(2, 2, rosenbrock, tightSettings());
  const tkNMMatrix start = columnOf({-1.2, 1.0});
  solver.setX(start);
  solver.nIter(3);
  solver.minimize();
  EXPECT_EQ(solver.iterationsDone(), 3);
  EXPECT_EQ(solver.termination(), tkFSolver::eIterationLimit);
  // No iteration at all: x stays and the cost is that of the start.
  solver.setX(start);
  solver.nIter(0);
  EXPECT_DOUBLE_EQ(solver.minimize(), halfSquaredNorm(rosenbrock, start));
  EXPECT_EQ(solver.getX()(0, 0), -1.2);

  LevMarSettings settings;
  settings.fTol = 1e-6;
  FunctionSolver atRoot(2, 2, rosenbrock, settings);
  atRoot.setX(columnOf({1.0, 1.0}));
  EXPECT_EQ(atRoot.minimize(), 0.0);
  EXPECT_EQ(atRoot.termination(), tkFSolver::eSmallFunction);
  EXPECT_EQ(atRoot.calls, 1) << "stops before any work";
}

TEST(LevMarStopping, NegativeStatusEndsTheMinimisationKeepingTheLastAcceptedX) {
  // The function refuses to be evaluated within 0.1 of the solution.
  auto refusingNearSolution = [](const tkNMMatrix& x, tkNMMatrix& f) {
    return distanceTo(x, 1.0, 1.0) < 0.1 ? -7L : rosenbrock(x, f);
  };
  FunctionSolver solver(2, 2, refusingNearSolution, tightSettings());
  solver.setX(columnOf({-1.2, 1.0}));
  const double cost = solver.minimize();
  EXPECT_EQ(solver.termination(), tkFSolver::eFunctionStopped);
  EXPECT_EQ(solver.functionStatus(), -7);
  EXPECT_GE(distanceTo(solver.getX(), 1.0, 1.0), 0.1) << "x must be a point the function accepted";
  EXPECT_GT(distanceTo(solver.getX(), -1.2, 1.0), 0.0) << "accepted progress must be kept";
  EXPECT_DOUBLE_EQ(cost, halfSquaredNorm(rosenbrock, solver.getX()));
  // Refused at the start: x stays, the cost is unknown (+inf).
  solver.setX(columnOf({1.0, 1.05}));
  EXPECT_TRUE(std::isinf(solver.minimize()));
  EXPECT_EQ(solver.getX()(1, 0), 1.05);
}

// ---- the Func / FuncI contract and the hooks ---------------------------------------------------

TEST(SolverFunction, DefaultsForwardBetweenFuncAndFuncI) {
  // Overrides FuncI only: Func must forward with kAllEntries.
  class OnlyFuncI : public tkLevMarSolve {
   public:
    OnlyFuncI() : tkLevMarSolve(2, 2, 1e-14, 0.0, 100, 15, 0.01, 1e-8, 1e20, true, false) {}
    long FuncI(const tkNMMatrix& x, tkNMMatrix& f, long index) const override {
      indices.push_back(index);
      return rosenbrock(x, f);
    }
    mutable std::vector<long> indices;
  } onlyFuncI;
  onlyFuncI.setX(columnOf({-1.2, 1.0}));
  onlyFuncI.minimize();
  EXPECT_NEAR(onlyFuncI.getX()(0, 0), 1.0, 1e-12);
  for (long index : onlyFuncI.indices)
    ASSERT_EQ(index, tkFSolver::kAllEntries);

  // Overrides Func only, with the block setting on: the block-wise Jacobian falls back on Func.
  LevMarSettings settings = tightSettings();
  settings.blockJacobian = true;
  FunctionSolver onlyFunc(2, 2, rosenbrock, settings);
  onlyFunc.recomputeYVals({true, true});
  onlyFunc.setX(columnOf({-1.2, 1.0}));
  onlyFunc.minimize();
  EXPECT_NEAR(onlyFunc.getX()(0, 0), 1.0, 1e-10);

  tkLevMarSolve neither(2, 2, 1e-14, 0.0, 100, 15, 0.01, 1e-8, 1e20, true, false);
  EXPECT_THROW(neither.minimize(), tkInvariantFailure);
  FunctionSolver reshaping(2, 2, [](const tkNMMatrix&, tkNMMatrix& f) {
    f.resize(3, 1);
    return 0L;
  });
  EXPECT_THROW(reshaping.minimize(), tkInvariantFailure);
}

TEST(SolverFunction, ExceptionsPassThroughAndKeepTheLastAcceptedX) {
  long calls = 0;
  FunctionSolver solver(2, 2, [&calls](const tkNMMatrix& x, tkNMMatrix& f) {
    if (++calls == 12)
      throw std::runtime_error("model failure");
    return rosenbrock(x, f);
  });
  solver.setX(columnOf({-1.2, 1.0}));
  EXPECT_THROW(solver.minimize(), std::runtime_error);
  EXPECT_EQ(solver.termination(), tkFSolver::eNotRun);
  EXPECT_LE(halfSquaredNorm(rosenbrock, solver.getX()),
            halfSquaredNorm(rosenbrock, columnOf({-1.2, 1.0})))
      << "x must be the start or an accepted point, which lowered |F|^2";
}

TEST(SolverHooks, FailingNormalEquationsCountAsRejectedSteps) {
  class NeverSolves : public FunctionSolver {
   public:
    explicit NeverSolves(const LevMarSettings& s) : FunctionSolver(2, 2, rosenbrock, s) {}
    bool solveNormalEquations(const tkNMMatrix&, const tkNMMatrix&, const tkNMMatrix&,
                              tkNMMatrix&) override {
      ++attempts;
      return false;
    }
    long attempts = 0;
  };
  LevMarSettings settings;
  settings.maxLambdaSteps = 4;
  NeverSolves solver(settings);
  solver.setX(columnOf({-1.2, 1.0}));
  solver.minimize();
  EXPECT_EQ(solver.termination(), tkFSolver::eNoDecrease);
  EXPECT_EQ(solver.attempts, 1 + settings.maxLambdaSteps);
  EXPECT_EQ(solver.getX()(0, 0), -1.2);
}

TEST(SolverHooks, DampingLimitsEndAnIterationWithoutProgress) {
  // F = |x| + 1 at x = 0: the forward difference sees slope +1, every step to the left raises
  // |F|. Trials per iteration: the first plus one per allowed increase of λ.
  auto kink = [](const tkNMMatrix& x, tkNMMatrix& f) {
    f(0, 0) = std::fabs(x(0, 0)) + 1.0;
    return 0L;
  };
  LevMarSettings settings;
  settings.maxLambdaSteps = 3;
  FunctionSolver bySteps(1, 1, kink, settings);
  bySteps.minimize();
  EXPECT_EQ(bySteps.termination(), tkFSolver::eNoDecrease);
  EXPECT_EQ(bySteps.calls, 1 + 1 + (1 + 3));  // start, Jacobian, trials
  EXPECT_DOUBLE_EQ(bySteps.lambda(), 0.01 * 1e3);

  settings.lambdaMax = 0.5;  // allows 0.01 -> 0.1 only
  FunctionSolver byLambda(1, 1, kink, settings);
  byLambda.minimize();
  EXPECT_EQ(byLambda.calls, 1 + 1 + 2);
  EXPECT_EQ(byLambda.getX()(0, 0), 0.0);
}

TEST(SolverSettings, InvalidValuesAreRejected) {
  struct Row {
    long n, m;
    double xTol;
    long maxLambdaSteps;
    double lambda0, step, lambdaMax;
  };
  const Row rows[] = {{0, 2, 1e-12, 15, 0.01, 1e-8, 1e20}, {2, 0, 1e-12, 15, 0.01, 1e-8, 1e20},
                      {2, 2, -1.0, 15, 0.01, 1e-8, 1e20},  {2, 2, 1e-12, -1, 0.01, 1e-8, 1e20},
                      {2, 2, 1e-12, 15, 0.0, 1e-8, 1e20},  {2, 2, 1e-12, 15, 0.01, 0.0, 1e20},
                      {2, 2, 1e-12, 15, 0.01, 1e-8, 1e-3}};
  for (const Row& r : rows)
    EXPECT_THROW(tkLevMarSolve(r.n, r.m, r.xTol, 1e-12, 10, r.maxLambdaSteps, r.lambda0, r.step,
                               r.lambdaMax, true, false),
                 tkInvariantFailure);
  FunctionSolver solver(2, 2, rosenbrock);
  EXPECT_THROW(solver.setX(tkNMMatrix(1, 2)), tkInvariantFailure);
  EXPECT_THROW(solver.setX(columnOf({1.0, NAN})), tkInvariantFailure);
  EXPECT_THROW(solver.nIter(-1), tkInvariantFailure);
}
