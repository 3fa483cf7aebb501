#include <proc/c3d_ptRayGenericPoly.h>

#include "platform/proc/plain_record.h"

#include <cmath>

namespace {

// Position of the normal pair (i, k) and of the point pair (j, l) in the moment table.
constexpr int kNormalPair[3][3] = {{0, 1, 2}, {1, 3, 4}, {2, 4, 5}};
constexpr int kPointPair[4][4] = {{0, 1, 2, 3}, {1, 4, 5, 6}, {2, 5, 7, 8}, {3, 6, 8, 9}};

// Position of the pose entry T_ij (T = [R | t]) in ψ = (R00, ..., R22, t0, t1, t2, 1).
constexpr int psiIndex(int i, int j) {
  return j < 3 ? 3 * i + j : 9 + i;
}

c3d_ptRayGenericPoly emptySum() {
  return c3d_ptRayGenericPoly{};
}

bool equalSums(const c3d_ptRayGenericPoly& a, const c3d_ptRayGenericPoly& b) {
  for (int p = 0; p < 6; ++p)
    for (int q = 0; q < 10; ++q)
      if (!(a.normalPointMoments[p][q] == b.normalPointMoments[p][q]))
        return false;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j)
      if (!(a.constantMoments[i][j] == b.constantMoments[i][j]))
        return false;
  return a.constantSquare == b.constantSquare;
}

// E and ∂E/∂T_ij for the 3×4 pose matrix T. With h_ij = Σ_kl S(ik, jl)·T_kl + C_ij the gradient
// is 2·h and E = Σ_ij T_ij·(h_ij + C_ij) + Σ w·c².
void valueAndGradient(const c3d_ptRayGenericPoly& acc, const cmath_xformLinear3& pose,
                      double& value, double (&gradient)[12]) {
  double T[3][4];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j)
      T[i][j] = pose.matrix[i][j];
  }
  T[0][3] = pose.trans.x;
  T[1][3] = pose.trans.y;
  T[2][3] = pose.trans.z;

  double sum = acc.constantSquare;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 4; ++j) {
      double h = acc.constantMoments[i][j];
      for (int k = 0; k < 3; ++k) {
        const double* moments = acc.normalPointMoments[kNormalPair[i][k]];
        for (int l = 0; l < 4; ++l)
          h += moments[kPointPair[j][l]] * T[k][l];
      }
      gradient[psiIndex(i, j)] = 2.0 * h;
      sum += T[i][j] * (h + acc.constantMoments[i][j]);
    }
  }
  value = sum;
}

bool allFinite(double value, const double (&gradient)[12]) {
  double probe = value - value;
  for (double g : gradient)
    probe += g - g;
  return probe == 0.0;
}

}  // namespace

CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(c3d_ptRayGenericPoly, emptySum, equalSums)

cstd_status c3d_ptRayGenericPoly_init(c3d_ptRayGenericPoly* acc) {
  return c3d_ptRayGenericPoly_construct(acc);
}

cstd_status c3d_ptRayGenericPoly_evaluateWithGradient(const c3d_ptRayGenericPoly* acc,
                                                      const cmath_xformLinear3* pose, double* value,
                                                      double gradient[12]) {
  if (acc == nullptr || pose == nullptr || value == nullptr || gradient == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  double sum;
  double g[12];
  valueAndGradient(*acc, *pose, sum, g);
  if (!allFinite(sum, g))
    return C3D_STATUS_NOT_FINITE;
  *value = sum;
  for (int k = 0; k < 12; ++k)
    gradient[k] = g[k];
  return CSTD_STATUS_OK;
}

cstd_status c3d_ptRayGenericPoly_evaluate(const c3d_ptRayGenericPoly* acc,
                                          const cmath_xformLinear3* pose, double* value) {
  if (acc == nullptr || pose == nullptr || value == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  double sum;
  double g[12];
  valueAndGradient(*acc, *pose, sum, g);
  if (!std::isfinite(sum))
    return C3D_STATUS_NOT_FINITE;
  *value = sum;
  return CSTD_STATUS_OK;
}

cstd_status c3d_ptRayGenericPoly_gradient(const c3d_ptRayGenericPoly* acc,
                                          const cmath_xformLinear3* pose, double gradient[12]) {
  double value;
  return c3d_ptRayGenericPoly_evaluateWithGradient(acc, pose, &value, gradient);
}

cstd_status c3d_ptRayGenericPoly_getQuadraticForm(const c3d_ptRayGenericPoly* acc,
                                                  double form[13][13]) {
  if (acc == nullptr || form == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 4; ++j) {
      const int row = psiIndex(i, j);
      for (int k = 0; k < 3; ++k)
        for (int l = 0; l < 4; ++l)
          form[row][psiIndex(k, l)] = acc->normalPointMoments[kNormalPair[i][k]][kPointPair[j][l]];
      form[row][12] = acc->constantMoments[i][j];
      form[12][row] = acc->constantMoments[i][j];
    }
  }
  form[12][12] = acc->constantSquare;
  return CSTD_STATUS_OK;
}
