#include "platform/core/camera_model/lens.h"

#include <proc/ccal_inv_sin_tan.h>
#include <tk/exception.h>

#include <cmath>

namespace ccal::detail {

namespace {

constexpr double kSineTanCentreRadius = 1e-15;  // the kernels' "at the centre" radius

void clear(LensJacobian& j) {
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) {
      j.byPoint[r][c] = r == c ? 1.0 : 0.0;
      j.byCentre[r][c] = 0.0;
    }
    for (int c = 0; c < 4; ++c)
      j.byValues[r][c] = 0.0;
  }
}

// An output of the form c + e·h(|e|), e = input − c: d/d input = h·I + cross·e·eᵀ and
// d/d c = I − d/d input. cross is (dh/dr)/r, formed by the caller without cancellation where it
// can be.
void radialForm(double h, double cross, double ex, double ey, LensJacobian& j) {
  j.byPoint[0][0] = h + cross * ex * ex;
  j.byPoint[0][1] = cross * ex * ey;
  j.byPoint[1][0] = cross * ey * ex;
  j.byPoint[1][1] = h + cross * ey * ey;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c)
      j.byCentre[r][c] = (r == c ? 1.0 : 0.0) - j.byPoint[r][c];
}

// r_d(θ) and its derivatives with respect to θ and to p0..p3.
struct SineTanRadius {
  double rd, byTheta, byValues[4];
};

SineTanRadius sineTanRadius(const double* p, double theta) {
  const double tanArg = theta / p[1];
  const double sinArg = theta / p[3];
  const double tanValue = std::tan(tanArg);
  const double sec2 = 1.0 + tanValue * tanValue;
  const double cosSin = std::cos(sinArg);
  const double sinValue = std::sin(sinArg);
  SineTanRadius s;
  s.rd = p[0] * tanValue + p[2] * sinValue;
  s.byTheta = p[0] / p[1] * sec2 + p[2] / p[3] * cosSin;
  s.byValues[0] = tanValue;
  s.byValues[1] = -p[0] * theta / (p[1] * p[1]) * sec2;
  s.byValues[2] = sinValue;
  s.byValues[3] = -p[2] * theta / (p[3] * p[3]) * cosSin;
  return s;
}

}  // namespace

void distort(const Lens& lens, const double q[2], double d[2], LensJacobian* jacobian) {
  if (jacobian == nullptr) {
    ccal_lensDistortion_distort(lens.model, lens.values, lens.cx, lens.cy, q[0], q[1], &d[0],
                                &d[1]);
    return;
  }
  const double ex = q[0] - lens.cx;
  const double ey = q[1] - lens.cy;
  const double r = std::sqrt(ex * ex + ey * ey);
  const bool sineTanOffCentre =
      lens.model == CCAL_DISTORTION_SINE_TAN && !(std::fabs(r) < kSineTanCentreRadius);
  if (!(lens.model == CCAL_DISTORTION_RADIAL || sineTanOffCentre))
    ccal_lensDistortion_distort(lens.model, lens.values, lens.cx, lens.cy, q[0], q[1], &d[0],
                                &d[1]);
  // With derivatives, the radius function is evaluated once for both: d by the kernel's formula.
  LensJacobian& j = *jacobian;
  clear(j);
  if (lens.model == CCAL_DISTORTION_RADIAL) {
    // D(e) = e·x/r with x + k·x³ = r. With a = 1 + 3k·x² and g = x/r = 1/(1 + k·x²):
    // dx/dr = 1/a, dx/dk = −x³/a and (dg/dr)/r = −2k·g³/a, free of cancellation as r -> 0.
    const double k = lens.values[0];
    const double x = ccal_radialCubicInverse(k, r);
    const double rSafe = r == 0.0 ? 1.0 : r;
    d[0] = lens.cx + ex * (x / rSafe);
    d[1] = lens.cy + ey * (x / rSafe);
    const double a = 1.0 + 3.0 * k * x * x;
    const double g = r > 0.0 ? x / r : 1.0;
    radialForm(g, -2.0 * k * g * g * g / a, ex, ey, j);
    const double byK = -g * x * x / a;
    j.byValues[0][0] = ex * byK;
    j.byValues[1][0] = ey * byK;
  } else if (lens.model == CCAL_DISTORTION_SINE_TAN) {
    const double* p = lens.values;
    if (r < kSineTanCentreRadius) {
      radialForm(p[0] / p[1] + p[2] / p[3], 0.0, ex, ey, j);
      return;
    }
    // D(e) = e·h(r), h = r_d(atan r)/r. (dh/dr)/r = (r_d'·θ_r·r − r_d)/r³ carries a rounding
    // error of order ε/r², which e·eᵀ (of order r²) multiplies back to ε.
    const double theta = std::atan(r);
    const SineTanRadius s = sineTanRadius(p, theta);
    d[0] = lens.cx + ex * (1.0 / r) * s.rd;
    d[1] = lens.cy + ey * (1.0 / r) * s.rd;
    const double thetaByR = 1.0 / (1.0 + r * r);
    radialForm(s.rd / r, (s.byTheta * thetaByR * r - s.rd) / (r * r * r), ex, ey, j);
    for (int i = 0; i < 4; ++i) {
      j.byValues[0][i] = ex / r * s.byValues[i];
      j.byValues[1][i] = ey / r * s.byValues[i];
    }
  }
}

