#include "ccal/multicam/image_residual_covariance.h"

#include <tk/exception.h>

#include <Eigen/QR>
#include <Eigen/SVD>

#include <cmath>
#include <vector>

namespace ccal::detail {

bool ParameterCovariance::undetermined(const Eigen::VectorXd& gradient) const {
  if (nullSpace.cols() == 0)
    return false;
  const double norm = gradient.norm();
  return norm > 0.0 && (nullSpace.transpose() * gradient).cwiseAbs().maxCoeff() > 1e-6 * norm;
}

ParameterCovariance parameterCovariance(ImageResidualProblem& problem, const double* x,
                                        double sigma) {
  if (!(sigma >= 0.0) || !std::isfinite(sigma))
    throw tkInvariantFailure(L"parameter covariance: σ must be positive and finite (0: estimate)");
  const long n = problem.parameters();
  const long m = problem.rows();
  std::vector<double> f(static_cast<std::size_t>(m));
  problem.evaluate(x, f.data());
  if (problem.linearize(x, f.data()) != 0)
    throw tkInvariantFailure(L"parameter covariance: the residuals cannot be evaluated");
  const Eigen::Map<const Eigen::MatrixXd> J(problem.jacobian(), m, n);
  const Eigen::Map<const Eigen::VectorXd> r(f.data(), m);

  ParameterCovariance out;
  out.weightedSquares = r.squaredNorm();
  out.points = problem.weightedPoints();
  // The columns that move: non-zero ones. A held value's column is 0 by construction (σ 0); any
  // other zero column is a parameter no point of non-zero weight reaches: undetermined.
  std::vector<long> columns, unreached;
  Eigen::VectorXd scale(n);
  const ParameterLayout& layout = problem.layout();
  for (long i = 0; i < n; ++i) {
    scale(i) = J.col(i).norm();
    const ParameterLayout::Block block = layout.blockOf(i);
    const bool held = block.kind == ParameterLayout::Kind::kCamera &&
                      i - layout.cameraStart(block.index) == problem.heldOffset();
    if (scale(i) > 0.0)
      columns.push_back(i);
    else if (!held)
      unreached.push_back(i);
  }
  const long k = static_cast<long>(columns.size());
  out.free = k + static_cast<long>(unreached.size());
  Eigen::MatrixXd scaled(m, k);
  for (long j = 0; j < k; ++j)
    scaled.col(j) = J.col(columns[static_cast<std::size_t>(j)]) / scale(columns[static_cast<std::size_t>(j)]);
  Eigen::MatrixXd triangle;
  if (m > k) {
    Eigen::HouseholderQR<Eigen::MatrixXd> qr(scaled);
    triangle = qr.matrixQR().topRows(k).triangularView<Eigen::Upper>();
  } else {
    triangle = scaled;
  }
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(triangle, Eigen::ComputeThinV);
  const Eigen::VectorXd& s = svd.singularValues();
  const Eigen::MatrixXd& V = svd.matrixV();
  const double largest = s.size() > 0 ? s(0) : 0.0;
  long rank = 0;
  for (long j = 0; j < s.size(); ++j)
    if (s(j) > ParameterCovariance::kRankTolerance * largest)
      ++rank;
  out.rank = rank;
  out.conditionNumber = rank > 0 ? largest / s(rank - 1) : HUGE_VAL;

  const double dof = 2.0 * static_cast<double>(out.points) - static_cast<double>(rank);
  out.sigmaEstimated = sigma == 0.0;
  out.sigma = sigma > 0.0 ? sigma : dof > 0.0 ? std::sqrt(out.weightedSquares / dof) : HUGE_VAL;

  // Cov over the moving columns: D⁻¹·V·S⁻²·Vᵀ·D⁻¹ over the determined directions.
  Eigen::MatrixXd inner = Eigen::MatrixXd::Zero(k, k);
  for (long j = 0; j < rank; ++j)
    inner.noalias() += V.col(j) * V.col(j).transpose() / (s(j) * s(j));
  out.covariance = Eigen::MatrixXd::Zero(n, n);
  const double variance = out.sigma * out.sigma;
  for (long a = 0; a < k; ++a)
    for (long b = 0; b < k; ++b) {
      const long i = columns[static_cast<std::size_t>(a)];
      const long j = columns[static_cast<std::size_t>(b)];
      out.covariance(i, j) = variance * inner(a, b) / (scale(i) * scale(j));
    }
  // Undetermined directions in x (a unit step of the scaled column is 1/scale of x), then the
  // unreached parameters.
  out.nullSpace = Eigen::MatrixXd::Zero(n, k - rank + static_cast<long>(unreached.size()));
  for (std::size_t u = 0; u < unreached.size(); ++u)
    out.nullSpace(unreached[u], k - rank + static_cast<long>(u)) = 1.0;
  for (long j = rank; j < k; ++j) {
    for (long a = 0; a < k; ++a) {
      const long i = columns[static_cast<std::size_t>(a)];
      out.nullSpace(i, j - rank) = V(a, j) / scale(i);
    }
    out.nullSpace.col(j - rank).normalize();
  }
  return out;
}

}  // namespace ccal::detail
