// Point-ray accumulator for a general rigid pose: the weighted sum of squared plane residuals
//
//   E(R, t) = Σ w·(n·(R·P + t) + c)²
//
// of points P (in the pose's source frame) against planes n·X + c = 0 (in its destination
// frame), held as an exact function of the unknown pose X = R·P + t. Calibration solvers add two
// planes through each viewing ray per correspondence and read the pose gradient once per cost
// evaluation (c3d_ptRayGenericPoly_addPlanePairWeighted takes both planes of a correspondence in
// one step); callers with a plane in offset form n·X = offset pass c = −offset to the
// single-plane add.
//
// Representation. With P̃ = (P.x, P.y, P.z, 1) and the 3×4 pose matrix T = [R | t], a residual is
// Σ_ij n_i·T_ij·P̃_j + c, linear in the 13 values ψ = (R00, R01, ..., R22, t0, t1, t2, 1). Its
// square summed over the points is the quadratic form ψᵀ·M·ψ with M = Σ w·a·aᵀ,
// a = (n ⊗ P, n, c). The entries of M are the moments
//
//   Σ w·n_i·n_k·P̃_j·P̃_l   (symmetric in i, k and, separately, in j, l: 6 × 10 distinct values)
//   Σ w·c·n_i·P̃_j         (3 × 4 values)
//   Σ w·c²                 (1 value)
//
// which the record stores (73 doubles instead of the 91 of M's upper triangle). Adding a point is
// two rank-one updates of fixed shape, with no approximation: E at any pose, and its gradient,
// follow exactly (up to rounding) from the record.
//
// Record functions and type checks: <proc/cstd_record.h>. Default value: the empty sum (all 0),
// the same as after c3d_ptRayGenericPoly_init.
#ifndef PROC_C3D_PTRAYGENERICPOLY_H
#define PROC_C3D_PTRAYGENERICPOLY_H

#include <proc/c3d_status.h>
#include <proc/cmath_vect.h>
#include <proc/cmath_xformLinear.h>
#include <proc/cstd_record.h>

typedef struct c3d_ptRayGenericPoly {
  // [normal pair][point pair]: Σ w·n_i·n_k·P̃_j·P̃_l. Normal pairs (i, k) in the order (0,0),
  // (0,1), (0,2), (1,1), (1,2), (2,2); point pairs (j, l) in the order (0,0), (0,1), (0,2), (0,3),
  // (1,1), (1,2), (1,3), (2,2), (2,3), (3,3), where P̃_3 = 1.
  double normalPointMoments[6][10];
  // [i][j]: Σ w·c·n_i·P̃_j.
  double constantMoments[3][4];
  // Σ w·c².
  double constantSquare;
} c3d_ptRayGenericPoly;

CSTD_DECLARE_RECORD_FUNCTIONS(c3d_ptRayGenericPoly)

// Empties the accumulator (all moments 0). Returns CSTD_STATUS_BAD_ARGUMENT for a null pointer.
TK_API cstd_status c3d_ptRayGenericPoly_init(c3d_ptRayGenericPoly* acc);

// Adds the moments of one point P = (px, py, pz) for the normal moments w·n_i·n_k (normalPairs,
// in the record's pair order), w·c·n_i (constantNormal) and w·c² (constantSquare). Shared by the
// add functions below; the inputs are not checked.
static inline void c3d_ptRayGenericPoly_addMoments_(c3d_ptRayGenericPoly* acc, double px, double py,
                                                    double pz, const double normalPairs[6],
                                                    const double constantNormal[3],
                                                    double constantSquare) {
  const double pointPairs[10] = {px * px, px * py, px * pz, px, py * py,
                                 py * pz, py,      pz * pz, pz, 1.0};
  for (int a = 0; a < 6; ++a)
    for (int b = 0; b < 10; ++b)
      acc->normalPointMoments[a][b] += normalPairs[a] * pointPairs[b];
  const double point[4] = {px, py, pz, 1.0};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j)
      acc->constantMoments[i][j] += constantNormal[i] * point[j];
  acc->constantSquare += constantSquare;
}

