// The minimisation loop and its step solvers: the structured step (local blocks eliminated)
// equals the dense one for both systems it serves, the loop reaches an exact root with every
// step solver and acceptance rule without allocating, stops in the merit's flat band, and its
// callback stops it.
#include "platform/core/structured_step.h"
#include "platform/proc/dense_step_solvers.h"
#include "platform/proc/minimizer.h"

#include "allocation_probe.h"

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using ccal::detail::AcceptanceRule;
using ccal::detail::BlockArrowheadSystem;
using Kind = BlockArrowheadSystem::Kind;

constexpr long kN = 22;

// Two shared blocks of 3, eight local blocks of 2, blocks and row groups alike; local block p
// is reached by shared block 0 when p < 6 and by shared block 1 when p is odd, so the rows of
// the shared blocks are coupling rows of the normal equations.
tkJacobianStructure arrowhead() {
  std::vector<long> starts{0, 3};
  for (long p = 0; p < 8; ++p)
    starts.push_back(6 + 2 * p);
  tkJacobianStructure s(kN, kN, starts, starts);
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

// A matrix with the declared pattern (unsymmetric), random entries, dominant diagonal.
Eigen::MatrixXd patterned(const tkJacobianStructure& s, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  Eigen::MatrixXd m = Eigen::MatrixXd::Zero(s.functionValues(), s.parameters());
  for (long b = 0; b < s.parameterBlocks(); ++b)
    for (long g : s.groupsOf(b))
      for (long i = 0; i < s.parameterCount(b); ++i)
        for (long r = 0; r < s.rowCount(g); ++r)
          m(s.rowStart(g) + r, s.parameterStart(b) + i) = unit(random);
  m.diagonal().array() += 4.0;
  return m;
}

std::unique_ptr<ccal::detail::StepSolver> makeSolver(bool structured, Kind kind) {
  if (structured)
    return std::make_unique<ccal::detail::StructuredStep>(arrowhead(), kind);
  if (kind == Kind::kNormalEquations)
    return std::make_unique<ccal::detail::DenseNormalEquations>(kN, kN);
  return std::make_unique<ccal::detail::DenseNewtonSystem>(kN);
}

TEST(StructuredStep, EqualsTheDenseStepForTheNormalEquationsAndTheNewtonSystem) {
  const Eigen::MatrixXd matrix = patterned(arrowhead(), 3);
  std::mt19937 random(4);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  Eigen::VectorXd f(kN), damping(kN);
  for (long i = 0; i < kN; ++i) {
    f(i) = unit(random);
    damping(i) = 0.5 + 0.1 * unit(random);
  }
  for (Kind kind : {Kind::kNormalEquations, Kind::kNewtonSystem}) {
    // The system by its definition, solved by full-pivot LU.
    const bool normal = kind == Kind::kNormalEquations;
    Eigen::MatrixXd a = normal ? Eigen::MatrixXd(matrix.transpose() * matrix) : matrix;
    const Eigen::VectorXd g = normal ? Eigen::VectorXd(-matrix.transpose() * f) : -f;
    const Eigen::VectorXd diagonal = a.diagonal();
    a.diagonal() += damping;
    const Eigen::VectorXd reference = a.fullPivLu().solve(g);
    for (bool structured : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "normal " << normal << ", structured " << structured);
      auto solver = makeSolver(structured, kind);
      Eigen::VectorXd d(kN), step(kN);
      solver->prepare(matrix.data(), f.data(), d.data());
      EXPECT_LT((d - diagonal).norm(), 1e-14 * diagonal.norm());
      ASSERT_TRUE(solver->solve(damping.data(), step.data()));
      EXPECT_LT((step - reference).norm(), 1e-12 * reference.norm());
    }
  }
}

TEST(StructuredStep, TheNewtonSystemFormNeedsAnArrowheadSquareStructure) {
  EXPECT_TRUE(BlockArrowheadSystem::newtonSystemApplies(arrowhead()));
  tkJacobianStructure coupled = arrowhead();
  coupled.couple(2, 3);  // two eliminated blocks reach each other's rows
  EXPECT_FALSE(BlockArrowheadSystem::newtonSystemApplies(coupled));
  tkJacobianStructure residuals(4, 6, {0, 2}, {0, 3});
  residuals.eliminate(1);
  EXPECT_FALSE(BlockArrowheadSystem::newtonSystemApplies(residuals));
  EXPECT_FALSE(BlockArrowheadSystem::newtonSystemApplies(tkJacobianStructure()));
}

