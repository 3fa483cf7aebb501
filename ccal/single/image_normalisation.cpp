#include "ccal/single/image_normalisation.h"

#include <proc/cstd_assert.h>

tk2XformLinear tk_ImageNormaliser::normalisation() const {
  if (x_.count() == 0) {
    cstd_assert_(__FILE__, __LINE__);
    return tk2XformLinear();
  }
  const tk2XformLinear T(tkMatrix<2>(3.0 * x_.stdDev(), 0.0, 0.0, 3.0 * y_.stdDev()),
                         tkVector<2>(x_.mean(), y_.mean()));
  if (T.matrix().isSingular())
    return tk2XformLinear();
  return T.inverse();
}