// Adds weight·(normal·(R·P + t) + planeConstant)² as a function of the pose, for P = (px, py,
// pz). Callers holding a plane n·X = offset pass planeConstant = −offset. Any finite weight is
// taken as given; 0 adds nothing (the record stays bit-for-bit unchanged). Returns
// CSTD_STATUS_BAD_ARGUMENT for a null pointer (nothing added), else CSTD_STATUS_OK. Inline,
// allocation-free and unchecked beyond that: a non-finite input (or squares that overflow) makes
// the sum non-finite, which every reader below then reports with C3D_STATUS_NOT_FINITE (so a
// corrupt correspondence is caught once per evaluation rather than tested on every add).
static inline cstd_status c3d_ptRayGenericPoly_addToValsWeighted(c3d_ptRayGenericPoly* acc,
                                                                 double px, double py, double pz,
                                                                 const cmath_vect3* normal,
                                                                 double planeConstant,
                                                                 double weight) {
  if (acc == NULL || normal == NULL)
    return CSTD_STATUS_BAD_ARGUMENT;
  const double nx = normal->x, ny = normal->y, nz = normal->z;
  const double wnx = weight * nx, wny = weight * ny, wnz = weight * nz;
  const double normalPairs[6] = {wnx * nx, wnx * ny, wnx * nz, wny * ny, wny * nz, wnz * nz};
  const double constantNormal[3] = {wnx * planeConstant, wny * planeConstant, wnz * planeConstant};
  c3d_ptRayGenericPoly_addMoments_(acc, px, py, pz, normalPairs, constantNormal,
                                   weight * planeConstant * planeConstant);
  return CSTD_STATUS_OK;
}

// Adds the two planes normals[k]·X = offsets[k] (k = 0, 1) for the same point and weight:
//   weight·((normals[0]·X − offsets[0])² + (normals[1]·X − offsets[1])²),  X = R·P + t,
// the same function as two calls of _addToValsWeighted with planeConstant = −offsets[k], at the
// cost of one: the moments depend on the planes only through Σ n·nᵀ, Σ c·n and Σ c². This is the
// form of the pose terms of a correspondence (the plane pair of
// c3d_computeBothCoordAxesPlanePerpsAndDots, whose outputs it takes as they are). Statuses and
// non-finite input as for _addToValsWeighted.
static inline cstd_status c3d_ptRayGenericPoly_addPlanePairWeighted(c3d_ptRayGenericPoly* acc,
                                                                    double px, double py, double pz,
                                                                    const cmath_vect3 normals[2],
                                                                    const double offsets[2],
                                                                    double weight) {
  if (acc == NULL || normals == NULL || offsets == NULL)
    return CSTD_STATUS_BAD_ARGUMENT;
  const cmath_vect3 n = normals[0], m = normals[1];
  const double c = -offsets[0], d = -offsets[1];
  const double wnx = weight * n.x, wny = weight * n.y, wnz = weight * n.z;
  const double wmx = weight * m.x, wmy = weight * m.y, wmz = weight * m.z;
  const double normalPairs[6] = {wnx * n.x + wmx * m.x, wnx * n.y + wmx * m.y,
                                 wnx * n.z + wmx * m.z, wny * n.y + wmy * m.y,
                                 wny * n.z + wmy * m.z, wnz * n.z + wmz * m.z};
  const double wc = weight * c, wd = weight * d;
  const double constantNormal[3] = {wc * n.x + wd * m.x, wc * n.y + wd * m.y, wc * n.z + wd * m.z};
  c3d_ptRayGenericPoly_addMoments_(acc, px, py, pz, normalPairs, constantNormal, wc * c + wd * d);
  return CSTD_STATUS_OK;
}

// The accumulated sum E at the pose X = pose->matrix·P + pose->trans (the matrix need not be a
// rotation: E is the same polynomial in its nine entries). Returns CSTD_STATUS_BAD_ARGUMENT for a
// null pointer and C3D_STATUS_NOT_FINITE when the result is not finite (*value unchanged). Every
// moment enters the result, so a non-finite moment always shows here.
TK_API cstd_status c3d_ptRayGenericPoly_evaluate(const c3d_ptRayGenericPoly* acc,
                                                 const cmath_xformLinear3* pose, double* value);

// The partial derivatives of E at the pose with respect to the twelve pose entries, in the order
// R00, R01, R02, R10, ..., R22, t0, t1, t2 (each entry taken as independent). Failures as for
// _evaluate (gradient unchanged).
TK_API cstd_status c3d_ptRayGenericPoly_gradient(const c3d_ptRayGenericPoly* acc,
                                                 const cmath_xformLinear3* pose,
                                                 double gradient[12]);

// E and its gradient in one pass (the gradient costs the same; the value is then nearly free).
TK_API cstd_status c3d_ptRayGenericPoly_evaluateWithGradient(const c3d_ptRayGenericPoly* acc,
                                                             const cmath_xformLinear3* pose,
                                                             double* value, double gradient[12]);

// The symmetric 13×13 matrix M with E = ψᵀ·M·ψ, ψ = (R00, ..., R22, t0, t1, t2, 1), written
// whole (both triangles). Returns CSTD_STATUS_BAD_ARGUMENT for a null pointer.
TK_API cstd_status c3d_ptRayGenericPoly_getQuadraticForm(const c3d_ptRayGenericPoly* acc,
                                                         double form[13][13]);

#endif
