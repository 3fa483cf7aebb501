// Points and vectors of the procedural layer: cmath_vect (2-D) and cmath_vect3 (3-D).
//
// Default value: all components 0. Record functions and type checks: <proc/cstd_record.h>
// (cmath_vect_construct, ..., csys_typeCheck_cmath_vect, ...).
#ifndef PROC_CMATH_VECT_H
#define PROC_CMATH_VECT_H

#include <proc/cstd_record.h>

typedef struct cmath_vect {
  double x;
  double y;
} cmath_vect;

typedef struct cmath_vect3 {
  double x;
  double y;
  double z;
} cmath_vect3;

CSTD_DECLARE_RECORD_FUNCTIONS(cmath_vect)
CSTD_DECLARE_RECORD_FUNCTIONS(cmath_vect3)

#endif
