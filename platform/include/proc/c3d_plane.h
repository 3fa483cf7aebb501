// Planes of space in offset form: the points X with normal·X = offset. (The point-ray
// accumulators' single-plane adds take the plane constant −offset; their pair adds take offsets.)
//
// Both functions run once or twice per correspondence in the calibration solvers' cost
// evaluations, so they are inline: an out-of-line call costs as much as the plane arithmetic.
#ifndef PROC_C3D_PLANE_H
#define PROC_C3D_PLANE_H

#include <proc/c3d_status.h>
#include <proc/cmath_vect.h>
#include <proc/cmath_xformLinear.h>

#include <math.h>

// The two planes through the ray origin + s·direction that contain the frame's y axis direction
// and its x axis direction. With the slopes m = (direction.x / direction.z, direction.y /
// direction.z):
//   perps[0] = (1, 0, −m.x), dots[0] = perps[0]·origin   (x − m.x·z = const: contains (0, 1, 0))
//   perps[1] = (0, 1, −m.y), dots[1] = perps[1]·origin   (y − m.y·z = const: contains (1, 0, 0))
// For a viewing ray from the camera centre (origin 0, direction (m.x, m.y, 1)) the offsets are 0
// and the plane residuals of a camera-frame point Pc are Pc.x − m.x·Pc.z and Pc.y − m.y·Pc.z:
// the error at Z = 1 scaled by the depth Pc.z. The normals are not unit vectors.
// perps and dots each receive two values. Returns CSTD_STATUS_BAD_ARGUMENT for a null pointer
// (nothing written), C3D_STATUS_RAY_IN_XY_PLANE when direction.z is 0 and C3D_STATUS_NOT_FINITE
// for a non-finite input or slope; on these two failures every output is NaN, so values a caller
// goes on with after ignoring the status poison whatever they reach.
static inline cstd_status c3d_computeBothCoordAxesPlanePerpsAndDots(const cmath_vect3* origin,
                                                                    const cmath_vect3* direction,
                                                                    cmath_vect3 perps[2],
                                                                    double dots[2]) {
  if (origin == NULL || direction == NULL || perps == NULL || dots == NULL)
    return CSTD_STATUS_BAD_ARGUMENT;
  const double dz = direction->z;
  cstd_status status = C3D_STATUS_RAY_IN_XY_PLANE;
  if (dz != 0.0) {
    const double slopeX = direction->x / dz, slopeY = direction->y / dz;
    const double dotY = origin->x - slopeX * origin->z;
    const double dotX = origin->y - slopeY * origin->z;
    // x − x is 0 for finite x, else NaN. A non-finite input other than direction.z, or a slope
    // that overflows, leaves a non-finite value among the four results (0·∞ is NaN).
    const double probe =
        ((slopeX - slopeX) + (slopeY - slopeY)) + ((dotY - dotY) + (dotX - dotX)) + (dz - dz);
    if (probe == 0.0) {
      perps[0].x = 1.0;
      perps[0].y = 0.0;
      perps[0].z = -slopeX;
      perps[1].x = 0.0;
      perps[1].y = 1.0;
      perps[1].z = -slopeY;
      dots[0] = dotY;
      dots[1] = dotX;
      return CSTD_STATUS_OK;
    }
    status = C3D_STATUS_NOT_FINITE;
  }
  perps[0].x = perps[0].y = perps[0].z = NAN;
  perps[1].x = perps[1].y = perps[1].z = NAN;
  dots[0] = dots[1] = NAN;
  return status;
}

// The plane of xform's source frame whose image under xform (X -> matrix·X + trans) lies in the
// given plane of its destination frame: sourceNormal = matrixᵀ·normal, sourceOffset = offset −
// normal·trans. So for every source point X, sourceNormal·X − sourceOffset equals
// normal·(xform(X)) − offset. Used to express a plane through a camera's viewing ray (camera
// frame) in the world frame, for a camera-from-world transform. For a rotation the normal keeps
// its length. The outputs may alias the inputs. Returns CSTD_STATUS_BAD_ARGUMENT for a null
// pointer (nothing written) and C3D_STATUS_NOT_FINITE when an input is not finite (every input
// reaches a result, and 0·∞ is NaN) or a result overflows; the outputs are NaN then.
static inline cstd_status c3d_pullBackPlane(const cmath_xformLinear3* xform,
                                            const cmath_vect3* normal, double offset,
                                            cmath_vect3* sourceNormal, double* sourceOffset) {
  if (xform == NULL || normal == NULL || sourceNormal == NULL || sourceOffset == NULL)
    return CSTD_STATUS_BAD_ARGUMENT;
  const double nx = normal->x, ny = normal->y, nz = normal->z;
  const double(*M)[3] = xform->matrix;
  const double x = M[0][0] * nx + M[1][0] * ny + M[2][0] * nz;
  const double y = M[0][1] * nx + M[1][1] * ny + M[2][1] * nz;
  const double z = M[0][2] * nx + M[1][2] * ny + M[2][2] * nz;
  const double d = offset - (nx * xform->trans.x + ny * xform->trans.y + nz * xform->trans.z);
  const double probe = ((x - x) + (y - y)) + ((z - z) + (d - d));
  if (probe == 0.0) {
    sourceNormal->x = x;
    sourceNormal->y = y;
    sourceNormal->z = z;
    *sourceOffset = d;
    return CSTD_STATUS_OK;
  }
  sourceNormal->x = sourceNormal->y = sourceNormal->z = NAN;
  *sourceOffset = NAN;
  return C3D_STATUS_NOT_FINITE;
}

#endif
