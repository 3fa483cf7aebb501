#include "ccal/problem/tall_qr.h"

#include "ccal/problem/wide_kernels.h"
#include "platform/core/force_inline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace ccal::detail {

namespace {

// Four doubles in lanes (the GCC/Clang vector extension): two SSE2 registers in portable code,
// one AVX register in wide code.
typedef double Lanes __attribute__((vector_size(32)));

// Σ x[i]·y[i] over i < count.
CCAL_FORCE_INLINE double dot(const double* x, const double* y, long count) {
  Lanes s0 = {0.0, 0.0, 0.0, 0.0}, s1 = s0, a, b, c, d;
  long i = 0;
  for (; i + 8 <= count; i += 8) {
    std::memcpy(&a, x + i, sizeof a);
    std::memcpy(&b, y + i, sizeof b);
    std::memcpy(&c, x + i + 4, sizeof c);
    std::memcpy(&d, y + i + 4, sizeof d);
    s0 += a * b;
    s1 += c * d;
  }
  for (; i + 4 <= count; i += 4) {
    std::memcpy(&a, x + i, sizeof a);
    std::memcpy(&b, y + i, sizeof b);
    s0 += a * b;
  }
  s0 += s1;
  double s = (s0[0] + s0[1]) + (s0[2] + s0[3]);
  for (; i < count; ++i)
    s += x[i] * y[i];
  return s;
}

// y[i] −= f·x[i] over i < count.
CCAL_FORCE_INLINE void subtractScaled(double f, const double* x, double* y, long count) {
  const Lanes fl = {f, f, f, f};
  Lanes a, b;
  long i = 0;
  for (; i + 4 <= count; i += 4) {
    std::memcpy(&a, x + i, sizeof a);
    std::memcpy(&b, y + i, sizeof b);
    b -= fl * a;
    std::memcpy(y + i, &b, sizeof b);
  }
  for (; i < count; ++i)
    y[i] -= f * x[i];
}

// Σ x[i]·y[i] and Σ x[i]·z[i] over i < count, in one pass over x.
CCAL_FORCE_INLINE void dot2(const double* x, const double* y, const double* z, long count,
                            double& sy, double& sz) {
  Lanes s0 = {0.0, 0.0, 0.0, 0.0}, s1 = s0, a, b, c;
  long i = 0;
  for (; i + 4 <= count; i += 4) {
    std::memcpy(&a, x + i, sizeof a);
    std::memcpy(&b, y + i, sizeof b);
    std::memcpy(&c, z + i, sizeof c);
    s0 += a * b;
    s1 += a * c;
  }
  sy = (s0[0] + s0[1]) + (s0[2] + s0[3]);
  sz = (s1[0] + s1[1]) + (s1[2] + s1[3]);
  for (; i < count; ++i) {
    sy += x[i] * y[i];
    sz += x[i] * z[i];
  }
}

// y[i] −= f·x[i] and z[i] −= g·x[i] over i < count, in one pass over x.
CCAL_FORCE_INLINE void subtractScaled2(double f, double g, const double* x, double* y, double* z,
                                       long count) {
  const Lanes fl = {f, f, f, f}, gl = {g, g, g, g};
  Lanes a, b, c;
  long i = 0;
  for (; i + 4 <= count; i += 4) {
    std::memcpy(&a, x + i, sizeof a);
    std::memcpy(&b, y + i, sizeof b);
    std::memcpy(&c, z + i, sizeof c);
    b -= fl * a;
    c -= gl * a;
    std::memcpy(y + i, &b, sizeof b);
    std::memcpy(z + i, &c, sizeof c);
  }
  for (; i < count; ++i) {
    y[i] -= f * x[i];
    z[i] -= g * x[i];
  }
}

// H_k applied to the columns y and z at once (see reflect below).
CCAL_FORCE_INLINE void reflect2(const double* v, double tau, long k, long m, double* y, double* z) {
  double dy = 0.0, dz = 0.0;
  dot2(v + k + 1, y + k + 1, z + k + 1, m - k - 1, dy, dz);
  const double sy = tau * (y[k] + dy), sz = tau * (z[k] + dz);
  y[k] -= sy;
  z[k] -= sz;
  subtractScaled2(sy, sz, v + k + 1, y + k + 1, z + k + 1, m - k - 1);
}

// H_k applied to the column y (rows m) given reflector k's essential part in v (below row k).
CCAL_FORCE_INLINE void reflect(const double* v, double tau, long k, long m, double* y) {
  if (tau == 0.0)
    return;
  const double s = tau * (y[k] + dot(v + k + 1, y + k + 1, m - k - 1));
  y[k] -= s;
  subtractScaled(s, v + k + 1, y + k + 1, m - k - 1);
}

// Householder reflector of column k as Eigen's makeHouseholder forms it, applied to the
// columns after it; min(m, n) reflectors (Eigen's count too).
CCAL_FORCE_INLINE void factor(double* a, long m, long n, double* tau) {
  const long reflectors = m < n ? m : n;
  for (long k = 0; k < reflectors; ++k) {
    double* column = a + k * m;
    const double c0 = column[k];
    const double tail = dot(column + k + 1, column + k + 1, m - k - 1);
    if (tail <= std::numeric_limits<double>::min()) {
      tau[k] = 0.0;
      for (long i = k + 1; i < m; ++i)
        column[i] = 0.0;
      continue;
    }
    double beta = std::sqrt(c0 * c0 + tail);
    if (c0 >= 0.0)
      beta = -beta;
    const double scale = 1.0 / (c0 - beta);  // Eigen divides; a rounding apart
    for (long i = k + 1; i < m; ++i)
      column[i] *= scale;
    tau[k] = (beta - c0) / beta;
    column[k] = beta;
    long j = k + 1;
    for (; j + 1 < n; j += 2)
      reflect2(column, tau[k], k, m, a + j * m, a + (j + 1) * m);
    if (j < n)
      reflect(column, tau[k], k, m, a + j * m);
  }
}

CCAL_FORCE_INLINE void applyQtTo(const double* a, long m, long n, const double* tau, double* v) {
  const long reflectors = m < n ? m : n;
  for (long k = 0; k < reflectors; ++k)
    reflect(a + k * m, tau[k], k, m, v);
}

#if CCAL_WIDE_KERNELS
CCAL_WIDE_TARGET void factorWide(double* a, long m, long n, double* tau) {
  factor(a, m, n, tau);
}

CCAL_WIDE_TARGET void applyQtWide(const double* a, long m, long n, const double* tau, double* v) {
  applyQtTo(a, m, n, tau, v);
}
#endif

}  // namespace

void TallQR::compute(Eigen::MatrixXd& a) {
  a_ = &a;
  tau_.resize(std::min(a.rows(), a.cols()));
#if CCAL_WIDE_KERNELS
  if (wideKernels())
    return factorWide(a.data(), a.rows(), a.cols(), tau_.data());
#endif
  factor(a.data(), a.rows(), a.cols(), tau_.data());
}

void TallQR::applyQt(double* v) const {
#if CCAL_WIDE_KERNELS
  if (wideKernels())
    return applyQtWide(a_->data(), a_->rows(), a_->cols(), tau_.data(), v);
#endif
  applyQtTo(a_->data(), a_->rows(), a_->cols(), tau_.data(), v);
}

}  // namespace ccal::detail
