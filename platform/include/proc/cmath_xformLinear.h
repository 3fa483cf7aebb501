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

#endif
