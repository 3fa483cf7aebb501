// Comparison of reals with an absolute tolerance.
#ifndef TK_REAL_EQ_H
#define TK_REAL_EQ_H

#include <cmath>

// |a − b| <= tol. False when either value is NaN; equal infinities compare equal.
inline bool tfRealEq(double a, double b, double tol) {
  return a == b || std::abs(a - b) <= tol;
}

#endif
