// The damped least-squares solver: convergence on exact and noisy problems, the stopping rules,
// the Func/FuncI contract, the extension hooks and the validation of settings. The minimisation
// loop it shares with the other solvers (steps, acceptance, flat band): step_solver_test.
#include <gtest/gtest.h>
#include <tk/exception.h>
#include <tk/levmar_solve.h>

#include <cmath>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

// The tkLevMarSolve settings that the tests vary, with the values the calibration solvers use.
// The library's named settings with a function tolerance of 1e-12.
tkLevMarSettings testSettings() {
  tkLevMarSettings s;
  s.fTol = 1e-12;
  return s;
}

// A solver whose function is given as a callable; counts the evaluations.
class FunctionSolver : public tkLevMarSolve {
 public:
  using Function = std::function<long(const tkNMMatrix& x, tkNMMatrix& f)>;
  FunctionSolver(long n, long m, Function function, const tkLevMarSettings& s = testSettings())
      : tkLevMarSolve(n, m, s),
        function_(std::move(function)) {}
  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override {
    ++calls;
    return function_(x, f);
  }
  mutable long calls = 0;

 private:
  Function function_;
};

tkNMMatrix columnOf(const std::vector<double>& values) {
  tkNMMatrix column(static_cast<long>(values.size()), 1);
  for (size_t i = 0; i < values.size(); ++i)
    column(static_cast<long>(i), 0) = values[i];
  return column;
}

// Residuals of the Rosenbrock function (10 (b - a^2), 1 - a): the classic test of a damped
// least-squares solver; root (1, 1).
long rosenbrock(const tkNMMatrix& x, tkNMMatrix& f) {
  f(0, 0) = 10.0 * (x(1, 0) - x(0, 0) * x(0, 0));
  f(1, 0) = 1.0 - x(0, 0);
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

tkLevMarSettings tightSettings() {
  tkLevMarSettings s;
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

tkNMMatrix bumpStart() {
  tkNMMatrix x(2 * kBumps, 1);
  for (long k = 0; k < kBumps; ++k) {
    x(k, 0) = 0.6;
    x(kBumps + k, 0) = static_cast<double>(k) + (k % 2 == 0 ? 0.3 : -0.3);
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

// Fits data from the truth plus Gaussian noise of deviation sigma (m = kSamples > n = 20);
// returns the final cost, x in solved.
double fitBumps(double sigma, tkNMMatrix& solved) {
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
  FunctionSolver solver(
      2 * kBumps, kSamples,
      [y](const tkNMMatrix& x, tkNMMatrix& f) {
        for (long i = 0; i < kSamples; ++i)
          f(i, 0) = bumpModel(x, sampleTime(i)) - y[size_t(i)];
        return 0L;
      },
      tightSettings());
  solver.setX(bumpStart());
  const double cost = solver.minimize();
  solved = solver.getX();
  return cost;
}

double maxDeviation(const tkNMMatrix& a, const tkNMMatrix& b) {
  double largest = 0.0;
  for (long i = 0; i < a.rows(); ++i)
    largest = std::max(largest, std::fabs(a(i, 0) - b(i, 0)));
  return largest;
}

}  // namespace

// ---- convergence -------------------------------------------------------------------------------

TEST(LevMarConvergence, TwentyParameterCurveFitOnExactAndNoisyData) {
  tkNMMatrix x;
  EXPECT_LT(fitBumps(0.0, x), 1e-25);
  EXPECT_LT(maxDeviation(x, bumpTruth()), 1e-10);
  const double sigma = 0.01;
  const double rms = std::sqrt(2.0 * fitBumps(sigma, x) / kSamples);
  const double expected = sigma * std::sqrt(1.0 - 2.0 * kBumps / static_cast<double>(kSamples));
  EXPECT_NEAR(rms, expected, 0.1 * expected) << "residual should be what the noise explains";
  EXPECT_LT(maxDeviation(x, bumpTruth()), 10.0 * sigma);
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

  tkLevMarSettings settings = testSettings();
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

TEST(SolverFunction, AFunctionMustBeGivenAndKeepItsShape) {
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

TEST(SolverHooks, DampingLimitsEndAnIterationWithoutProgress) {
  // F = |x| + 1 at x = 0: the forward difference sees slope +1, every step to the left raises
  // |F|. Trials per iteration: the first plus one per allowed increase of λ.
  auto kink = [](const tkNMMatrix& x, tkNMMatrix& f) {
    f(0, 0) = std::fabs(x(0, 0)) + 1.0;
    return 0L;
  };
  tkLevMarSettings settings = testSettings();
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
