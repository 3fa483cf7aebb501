#include "platform/core/camera_model/pose.h"

#include <cmath>

namespace ccal::detail {

namespace {

// ∂M/∂q_m at q for the quadratic rotation matrix M(q) of <tk/quaternion.h> (m = 0 for a ...
// 3 for d). Each entry of M is a quadratic form in q, so the derivative is linear in q.
tkMatrix<3> quadraticMatrixDerivative(int m, double a, double b, double c, double d) {
  switch (m) {
    case 0:
      return tkMatrix<3>(a, -d, c, d, a, -b, -c, b, a) * 2.0;
    case 1:
      return tkMatrix<3>(b, c, d, c, -b, -a, d, a, -b) * 2.0;
    case 2:
      return tkMatrix<3>(-c, b, a, b, c, d, -a, d, -c) * 2.0;
    default:
      return tkMatrix<3>(-d, -a, b, a, -d, c, b, c, d) * 2.0;
  }
}

}  // namespace

void quaternionRotationDerivatives(const tk3Quaternion& unit, int held, const tkMatrix<3>& rotation,
                                   tkMatrix<3> derivatives[3]) {
  const double h = unit[held];
  for (int k = 0, m = 0; m < 4; ++m) {
    if (m == held)
      continue;
    const tkMatrix<3> dM = quadraticMatrixDerivative(m, unit.a(), unit.b(), unit.c(), unit.d());
    derivatives[k++] = (dM - rotation * (2.0 * unit[m])) * h;
  }
}

Pose quaternionPose(int held, const double values[6]) {
  tk3Quaternion quat(1.0, 0.0, 0.0, 0.0);
  quat.setUsingUnitValIndex(held, values[0], values[1], values[2]);
  return quaternionPose(quat, held, tkVector<3>(values[3], values[4], values[5]));
}

Pose quaternionPose(const tk3Quaternion& unit, int held, const tkVector<3>& translation) {
  Pose pose;
  pose.rotation = unit.rotationMatrix();
  pose.translation = translation;
  pose.rotationValues = 3;
  pose.valueCount = 6;
  quaternionRotationDerivatives(unit, held, pose.rotation, pose.byRotationValue);
  return pose;
}

int packQuaternionPose(const tkXform<3>& pose, double values[6]) {
  const tk3Quaternion quat(pose.matrix());
  values[0] = quat.var1();
  values[1] = quat.var2();
  values[2] = quat.var3();
  for (int i = 0; i < 3; ++i)
    values[3 + i] = pose.trans()[i];
  return quat.unitValIndex();
}

tkXform<3> quaternionXform(int held, const double values[6]) {
  tk3Quaternion quat(1.0, 0.0, 0.0, 0.0);
  quat.setUsingUnitValIndex(held, values[0], values[1], values[2]);
  return tkXform<3>(quat.rotationMatrix(), tkVector<3>(values[3], values[4], values[5]));
}

Pose zRotationPose(const double values[3], double height) {
  // θ = 2·atan τ; dθ/dτ = 2/(1 + τ²).
  const double tau = values[0];
  const double angle = 2.0 * std::atan(tau);
  const double c = std::cos(angle), s = std::sin(angle);
  Pose pose;
  pose.rotation = tkMatrix<3>(c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0);
  pose.translation = tkVector<3>(values[1], values[2], height);
  const double byTau = 2.0 / (1.0 + tau * tau);
  pose.byRotationValue[0] =
      tkMatrix<3>(-s * byTau, -c * byTau, 0.0, c * byTau, -s * byTau, 0.0, 0.0, 0.0, 0.0);
  pose.rotationValues = 1;
  pose.valueCount = 3;
  return pose;
}

}  // namespace ccal::detail
