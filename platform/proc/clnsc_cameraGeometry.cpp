#include "clnsc_cameraGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double dot3(const double a[3], double X, double Y) {
  return a[0] * X + a[1] * Y + a[2];
}

// x_m² for the lens: the smallest positive root s of 5·k2·s² + 3·k1·s + 1 = 0, where D' first
// vanishes; +∞ when there is none (D then rises monotonically for all x > 0).
double monotoneLimitSquared(double k1, double k2) {
  constexpr double kNone = std::numeric_limits<double>::infinity();
  if (k2 == 0.0)
    return k1 < 0.0 ? -1.0 / (3.0 * k1) : kNone;
  const double disc = 9.0 * k1 * k1 - 20.0 * k2;
  if (disc < 0.0)
    return kNone;
  // Roots q/(5·k2) and 1/q (their product is 1/(5·k2)), without cancellation.
  const double q = -0.5 * (3.0 * k1 + std::copysign(std::sqrt(disc), k1 == 0.0 ? 1.0 : k1));
  double best = kNone;
  const double roots[2] = {q / (5.0 * k2), q != 0.0 ? 1.0 / q : kNone};
  for (double s : roots)
    if (s > 0.0 && s < best)
      best = s;
  return best;
}

}  // namespace

void clnsc_rotationOfQuaternion(const c3d_quaternion& q, double r[3][3]) {
  const double a = q.a, b = q.b, c = q.c, d = q.d;
  r[0][0] = a * a + b * b - c * c - d * d;
  r[0][1] = 2.0 * (b * c - a * d);
  r[0][2] = 2.0 * (b * d + a * c);
  r[1][0] = 2.0 * (b * c + a * d);
  r[1][1] = a * a - b * b + c * c - d * d;
  r[1][2] = 2.0 * (c * d - a * b);
  r[2][0] = 2.0 * (b * d - a * c);
  r[2][1] = 2.0 * (c * d + a * b);
  r[2][2] = a * a - b * b - c * c + d * d;
}

c3d_quaternion clnsc_canonicalSign(const c3d_quaternion& q) {
  const double components[4] = {q.a, q.b, q.c, q.d};
  for (double value : components) {
    if (value > 0.0)
      return q;
    if (value < 0.0)
      return c3d_quaternion{-q.a, -q.b, -q.c, -q.d};
  }
  return q;
}

c3d_quaternion clnsc_quaternionOfRotation(const double r[3][3]) {
  // Divide by the largest of the four candidates 4a², 4b², 4c², 4d², so that the division is
  // well conditioned at every angle.
  const double trace = r[0][0] + r[1][1] + r[2][2];
  c3d_quaternion q{};
  if (trace >= r[0][0] && trace >= r[1][1] && trace >= r[2][2]) {
    const double s = 2.0 * std::sqrt(1.0 + trace);  // 4a
    q = {0.25 * s, (r[2][1] - r[1][2]) / s, (r[0][2] - r[2][0]) / s, (r[1][0] - r[0][1]) / s};
  } else if (r[0][0] >= r[1][1] && r[0][0] >= r[2][2]) {
    const double s = 2.0 * std::sqrt(1.0 + r[0][0] - r[1][1] - r[2][2]);  // 4b
    q = {(r[2][1] - r[1][2]) / s, 0.25 * s, (r[0][1] + r[1][0]) / s, (r[0][2] + r[2][0]) / s};
  } else if (r[1][1] >= r[2][2]) {
    const double s = 2.0 * std::sqrt(1.0 + r[1][1] - r[0][0] - r[2][2]);  // 4c
    q = {(r[0][2] - r[2][0]) / s, (r[0][1] + r[1][0]) / s, 0.25 * s, (r[1][2] + r[2][1]) / s};
  } else {
    const double s = 2.0 * std::sqrt(1.0 + r[2][2] - r[0][0] - r[1][1]);  // 4d
    q = {(r[1][0] - r[0][1]) / s, (r[0][2] + r[2][0]) / s, (r[1][2] + r[2][1]) / s, 0.25 * s};
  }
  return clnsc_canonicalSign(q);
}

