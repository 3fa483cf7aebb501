#include <proc/c3d_quaternion.h>

#include "platform/proc/plain_record.h"

#include <cfloat>
#include <cmath>

namespace {

c3d_quaternion identityQuaternion() {
  return c3d_quaternion{1.0, 0.0, 0.0, 0.0};
}

c3d_quaternionUnit identityUnit() {
  return c3d_quaternionUnit{identityQuaternion()};
}

bool equalQuaternions(const c3d_quaternion& p, const c3d_quaternion& q) {
  return p.a == q.a && p.b == q.b && p.c == q.c && p.d == q.d;
}

bool equalUnits(const c3d_quaternionUnit& p, const c3d_quaternionUnit& q) {
  return equalQuaternions(p.quaternion, q.quaternion);
}

}  // namespace

CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(c3d_quaternion, identityQuaternion, equalQuaternions)
CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(c3d_quaternionUnit, identityUnit, equalUnits)

cstd_status c3d_quaternion_initValues(c3d_quaternion* q, double a, double b, double c, double d) {
  if (q == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  if (!(std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d)))
    return C3D_STATUS_NOT_FINITE;
  *q = c3d_quaternion{a, b, c, d};
  return CSTD_STATUS_OK;
}

cstd_status c3d_quaternion_getValues(const c3d_quaternion* q, double* a, double* b, double* c,
                                     double* d) {
  if (q == nullptr || a == nullptr || b == nullptr || c == nullptr || d == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  *a = q->a;
  *b = q->b;
  *c = q->c;
  *d = q->d;
  return CSTD_STATUS_OK;
}

cstd_status c3d_quaternionUnit_initQuaternion(c3d_quaternionUnit* unit,
                                              const c3d_quaternion* source) {
  if (unit == nullptr || source == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  const double v[4] = {source->a, source->b, source->c, source->d};
  double largest = 0.0;
  for (double x : v) {
    if (!std::isfinite(x))
      return C3D_STATUS_NOT_FINITE;
    largest = std::fmax(largest, std::abs(x));
  }
  if (largest == 0.0)
    return C3D_STATUS_ZERO_QUATERNION;

  const double normSquared = v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[3] * v[3];
  if (std::abs(normSquared - 1.0) <= 4.0 * DBL_EPSILON) {
    unit->quaternion = *source;
    return CSTD_STATUS_OK;
  }
  // Scale by a power of two (exact) so that the largest magnitude lies in [0.5, 1): the squared
  // norm then neither overflows nor underflows.
  int exponent = 0;
  std::frexp(largest, &exponent);
  double scaled[4];
  double scaledNormSquared = 0.0;
  for (int k = 0; k < 4; ++k) {
    scaled[k] = std::ldexp(v[k], -exponent);
    scaledNormSquared += scaled[k] * scaled[k];
  }
  const double norm = std::sqrt(scaledNormSquared);
  unit->quaternion =
      c3d_quaternion{scaled[0] / norm, scaled[1] / norm, scaled[2] / norm, scaled[3] / norm};
  return CSTD_STATUS_OK;
}

cstd_status c3d_quaternionUnit_getQuaternion(const c3d_quaternionUnit* unit, c3d_quaternion* q) {
  if (unit == nullptr || q == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  *q = unit->quaternion;
  return CSTD_STATUS_OK;
}
