#include "platform/proc/minimizer.h"

#include <proc/csys_attention.h>

#include <Eigen/Core>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace ccal::detail {
namespace {

// Factor by which λ rises after a rejected step and falls after an accepted one.
constexpr double kDampingFactor = 10.0;

double squaredNorm(const double* v, long size) {
  return Eigen::Map<const Eigen::VectorXd>(v, size).squaredNorm();
}

// Raises λ for another trial within one iteration; false (λ unchanged) when the iteration has
// used its raises or the raised value would pass the largest damping.
bool raiseDamping(double& lambda, long& raised, const MinimizerOptions& options) {
  if (raised >= options.maxDampingRaises || lambda * kDampingFactor > options.maxDamping)
    return false;
  lambda *= kDampingFactor;
  ++raised;
  return true;
}

}  // namespace

long AttentionCallback::operator()(const MinimizerState& state) {
  if (state.event == MinimizerEvent::kStepAccepted)
    return 0;
  return csys_attention_check();
}

double MinimizerProblem::merit(const double* /*x*/) {
  return std::numeric_limits<double>::quiet_NaN();
}

Minimizer::Minimizer(long n, long m)
    : n_(n),
      m_(m),
      xTrial_(static_cast<std::size_t>(n)),
      fTrial_(static_cast<std::size_t>(m)),
      step_(static_cast<std::size_t>(n)),
      damping_(static_cast<std::size_t>(n)),
      diagonal_(static_cast<std::size_t>(n)),
      scaling_(static_cast<std::size_t>(n)) {}

double Minimizer::prepareScaling(const MinimizerOptions& options) {
  double largest = 0.0;
  for (double d : diagonal_)
    largest = std::max(largest, std::fabs(d));
  if (options.scaleByDiagonal) {
    const double smallest = std::max(options.dampingFloor * largest, DBL_MIN);
    for (long i = 0; i < n_; ++i)
      scaling_[static_cast<std::size_t>(i)] =
          std::max(std::fabs(diagonal_[static_cast<std::size_t>(i)]), smallest);
    return options.dampingFloor;
  }
  std::fill(scaling_.begin(), scaling_.end(), 1.0);
  return std::max(options.dampingFloor * largest, DBL_MIN);
}

