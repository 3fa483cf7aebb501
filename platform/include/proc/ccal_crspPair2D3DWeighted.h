// One weighted correspondence between an image point and a physical 3-D point.
//
// Six doubles in record order: p.x, p.y (image point, pixels), P.x, P.y, P.z (physical point,
// plate or world units), w (weight; multiplies the point's squared error).
// Default value: p = (0, 0), P = (0, 0, 0), w = 1.0. Record functions and type checks:
// <proc/cstd_record.h>.
#ifndef PROC_CCAL_CRSPPAIR2D3DWEIGHTED_H
#define PROC_CCAL_CRSPPAIR2D3DWEIGHTED_H

#include <proc/cmath_vect.h>
#include <proc/cstd_record.h>

typedef struct ccal_crspPair2D3DWeighted {
  cmath_vect p;
  cmath_vect3 P;
  double w;
} ccal_crspPair2D3DWeighted;

CSTD_DECLARE_RECORD_FUNCTIONS(ccal_crspPair2D3DWeighted)

#endif
