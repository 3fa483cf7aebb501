#include "ccal/problem/valley_polish.h"

#include <proc/csys_attention.h>

#include <algorithm>
#include <cmath>

namespace ccal::detail {
namespace {

// Shares of the largest singular value of the column-scaled triangle: below kUndetermined a
// direction is dropped (the sine-tangent scale sits at about 1e-16, the valley above 1e-8),
// above kDetermined it is determined well enough for plain Gauss–Newton steps.
constexpr double kUndetermined = 1e-9;
constexpr double kDetermined = 1e-6;
constexpr double kValleyShare = 0.1;
constexpr long kPolishSteps = 20;
constexpr long kProjections = 4;
constexpr int kHalvings = 4;
constexpr double kSettled = 1e-6;

std::size_t at(long i) {
  return static_cast<std::size_t>(i);
}

}  // namespace

bool ValleyPolishProblem::complete(double* /*step*/) {
  return true;
}

ValleyPolish::ValleyPolish(long n)
    : n_(n),
      full_(at(n)),
      determined_(at(n)),
      trial_(at(n)),
      fullWork_(at(n)),
      determinedWork_(at(n)),
      probe_(at(n)),
      scale_(n),
      utb_(n),
      fullScaled_(n),
      determinedScaled_(n),
      scaled_(n, n),
      svd_(n, n, Eigen::ComputeFullU | Eigen::ComputeFullV) {}

bool ValleyPolish::step(ValleyPolishProblem& problem, const double* x, double* full,
                        double* determined, double& valleyDecrease) {
  const Eigen::MatrixXd* reduced = problem.reduce(x);
  if (reduced == nullptr || reduced->cols() < 2 || reduced->cols() > n_ + 1 ||
      reduced->rows() != reduced->cols() || !reduced->allFinite())
    return false;
  const Eigen::MatrixXd& triangle = *reduced;
  const long k = triangle.cols() - 1;
  auto scale = scale_.head(k);
  for (long i = 0; i < k; ++i) {
    const double norm = triangle.col(i).norm();
    scale(i) = norm > 0.0 ? norm : 1.0;
  }
  if (k != scaled_.rows()) {  // a problem that reduces to fewer values than n (made once)
    scaled_.resize(k, k);
    svd_ = Eigen::BDCSVD<Eigen::MatrixXd>(k, k, Eigen::ComputeFullU | Eigen::ComputeFullV);
  }
  scaled_ = triangle.topLeftCorner(k, k) * scale.cwiseInverse().asDiagonal();
  svd_.compute(scaled_);
  const auto& sigma = svd_.singularValues();
  auto utb = utb_.head(k);
  utb.noalias() = svd_.matrixU().transpose() * triangle.col(k).head(k);
  auto fullScaled = fullScaled_.head(k);
  auto determinedScaled = determinedScaled_.head(k);
  fullScaled.setZero();
  determinedScaled.setZero();
  valleyDecrease = 0.0;
  for (long j = 0; j < k; ++j) {
    if (!(sigma(j) > kUndetermined * sigma(0)))
      continue;
    const double coefficient = utb(j) / sigma(j);
    fullScaled -= coefficient * svd_.matrixV().col(j);
    if (sigma(j) > kDetermined * sigma(0))
      determinedScaled -= coefficient * svd_.matrixV().col(j);
    else
      valleyDecrease += utb(j) * utb(j);
  }
  std::fill(full, full + n_, 0.0);
  std::fill(determined, determined + n_, 0.0);
  Eigen::Map<Eigen::VectorXd>(full, k) = fullScaled.cwiseQuotient(scale);
  Eigen::Map<Eigen::VectorXd>(determined, k) = determinedScaled.cwiseQuotient(scale);
  return problem.complete(full) && problem.complete(determined);
}

double ValleyPolish::project(ValleyPolishProblem& problem, double* y, double current) {
  for (long k = 0; k < kProjections; ++k) {
    double valley = 0.0;
    if (!step(problem, y, fullWork_.data(), determinedWork_.data(), valley))
      break;
    for (long i = 0; i < n_; ++i)
      probe_[at(i)] = y[i] + determinedWork_[at(i)];
    const double c = problem.cost(probe_.data());
    if (!(c < current))
      break;
    std::copy(probe_.begin(), probe_.end(), y);
    const bool settled = current - c <= kSettled * current;
    current = c;
    if (settled)
      break;
  }
  return current;
}

long ValleyPolish::polish(ValleyPolishProblem& problem, double* x) {
  double current = problem.cost(x);
  long accepted = 0;
  for (long it = 0; it < kPolishSteps && std::isfinite(current) && current > 0.0; ++it) {
    if (csys_attention_check() < 0)
      break;
    double valley = 0.0;
    if (!step(problem, x, full_.data(), determined_.data(), valley) ||
        !(valley >= kValleyShare * current))
      break;
    double t = 1.0, trialCost = HUGE_VAL;
    for (int h = 0; h <= kHalvings; ++h, t *= 0.5) {
      for (long i = 0; i < n_; ++i)
        trial_[at(i)] = x[i] + t * (full_[at(i)] - determined_[at(i)]);
      trialCost = project(problem, trial_.data(), problem.cost(trial_.data()));
      if (trialCost < current)
        break;
    }
    if (!(trialCost < current))
      break;
    std::copy(trial_.begin(), trial_.end(), x);
    ++accepted;
    const bool settled = current - trialCost <= kSettled * current;
    current = trialCost;
    if (settled)
      break;
  }
  return accepted;
}

}  // namespace ccal::detail
