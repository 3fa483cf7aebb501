#include <tk/quaternion_xform.h>

tk3QuaternionXform::tk3QuaternionXform(const tk3Quaternion& quat, const tkVector<3>& trans)
    : trans_(trans) {
  this->quat(quat);
}

tk3QuaternionXform::tk3QuaternionXform(const tkXform<3>& xform)
    : tk3QuaternionXform(tk3Quaternion(xform.matrix()), xform.trans()) {}

void tk3QuaternionXform::quat(const tk3Quaternion& q) {
  const tk3Quaternion unit = q.normalised();
  rotation_ = unit.rotationMatrix();
  quat_ = unit;
}

tk3QuaternionXform tk3QuaternionXform::inverse() const {
  return tk3QuaternionXform(quat_.conjugate(), -(rotation_.transpose() * trans_));
}

tk3QuaternionXform tk3QuaternionXform::operator*(const tk3QuaternionXform& o) const {
  return tk3QuaternionXform(quat_ * o.quat_, rotation_ * o.trans_ + trans_);
}
