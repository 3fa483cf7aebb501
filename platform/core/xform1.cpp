#include <tk/exception.h>
#include <tk/xform1.h>

#include <cmath>

tk1Xform tk1Xform::inverse() const {
  const double inverseScale = 1.0 / scale_;
  const double inverseOffset = -offset_ * inverseScale;
  if (!std::isfinite(inverseScale) || !std::isfinite(inverseOffset))
    throw tkMathError::Singular();
  return tk1Xform(inverseScale, inverseOffset);
}

tk1Xform tk1Xform::operator*(const tk1Xform& o) const {
  return tk1Xform(scale_ * o.scale_, scale_ * o.offset_ + offset_);
}
