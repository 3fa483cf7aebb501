// Dense matrix of doubles of any shape, with the few dense linear-algebra services the
// calibration code needs: eigen decomposition, a conditioned least-squares solve and the
// condition number.
//
// Storage is column-major in one contiguous block: element (r, c) lives at data()[r + c * rows()].
// A column vector is a matrix with one column (n x 1); the solvers use that shape for their
// parameter and function columns.
//
// Failures:
// - a shape that does not fit the operation (negative size, index out of range, non-square
//   matrix where a square one is needed, mismatched right-hand side) throws tkInvariantFailure
//   (std::out_of_range for element access);
// - non-finite entries given to eigenvalues, solve or conditionNumber throw tkInvariantFailure;
// - a system whose condition exceeds the caller's threshold throws tkMathError::Singular.
#ifndef TK_NM_MATRIX_H
#define TK_NM_MATRIX_H

#include <tk/export.h>

#include <cstddef>
#include <vector>

class TK_API tkNMMatrix {
 public:
  // The empty 0 x 0 matrix.
  tkNMMatrix() = default;
  // A rows x cols matrix of zeros. Throws tkInvariantFailure when a size is negative.
  tkNMMatrix(long rows, long cols);

  long rows() const { return rows_; }
  long cols() const { return cols_; }
  // rows() * cols().
  long size() const { return rows_ * cols_; }
  bool empty() const { return values_.empty(); }

  // Element (r, c). Throws std::out_of_range when r or c is outside the matrix.
  double element(long r, long c) const { return values_[checkedIndex(r, c)]; }
  void element(long r, long c, double value) { values_[checkedIndex(r, c)] = value; }
  // Same access as element(), by reference; also range checked (std::out_of_range).
  double& operator()(long r, long c) { return values_[checkedIndex(r, c)]; }
  double operator()(long r, long c) const { return values_[checkedIndex(r, c)]; }

  // The column-major block of rows() * cols() values (null for an empty matrix). The pointer
  // stays valid until the matrix is resized or destroyed.
  double* data() { return values_.data(); }
  const double* data() const { return values_.data(); }

  // Makes the matrix rows x cols and fills it with zeros. Keeps the allocated storage when the
  // new size is not larger than the old one. Throws tkInvariantFailure on a negative size.
  void resize(long rows, long cols);
  // Sets every element to 0.
  void setZero();

  // Copies are deep; assignment to a matrix of the same size reuses its storage.

  // The transposed matrix.
  tkNMMatrix transpose() const;
  // Matrix product this * other. Throws tkInvariantFailure when cols() != other.rows().
  tkNMMatrix operator*(const tkNMMatrix& other) const;

  // Eigenvalues (and optionally eigenvectors) of this square real matrix.
  // - re[k], im[k]: real and imaginary part of eigenvalue k (both resized to rows()).
  // - An exactly symmetric matrix (element (r, c) == element (c, r) bit for bit) is decomposed
  //   by the symmetric solver: eigenvalues ascending, im all 0, eigenvectors orthonormal.
  // - Otherwise a general real solver is used; the order of the eigenvalues is not specified,
  //   except that a complex conjugate pair occupies two neighbouring entries k, k + 1 with
  //   im[k] > 0 and im[k + 1] = -im[k].
  // - vectors (wantVectors true): rows() x rows(), column k the eigenvector of a real eigenvalue
  //   k, with unit length and arbitrary sign. For a complex pair at k, k + 1 the eigenvector of
  //   re[k] + i*im[k] is v = p + i*q, of unit complex length; column k holds p and column k + 1
  //   holds q (the conjugate pair's eigenvector is p - i*q, so nothing is lost).
  // - wantVectors false: vectors becomes the empty 0 x 0 matrix.
  // Throws tkInvariantFailure for a non-square matrix or a non-finite element, and
  // tkInvariantFailure when the iteration of the general solver does not converge.
  void eigenvalues(bool wantVectors, std::vector<double>& re, std::vector<double>& im,
                   tkNMMatrix& vectors) const;

  // Ratio of the largest to the smallest singular value (over min(rows, cols) of them); +inf
  // when the smallest is 0. Throws tkInvariantFailure for an empty matrix or a non-finite
  // element.
  double conditionNumber() const;

  // Solves the linear system whose matrix is normalMatrix (n x n; typically the normal matrix
  // AᵀA of a least-squares problem, but any square matrix is accepted) for one or several
  // right-hand sides, by singular value decomposition.
  // - rhsInRows false: rhs is n x k, each column a right-hand side b; the result is n x k with
  //   column j solving normalMatrix * x = b_j.
  // - rhsInRows true: rhs is k x n, each row a right-hand side; the result is k x n with row j
  //   the solution for row j (the form used when the right-hand side is accumulated as a row).
  // condition receives the condition number of normalMatrix (as conditionNumber()) before
  // anything is thrown. Throws tkMathError::Singular when condition > threshold (or is +inf);
  // tkInvariantFailure for a non-square or empty normalMatrix, an rhs of the wrong shape,
  // a non-finite element or a NaN threshold.
  static tkNMMatrix solve(const tkNMMatrix& normalMatrix, const tkNMMatrix& rhs, bool rhsInRows,
                          double& condition, double threshold);

 private:
  std::size_t checkedIndex(long r, long c) const {
    if (r < 0 || r >= rows_ || c < 0 || c >= cols_)
      throwOutOfRange(r, c);
    return static_cast<std::size_t>(r + c * rows_);
  }
  [[noreturn]] void throwOutOfRange(long r, long c) const;

  long rows_ = 0;
  long cols_ = 0;
  std::vector<double> values_;
};

#endif
