#include <proc/cmath_xformLinear.h>

#include "platform/proc/plain_record.h"

#include <cfloat>
#include <cmath>

namespace {

cmath_xformLinear identityXform() {
  cmath_xformLinear xform{};
  xform.matrix[0][0] = 1.0;
  xform.matrix[1][1] = 1.0;
  return xform;
}

cmath_xformLinear3 identityXform3() {
  cmath_xformLinear3 xform{};
  for (int i = 0; i < 3; ++i)
    xform.matrix[i][i] = 1.0;
  return xform;
}

template <int N>
bool equalMatrices(const double (&a)[N][N], const double (&b)[N][N]) {
  for (int row = 0; row < N; ++row) {
    for (int column = 0; column < N; ++column) {
      if (!(a[row][column] == b[row][column]))
        return false;
    }
  }
  return true;
}

bool equalXform(const cmath_xformLinear& a, const cmath_xformLinear& b) {
  return a.trans.x == b.trans.x && a.trans.y == b.trans.y && equalMatrices(a.matrix, b.matrix);
}

bool equalXform3(const cmath_xformLinear3& a, const cmath_xformLinear3& b) {
  return a.trans.x == b.trans.x && a.trans.y == b.trans.y && a.trans.z == b.trans.z &&
         equalMatrices(a.matrix, b.matrix);
}

}  // namespace

CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(cmath_xformLinear, identityXform, equalXform)
CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(cmath_xformLinear3, identityXform3, equalXform3)

cstd_status cmath_xformLinear_getInverse(const cmath_xformLinear* xform,
                                         cmath_xformLinear* inverse) {
  if (xform == nullptr || inverse == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  // Row scaling by exact powers of two makes the test independent of the units of each row
  // (pixels against normalised coordinates) and keeps the arithmetic free of overflow.
  double scaled[2][2];
  int rowExponent[2];
  for (int row = 0; row < 2; ++row) {
    double largest = 0.0;
    for (int column = 0; column < 2; ++column) {
      const double value = xform->matrix[row][column];
      if (!std::isfinite(value))
        return CMATH_STATUS_SINGULAR;
      largest = std::fmax(largest, std::fabs(value));
    }
    if (largest == 0.0)
      return CMATH_STATUS_SINGULAR;
    std::frexp(largest, &rowExponent[row]);
    for (int column = 0; column < 2; ++column)
      scaled[row][column] = std::ldexp(xform->matrix[row][column], -rowExponent[row]);
  }
  const double det = scaled[0][0] * scaled[1][1] - scaled[0][1] * scaled[1][0];
  if (!(std::fabs(det) > 64.0 * DBL_EPSILON))
    return CMATH_STATUS_SINGULAR;
  if (!std::isfinite(xform->trans.x) || !std::isfinite(xform->trans.y))
    return CMATH_STATUS_SINGULAR;
  // M = D*S with D = diag(2^e): M^-1 = S^-1 * D^-1, column c of S^-1 scaled by 2^-e_c.
  double m[2][2];
  m[0][0] = std::ldexp(scaled[1][1] / det, -rowExponent[0]);
  m[0][1] = std::ldexp(-scaled[0][1] / det, -rowExponent[1]);
  m[1][0] = std::ldexp(-scaled[1][0] / det, -rowExponent[0]);
  m[1][1] = std::ldexp(scaled[0][0] / det, -rowExponent[1]);
  const double tx = xform->trans.x;
  const double ty = xform->trans.y;
  inverse->matrix[0][0] = m[0][0];
  inverse->matrix[0][1] = m[0][1];
  inverse->matrix[1][0] = m[1][0];
  inverse->matrix[1][1] = m[1][1];
  inverse->trans.x = -(m[0][0] * tx + m[0][1] * ty);
  inverse->trans.y = -(m[1][0] * tx + m[1][1] * ty);
  return CSTD_STATUS_OK;
}
