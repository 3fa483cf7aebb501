// Internal: LU factorisation with partial pivoting of small dense column-major matrices, in
// place and without allocation, for the damped Newton steps.
#ifndef TK_PROC_DENSE_LU_H
#define TK_PROC_DENSE_LU_H

#include <cmath>
#include <utility>

// Factors the n x n column-major matrix a (leading dimension lda) in place into L·U with row
// pivoting: pivots[k] is the row exchanged with row k at step k. Returns false on an exactly zero
// or non-finite pivot.
inline bool tk_luInPlace(double* a, long n, long lda, int* pivots) {
  for (long k = 0; k < n; ++k) {
    long best = k;
    for (long r = k + 1; r < n; ++r)
      if (std::fabs(a[r + k * lda]) > std::fabs(a[best + k * lda]))
        best = r;
    pivots[k] = static_cast<int>(best);
    if (!(std::fabs(a[best + k * lda]) > 0.0) || !std::isfinite(a[best + k * lda]))
      return false;
    if (best != k)
      for (long c = 0; c < n; ++c)
        std::swap(a[k + c * lda], a[best + c * lda]);
    const double inversePivot = 1.0 / a[k + k * lda];
    for (long r = k + 1; r < n; ++r)
      a[r + k * lda] *= inversePivot;
    for (long c = k + 1; c < n; ++c) {
      const double u = a[k + c * lda];
      if (u == 0.0)
        continue;
      for (long r = k + 1; r < n; ++r)
        a[r + c * lda] -= a[r + k * lda] * u;
    }
  }
  return true;
}

// Solves L·U·x = P·b in place in b (one column) for the factors of tk_luInPlace.
inline void tk_luSolveInPlace(const double* a, long n, long lda, const int* pivots, double* b) {
  for (long k = 0; k < n; ++k)
    std::swap(b[k], b[pivots[k]]);
  for (long k = 0; k < n; ++k) {
    const double bk = b[k];
    for (long r = k + 1; r < n; ++r)
      b[r] -= a[r + k * lda] * bk;
  }
  for (long k = n - 1; k >= 0; --k) {
    b[k] /= a[k + k * lda];
    const double bk = b[k];
    for (long r = 0; r < k; ++r)
      b[r] -= a[r + k * lda] * bk;
  }
}

#endif
