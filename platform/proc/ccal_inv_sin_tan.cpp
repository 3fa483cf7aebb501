#include <proc/ccal_inv_sin_tan.h>

#include <cmath>

namespace {

constexpr double kHalfPi = 1.5707963267948966;

// Radius function minus the target radius, and its derivative with respect to theta.
struct SinTanRadius {
  double p0, p1, p2, p3, r;
  void eval(double theta, double& f, double& df) const {
    const double t1 = theta / p1;
    const double t3 = theta / p3;
    const double tan1 = std::tan(t1);
    f = p0 * tan1 + p2 * std::sin(t3) - r;
    df = p0 / p1 * (1.0 + tan1 * tan1) + p2 / p3 * std::cos(t3);
  }
};

}  // namespace

int32_t ccal_xformCalib2_invSinTan_(double p0, double p1, double p2, double p3, double r,
                                    double* theta) {
  if (!std::isfinite(p0) || !std::isfinite(p1) || !std::isfinite(p2) || !std::isfinite(p3) ||
      !std::isfinite(r) || p1 == 0.0 || p3 == 0.0 || r < 0.0 || theta == nullptr) {
    return CCAL_STATUS_SIN_TAN_BAD_PARAMS;
  }
  if (r == 0.0) {
    *theta = 0.0;
    return 0;
  }
  const SinTanRadius radius{p0, p1, p2, p3, r};
  const double thetaMax = std::fabs(p1) < 1.0 ? kHalfPi * std::fabs(p1) : kHalfPi;

  // Bracket: f(lo) < 0 always holds (f(0) = -r). hi is only known to bound the root once an
  // evaluation there was positive.
  double lo = 0.0;
  double hi = thetaMax;
  bool hiVerified = false;

  const double slopeAtZero = p0 / p1 + p2 / p3;
  double x = slopeAtZero > 0.0 ? r / slopeAtZero : 0.5 * thetaMax;
  if (!(x > lo && x < hi))
    x = 0.5 * (lo + hi);

  for (int iteration = 0; iteration < 200; ++iteration) {
    double f = 0.0;
    double df = 0.0;
    radius.eval(x, f, df);
    if (f == 0.0) {
      *theta = x;
      return 0;
    }
    if (f < 0.0) {
      lo = x;
    } else {
      hi = x;
      hiVerified = true;
    }
    double next = x - f / df;
    if (!(df > 0.0) || !(next > lo && next < hi)) {
      if (!hiVerified) {
        // The step wants to leave the known region: check that a root exists below thetaMax
        // at all before bisecting towards it.
        const double edge = thetaMax * (1.0 - 1e-15);
        double fEdge = 0.0;
        double dfEdge = 0.0;
        radius.eval(edge, fEdge, dfEdge);
        if (!(fEdge > 0.0))
          return CCAL_STATUS_SIN_TAN_NO_ROOT;
        hi = edge;
        hiVerified = true;
      }
      next = 0.5 * (lo + hi);
    }
    if (std::fabs(next - x) <= 1e-15 * next || hi - lo <= 2e-16 * hi) {
      *theta = next;
      return 0;
    }
    x = next;
  }
  if (!hiVerified)
    return CCAL_STATUS_SIN_TAN_NO_ROOT;
  *theta = 0.5 * (lo + hi);
  return 0;
}
