#include <tk/exception.h>
#include <tk/nm_matrix.h>
#include "platform/core/invalid_argument.h"

#include "platform/core/nm_matrix_eigen.h"

#include <Eigen/Eigenvalues>
#include <Eigen/SVD>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

void requireSizes(long rows, long cols) {
  if (rows < 0 || cols < 0) {
    tk_throwInvalidArgument("tkNMMatrix: negative size " + std::to_string(rows) + " x " +
                            std::to_string(cols));
  }
}

void requireFinite(const tkNMMatrix& matrix, const char* operation) {
  if (!tk_eigenView(matrix).allFinite()) {
    tk_throwInvalidArgument(std::string("tkNMMatrix::") + operation +
                            ": the matrix has a non-finite element");
  }
}

bool isExactlySymmetric(const tkNMMatrix& matrix) {
  for (long c = 0; c < matrix.cols(); ++c) {
    for (long r = c + 1; r < matrix.rows(); ++r) {
      if (matrix(r, c) != matrix(c, r))
        return false;
    }
  }
  return true;
}

// Largest over smallest of the singular values given in decreasing order; +inf when the
// smallest is 0.
double conditionFromSingularValues(const Eigen::VectorXd& singularValues) {
  const double largest = singularValues(0);
  const double smallest = singularValues(singularValues.size() - 1);
  if (smallest <= 0.0)
    return std::numeric_limits<double>::infinity();
  return largest / smallest;
}

}  // namespace

tkNMMatrix::tkNMMatrix(long rows, long cols) {
  resize(rows, cols);
}

void tkNMMatrix::resize(long rows, long cols) {
  requireSizes(rows, cols);
  values_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), 0.0);
  rows_ = rows;
  cols_ = cols;
}

void tkNMMatrix::setZero() {
  values_.assign(values_.size(), 0.0);
}

void tkNMMatrix::throwOutOfRange(long r, long c) const {
  throw std::out_of_range("tkNMMatrix: element (" + std::to_string(r) + ", " + std::to_string(c) +
                          ") outside a " + std::to_string(rows_) + " x " + std::to_string(cols_) +
                          " matrix");
}

tkNMMatrix tkNMMatrix::transpose() const {
  tkNMMatrix result(cols_, rows_);
  tk_eigenView(result) = tk_eigenView(*this).transpose();
  return result;
}

tkNMMatrix tkNMMatrix::operator*(const tkNMMatrix& other) const {
  if (cols_ != other.rows_) {
    tk_throwInvalidArgument("tkNMMatrix: product of a " + std::to_string(rows_) + " x " +
                            std::to_string(cols_) + " and a " + std::to_string(other.rows_) +
                            " x " + std::to_string(other.cols_) + " matrix");
  }
  tkNMMatrix result(rows_, other.cols_);
  tk_eigenView(result).noalias() = tk_eigenView(*this) * tk_eigenView(other);
  return result;
}

