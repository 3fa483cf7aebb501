#include <tk/exception.h>
#include <tk/quaternion.h>

#include "invalid_argument.h"

#include <cmath>

tk3Quaternion::tk3Quaternion(const tkMatrix<3>& rotation) {
  auto R = [&rotation](int r, int c) { return rotation.element(r, c); };
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      if (!std::isfinite(R(r, c)))
        throw tkMathError::Singular();

  // Shepperd: 4·a², 4·b², 4·c², 4·d² are 1 + trace, 1 + R00 − R11 − R22, ... ; take the square
  // root of the largest (at least 1 for a rotation) and the others from off-diagonal sums and
  // differences divided by it, so no division is ever by a small number.
  const double trace = R(0, 0) + R(1, 1) + R(2, 2);
  double a, b, c, d;
  if (trace >= R(0, 0) && trace >= R(1, 1) && trace >= R(2, 2)) {
    const double s = 2.0 * std::sqrt(1.0 + trace);  // 4a
    a = 0.25 * s;
    b = (R(2, 1) - R(1, 2)) / s;
    c = (R(0, 2) - R(2, 0)) / s;
    d = (R(1, 0) - R(0, 1)) / s;
  } else if (R(0, 0) >= R(1, 1) && R(0, 0) >= R(2, 2)) {
    const double s = 2.0 * std::sqrt(1.0 + R(0, 0) - R(1, 1) - R(2, 2));  // 4b
    b = 0.25 * s;
    a = (R(2, 1) - R(1, 2)) / s;
    c = (R(0, 1) + R(1, 0)) / s;
    d = (R(0, 2) + R(2, 0)) / s;
  } else if (R(1, 1) >= R(2, 2)) {
    const double s = 2.0 * std::sqrt(1.0 - R(0, 0) + R(1, 1) - R(2, 2));  // 4c
    c = 0.25 * s;
    a = (R(0, 2) - R(2, 0)) / s;
    b = (R(0, 1) + R(1, 0)) / s;
    d = (R(1, 2) + R(2, 1)) / s;
  } else {
    const double s = 2.0 * std::sqrt(1.0 - R(0, 0) - R(1, 1) + R(2, 2));  // 4d
    d = 0.25 * s;
    a = (R(1, 0) - R(0, 1)) / s;
    b = (R(0, 2) + R(2, 0)) / s;
    c = (R(1, 2) + R(2, 1)) / s;
  }
  tk3Quaternion q = a < 0.0 ? tk3Quaternion(-a, -b, -c, -d) : tk3Quaternion(a, b, c, d);
  // Only a matrix far from any rotation (e.g. the zero matrix) can leave this without a norm.
  *this = q.normalise();
}

double tk3Quaternion::norm() const {
  return std::sqrt(normSquared());
}

tk3Quaternion& tk3Quaternion::normalise() {
  const double n = norm();
  if (!(n > 0.0) || !std::isfinite(n))
    throw tkMathError::Singular();
  for (double& component : q_)
    component /= n;
  return *this;
}

tk3Quaternion tk3Quaternion::normalised() const {
  tk3Quaternion q = *this;
  return q.normalise();
}

tk3Quaternion tk3Quaternion::operator*(const tk3Quaternion& o) const {
  const double a1 = q_[0], b1 = q_[1], c1 = q_[2], d1 = q_[3];
  const double a2 = o.q_[0], b2 = o.q_[1], c2 = o.q_[2], d2 = o.q_[3];
  return tk3Quaternion(a1 * a2 - b1 * b2 - c1 * c2 - d1 * d2, a1 * b2 + b1 * a2 + c1 * d2 - d1 * c2,
                       a1 * c2 - b1 * d2 + c1 * a2 + d1 * b2,
                       a1 * d2 + b1 * c2 - c1 * b2 + d1 * a2);
}

tkMatrix<3> tk3Quaternion::rotationMatrix() const {
  const double n2 = normSquared();
  if (!(n2 > 0.0) || !std::isfinite(n2))
    throw tkMathError::Singular();
  const double a = q_[0], b = q_[1], c = q_[2], d = q_[3];
  const double s = 1.0 / n2;
  return tkMatrix<3>((a * a + b * b - c * c - d * d) * s, 2.0 * (b * c - a * d) * s,
                     2.0 * (b * d + a * c) * s,  //
                     2.0 * (b * c + a * d) * s, (a * a - b * b + c * c - d * d) * s,
                     2.0 * (c * d - a * b) * s,  //
                     2.0 * (b * d - a * c) * s, 2.0 * (c * d + a * b) * s,
                     (a * a - b * b - c * c + d * d) * s);
}

tkVector<3> tk3Quaternion::rotate(const tkVector<3>& v) const {
  return rotationMatrix() * v;
}

int tk3Quaternion::unitValIndex() const {
  int best = 0;
  for (int i = 0; i < 4; ++i) {
    if (!std::isfinite(q_[i]))
      throw tkMathError::Singular();
    if (std::abs(q_[i]) > std::abs(q_[best]))
      best = i;
  }
  if (q_[best] == 0.0)
    throw tkMathError::Singular();
  return best;
}

double tk3Quaternion::var(int k) const {
  const int held = unitValIndex();
  const int index = k < held ? k : k + 1;
  return q_[index] / q_[held];
}

void tk3Quaternion::setUsingUnitValIndex(int index, double v1, double v2, double v3) {
  if (index < 0 || index > 3)
    tk_throwInvalidArgument("tk3Quaternion::setUsingUnitValIndex: index must be 0 to 3");
  const double free[3] = {v1, v2, v3};
  tk3Quaternion q(0.0, 0.0, 0.0, 0.0);
  q.q_[index] = 1.0;
  for (int k = 0, i = 0; i < 4; ++i)
    if (i != index)
      q.q_[i] = free[k++];
  *this = q.normalise();
}
