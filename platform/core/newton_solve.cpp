#include <tk/newton_solve.h>

#include "platform/core/fsolver_problem.h"
#include "platform/core/invalid_argument.h"
#include "platform/core/structured_step.h"
#include "platform/proc/dense_step_solvers.h"
#include "platform/proc/minimizer.h"

#include <algorithm>

namespace ccal::detail {

FSolverProblem::FSolverProblem(tkNewtonSolve& solver)
    : solver_(solver), x_(solver.getSize(), 1), f_(solver.getFunctionSize(), 1) {}

const tkNMMatrix& FSolverProblem::column(const double* x) {
  if (x == solver_.getX().data())
    return solver_.getX();
  std::copy(x, x + solver_.getSize(), x_.data());
  return x_;
}

long FSolverProblem::evaluate(const double* x, double* f) {
  if (f == solver_.f_.data())
    return solver_.evaluate(column(x), solver_.f_);
  const long status = solver_.evaluate(column(x), f_);
  std::copy(f_.data(), f_.data() + solver_.getFunctionSize(), f);
  return status;
}

long FSolverProblem::linearize(const double* x, const double* /*f: the solver's f()*/) {
  return solver_.compJacob(column(x), solver_.f_, solver_.jacobian_);
}

const double* FSolverProblem::jacobian() const {
  return solver_.jacobian_.data();
}

}  // namespace ccal::detail

namespace {

tkFSolver::Termination toTermination(ccal::detail::Termination why) {
  using ccal::detail::Termination;
  switch (why) {
    case Termination::kNotRun:
      return tkFSolver::eNotRun;
    case Termination::kSmallFunction:
      return tkFSolver::eSmallFunction;
    case Termination::kSmallStep:
      return tkFSolver::eSmallStep;
    case Termination::kIterationLimit:
      return tkFSolver::eIterationLimit;
    case Termination::kNoDecrease:
      return tkFSolver::eNoDecrease;
    case Termination::kSingularSystem:
      return tkFSolver::eSingularSystem;
    case Termination::kStopped:
      return tkFSolver::eFunctionStopped;
    case Termination::kNonFiniteStart:
      return tkFSolver::eNonFiniteStart;
  }
  return tkFSolver::eNotRun;
}

}  // namespace

tkNewtonSolve::tkNewtonSolve(long n, long m, double xTol, double fTol, long maxIterations,
                             double jacobianStep, bool blockJacobian)
    : tkFSolver(n, m, maxIterations, jacobianStep, blockJacobian), xTol_(xTol), fTol_(fTol) {
  if (!(xTol >= 0.0) || !(fTol >= 0.0)) {
    tk_throwInvalidArgument("tkNewtonSolve: the tolerances must not be negative or NaN");
  }
  f_.resize(m, 1);
  jacobian_.resize(m, n);
  problem_ = std::make_unique<ccal::detail::FSolverProblem>(*this);
  minimizer_ = std::make_unique<ccal::detail::Minimizer>(n, m);
}

tkNewtonSolve::~tkNewtonSolve() = default;

ccal::detail::StepSolver& tkNewtonSolve::normalEquationsSolver() {
  if (!jacobianStructure().empty()) {
    if (structured_ == nullptr || structuredVersion_ != jacobianStructureVersion()) {
      structured_ = std::make_unique<ccal::detail::StructuredStep>(
          jacobianStructure(), ccal::detail::BlockArrowheadSystem::Kind::kNormalEquations);
      structuredVersion_ = jacobianStructureVersion();
    }
    return *structured_;
  }
  if (dense_ == nullptr)
    dense_ = std::make_unique<ccal::detail::DenseNormalEquations>(getSize(), getFunctionSize());
  return *dense_;
}

double tkNewtonSolve::runMinimizer(const ccal::detail::MinimizerOptions& options,
                                   ccal::detail::MinimizerProblem* problem,
                                   ccal::detail::StepSolver& solver,
                                   ccal::detail::MinimizerCallback* callback,
                                   double* finalDamping) {
  setOutcome(eNotRun, 0, 0);  // what stays reported if the function throws
  ccal::detail::MinimizerOptions settings = options;
  settings.maxIterations = nIter();
  settings.stepTolerance = xTol_;
  settings.functionTolerance = fTol_;
  const ccal::detail::MinimizerSummary summary =
      minimizer_->run(settings, problem != nullptr ? *problem : *problem_, solver, callback,
                      currentX().data(), f_.data());
  setOutcome(toTermination(summary.termination), summary.iterations, summary.status);
  if (finalDamping != nullptr)
    *finalDamping = summary.damping;
  return 0.5 * summary.squaredNorm;
}

double tkNewtonSolve::minimize() {
  ccal::detail::MinimizerOptions options;
  options.acceptance = ccal::detail::AcceptanceRule::kNewton;
  return runMinimizer(options, nullptr, normalEquationsSolver(), nullptr);
}
