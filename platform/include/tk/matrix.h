// Fixed-size square matrices of doubles: tkMatrix<2> and tkMatrix<3>.
//
// A plain value type stored row by row; default-constructed matrices are zero (use identity()
// for the unit matrix). element(r, c) indexes row r, column c, both from 0.
//
// Singularity is judged relative to the scale of the rows. Each row is scaled exactly by a power
// of two so that its largest magnitude lies in [0.5, 1); the matrix is singular when the
// determinant of that scaled matrix is at most singularTolerance() (64 machine epsilons) in
// magnitude, when a row is zero, or when an entry is not finite. The scaled determinant does not
// change when a row is multiplied by a constant, so a matrix whose rows differ wildly in magnitude
// (a camera matrix in pixels, a homography) or that is tiny or huge overall is not mistaken for a
// singular one, while a matrix that is singular up to rounding is caught. inverse() works on the
// same scaled matrix, so it neither overflows nor underflows for well-conditioned input.
#ifndef TK_MATRIX_H
#define TK_MATRIX_H

#include <tk/exception.h>
#include <tk/vector.h>

#include <cfloat>
#include <cmath>
#include <type_traits>

template <int N>
class tkMatrix {
  static_assert(N == 2 || N == 3, "tkMatrix exists for N = 2 and N = 3 only");

 public:
  // The zero matrix.
  tkMatrix() : m_{} {}
  // From N² values in row order: (m00, m01, m10, m11) or (m00, m01, m02, m10, ..., m22).
  template <int M = N, typename = std::enable_if_t<M == 2>>
  tkMatrix(double m00, double m01, double m10, double m11) : m_{{m00, m01}, {m10, m11}} {}
  template <int M = N, typename = std::enable_if_t<M == 3>>
  tkMatrix(double m00, double m01, double m02, double m10, double m11, double m12, double m20,
           double m21, double m22)
      : m_{{m00, m01, m02}, {m10, m11, m12}, {m20, m21, m22}} {}

  static tkMatrix identity() {
    tkMatrix r;
    for (int i = 0; i < N; ++i)
      r.m_[i][i] = 1.0;
    return r;
  }
  // Threshold on the determinant of the row-scaled matrix used by isSingular() and inverse().
  static constexpr double singularTolerance() { return 64.0 * DBL_EPSILON; }

  // Element at row r, column c; precondition 0 <= r, c < N (not checked).
  double element(int r, int c) const { return m_[r][c]; }
  void element(int r, int c, double value) { m_[r][c] = value; }

  tkMatrix operator*(const tkMatrix& o) const {
    tkMatrix p;
    for (int r = 0; r < N; ++r)
      for (int c = 0; c < N; ++c) {
        double s = 0.0;
        for (int k = 0; k < N; ++k)
          s += m_[r][k] * o.m_[k][c];
        p.m_[r][c] = s;
      }
    return p;
  }
  tkVector<N> operator*(const tkVector<N>& v) const {
    tkVector<N> p;
    for (int r = 0; r < N; ++r) {
      double s = 0.0;
      for (int k = 0; k < N; ++k)
        s += m_[r][k] * v[k];
      p[r] = s;
    }
    return p;
  }
  tkMatrix operator*(double s) const {
    tkMatrix p;
    for (int r = 0; r < N; ++r)
      for (int c = 0; c < N; ++c)
        p.m_[r][c] = m_[r][c] * s;
    return p;
  }
  tkMatrix operator+(const tkMatrix& o) const {
    tkMatrix p;
    for (int r = 0; r < N; ++r)
      for (int c = 0; c < N; ++c)
        p.m_[r][c] = m_[r][c] + o.m_[r][c];
    return p;
  }
  tkMatrix operator-(const tkMatrix& o) const { return *this + o * -1.0; }

  tkMatrix transpose() const {
    tkMatrix t;
    for (int r = 0; r < N; ++r)
      for (int c = 0; c < N; ++c)
        t.m_[c][r] = m_[r][c];
    return t;
  }

  double determinant() const {
    if constexpr (N == 2) {
      return m_[0][0] * m_[1][1] - m_[0][1] * m_[1][0];
    } else {
      return m_[0][0] * cofactor(0, 0) + m_[0][1] * cofactor(0, 1) + m_[0][2] * cofactor(0, 2);
    }
  }

  // True when the matrix is singular in the sense stated at the top of this file.
  bool isSingular() const {
    tkMatrix scaled;
    int rowExponent[N];
    return !rowScaled(scaled, rowExponent) || isSingularScaled(scaled.determinant());
  }

  // The inverse. Throws tkMathError::Singular when isSingular().
  tkMatrix inverse() const {
    // M = D·S with D = diag(2^rowExponent), so M⁻¹ = S⁻¹·D⁻¹: column c of S⁻¹ scaled by 2^−e_c.
    tkMatrix scaled;
    int rowExponent[N];
    if (!rowScaled(scaled, rowExponent))
      throw tkMathError::Singular();
    const double det = scaled.determinant();
    if (isSingularScaled(det))
      throw tkMathError::Singular();
    tkMatrix inv;
    if constexpr (N == 2) {
      inv.m_[0][0] = scaled.m_[1][1] / det;
      inv.m_[0][1] = -scaled.m_[0][1] / det;
      inv.m_[1][0] = -scaled.m_[1][0] / det;
      inv.m_[1][1] = scaled.m_[0][0] / det;
    } else {
      for (int r = 0; r < N; ++r)
        for (int c = 0; c < N; ++c)
          inv.m_[c][r] = scaled.cofactor(r, c) / det;
    }
    for (int r = 0; r < N; ++r)
      for (int c = 0; c < N; ++c)
        inv.m_[r][c] = std::ldexp(inv.m_[r][c], -rowExponent[c]);
    return inv;
  }

  // Exact element-wise comparison.
  bool operator==(const tkMatrix& o) const {
    for (int r = 0; r < N; ++r)
      for (int c = 0; c < N; ++c)
        if (m_[r][c] != o.m_[r][c])
          return false;
    return true;
  }
  bool operator!=(const tkMatrix& o) const { return !(*this == o); }

 private:
  // Signed cofactor of element (r, c) of a 3x3 matrix.
  double cofactor(int r, int c) const {
    const int r1 = (r + 1) % 3, r2 = (r + 2) % 3;
    const int c1 = (c + 1) % 3, c2 = (c + 2) % 3;
    return m_[r1][c1] * m_[r2][c2] - m_[r1][c2] * m_[r2][c1];
  }
  // Fills `scaled` with this matrix, each row r multiplied by 2^−exponent[r] so that its largest
  // magnitude lies in [0.5, 1) (exact). False when a row is zero or an entry is not finite.
  bool rowScaled(tkMatrix& scaled, int (&exponent)[N]) const {
    for (int r = 0; r < N; ++r) {
      double largest = 0.0;
      for (int c = 0; c < N; ++c) {
        if (!std::isfinite(m_[r][c]))
          return false;
        largest = std::fmax(largest, std::abs(m_[r][c]));
      }
      if (largest == 0.0)
        return false;
      std::frexp(largest, &exponent[r]);
      for (int c = 0; c < N; ++c)
        scaled.m_[r][c] = std::ldexp(m_[r][c], -exponent[r]);
    }
    return true;
  }
  static bool isSingularScaled(double scaledDet) {
    return !(std::abs(scaledDet) > singularTolerance());
  }

  double m_[N][N];
};

template <int N>
tkMatrix<N> operator*(double s, const tkMatrix<N>& m) {
  return m * s;
}

#endif
