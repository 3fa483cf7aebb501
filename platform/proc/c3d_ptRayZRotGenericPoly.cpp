#include <proc/c3d_ptRayZRotGenericPoly.h>

#include "platform/proc/plain_record.h"

namespace {

c3d_ptRayZRotGenericPoly emptySum() {
  return c3d_ptRayZRotGenericPoly{};
}

bool equalSums(const c3d_ptRayZRotGenericPoly& a, const c3d_ptRayZRotGenericPoly& b) {
  for (int k = 0; k < 21; ++k)
    if (!(a.moments[k] == b.moments[k]))
      return false;
  return true;
}

void fullForm(const c3d_ptRayZRotGenericPoly& acc, double (&form)[6][6]) {
  int k = 0;
  for (int r = 0; r < 6; ++r)
    for (int c = r; c < 6; ++c) {
      form[r][c] = acc.moments[k];
      form[c][r] = acc.moments[k];
      ++k;
    }
}

bool finite(double x) {
  return x - x == 0.0;
}

// E and (∂E/∂τ, ∂E/∂tx, ∂E/∂ty, ∂E/∂tz). False when an argument or a result is not finite.
bool valueAndGradient(const c3d_ptRayZRotGenericPoly& acc, double tau, double tx, double ty,
                      double tz, double& value, double (&gradient)[4]) {
  if (!(finite(tau) && finite(tx) && finite(ty) && finite(tz)))
    return false;
  const double onePlusTau2 = 1.0 + tau * tau;
  const double zeta[6] = {
      (1.0 - tau * tau) / onePlusTau2, 2.0 * tau / onePlusTau2, tx, ty, tz, 1.0};
  double K[6][6];
  fullForm(acc, K);
  double dE[6];  // ∂E/∂ζ = 2·K·ζ
  double E = 0.0;
  for (int r = 0; r < 6; ++r) {
    double s = 0.0;
    for (int c = 0; c < 6; ++c)
      s += K[r][c] * zeta[c];
    dE[r] = 2.0 * s;
    E += zeta[r] * s;
  }
  // d cos θ/dτ = −4τ/(1 + τ²)², d sin θ/dτ = 2(1 − τ²)/(1 + τ²)².
  const double denominator = onePlusTau2 * onePlusTau2;
  const double dCos = -4.0 * tau / denominator;
  const double dSin = 2.0 * (1.0 - tau * tau) / denominator;
  double g[4] = {dE[0] * dCos + dE[1] * dSin, dE[2], dE[3], dE[4]};
  if (!(finite(E) && finite(g[0]) && finite(g[1]) && finite(g[2]) && finite(g[3])))
    return false;
  value = E;
  for (int k = 0; k < 4; ++k)
    gradient[k] = g[k];
  return true;
}

cstd_status oneDerivative(const c3d_ptRayZRotGenericPoly* acc, double tau, double tx, double ty,
                          double tz, double* derivative, int which) {
  if (derivative == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  double gradient[4];
  const cstd_status status = c3d_ptRayZRotGenericPoly_gradient(acc, tau, tx, ty, tz, gradient);
  if (status < 0)
    return status;
  *derivative = gradient[which];
  return CSTD_STATUS_OK;
}

}  // namespace

CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(c3d_ptRayZRotGenericPoly, emptySum, equalSums)

cstd_status c3d_ptRayZRotGenericPoly_init(c3d_ptRayZRotGenericPoly* acc) {
  return c3d_ptRayZRotGenericPoly_construct(acc);
}

cstd_status c3d_ptRayZRotGenericPoly_evaluate(const c3d_ptRayZRotGenericPoly* acc,
                                              double tanHalfAngle, double tx, double ty, double tz,
                                              double* value) {
  if (acc == nullptr || value == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  double gradient[4];
  if (!valueAndGradient(*acc, tanHalfAngle, tx, ty, tz, *value, gradient))
    return C3D_STATUS_NOT_FINITE;
  return CSTD_STATUS_OK;
}

cstd_status c3d_ptRayZRotGenericPoly_gradient(const c3d_ptRayZRotGenericPoly* acc,
                                              double tanHalfAngle, double tx, double ty, double tz,
                                              double gradient[4]) {
  if (acc == nullptr || gradient == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  double value;
  double g[4];
  if (!valueAndGradient(*acc, tanHalfAngle, tx, ty, tz, value, g))
    return C3D_STATUS_NOT_FINITE;
  for (int k = 0; k < 4; ++k)
    gradient[k] = g[k];
  return CSTD_STATUS_OK;
}

cstd_status c3d_ptRayZRotGenericPoly_DT(const c3d_ptRayZRotGenericPoly* acc, double tanHalfAngle,
                                        double tx, double ty, double tz, double* derivative) {
  return oneDerivative(acc, tanHalfAngle, tx, ty, tz, derivative, 0);
}

cstd_status c3d_ptRayZRotGenericPoly_DTX(const c3d_ptRayZRotGenericPoly* acc, double tanHalfAngle,
                                         double tx, double ty, double tz, double* derivative) {
  return oneDerivative(acc, tanHalfAngle, tx, ty, tz, derivative, 1);
}

cstd_status c3d_ptRayZRotGenericPoly_DTY(const c3d_ptRayZRotGenericPoly* acc, double tanHalfAngle,
                                         double tx, double ty, double tz, double* derivative) {
  return oneDerivative(acc, tanHalfAngle, tx, ty, tz, derivative, 2);
}

cstd_status c3d_ptRayZRotGenericPoly_DTZ(const c3d_ptRayZRotGenericPoly* acc, double tanHalfAngle,
                                         double tx, double ty, double tz, double* derivative) {
  return oneDerivative(acc, tanHalfAngle, tx, ty, tz, derivative, 3);
}

cstd_status c3d_ptRayZRotGenericPoly_getQuadraticForm(const c3d_ptRayZRotGenericPoly* acc,
                                                      double form[6][6]) {
  if (acc == nullptr || form == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  double K[6][6];
  fullForm(*acc, K);
  for (int r = 0; r < 6; ++r)
    for (int c = 0; c < 6; ++c)
      form[r][c] = K[r][c];
  return CSTD_STATUS_OK;
}
