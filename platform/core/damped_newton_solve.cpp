#include <tk/damped_newton_solve.h>

#include "platform/core/fsolver_problem.h"
#include "platform/core/invalid_argument.h"
#include "platform/core/structured_step.h"
#include "platform/proc/dense_step_solvers.h"
#include "platform/proc/minimizer.h"

#include <algorithm>
#include <cmath>

namespace ccal::detail {

// The solver's Func, compJacob and merit.
class DampedNewtonProblem final : public FSolverProblem {
 public:
  explicit DampedNewtonProblem(tkDampedNewtonSolve& solver)
      : FSolverProblem(solver), damped_(solver) {}
  double merit(const double* x) override { return damped_.merit(column(x)); }
  void adjustTrial(double* x) override { damped_.adjustTrial(x); }

 private:
  tkDampedNewtonSolve& damped_;
};

// The step through the solver's solveDampedStep, whose default is the prepared Newton step.
class DampedStep final : public StepSolver {
 public:
  explicit DampedStep(tkDampedNewtonSolve& solver)
      : solver_(solver), damping_(solver.getSize(), 1), step_(solver.getSize(), 1) {}

  void prepare(const double* k, const double* f, double* diagonal) override {
    solver_.newtonStep_->prepare(k, f, diagonal);
  }
  bool solve(const double* damping, double* step) override {
    const long n = solver_.getSize();
    std::copy(damping, damping + n, damping_.data());
    if (!solver_.solveDampedStep(damping_, step_))
      return false;
    std::copy(step_.data(), step_.data() + n, step);
    return true;
  }
  double dampingDecrease(double usual) const override { return solver_.dampingDecrease(usual); }

 private:
  tkDampedNewtonSolve& solver_;
  tkNMMatrix damping_;
  tkNMMatrix step_;
};

}  // namespace ccal::detail

tkDampedNewtonSolve::tkDampedNewtonSolve(long n, long m, double xTol, double fTol,
                                         long maxIterations, long maxLambdaSteps, double lambda0,
                                         double jacobianStep, double lambdaMax,
                                         bool scaleByDiagonal, bool blockJacobian)
    : tkLevMarSolve(n, m, xTol, fTol, maxIterations, maxLambdaSteps, lambda0, jacobianStep,
                    lambdaMax, scaleByDiagonal, blockJacobian) {
  if (m != n)
    tk_throwInvalidArgument("tkDampedNewtonSolve: F must have one value per parameter");
  step_ = std::make_unique<ccal::detail::DampedStep>(*this);
  problem_ = std::make_unique<ccal::detail::DampedNewtonProblem>(*this);
}

tkDampedNewtonSolve::tkDampedNewtonSolve(long n, const tkLevMarSettings& s)
    : tkDampedNewtonSolve(n, n, s.xTol, s.fTol, s.maxIterations, s.maxLambdaSteps, s.lambda0,
                          s.jacobianStep, s.lambdaMax, s.scaleByDiagonal, s.blockJacobian) {}

tkDampedNewtonSolve::~tkDampedNewtonSolve() = default;

void tkDampedNewtonSolve::meritTolerance(double tolerance) {
  if (!(tolerance >= 0.0 && tolerance < 1.0))
    tk_throwInvalidArgument("tkDampedNewtonSolve: meritTolerance must lie in [0, 1)");
  meritTolerance_ = tolerance;
}

void tkDampedNewtonSolve::meritFloor(double floor) {
  if (!(floor >= 0.0 && std::isfinite(floor)))
    tk_throwInvalidArgument("tkDampedNewtonSolve: meritFloor must be finite and not negative");
  meritFloor_ = floor;
}

void tkDampedNewtonSolve::sufficientDecrease(double fraction) {
  if (!(fraction >= 0.0 && fraction < 1.0))
    tk_throwInvalidArgument("tkDampedNewtonSolve: sufficientDecrease must lie in [0, 1)");
  sufficientDecrease_ = fraction;
}

bool tkDampedNewtonSolve::solveDampedStep(const tkNMMatrix& damping, tkNMMatrix& step) {
  if (damping.rows() != getSize() || step.rows() != getSize())
    tk_throwInvalidArgument("tkDampedNewtonSolve::solveDampedStep: wrong shapes");
  return newtonStep_->solve(damping.data(), step.data());
}

double tkDampedNewtonSolve::minimize() {
  using ccal::detail::BlockArrowheadSystem;
  if (BlockArrowheadSystem::newtonSystemApplies(jacobianStructure())) {
    if (structured_ == nullptr || structuredVersion_ != jacobianStructureVersion()) {
      structured_ = std::make_unique<ccal::detail::StructuredStep>(
          jacobianStructure(), BlockArrowheadSystem::Kind::kNewtonSystem);
      structuredVersion_ = jacobianStructureVersion();
    }
    newtonStep_ = structured_.get();
  } else {
    if (dense_ == nullptr)
      dense_ = std::make_unique<ccal::detail::DenseNewtonSystem>(getSize());
    newtonStep_ = dense_.get();
  }

  ccal::detail::MinimizerOptions options = minimizerOptions();
  options.acceptance = ccal::detail::AcceptanceRule::kMerit;
  options.scaleByDiagonal = true;  // D = |diag K| whatever the setting
  options.sufficientDecrease = sufficientDecrease_;
  options.decreaseTolerance = meritTolerance_;
  options.meritFloor = meritFloor_;
  options.meritFirst = meritFirst_;
  ccal::detail::AttentionCallback attention;
  finalLambda() = lambda0();
  return runMinimizer(options, problem_.get(), *step_, &attention, &finalLambda());
}