// F(x) = M x + 0.05 x³ − c with the arrowhead pattern in M and a known root; analytic Jacobian.
class CubicProblem final : public ccal::detail::MinimizerProblem {
 public:
  CubicProblem() : m_(patterned(arrowhead(), 7)), truth_(kN), c_(kN), jacobian_(kN, kN) {
    for (long i = 0; i < kN; ++i)
      truth_(i) = 0.3 + 0.1 * std::sin(1.3 * static_cast<double>(i));
    c_ = m_ * truth_ + 0.05 * truth_.array().cube().matrix();
  }
  long evaluate(const double* x, double* f) override {
    const Eigen::Map<const Eigen::VectorXd> v(x, kN);
    Eigen::Map<Eigen::VectorXd>(f, kN).noalias() = m_ * v;
    for (long i = 0; i < kN; ++i)
      f[i] += 0.05 * x[i] * x[i] * x[i] - c_(i);
    return 0;
  }
  long linearize(const double* x, const double*) override {
    jacobian_ = m_;
    for (long i = 0; i < kN; ++i)
      jacobian_(i, i) += 0.15 * x[i] * x[i];
    return 0;
  }
  const double* jacobian() const override { return jacobian_.data(); }
  double merit(const double* x) override {
    Eigen::Map<Eigen::VectorXd>(work_, kN).setZero();
    evaluate(x, work_);
    return Eigen::Map<const Eigen::VectorXd>(work_, kN).squaredNorm();
  }
  const Eigen::VectorXd& truth() const { return truth_; }

 private:
  Eigen::MatrixXd m_;
  Eigen::VectorXd truth_, c_;
  Eigen::MatrixXd jacobian_;
  double work_[kN];
};

TEST(Minimizer, ReachesTheRootWithEveryStepSolverAndRuleWithoutAllocating) {
  struct Case {
    bool structured;
    Kind kind;
    AcceptanceRule rule;
  };
  const Case cases[] = {{false, Kind::kNormalEquations, AcceptanceRule::kSquaredNorm},
                        {true, Kind::kNormalEquations, AcceptanceRule::kSquaredNorm},
                        {true, Kind::kNormalEquations, AcceptanceRule::kNewton},
                        {false, Kind::kNewtonSystem, AcceptanceRule::kMerit},
                        {true, Kind::kNewtonSystem, AcceptanceRule::kMerit},
                        {false, Kind::kNewtonSystem, AcceptanceRule::kNewton}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "structured " << c.structured << ", kind " << static_cast<int>(c.kind)
                 << ", rule " << static_cast<int>(c.rule));
    CubicProblem problem;
    auto solver = makeSolver(c.structured, c.kind);
    ccal::detail::Minimizer minimizer(kN, kN);
    ccal::detail::MinimizerOptions options;
    options.acceptance = c.rule;
    options.stepTolerance = 1e-14;
    options.sufficientDecrease = c.rule == AcceptanceRule::kMerit ? 1e-4 : 0.0;
    Eigen::VectorXd x = problem.truth() + 0.2 * Eigen::VectorXd::Ones(kN);
    Eigen::VectorXd f(kN);
    ccal::detail::MinimizerSummary summary;
    {
      AllocationProbe probe;
      summary = minimizer.run(options, problem, *solver, nullptr, x.data(), f.data());
      EXPECT_EQ(probe.largest(), 0u) << "the loop allocated";
    }
    EXPECT_GT(summary.iterations, 2);
    EXPECT_TRUE(summary.termination == ccal::detail::Termination::kSmallStep ||
                summary.termination == ccal::detail::Termination::kSmallFunction)
        << static_cast<int>(summary.termination);
    EXPECT_LT((x - problem.truth()).norm(), 1e-12);
  }
}

// merit(x) = (x − b)² + 1 with F = s·(x − a) and K = s: F is the merit's gradient (s = 2, a = b)
// or close to it (a ≠ b), or has half its curvature (s = 1, a = b: full steps land at the mirror
// point, on the merit's level). Counts the merit evaluations.
class OneValueProblem final : public ccal::detail::MinimizerProblem {
 public:
  OneValueProblem(double s, double a, double b) : s_(s), a_(a), b_(b) {}
  long evaluate(const double* x, double* f) override {
    f[0] = s_ * (x[0] - a_);
    return 0;
  }
  long linearize(const double*, const double*) override { return 0; }
  const double* jacobian() const override { return &s_; }
  double merit(const double* x) override {
    ++merits;
    return (x[0] - b_) * (x[0] - b_) + 1.0;
  }
  int merits = 0;

 private:
  double s_, a_, b_;
};

