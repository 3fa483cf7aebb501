// Point-ray accumulator for a pose restricted to a rotation about Z and a translation: the
// weighted sum of squared plane residuals
//
//   E(τ, t) = Σ w·(n·(Rz(θ)·P + t) + c)²,   τ = tan(θ/2),
//
// of points P (plate coordinates) against planes n·X + c = 0 (world frame), as an exact function
// of the placement pose X = Rz(θ)·P + t. The rig solvers parameterise a Z-rotation placement by
// τ and read the derivatives with respect to τ, tx, ty (and tz) once per cost evaluation. A plane
// given in a camera frame is first pulled back to the world frame through the camera's
// transform (c3d_pullBackPlane in <proc/c3d_plane.h>).
//
// Representation. With cos θ = (1 − τ²)/(1 + τ²) and sin θ = 2τ/(1 + τ²), a residual is
// b·ζ with ζ = (cos θ, sin θ, tx, ty, tz, 1) and
//   b = (n.x·P.x + n.y·P.y,  n.y·P.x − n.x·P.y,  n.x,  n.y,  n.z,  n.z·P.z + c),
// so E = ζᵀ·K·ζ with K = Σ w·b·bᵀ, a symmetric 6×6 matrix. The record holds K's upper triangle
// (21 doubles): exact, whatever the number of points.
//
// Record functions and type checks: <proc/cstd_record.h>. Default value: the empty sum (all 0),
// the same as after c3d_ptRayZRotGenericPoly_init.
#ifndef PROC_C3D_PTRAYZROTGENERICPOLY_H
#define PROC_C3D_PTRAYZROTGENERICPOLY_H

#include <proc/c3d_status.h>
#include <proc/cmath_vect.h>
#include <proc/cstd_record.h>

typedef struct c3d_ptRayZRotGenericPoly {
  // K's upper triangle row by row: K00, K01, ..., K05, K11, ..., K15, K22, ..., K55.
  double moments[21];
} c3d_ptRayZRotGenericPoly;

CSTD_DECLARE_RECORD_FUNCTIONS(c3d_ptRayZRotGenericPoly)

// Empties the accumulator. Returns CSTD_STATUS_BAD_ARGUMENT for a null pointer.
TK_API cstd_status c3d_ptRayZRotGenericPoly_init(c3d_ptRayZRotGenericPoly* acc);

// Adds weight·(normal·(Rz(θ)·P + t) + planeConstant)² as a function of (τ, t), for P = (px, py,
// pz). Callers holding a plane n·X = offset pass planeConstant = −offset. Any finite weight is
// taken as given; 0 leaves the record bit-for-bit unchanged. Returns CSTD_STATUS_BAD_ARGUMENT for
// a null pointer (nothing added), else CSTD_STATUS_OK. Inline, allocation-free and unchecked
// beyond that: a non-finite input makes the sum non-finite, which every reader below reports
// with C3D_STATUS_NOT_FINITE.
static inline cstd_status c3d_ptRayZRotGenericPoly_addToValsWeighted(
    c3d_ptRayZRotGenericPoly* acc, double px, double py, double pz, const cmath_vect3* normal,
    double planeConstant, double weight) {
  if (acc == NULL || normal == NULL)
    return CSTD_STATUS_BAD_ARGUMENT;
  const double nx = normal->x, ny = normal->y, nz = normal->z;
  const double b[6] = {nx * px + ny * py, ny * px - nx * py, nx, ny, nz, nz * pz + planeConstant};
  int k = 0;
  for (int r = 0; r < 6; ++r) {
    const double wb = weight * b[r];
    for (int c = r; c < 6; ++c)
      acc->moments[k++] += wb * b[c];
  }
  return CSTD_STATUS_OK;
}

// Adds the two planes normals[k]·X = offsets[k] (k = 0, 1) for the same point and weight:
//   weight·((normals[0]·X − offsets[0])² + (normals[1]·X − offsets[1])²),  X = Rz(θ)·P + t,
// the same function as two calls of _addToValsWeighted with planeConstant = −offsets[k], with
// one pass over the record. Statuses and non-finite input as for _addToValsWeighted.
static inline cstd_status c3d_ptRayZRotGenericPoly_addPlanePairWeighted(
    c3d_ptRayZRotGenericPoly* acc, double px, double py, double pz, const cmath_vect3 normals[2],
    const double offsets[2], double weight) {
  if (acc == NULL || normals == NULL || offsets == NULL)
    return CSTD_STATUS_BAD_ARGUMENT;
  const cmath_vect3 n = normals[0], m = normals[1];
  const double c = -offsets[0], d = -offsets[1];
  const double b[6] = {n.x * px + n.y * py, n.y * px - n.x * py, n.x, n.y, n.z, n.z * pz + c};
  const double e[6] = {m.x * px + m.y * py, m.y * px - m.x * py, m.x, m.y, m.z, m.z * pz + d};
  int k = 0;
  for (int r = 0; r < 6; ++r) {
    const double wb = weight * b[r], we = weight * e[r];
    for (int col = r; col < 6; ++col)
      acc->moments[k++] += wb * b[col] + we * e[col];
  }
  return CSTD_STATUS_OK;
}

// The accumulated sum E at the pose (τ, tx, ty, tz). Returns CSTD_STATUS_BAD_ARGUMENT for a null
// pointer and C3D_STATUS_NOT_FINITE when an argument or the result is not finite (*value
// unchanged). Every moment enters the result, so a non-finite moment always shows here.
TK_API cstd_status c3d_ptRayZRotGenericPoly_evaluate(const c3d_ptRayZRotGenericPoly* acc,
                                                     double tanHalfAngle, double tx, double ty,
                                                     double tz, double* value);

// The four partial derivatives of E at (τ, tx, ty, tz), in that order. Failures as for
// _evaluate (gradient unchanged).
TK_API cstd_status c3d_ptRayZRotGenericPoly_gradient(const c3d_ptRayZRotGenericPoly* acc,
                                                     double tanHalfAngle, double tx, double ty,
                                                     double tz, double gradient[4]);

// One partial derivative of E at (τ, tx, ty, tz): with respect to τ (_DT), tx (_DTX), ty (_DTY)
// or tz (_DTZ). Each computes the whole gradient (a few dozen operations); solvers that need
// several take _gradient. Failures as for _evaluate.
TK_API cstd_status c3d_ptRayZRotGenericPoly_DT(const c3d_ptRayZRotGenericPoly* acc,
                                               double tanHalfAngle, double tx, double ty, double tz,
                                               double* derivative);
TK_API cstd_status c3d_ptRayZRotGenericPoly_DTX(const c3d_ptRayZRotGenericPoly* acc,
                                                double tanHalfAngle, double tx, double ty,
                                                double tz, double* derivative);
TK_API cstd_status c3d_ptRayZRotGenericPoly_DTY(const c3d_ptRayZRotGenericPoly* acc,
                                                double tanHalfAngle, double tx, double ty,
                                                double tz, double* derivative);
TK_API cstd_status c3d_ptRayZRotGenericPoly_DTZ(const c3d_ptRayZRotGenericPoly* acc,
                                                double tanHalfAngle, double tx, double ty,
                                                double tz, double* derivative);

// The symmetric 6×6 matrix K with E = ζᵀ·K·ζ, written whole. Returns CSTD_STATUS_BAD_ARGUMENT
// for a null pointer.
TK_API cstd_status c3d_ptRayZRotGenericPoly_getQuadraticForm(const c3d_ptRayZRotGenericPoly* acc,
                                                             double form[6][6]);

#endif
