#include <proc/cmath_xformLinear.h>

#include "platform/proc/plain_record.h"

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