std::int32_t undistort(const Lens& lens, const double d[2], double q[2], LensJacobian* jacobian) {
  double qx = 0.0, qy = 0.0;
  const std::int32_t status = ccal_lensDistortion_undistort(lens.model, lens.values, lens.cx,
                                                            lens.cy, d[0], d[1], &qx, &qy);
  if (status < 0)
    return status;
  if (jacobian != nullptr) {
    LensJacobian& j = *jacobian;
    clear(j);
    const double ex = d[0] - lens.cx;
    const double ey = d[1] - lens.cy;
    if (lens.model == CCAL_DISTORTION_RADIAL) {
      // The camera model's closed form (radialPositionAtZ1) is the one differentiated radial
      // back direction.
      throw tkInvariantFailure(L"undistort: radial derivatives are the camera model's");
    } else if (lens.model == CCAL_DISTORTION_SINE_TAN) {
      const double* p = lens.values;
      const double r = std::sqrt(ex * ex + ey * ey);
      if (std::fabs(r) < kSineTanCentreRadius) {
        radialForm(1.0 / (p[0] / p[1] + p[2] / p[3]), 0.0, ex, ey, j);
      } else {
        // q = c + e·h(r), h = tan θ / r with r_d(θ) = r. The kernel's θ is atan |q − c|
        // (tan θ >= 0 on the branch it solves). Implicit function: θ_r = 1/r_d'(θ),
        // θ_p = −(∂r_d/∂p)/r_d'(θ).
        const double t = std::hypot(qx - lens.cx, qy - lens.cy);
        const double theta = std::atan(t);
        const SineTanRadius s = sineTanRadius(p, theta);
        if (!(s.byTheta > 0.0) || !std::isfinite(s.byTheta))
          return CCAL_STATUS_SIN_TAN_NO_ROOT;
        const double sec2 = 1.0 + t * t;
        const double thetaByR = 1.0 / s.byTheta;
        radialForm(t / r, (sec2 * thetaByR * r - t) / (r * r * r), ex, ey, j);
        for (int i = 0; i < 4; ++i) {
          const double byValue = -sec2 * s.byValues[i] * thetaByR;
          j.byValues[0][i] = ex / r * byValue;
          j.byValues[1][i] = ey / r * byValue;
        }
      }
    }
  }
  q[0] = qx;
  q[1] = qy;
  return 0;
}

}  // namespace ccal::detail
