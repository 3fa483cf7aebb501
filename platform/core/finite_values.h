// Internal: whether the geometry values a caller passes or a solve returns are finite (no NaN,
// no infinity in any component).
#ifndef TK_CORE_FINITE_VALUES_H
#define TK_CORE_FINITE_VALUES_H

#include <tk/vector.h>
#include <tk/xform.h>

#include <cmath>

template <int N>
bool tk_isFinite(const tkVector<N>& p) {
  for (int i = 0; i < N; ++i)
    if (!std::isfinite(p[i]))
      return false;
  return true;
}

// Every element of the matrix and the translation.
inline bool tk_isFinite(const tkXform<3>& xform) {
  for (int r = 0; r < 3; ++r) {
    if (!std::isfinite(xform.trans()[r]))
      return false;
    for (int c = 0; c < 3; ++c)
      if (!std::isfinite(xform.matrix().element(r, c)))
        return false;
  }
  return true;
}

#endif
