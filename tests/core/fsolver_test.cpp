// The function contract of the solver framework: block Jacobians, the Func/FuncI defaults, the
// extension hooks and the validation of settings.
#include <gtest/gtest.h>
#include <support/function_solver.h>
#include <tk/exception.h>
#include <tk/levmar_solve.h>

#include <cmath>
#include <stdexcept>
#include <vector>

namespace {

// A least-squares problem with block structure, solved through its gradient as the rig solvers
// do: shared parameters (frequency, decay) at 0 and 1, then per block j the parameters
// (amplitude, phase, offset) at kShared + kBlockSize * j. Observation k of block j at t_k:
//   model = amplitude * exp(-decay * t) * sin(frequency * t + phase) + offset.
// F = gradient of the sum of squared residuals. FuncI honours its index like the rig solvers:
// for a parameter of block j it evaluates block j's observations only.
class BlockProblem : public tkLevMarSolve {
 public:
  static constexpr long kShared = 2;
  static constexpr long kBlockSize = 3;
  static constexpr long kBlocks = 5;
  static constexpr long kObservations = 12;
  static constexpr long kSize = kShared + kBlockSize * kBlocks;

  explicit BlockProblem(bool blockJacobian)
      : tkLevMarSolve(kSize, kSize, 1e-14, 0.0, 100, 15, 0.01, 1e-8, 1e20, true, blockJacobian) {
    const tkNMMatrix truth = truthX();
    for (long j = 0; j < kBlocks; ++j) {
      for (long k = 0; k < kObservations; ++k)
        data_.push_back(model(truth, j, time(k)));
    }
  }

  static tkNMMatrix truthX() {
    tkNMMatrix x(kSize, 1);
    x(0, 0) = 1.3;
    x(1, 0) = 0.2;
    for (long j = 0; j < kBlocks; ++j) {
      x(kShared + kBlockSize * j + 0, 0) = 1.0 + 0.2 * static_cast<double>(j);
      x(kShared + kBlockSize * j + 1, 0) = 0.3 * static_cast<double>(j);
      x(kShared + kBlockSize * j + 2, 0) = -0.1 + 0.05 * static_cast<double>(j);
    }
    return x;
  }

  static tkNMMatrix startX() {
    tkNMMatrix x = truthX();
    for (long i = 0; i < kSize; ++i)
      x(i, 0) += 0.05 * std::sin(3.0 * static_cast<double>(i));
    return x;
  }

  static std::vector<bool> blockStarts() {
    std::vector<bool> flags(kSize, false);
    flags[0] = true;
    for (long j = 0; j < kBlocks; ++j)
      flags[static_cast<size_t>(kShared + kBlockSize * j)] = true;
    return flags;
  }

  long FuncI(const tkNMMatrix& x, tkNMMatrix& f, long index) const override {
    long onlyBlock = -1;
    if (recomputeY() && index >= kShared)
      onlyBlock = (index - kShared) / kBlockSize;
    for (long j = 0; j < kBlocks; ++j) {
      if (onlyBlock >= 0 && j != onlyBlock)
        continue;
      const long b = kShared + kBlockSize * j;
      for (long k = 0; k < kObservations; ++k) {
        ++observationsEvaluated;
        const double t = time(k);
        const double envelope = std::exp(-x(1, 0) * t);
        const double angle = x(0, 0) * t + x(b + 1, 0);
        const double amplitude = x(b, 0);
        const double twiceResidual =
            2.0 * (model(x, j, t) - data_[static_cast<size_t>(j * kObservations + k)]);
        // Accumulates: relies on the framework handing over a zero-filled f.
        f(0, 0) += twiceResidual * amplitude * envelope * std::cos(angle) * t;
        f(1, 0) -= twiceResidual * amplitude * envelope * std::sin(angle) * t;
        f(b + 0, 0) += twiceResidual * envelope * std::sin(angle);
        f(b + 1, 0) += twiceResidual * amplitude * envelope * std::cos(angle);
        f(b + 2, 0) += twiceResidual;
      }
    }
    return 0;
  }

  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override { return FuncI(x, f, kAllEntries); }

  mutable long observationsEvaluated = 0;

 private:
  static double time(long k) { return 0.35 * static_cast<double>(k); }
  static double model(const tkNMMatrix& x, long j, double t) {
    const long b = kShared + kBlockSize * j;
    return x(b, 0) * std::exp(-x(1, 0) * t) * std::sin(x(0, 0) * t + x(b + 1, 0)) + x(b + 2, 0);
  }

