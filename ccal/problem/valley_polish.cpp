#include "ccal/problem/valley_polish.h"

#include <Eigen/SVD>

#include <algorithm>
#include <cmath>
#include <vector>

namespace ccal::detail {
namespace {

// Shares of the largest singular value of the column-scaled triangle: below kUndetermined a
// direction is dropped (the sine-tangent scale sits at about 1e-16, the valley above 1e-8), above kDetermined it is
// determined well enough for plain Gauss–Newton steps (the valley sits at about 1e-7 to 1e-8).
constexpr double kUndetermined = 1e-9;
constexpr double kDetermined = 1e-6;
constexpr double kValleyShare = 0.1;
constexpr long kPolishSteps = 20;
constexpr long kProjections = 4;
constexpr int kHalvings = 4;
constexpr double kSettled = 1e-6;

// Steps along the determined directions from y while they lower the cost; the cost at the end.
double project(ValleyPolishProblem& problem, double* y, long n, double current,
               std::vector<double>& full, std::vector<double>& determined,
               std::vector<double>& probe) {
  for (long k = 0; k < kProjections; ++k) {
    double valley = 0.0;
    if (!problem.step(y, full.data(), determined.data(), valley))
      break;
    for (long i = 0; i < n; ++i)
      probe[static_cast<std::size_t>(i)] = y[i] + determined[static_cast<std::size_t>(i)];
    const double c = problem.cost(probe.data());
    if (!(c < current))
      break;
    std::copy(probe.begin(), probe.end(), y);
    const bool settled = current - c <= kSettled * current;
    current = c;
    if (settled)
      break;
  }
  return current;
}

}  // namespace

double truncatedSteps(const Eigen::MatrixXd& triangle, long n, double* full, double* determined) {
  Eigen::VectorXd scale(n);
  for (long i = 0; i < n; ++i) {
    const double norm = triangle.col(i).norm();
    scale(i) = norm > 0.0 ? norm : 1.0;
  }
  const Eigen::MatrixXd scaled = triangle.topLeftCorner(n, n) * scale.cwiseInverse().asDiagonal();
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled, Eigen::ComputeFullU | Eigen::ComputeFullV);
  const Eigen::VectorXd& sigma = svd.singularValues();
  const Eigen::VectorXd utb = svd.matrixU().transpose() * triangle.col(n).head(n);
  Eigen::VectorXd fullScaled = Eigen::VectorXd::Zero(n), determinedScaled = fullScaled;
  double valley = 0.0;
  for (long k = 0; k < n; ++k) {
    if (!(sigma(k) > kUndetermined * sigma(0)))
      continue;
    const Eigen::VectorXd component = svd.matrixV().col(k) * (utb(k) / sigma(k));
    fullScaled -= component;
    if (sigma(k) > kDetermined * sigma(0))
      determinedScaled -= component;
    else
      valley += utb(k) * utb(k);
  }
  Eigen::Map<Eigen::VectorXd>(full, n) = fullScaled.cwiseQuotient(scale);
  Eigen::Map<Eigen::VectorXd>(determined, n) = determinedScaled.cwiseQuotient(scale);
  return valley;
}

long polishAlongValley(ValleyPolishProblem& problem, double* x, long n) {
  const std::size_t size = static_cast<std::size_t>(n);
  std::vector<double> full(size), determined(size), trial(size), fullWork(size),
      determinedWork(size), probe(size);
  double current = problem.cost(x);
  long accepted = 0;
  for (long it = 0; it < kPolishSteps && std::isfinite(current) && current > 0.0; ++it) {
    double valley = 0.0;
    if (!problem.step(x, full.data(), determined.data(), valley) ||
        !(valley >= kValleyShare * current))
      break;
    double t = 1.0, trialCost = HUGE_VAL;
    for (int h = 0; h <= kHalvings; ++h, t *= 0.5) {
      for (std::size_t i = 0; i < size; ++i)
        trial[i] = x[i] + t * (full[i] - determined[i]);
      trialCost = project(problem, trial.data(), n, problem.cost(trial.data()), fullWork,
                          determinedWork, probe);
      if (trialCost < current)
        break;
    }
    if (!(trialCost < current))
      break;
    std::copy(trial.begin(), trial.end(), x);
    ++accepted;
    const bool settled = current - trialCost <= kSettled * current;
    current = trialCost;
    if (settled)
      break;
  }
  return accepted;
}

}  // namespace ccal::detail
