#include <proc/ccal_inv_sin_tan.h>
#include <proc/ccal_lens_distortion.h>

#include "platform/proc/radial_distortion.h"

#include <cmath>

namespace {

// One Newton step on x + k*x^3 = r, kept only when it lowers the residual. The closed-form roots
// lose accuracy to cancellation when k*r^2 is tiny; one step restores full precision.
double polishCubicRoot(double k, double r, double x) {
  const double residual = x + k * x * x * x - r;
  const double slope = 1.0 + 3.0 * k * x * x;
  if (slope == 0.0)
    return x;
  const double polished = x - residual / slope;
  const double polishedResidual = polished + k * polished * polished * polished - r;
  return std::fabs(polishedResidual) < std::fabs(residual) ? polished : x;
}

}  // namespace

double ccal_radialCubicInverse(double k, double r) {
  if (std::fabs(k - 0.0) <= 1e-15)
    return r;
  // Up to |k·r²| <= 0.1: Newton's method from the series x ≈ r·(1 − u + 3u²),
  // u = k·r², reaches the root of the monotonic branch (the one the closed form below selects)
  // in two or three steps, at a fraction of the cost of the cube roots and the trigonometry.
  // With f = x + k·x³ − r convex (k > 0) or concave (k < 0) on the branch, the steps approach
  // the root from one side; once a step is below 1e-8 of x the next error is below rounding.
  const double u = k * r * r;
  if (std::fabs(u) <= ccal::detail::kRadialWeakLimit) {
    // Weak distortion, the common case.
    double x = 0.0;
    ccal::detail::radialWeakRoot(k, r, u, x);
    return x;
  }
  if (std::fabs(u) <= 0.1) {
    double x = r * (1.0 - u * (1.0 - 3.0 * u));
    for (int i = 0; i < 6; ++i) {
      const double kx2 = k * x * x;
      const double delta = (x + kx2 * x - r) / (1.0 + 3.0 * kx2);
      x -= delta;
      if (std::fabs(delta) <= 1e-8 * std::fabs(x))
        return x;
    }
  }
  const auto residual = [k, r](double x) { return std::fabs(x + x * x * x * k - r); };
  const double e0 = std::fabs(r + r * r * r * k - r);
  if (k > 0.0) {
    const double a = (4.0 + 27.0 * r * r * k) / k;
    const double m =
        std::cbrt((108.0 * r + 12.0 * std::sqrt(3.0) * std::sqrt(std::fmax(0.0, a))) * k * k);
    const double mSafe = m == 0.0 ? 1.0 : m;
    const double x1 = (1.0 / k) * m / 6.0 - 2.0 / mSafe;
    const double x2 = (-1.0 / k) * m / 12.0 + 1.0 / mSafe;
    const double e1 = residual(x1);
    const double e2 = residual(x2);
    if (e2 >= e1 && e0 >= e1)
      return polishCubicRoot(k, r, x1);
    if (e1 >= e2 && e0 >= e2)
      return polishCubicRoot(k, r, x2);
    return polishCubicRoot(k, r, r);  // monotonic for k > 0: r is a start too
  }
  const double a = -1.0 / (3.0 * k);
  double c = (-r / (2.0 * k)) / std::sqrt(a * a * a);
  c = std::fmin(1.0, std::fmax(-1.0, c));
  const double phi = std::acos(c);
  const double x = -2.0 * std::sqrt(a) * std::cos((phi - 6.283185307179586) / 3.0);
  return e0 >= residual(x) ? polishCubicRoot(k, r, x) : r;
}

int32_t ccal_lensDistortion_undistort(int32_t model, const double* params, double cx, double cy,
                                      double dx, double dy, double* qx, double* qy) {
  switch (model) {
    case CCAL_DISTORTION_NONE:
    case CCAL_DISTORTION_TELECENTRIC:
      *qx = dx;
      *qy = dy;
      return 0;
    case CCAL_DISTORTION_RADIAL: {
      const double ex = dx - cx;
      const double ey = dy - cy;
      const double scale = params[0] * (ex * ex + ey * ey);
      *qx = dx + scale * ex;
      *qy = dy + scale * ey;
      return 0;
    }
    case CCAL_DISTORTION_SINE_TAN: {
      const double ex = dx - cx;
      const double ey = dy - cy;
      const double r = std::sqrt(ex * ex + ey * ey);
      if (std::fabs(r) < 1e-15) {
        *qx = cx;
        *qy = cy;
        return 0;
      }
      double theta = 0.0;
      const int32_t status =
          ccal_xformCalib2_invSinTan_(params[0], params[1], params[2], params[3], r, &theta);
      if (status < 0)
        return status;
      const double factor = std::tan(theta) / r;
      *qx = cx + ex * factor;
      *qy = cy + ey * factor;
      return 0;
    }
    default:
      *qx = dx;
      *qy = dy;
      return CCAL_STATUS_UNKNOWN_DISTORTION_MODEL;
  }
}

void ccal_lensDistortion_distort(int32_t model, const double* params, double cx, double cy,
                                 double qx, double qy, double* dx, double* dy) {
  const double ex = qx - cx;
  const double ey = qy - cy;
  const double r = std::sqrt(ex * ex + ey * ey);
  *dx = qx;
  *dy = qy;
  if (model == CCAL_DISTORTION_RADIAL) {
    const double x = ccal_radialCubicInverse(params[0], r);
    const double rSafe = r == 0.0 ? 1.0 : r;
    ccal::detail::radialDistortedPoint(cx, cy, ex, ey, x, rSafe, *dx, *dy);
  } else if (model == CCAL_DISTORTION_SINE_TAN) {
    if (std::fabs(r) < 1e-15) {
      *dx = cx;
      *dy = cy;
      return;
    }
    const double theta = std::atan(r);
    const double rd =
        params[0] * std::tan(theta / params[1]) + params[2] * std::sin(theta / params[3]);
    *dx = cx + ex * (1.0 / r) * rd;
    *dy = cy + ey * (1.0 / r) * rd;
  }
}