  std::vector<double> data_;
};

double maxAbs(const tkNMMatrix& m) {
  double largest = 0.0;
  for (long i = 0; i < m.size(); ++i)
    largest = std::max(largest, std::fabs(m.data()[i]));
  return largest;
}

double maxAbsDifference(const tkNMMatrix& a, const tkNMMatrix& b) {
  double largest = 0.0;
  for (long i = 0; i < a.size(); ++i) {
    largest = std::max(largest, std::fabs(a.data()[i] - b.data()[i]));
  }
  return largest;
}

tkNMMatrix jacobianAt(BlockProblem& problem, const tkNMMatrix& x) {
  tkNMMatrix f(BlockProblem::kSize, 1);
  problem.Func(x, f);
  tkNMMatrix jacobian;
  EXPECT_EQ(problem.compJacob(x, f, jacobian), 0);
  return jacobian;
}

long rosenbrockResiduals(const tkNMMatrix& x, tkNMMatrix& f) {
  f(0, 0) = 10.0 * (x(1, 0) - x(0, 0) * x(0, 0));
  f(1, 0) = 1.0 - x(0, 0);
  return 0;
}

LevMarSettings exactSettings() {
  LevMarSettings settings;
  settings.fTol = 0.0;
  settings.xTol = 1e-14;
  return settings;
}

}  // namespace

// ---- block Jacobian ----------------------------------------------------------------------------

TEST(BlockJacobian, EqualsTheFullNumericalJacobianAtAFractionOfTheCost) {
  BlockProblem full(false);
  BlockProblem blockWise(true);
  blockWise.recomputeYVals(BlockProblem::blockStarts());
  ASSERT_TRUE(blockWise.recomputeY());
  ASSERT_FALSE(full.recomputeY());

  const tkNMMatrix x = BlockProblem::startX();
  const tkNMMatrix reference = jacobianAt(full, x);
  full.observationsEvaluated = 0;
  jacobianAt(full, x);
  blockWise.observationsEvaluated = 0;
  const tkNMMatrix jacobian = jacobianAt(blockWise, x);

  EXPECT_LT(maxAbsDifference(jacobian, reference), 1e-6 * maxAbs(reference));
  // Full: the value plus n perturbed evaluations of all observations. Block-wise: the value,
  // one base per block (all observations for the shared block, one block's for the others) and
  // the perturbed evaluations (all for a shared parameter, one block's for a block parameter).
  const long all = BlockProblem::kBlocks * BlockProblem::kObservations;
  EXPECT_EQ(full.observationsEvaluated, all * (1 + BlockProblem::kSize));
  EXPECT_EQ(blockWise.observationsEvaluated,
            all + (all + BlockProblem::kBlocks * BlockProblem::kObservations) +
                (BlockProblem::kShared * all +
                 BlockProblem::kBlocks * BlockProblem::kBlockSize * BlockProblem::kObservations))
      << "the base must be evaluated once per block, not once per parameter";
}

TEST(BlockJacobian, NeedsBothTheSettingAndTheFlags) {
  BlockProblem withoutFlags(true);
  EXPECT_FALSE(withoutFlags.recomputeY());
  BlockProblem withoutSetting(false);
  withoutSetting.recomputeYVals(BlockProblem::blockStarts());
  EXPECT_FALSE(withoutSetting.recomputeY());
  EXPECT_LT(maxAbsDifference(jacobianAt(withoutFlags, BlockProblem::startX()),
                             jacobianAt(withoutSetting, BlockProblem::startX())),
            1e-12);

  EXPECT_THROW(withoutFlags.recomputeYVals(std::vector<bool>(3, true)), tkInvariantFailure);
  withoutSetting.recomputeYVals({});
  EXPECT_TRUE(withoutSetting.recomputeYVals().empty());
}

TEST(BlockJacobian, MinimisationReachesTheSameSolution) {
  BlockProblem full(false);
  BlockProblem blockWise(true);
  blockWise.recomputeYVals(BlockProblem::blockStarts());
  full.setX(BlockProblem::startX());
  blockWise.setX(BlockProblem::startX());
  full.minimize();
  blockWise.minimize();
  EXPECT_LT(maxAbsDifference(full.getX(), BlockProblem::truthX()), 1e-10);
  EXPECT_LT(maxAbsDifference(blockWise.getX(), BlockProblem::truthX()), 1e-10);
  EXPECT_LT(blockWise.observationsEvaluated, full.observationsEvaluated / 2);
}

// ---- Func / FuncI defaults ---------------------------------------------------------------------

