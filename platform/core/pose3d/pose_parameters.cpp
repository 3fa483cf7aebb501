#include "platform/core/pose3d/pose_parameters.h"

#include <tk/quaternion.h>

void tk_PoseParameters::pack(const tkXform<3>& pose, double* values) {
  const tk3Quaternion q(pose.matrix());
  heldIndex = q.unitValIndex();
  values[0] = q.var1();
  values[1] = q.var2();
  values[2] = q.var3();
  for (int i = 0; i < 3; ++i)
    values[3 + i] = pose.trans()[i];
}

tkXform<3> tk_PoseParameters::unpack(const double* values) const {
  tk3Quaternion q;
  q.setUsingUnitValIndex(heldIndex, values[0], values[1], values[2]);
  return tkXform<3>(q.rotationMatrix(), tkVector<3>(values[3], values[4], values[5]));
}

void tk_PoseParameters::rotation(const double* v, double R[3][3], double (*byValue)[3][3]) const {
  double q[4];
  for (int i = 0, k = 0; i < 4; ++i)
    q[i] = i == heldIndex ? 1.0 : v[k++];
  const double a = q[0], b = q[1], c = q[2], d = q[3];
  const double norm2 = a * a + b * b + c * c + d * d;
  const double inverseNorm2 = 1.0 / norm2;
  const double M[3][3] = {
      {a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c)},
      {2 * (b * c + a * d), a * a - b * b + c * c - d * d, 2 * (c * d - a * b)},
      {2 * (b * d - a * c), 2 * (c * d + a * b), a * a - b * b - c * c + d * d}};
  for (int r = 0; r < 3; ++r)
    for (int col = 0; col < 3; ++col)
      R[r][col] = M[r][col] * inverseNorm2;
  if (byValue == nullptr)
    return;
  // d M / d q_j for j = a, b, c, d (each times 2 below).
  const double byComponent[4][3][3] = {{{a, -d, c}, {d, a, -b}, {-c, b, a}},
                                       {{b, c, d}, {c, -b, -a}, {d, a, -b}},
                                       {{-c, b, a}, {b, c, d}, {-a, d, -c}},
                                       {{-d, -a, b}, {a, -d, c}, {b, c, d}}};
  // d R / d q_j = (d M / d q_j - 2 q_j R) / |q|^2.
  for (int j = 0, k = 0; j < 4; ++j) {
    if (j == heldIndex)
      continue;
    for (int r = 0; r < 3; ++r)
      for (int col = 0; col < 3; ++col)
        byValue[k][r][col] = 2.0 * (byComponent[j][r][col] - q[j] * R[r][col]) * inverseNorm2;
    ++k;
  }
}
