#include <tk/exception.h>
#include <tk/zrotation_xform.h>

#include <cmath>

namespace {
// Rz(θ)·v.
tkVector<3> rotateAboutZ(double theta, const tkVector<3>& v) {
  const double c = std::cos(theta), s = std::sin(theta);
  return tkVector<3>(c * v.x() - s * v.y(), s * v.x() + c * v.y(), v.z());
}
}  // namespace

tk3ZRotationXform::tk3ZRotationXform(const tkXform<3>& xform) : trans_(xform.trans()) {
  const double m00 = xform.matrix().element(0, 0);
  const double m10 = xform.matrix().element(1, 0);
  if (!std::isfinite(m00) || !std::isfinite(m10) || (m00 == 0.0 && m10 == 0.0))
    throw tkMathError::Singular();
  rotZ_ = std::atan2(m10, m00);
}

tkXform<3> tk3ZRotationXform::xform() const {
  const double c = std::cos(rotZ_), s = std::sin(rotZ_);
  return tkXform<3>(tkMatrix<3>(c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0), trans_);
}

tkVector<3> tk3ZRotationXform::mapPoint(const tkVector<3>& p) const {
  return rotateAboutZ(rotZ_, p) + trans_;
}

tk3ZRotationXform tk3ZRotationXform::inverse() const {
  return tk3ZRotationXform(-rotZ_, -rotateAboutZ(-rotZ_, trans_));
}

tk3ZRotationXform tk3ZRotationXform::operator*(const tk3ZRotationXform& o) const {
  return tk3ZRotationXform(rotZ_ + o.rotZ_, rotateAboutZ(rotZ_, o.trans_) + trans_);
}