TEST(SolverFunction, DefaultsForwardBetweenFuncAndFuncI) {
  // Overrides FuncI only: Func must forward with kAllEntries.
  class OnlyFuncI : public tkLevMarSolve {
   public:
    OnlyFuncI() : tkLevMarSolve(2, 2, 1e-14, 0.0, 100, 15, 0.01, 1e-8, 1e20, true, false) {}
    long FuncI(const tkNMMatrix& x, tkNMMatrix& f, long index) const override {
      indices.push_back(index);
      return rosenbrockResiduals(x, f);
    }
    mutable std::vector<long> indices;
  } onlyFuncI;
  onlyFuncI.setX(columnOf({-1.2, 1.0}));
  onlyFuncI.minimize();
  EXPECT_NEAR(onlyFuncI.getX()(0, 0), 1.0, 1e-12);
  for (long index : onlyFuncI.indices)
    ASSERT_EQ(index, tkFSolver::kAllEntries);

  // Overrides Func only, with the block setting on: the block-wise Jacobian falls back on Func.
  LevMarSettings settings = exactSettings();
  settings.blockJacobian = true;
  FunctionSolver onlyFunc(2, 2, rosenbrockResiduals, settings);
  onlyFunc.recomputeYVals({true, true});
  onlyFunc.setX(columnOf({-1.2, 1.0}));
  onlyFunc.minimize();
  EXPECT_NEAR(onlyFunc.getX()(0, 0), 1.0, 1e-10);

  // Overrides neither.
  tkLevMarSolve neither(2, 2, 1e-14, 0.0, 100, 15, 0.01, 1e-8, 1e20, true, false);
  EXPECT_THROW(neither.minimize(), tkInvariantFailure);
}

TEST(SolverFunction, ReshapingTheOutputColumnIsAnError) {
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
    return rosenbrockResiduals(x, f);
  });
  solver.setX(columnOf({-1.2, 1.0}));
  EXPECT_THROW(solver.minimize(), std::runtime_error);
  EXPECT_EQ(solver.termination(), tkFSolver::eNotRun);
  tkNMMatrix f(2, 1);
  rosenbrockResiduals(solver.getX(), f);
  const double startCost = 4.4 * 4.4 + 2.2 * 2.2;
  EXPECT_LE(f(0, 0) * f(0, 0) + f(1, 0) * f(1, 0), startCost)
      << "x must be the start or an accepted point, which lowered |F|^2";
}

// ---- hooks -------------------------------------------------------------------------------------

TEST(SolverHooks, AnalyticJacobianReplacesTheDifferences) {
  class Analytic : public FunctionSolver {
   public:
    Analytic() : FunctionSolver(2, 2, rosenbrockResiduals, exactSettings()) {}
    long compJacob(const tkNMMatrix& x, const tkNMMatrix&, tkNMMatrix& jacobian) override {
      ++jacobians;
      jacobian(0, 0) = -20.0 * x(0, 0);
      jacobian(0, 1) = 10.0;
      jacobian(1, 0) = -1.0;
      jacobian(1, 1) = 0.0;
      return 0;
    }
    long jacobians = 0;
  } solver;
  solver.setX(columnOf({-1.2, 1.0}));
  solver.minimize();
  EXPECT_NEAR(solver.getX()(0, 0), 1.0, 1e-12);
  EXPECT_EQ(solver.jacobians, solver.iterationsDone());
  // Only the start and the trial points are evaluated.
  EXPECT_LE(solver.calls, 1 + solver.iterationsDone() * (1 + solver.maxLambdaSteps()));
}

TEST(SolverHooks, FailingNormalEquationsCountAsRejectedSteps) {
  class NeverSolves : public FunctionSolver {
   public:
    explicit NeverSolves(const LevMarSettings& s) : FunctionSolver(2, 2, rosenbrockResiduals, s) {}
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

// ---- settings ----------------------------------------------------------------------------------

TEST(SolverSettings, InvalidValuesAreRejected) {
  auto make = [](long n, long m, double xTol, long maxLambdaSteps, double lambda0, double step,
                 double lambdaMax) {
    tkLevMarSolve solver(n, m, xTol, 1e-12, 10, maxLambdaSteps, lambda0, step, lambdaMax, true,
                         false);
  };
  EXPECT_NO_THROW(make(2, 2, 1e-12, 15, 0.01, 1e-8, 1e20));
  EXPECT_THROW(make(0, 2, 1e-12, 15, 0.01, 1e-8, 1e20), tkInvariantFailure);
  EXPECT_THROW(make(2, 0, 1e-12, 15, 0.01, 1e-8, 1e20), tkInvariantFailure);
  EXPECT_THROW(make(2, 2, -1.0, 15, 0.01, 1e-8, 1e20), tkInvariantFailure);
  EXPECT_THROW(make(2, 2, 1e-12, -1, 0.01, 1e-8, 1e20), tkInvariantFailure);
  EXPECT_THROW(make(2, 2, 1e-12, 15, 0.0, 1e-8, 1e20), tkInvariantFailure);
  EXPECT_THROW(make(2, 2, 1e-12, 15, 0.01, 0.0, 1e20), tkInvariantFailure);
  EXPECT_THROW(make(2, 2, 1e-12, 15, 0.01, 1e-8, 1e-3), tkInvariantFailure);

  FunctionSolver solver(2, 2, rosenbrockResiduals);
  EXPECT_EQ(solver.getSize(), 2);
  EXPECT_THROW(solver.setX(tkNMMatrix(1, 2)), tkInvariantFailure);
  EXPECT_THROW(solver.setX(columnOf({1.0, NAN})), tkInvariantFailure);
  EXPECT_THROW(solver.nIter(-1), tkInvariantFailure);
}
