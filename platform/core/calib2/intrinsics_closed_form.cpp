#include "platform/core/calib2/intrinsics_closed_form.h"

#include <Eigen/Dense>

#include <cmath>

namespace {

// Plausibility limits in the normalised image frame (unit spread of the image points).
constexpr double kMaxAspect = 10.0;
constexpr double kMaxPrincipalOffset = 10.0;

// Coefficients of b = (B11, B12, B22, B13, B23, B33) in h_i' B h_j.
Eigen::Matrix<double, 1, 6> conicRow(const Eigen::Matrix3d& H, int i, int j) {
  const Eigen::Vector3d a = H.col(i), b = H.col(j);
  Eigen::Matrix<double, 1, 6> row;
  row << a(0) * b(0), a(0) * b(1) + a(1) * b(0), a(1) * b(1), a(2) * b(0) + a(0) * b(2),
      a(2) * b(1) + a(1) * b(2), a(2) * b(2);
  return row;
}

// Two constraint rows per view on b; each homography scaled to unit norm first.
Eigen::MatrixXd constraintRows(const std::vector<Eigen::Matrix3d>& views) {
  Eigen::MatrixXd rows(2 * views.size(), 6);
  for (std::size_t v = 0; v < views.size(); ++v) {
    const Eigen::Matrix3d H = views[v] / views[v].norm();
    rows.row(2 * v) = conicRow(H, 0, 1);
    rows.row(2 * v + 1) = conicRow(H, 0, 0) - conicRow(H, 1, 1);
  }
  return rows;
}

// Null vector of the rows (least squares with unit norm), or false when the rows leave more
// than one direction free.
bool nullVector(const Eigen::MatrixXd& rows, Eigen::VectorXd& solution) {
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(rows, Eigen::ComputeFullV);
  const Eigen::Index n = rows.cols();
  if (rows.rows() < n - 1)
    return false;
  const Eigen::VectorXd& s = svd.singularValues();
  if (s.size() >= n - 1 && !(s(n - 2) > 1e-12 * s(0)))
    return false;
  solution = svd.matrixV().col(n - 1);
  return solution.allFinite();
}

// K from b (the conic up to scale), or false when b is not the conic of a real camera.
bool cameraFromConic(Eigen::VectorXd b, Eigen::Matrix3d& K) {
  if (b(0) < 0.0)
    b = -b;
  const double B11 = b(0), B12 = b(1), B22 = b(2), B13 = b(3), B23 = b(4), B33 = b(5);
  const double det2 = B11 * B22 - B12 * B12;
  if (!(B11 > 0.0) || !(det2 > 0.0))
    return false;
  const double v0 = (B12 * B13 - B11 * B23) / det2;
  const double lambda = B33 - (B13 * B13 + v0 * (B12 * B13 - B11 * B23)) / B11;
  if (!(lambda > 0.0))
    return false;
  const double alpha = std::sqrt(lambda / B11);
  const double beta = std::sqrt(lambda * B11 / det2);
  const double gamma = -B12 * alpha * alpha * beta / lambda;
  const double u0 = gamma * v0 / beta - B13 * alpha * alpha / lambda;
  K << alpha, gamma, u0, 0.0, beta, v0, 0.0, 0.0, 1.0;
  const double aspect = alpha / beta;
  return K.allFinite() && aspect < kMaxAspect && aspect > 1.0 / kMaxAspect &&
         std::abs(gamma) < kMaxAspect * std::min(alpha, beta) &&
         std::abs(u0) < kMaxPrincipalOffset && std::abs(v0) < kMaxPrincipalOffset;
}

bool fullForm(const Eigen::MatrixXd& rows, Eigen::Matrix3d& K) {
  Eigen::VectorXd b;
  return rows.rows() >= 5 && nullVector(rows, b) && cameraFromConic(b, K);
}

bool zeroSkewForm(const Eigen::MatrixXd& rows, Eigen::Matrix3d& K) {
  Eigen::MatrixXd reduced(rows.rows(), 5);
  reduced << rows.col(0), rows.col(2), rows.col(3), rows.col(4), rows.col(5);
  Eigen::VectorXd c;
  if (rows.rows() < 4 || !nullVector(reduced, c))
    return false;
  Eigen::VectorXd b(6);
  b << c(0), 0.0, c(1), c(2), c(3), c(4);
  return cameraFromConic(b, K);
}

bool squareCentredForm(const Eigen::MatrixXd& rows, Eigen::Matrix3d& K) {
  Eigen::MatrixXd reduced(rows.rows(), 2);
  reduced << rows.col(0) + rows.col(2), rows.col(5);
  Eigen::VectorXd c;
  if (!nullVector(reduced, c))
    return false;
  Eigen::VectorXd b(6);
  b << c(0), 0.0, c(0), 0.0, 0.0, c(1);
  return cameraFromConic(b, K);
}

}  // namespace

tk_ClosedFormIntrinsics tk_intrinsicsFromHomographies(const std::vector<Eigen::Matrix3d>& views,
                                                      double nominalFocal) {
  tk_ClosedFormIntrinsics result;
  if (!views.empty()) {
    const Eigen::MatrixXd rows = constraintRows(views);
    if (rows.allFinite()) {
      if (views.size() >= 3 && fullForm(rows, result.K)) {
        result.freedom = tk_IntrinsicsFreedom::eFull;
        return result;
      }
      if (views.size() >= 2 && zeroSkewForm(rows, result.K)) {
        result.freedom = tk_IntrinsicsFreedom::eZeroSkew;
        return result;
      }
      if (squareCentredForm(rows, result.K)) {
        result.freedom = tk_IntrinsicsFreedom::eSquareCentred;
        return result;
      }
    }
  }
  result.K = Eigen::Matrix3d::Identity();
  result.K(0, 0) = result.K(1, 1) = nominalFocal;
  result.freedom = tk_IntrinsicsFreedom::eNominal;
  return result;
}
