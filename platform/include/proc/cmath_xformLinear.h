// Affine transforms of the procedural layer: a point p maps to matrix·p + trans.
//
//   cmath_xformLinear:  2-D; six doubles in record order: trans.x, trans.y, then the 2×2 matrix
//                       in row order (m00, m01, m10, m11).
//   cmath_xformLinear3: 3-D; twelve doubles: trans.x, trans.y, trans.z, then the 3×3 matrix in
//                       row order (m00, m01, m02, m10, ..., m22).
//
// Default value: the identity (unit matrix, zero translation). Record functions and type checks:
// <proc/cstd_record.h>.
#ifndef PROC_CMATH_XFORMLINEAR_H
#define PROC_CMATH_XFORMLINEAR_H

#include <proc/cmath_vect.h>
#include <proc/cstd_record.h>

typedef struct cmath_xformLinear {
  cmath_vect trans;
  double matrix[2][2];  // matrix[row][column]
} cmath_xformLinear;

typedef struct cmath_xformLinear3 {
  cmath_vect3 trans;
  double matrix[3][3];  // matrix[row][column]
} cmath_xformLinear3;

CSTD_DECLARE_RECORD_FUNCTIONS(cmath_xformLinear)
CSTD_DECLARE_RECORD_FUNCTIONS(cmath_xformLinear3)

// Failure of the geometry functions of this layer (key 0x83): the matrix is singular.
// Codes 1-3 of this key belong to the 3-D kernels (proc/c3d_status.h).
#define CMATH_STATUS_SINGULAR ((cstd_status)0x83000004u)

// *inverse = the transform q -> matrix^-1 * (q - trans), so inverse(xform(p)) = p.
// Singularity is judged as tkMatrix::isSingular does: each row is scaled exactly by a power of
// two so that its largest magnitude lies in [0.5, 1); the matrix is singular when a row is zero,
// an entry is not finite, or the scaled determinant is at most 64 machine epsilons in magnitude.
// Returns CSTD_STATUS_OK; CMATH_STATUS_SINGULAR (inverse untouched) when singular or when the
// translation is not finite; CSTD_STATUS_BAD_ARGUMENT for a null pointer. inverse may be xform.
TK_API cstd_status cmath_xformLinear_getInverse(const cmath_xformLinear* xform,
                                                cmath_xformLinear* inverse);

#endif