void tkNMMatrix::eigenvalues(bool wantVectors, std::vector<double>& re, std::vector<double>& im,
                             tkNMMatrix& vectors) const {
  if (rows_ != cols_) {
    tk_throwInvalidArgument("tkNMMatrix::eigenvalues: the matrix is " + std::to_string(rows_) +
                            " x " + std::to_string(cols_) + ", not square");
  }
  requireFinite(*this, "eigenvalues");
  const long n = rows_;
  re.assign(static_cast<std::size_t>(n), 0.0);
  im.assign(static_cast<std::size_t>(n), 0.0);
  if (wantVectors) {
    vectors.resize(n, n);
  } else {
    vectors.resize(0, 0);
  }
  if (n == 0)
    return;

  const auto matrix = tk_eigenView(*this);
  if (isExactlySymmetric(*this)) {
    // The symmetric solver is both faster and accurate to the matrix's norm for every
    // eigenvalue, which matters for the near-null vectors of normal matrices.
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(
        matrix, wantVectors ? Eigen::ComputeEigenvectors : Eigen::EigenvaluesOnly);
    if (solver.info() != Eigen::Success) {
      tk_throwInvalidArgument("tkNMMatrix::eigenvalues: the symmetric eigen solver failed");
    }
    for (long k = 0; k < n; ++k)
      re[static_cast<std::size_t>(k)] = solver.eigenvalues()(k);
    if (wantVectors)
      tk_eigenView(vectors) = solver.eigenvectors();
    return;
  }

  Eigen::EigenSolver<Eigen::MatrixXd> solver(matrix, wantVectors);
  if (solver.info() != Eigen::Success) {
    tk_throwInvalidArgument("tkNMMatrix::eigenvalues: the eigen solver did not converge");
  }
  const Eigen::VectorXcd& values = solver.eigenvalues();
  for (long k = 0; k < n; ++k) {
    re[static_cast<std::size_t>(k)] = values(k).real();
    im[static_cast<std::size_t>(k)] = values(k).imag();
  }
  if (!wantVectors)
    return;
  const Eigen::MatrixXcd complexVectors = solver.eigenvectors();
  auto out = tk_eigenView(vectors);
  for (long k = 0; k < n; ++k) {
    if (values(k).imag() == 0.0) {
      out.col(k) = complexVectors.col(k).real();
    } else {
      // The solver stores a pair as (a + ib, a - ib) with b > 0 in consecutive entries.
      out.col(k) = complexVectors.col(k).real();
      out.col(k + 1) = complexVectors.col(k).imag();
      ++k;
    }
  }
}

double tkNMMatrix::conditionNumber() const {
  if (empty())
    tk_throwInvalidArgument("tkNMMatrix::conditionNumber: the matrix is empty");
  requireFinite(*this, "conditionNumber");
  Eigen::BDCSVD<Eigen::MatrixXd> svd(tk_eigenView(*this));
  return conditionFromSingularValues(svd.singularValues());
}

tkNMMatrix tkNMMatrix::solve(const tkNMMatrix& normalMatrix, const tkNMMatrix& rhs, bool rhsInRows,
                             double& condition, double threshold) {
  const long n = normalMatrix.rows();
  if (n == 0 || normalMatrix.cols() != n) {
    tk_throwInvalidArgument("tkNMMatrix::solve: the system matrix is " + std::to_string(n) + " x " +
                            std::to_string(normalMatrix.cols()) + ", not square and non-empty");
  }
  const long rhsLength = rhsInRows ? rhs.cols() : rhs.rows();
  const long rhsCount = rhsInRows ? rhs.rows() : rhs.cols();
  if (rhsLength != n || rhsCount == 0) {
    tk_throwInvalidArgument("tkNMMatrix::solve: a " + std::to_string(rhs.rows()) + " x " +
                            std::to_string(rhs.cols()) +
                            " right-hand side does not fit a system of size " + std::to_string(n) +
                            (rhsInRows ? " (rows form)" : ""));
  }
  if (std::isnan(threshold))
    tk_throwInvalidArgument("tkNMMatrix::solve: NaN threshold");
  requireFinite(normalMatrix, "solve");
  requireFinite(rhs, "solve");

  Eigen::BDCSVD<Eigen::MatrixXd> svd(tk_eigenView(normalMatrix),
                                     Eigen::ComputeThinU | Eigen::ComputeThinV);
  condition = conditionFromSingularValues(svd.singularValues());
  if (std::isinf(condition) || condition > threshold)
    throw tkMathError::Singular();

  if (rhsInRows) {
    tkNMMatrix solution(rhsCount, n);
    tk_eigenView(solution) = svd.solve(tk_eigenView(rhs).transpose()).transpose();
    return solution;
  }
  tkNMMatrix solution(n, rhsCount);
  tk_eigenView(solution) = svd.solve(tk_eigenView(rhs));
  return solution;
}