double clnsc_lensUndistort(double k1, double k2, double distorted) {
  if (k1 == 0.0 && k2 == 0.0)
    return distorted;
  if (!std::isfinite(distorted) || !std::isfinite(k1) || !std::isfinite(k2))
    return kNaN;
  const double t = std::fabs(distorted);
  if (t == 0.0)
    return distorted;
  double lo = 0.0, hi = 0.0;
  const double limitSquared = monotoneLimitSquared(k1, k2);
  if (std::isfinite(limitSquared)) {
    hi = std::sqrt(limitSquared);
    if (clnsc_lensDistort(k1, k2, hi) < t)
      return kNaN;
  } else {
    hi = std::max(1.0, 2.0 * t);
    while (clnsc_lensDistort(k1, k2, hi) < t) {
      hi *= 2.0;
      if (!std::isfinite(hi))
        return kNaN;
    }
  }
  double x = std::min(t, hi);
  for (int iteration = 0; iteration < 100; ++iteration) {
    const double value = clnsc_lensDistort(k1, k2, x);
    if (value == t)
      break;
    if (value > t)
      hi = x;
    else
      lo = x;
    const double slope = clnsc_lensSlope(k1, k2, x);
    double next = x - (value - t) / slope;
    if (!(slope > 0.0) || !(next > lo && next < hi))
      next = 0.5 * (lo + hi);
    const bool converged = std::fabs(next - x) <= 1e-16 * std::max(1.0, std::fabs(x)) ||
                           hi - lo <= 1e-16 * std::max(1.0, hi);
    x = next;
    if (converged)
      break;
  }
  return std::copysign(x, distorted);
}

clnsc_cameraGeometry clnsc_cameraGeometryOf(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera) {
  clnsc_cameraGeometry g{};
  clnsc_rotationOfQuaternion(camera.poseInverseRotation.quaternion, g.rotation);
  const cmath_vect3& M = camera.scannerMotion;
  const cmath_vect3& T = camera.poseInverseTranslation;
  for (int i = 0; i < 3; ++i)
    g.motion[i] = g.rotation[i][0] * M.x + g.rotation[i][1] * M.y + g.rotation[i][2] * M.z;
  const double translation[3] = {T.x, T.y, T.z};
  for (int c = 0; c < 3; ++c) {
    const double rowEntry = c < 2 ? g.rotation[1][c] : translation[1];
    g.rowV[c] = rowEntry / g.motion[1];
  }
  for (int c = 0; c < 3; ++c) {
    const double xEntry = c < 2 ? g.rotation[0][c] : translation[0];
    const double zEntry = c < 2 ? g.rotation[2][c] : translation[2];
    g.rowX[c] = xEntry - g.motion[0] * g.rowV[c];
    g.rowZ[c] = zEntry - g.motion[2] * g.rowV[c];
  }
  g.offset = camera.lens.offset;
  g.scale = camera.lens.scale;
  g.k1 = camera.lens.k1;
  g.k2 = camera.lens.k2;
  return g;
}

void clnsc_plateToImage(const clnsc_cameraGeometry& g, double X, double Y, double& u, double& v) {
  v = dot3(g.rowV, X, Y);
  const double x = dot3(g.rowX, X, Y) / dot3(g.rowZ, X, Y);
  u = g.scale * clnsc_lensDistort(g.k1, g.k2, x) + g.offset;
}

void clnsc_imageToPlate(const clnsc_cameraGeometry& g, double u, double v, double& X, double& Y) {
  const double x = clnsc_lensUndistort(g.k1, g.k2, (u - g.offset) / g.scale);
  // rowV·P~ = v and (rowX − x·rowZ)·P~ = 0: the plate point on the scan line v that pixel u sees.
  const double a11 = g.rowV[0], a12 = g.rowV[1], b1 = v - g.rowV[2];
  const double a21 = g.rowX[0] - x * g.rowZ[0], a22 = g.rowX[1] - x * g.rowZ[1];
  const double b2 = x * g.rowZ[2] - g.rowX[2];
  const double det = a11 * a22 - a12 * a21;
  if (std::isnan(x) || det == 0.0) {
    X = Y = kNaN;
    return;
  }
  X = (b1 * a22 - a12 * b2) / det;
  Y = (a11 * b2 - b1 * a21) / det;
}

void clnsc_plateToImageJacobian(const clnsc_cameraGeometry& g, double X, double Y,
                                double jacobian[2][2]) {
  const double xc = dot3(g.rowX, X, Y);
  const double zc = dot3(g.rowZ, X, Y);
  const double x = xc / zc;
  const double gain = g.scale * clnsc_lensSlope(g.k1, g.k2, x) / (zc * zc);
  jacobian[0][0] = gain * (g.rowX[0] * zc - xc * g.rowZ[0]);
  jacobian[0][1] = gain * (g.rowX[1] * zc - xc * g.rowZ[1]);
  jacobian[1][0] = g.rowV[0];
  jacobian[1][1] = g.rowV[1];
}

bool clnsc_cameraIsValid(const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera) {
  const clnsc_physicalAtZEquals1FromLineScanImageParams& lens = camera.lens;
  const c3d_quaternion& q = camera.poseInverseRotation.quaternion;
  const cmath_vect3& T = camera.poseInverseTranslation;
  const cmath_vect3& M = camera.scannerMotion;
  const double values[] = {lens.offset, lens.scale, lens.k1, lens.k2, q.a, q.b, q.c,
                           q.d,         T.x,        T.y,     T.z,     M.x, M.y, M.z};
  for (double value : values)
    if (!std::isfinite(value))
      return false;
  return lens.scale != 0.0;
}