TEST(Minimizer, ARejectedStepWithinTheFlatBandEndsTheLoopOnlyWhenTheModelPromisesNoMore) {
  ccal::detail::DenseNewtonSystem solver(1);
  ccal::detail::Minimizer minimizer(1, 1);
  ccal::detail::MinimizerOptions options;
  options.acceptance = AcceptanceRule::kMerit;
  options.decreaseTolerance = 1e-6;
  options.initialDamping = 1e-8;
  double f = 0.0;
  {
    // At the merit's minimum F's root is 1e-4 away: the step raises the merit by 1e-8, within
    // the band, and the model promises 5e-9. Without the rule λ would rise fifteen times.
    OneValueProblem problem(2.0, 1e-4, 0.0);
    double x = 0.0;
    const auto summary = minimizer.run(options, problem, solver, nullptr, &x, &f);
    EXPECT_EQ(summary.termination, ccal::detail::Termination::kSmallStep);
    EXPECT_EQ(summary.iterations, 1);
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(problem.merits, 2);
  }
  {
    // Full steps land on the merit's level at the mirror point, but the model promises half of
    // the distance squared: the loop shortens the steps and goes on to the minimum.
    OneValueProblem problem(1.0, 0.0, 0.0);
    double x = 1.0;
    const auto summary = minimizer.run(options, problem, solver, nullptr, &x, &f);
    EXPECT_GT(summary.iterations, 1);
    EXPECT_LT(std::fabs(x), 1e-2);
  }
}

TEST(Minimizer, AnAcceptedStepToTheMeritFloorEndsTheLoop) {
  ccal::detail::DenseNewtonSystem solver(1);
  ccal::detail::Minimizer minimizer(1, 1);
  ccal::detail::MinimizerOptions options;
  options.acceptance = AcceptanceRule::kMerit;
  options.initialDamping = 1e3;  // short steps at first, lengthening as λ falls
  double f = 0.0;
  // merit = 1 + x², F its gradient: the floor 1 + 1e-4 is passed on the way to x = 0.
  const auto run = [&](double floor, double& x) {
    options.meritFloor = floor;
    OneValueProblem problem(2.0, 0.0, 0.0);
    x = 1.0;
    return minimizer.run(options, problem, solver, nullptr, &x, &f);
  };
  double x = 0.0, free = 0.0;
  const auto floored = run(1.0 + 1e-4, x);
  const auto unfloored = run(0.0, free);
  EXPECT_EQ(floored.termination, ccal::detail::Termination::kSmallStep);
  EXPECT_LE(x * x, 1e-4);
  EXPECT_GT(x * x, 1e-12);  // ended at the floor, not at the minimum
  EXPECT_LT(floored.iterations, unfloored.iterations);
  EXPECT_LT(std::fabs(free), 1e-6);
}

// Stops at the n-th trial; counts what it was told.
class StopAtTrial final : public ccal::detail::MinimizerCallback {
 public:
  explicit StopAtTrial(int trial) : stopAt_(trial) {}
  long operator()(const ccal::detail::MinimizerState& state) override {
    if (state.event == ccal::detail::MinimizerEvent::kBeforeLinearization)
      ++linearizations;
    if (state.event == ccal::detail::MinimizerEvent::kStepAccepted)
      ++accepted;
    if (state.event == ccal::detail::MinimizerEvent::kBeforeTrial && ++trials == stopAt_)
      return -5;
    return 0;
  }
  int linearizations = 0, trials = 0, accepted = 0;

 private:
  int stopAt_;
};

TEST(Minimizer, ANegativeCallbackStatusStopsAtTheLastAcceptedPoint) {
  CubicProblem problem;
  ccal::detail::DenseNormalEquations solver(kN, kN);
  ccal::detail::Minimizer minimizer(kN, kN);
  ccal::detail::MinimizerOptions options;
  Eigen::VectorXd x = problem.truth() + 0.2 * Eigen::VectorXd::Ones(kN), f(kN);
  StopAtTrial callback(3);
  const auto summary = minimizer.run(options, problem, solver, &callback, x.data(), f.data());
  EXPECT_EQ(summary.termination, ccal::detail::Termination::kStopped);
  EXPECT_EQ(summary.status, -5);
  EXPECT_EQ(callback.linearizations, 3);
  EXPECT_EQ(callback.accepted, 2);
  EXPECT_EQ(summary.iterations, 3);
  // x and f are those of the second accepted step: F(x) = f, and short of the root.
  Eigen::VectorXd check(kN);
  problem.evaluate(x.data(), check.data());
  EXPECT_EQ((check - f).norm(), 0.0);
  EXPECT_GT((x - problem.truth()).norm(), 1e-8);
}

}  // namespace
