#include <proc/cmath_vect.h>

#include "platform/proc/plain_record.h"

namespace {

cmath_vect zeroVect() {
  return cmath_vect{0.0, 0.0};
}
cmath_vect3 zeroVect3() {
  return cmath_vect3{0.0, 0.0, 0.0};
}

bool equalVect(const cmath_vect& a, const cmath_vect& b) {
  return a.x == b.x && a.y == b.y;
}
bool equalVect3(const cmath_vect3& a, const cmath_vect3& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

}  // namespace

CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(cmath_vect, zeroVect, equalVect)
CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(cmath_vect3, zeroVect3, equalVect3)
