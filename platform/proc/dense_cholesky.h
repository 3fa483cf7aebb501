// Internal: the in-place Cholesky factorisation shared by the dense and the structured solve of
// the normal equations.
#ifndef TK_PROC_DENSE_CHOLESKY_H
#define TK_PROC_DENSE_CHOLESKY_H

#include <Eigen/Core>

#include <cmath>

// A pivot this small relative to its diagonal entry means the matrix is singular to working
// precision (condition beyond about 1e14).
constexpr double tk_kRelativePivotFloor = 1e-14;

// Overwrites the lower triangle of the symmetric matrix a (only that triangle is read) with its
// Cholesky factor L, a = L Lᵀ. Returns false when a is not numerically positive definite.
// Left-looking, one matrix-vector product per column: it allocates nothing, unlike the blocked
// factorisations whose panel products take heap workspace.
template <class Matrix>
bool tk_choleskyInPlace(Matrix&& a) {
  const Eigen::Index n = a.rows();
  for (Eigen::Index j = 0; j < n; ++j) {
    const double diagonal = a(j, j);
    if (j > 0) {
      a.col(j).tail(n - j).noalias() -= a.bottomLeftCorner(n - j, j) * a.row(j).head(j).transpose();
    }
    const double pivot = a(j, j);
    if (!(pivot > tk_kRelativePivotFloor * diagonal) || !(pivot > 0.0))
      return false;
    const double root = std::sqrt(pivot);
    a(j, j) = root;
    a.col(j).tail(n - j - 1) /= root;
  }
  return true;
}

#endif