MinimizerSummary Minimizer::run(const MinimizerOptions& options, MinimizerProblem& problem,
                                StepSolver& solver, MinimizerCallback* callback, double* x,
                                double* f) {
  MinimizerSummary summary;
  const bool damped = options.acceptance != AcceptanceRule::kNewton;
  const bool byMerit = options.acceptance == AcceptanceRule::kMerit;
  double lambda = damped ? options.initialDamping : 0.0;
  summary.damping = lambda;

  std::fill(f, f + m_, 0.0);
  long status = problem.evaluate(x, f);
  double cost = squaredNorm(f, m_);
  if (status < 0 || !std::isfinite(cost)) {
    summary.termination = status < 0 ? Termination::kStopped : Termination::kNonFiniteStart;
    summary.status = status < 0 ? status : 0;
    summary.squaredNorm = std::numeric_limits<double>::infinity();
    return summary;
  }
  double measure = byMerit ? problem.merit(x) : cost;  // what accepted steps lower

  const auto notify = [&](MinimizerEvent event, long iteration) -> long {
    if (callback == nullptr)
      return 0;
    return (*callback)(MinimizerState{event, iteration, cost, lambda});
  };
  // Whether the merit at a trial point (written to trialMeasure) is below the current one and,
  // with sufficientDecrease > 0, by that share of the decrease the quadratic model predicts
  // (with F = 2∇merit and K ≈ 2∇²merit: merit + ½Fᵀδ + ¼δᵀKδ). Reads the iteration's step and
  // Jacobian.
  const double* jacobian = nullptr;
  const auto predictedDecrease = [&]() {
    double linear = 0.0, quadratic = 0.0;
    for (long i = 0; i < n_; ++i) {
      linear += f[i] * step_[static_cast<std::size_t>(i)];
      double row = 0.0;
      for (long j = 0; j < n_; ++j)
        row += jacobian[i + j * n_] * step_[static_cast<std::size_t>(j)];
      quadratic += step_[static_cast<std::size_t>(i)] * row;
    }
    return -(0.5 * linear + 0.25 * quadratic);
  };
  const auto meritLower = [&](const double* xTrial, double& trialMeasure) {
    trialMeasure = problem.merit(xTrial);
    bool enough = true;
    if (options.sufficientDecrease > 0.0)
      enough = measure - trialMeasure >= options.sufficientDecrease * predictedDecrease();
    return trialMeasure < measure && enough;
  };
  const double stepBound = options.stepTolerance;
  double* step = step_.data();
  double* xTrial = xTrial_.data();
  double* fTrial = fTrial_.data();
  if (!damped)
    std::fill(damping_.begin(), damping_.end(), 0.0);

  long iterations = 0;
  Termination why = Termination::kIterationLimit;
  status = 0;
  for (;;) {
    if (cost <= options.functionTolerance) {
      why = Termination::kSmallFunction;
      break;
    }
    if (iterations >= options.maxIterations) {
      why = Termination::kIterationLimit;
      break;
    }
    status = notify(MinimizerEvent::kBeforeLinearization, iterations);
    if (status >= 0)
      status = problem.linearize(x, f);
    if (status < 0) {
      why = Termination::kStopped;
      break;
    }
    ++iterations;
    jacobian = problem.jacobian();  // after linearize, which may move it
    solver.prepare(jacobian, f, diagonal_.data());
    const double floor = damped ? prepareScaling(options) : 0.0;

    bool accepted = false, stepSmall = false, stopped = false, singular = false;
    for (long raised = 0;;) {
      status = notify(MinimizerEvent::kBeforeTrial, iterations);
      if (status < 0) {
        stopped = true;
        break;
      }
      if (damped)
        for (long i = 0; i < n_; ++i)
          damping_[static_cast<std::size_t>(i)] = lambda * scaling_[static_cast<std::size_t>(i)];
      if (solver.solve(damping_.data(), step)) {
        const bool small =
            Eigen::Map<const Eigen::VectorXd>(step, n_).norm() <=
            stepBound * (Eigen::Map<const Eigen::VectorXd>(x, n_).norm() + stepBound);
        for (long i = 0; i < n_; ++i)
          xTrial[i] = x[i] + step[i];
        problem.adjustTrial(xTrial);
        // Under the merit rule the merit decides first when it is the cheaper evaluation: a
        // trial it rejects never needs F.
        const bool meritFirst = byMerit && options.meritFirst;
        double trialMeasure = 0.0;
        const bool meritTest = byMerit && (!meritFirst || meritLower(xTrial, trialMeasure));
        bool take = false;
        double trialCost = HUGE_VAL;
        if (!meritFirst || meritTest) {
          std::fill(fTrial, fTrial + m_, 0.0);
          status = problem.evaluate(xTrial, fTrial);
          if (status < 0) {
            stopped = true;
            break;
          }
          trialCost = squaredNorm(fTrial, m_);
          if (!byMerit)
            trialMeasure = trialCost;
          switch (options.acceptance) {
            case AcceptanceRule::kNewton:
              take = std::isfinite(trialCost);
              break;
            case AcceptanceRule::kSquaredNorm:
              take = trialCost < measure;  // false for NaN and +inf
              break;
            case AcceptanceRule::kMerit:
              take = (meritFirst || meritLower(xTrial, trialMeasure)) && std::isfinite(trialCost);
              break;
          }
        }
        if (take) {
          std::copy(xTrial, xTrial + n_, x);
          std::copy(fTrial, fTrial + m_, f);
          const bool flat = damped && measure - trialMeasure <= options.decreaseTolerance * measure;
          measure = trialMeasure;
          cost = trialCost;
          if (damped)
            lambda =
                std::max(lambda / solver.dampingDecrease(kDampingFactor), std::min(lambda, floor));
          accepted = true;
          stepSmall = small || flat || (byMerit && measure <= options.meritFloor);
          break;
        }
        const double band = options.decreaseTolerance * measure;
        if (byMerit && band > 0.0 && trialMeasure >= measure && trialMeasure - measure <= band &&
            predictedDecrease() <= band) {
          // At the bottom: the step lands within the flat band of the merit, and the model
          // promises no more than that band for it either (a step that overshoots a deeper
          // minimum is promised more), so shorter steps cannot lower the merit by more than an
          // accepted step that ends the loop.
          stepSmall = true;
          break;
        }
        if (small || !damped) {
          // More damping only shortens the step further: x is as good as it gets.
          stepSmall = small && damped;
          break;
        }
      } else if (!damped) {
        singular = true;
        break;
      }
      if (!raiseDamping(lambda, raised, options))
        break;
    }
    if (accepted && !stopped && !stepSmall) {
      status = notify(MinimizerEvent::kStepAccepted, iterations);
      stopped = status < 0;
    }
    if (stopped)
      why = Termination::kStopped;
    else if (singular)
      why = Termination::kSingularSystem;
    else if (stepSmall)
      why = Termination::kSmallStep;
    else if (!accepted)
      why = Termination::kNoDecrease;
    else
      continue;
    break;
  }
  summary.termination = why;
  summary.iterations = iterations;
  summary.status = status < 0 ? status : 0;
  summary.squaredNorm = cost;
  summary.damping = lambda;
  return summary;
}

}  // namespace ccal::detail
