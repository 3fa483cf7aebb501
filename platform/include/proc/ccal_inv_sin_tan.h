// Inverse of the sine-tangent lens radius function.
//
// The sine-tangent lens model maps the angle theta between a viewing ray and the optical axis to
// the distorted radius
//     r_d(theta) = p0 * tan(theta / p1) + p2 * sin(theta / p3)
// in the distorted normalised plane. ccal_xformCalib2_invSinTan_ solves r_d(theta) = r for theta.
#ifndef PROC_CCAL_INV_SIN_TAN_H
#define PROC_CCAL_INV_SIN_TAN_H

#include <tk/export.h>

#include <cstdint>

// Status returned when the parameters are not finite or p1 or p3 is zero.
#define CCAL_STATUS_SIN_TAN_BAD_PARAMS static_cast<int32_t>(0x82000001u)
// Status returned when no angle in [0, thetaMax) maps to the requested radius.
#define CCAL_STATUS_SIN_TAN_NO_ROOT static_cast<int32_t>(0x82000002u)

// Solves p0*tan(theta/p1) + p2*sin(theta/p3) = r for theta in [0, thetaMax), where thetaMax is
// pi/2 (rays in front of the camera), reduced to pi/2*|p1| when that is smaller (tan stays
// finite). r must be finite and >= 0; r = 0 gives theta = 0.
//
// The root is found by Newton's method from the small-angle estimate r / r_d'(0), safeguarded
// by a bracket [lo, hi] with r_d(lo) < r < r_d(hi) that every evaluation narrows; a step leaving
// the bracket falls back to bisection. The result is accurate to a few units in the last place.
// For lenses whose radius function increases on [0, thetaMax) the root is unique; otherwise the
// root reached from the small-angle start inside the first bracket is returned.
//
// Returns 0 and writes *theta on success. Returns CCAL_STATUS_SIN_TAN_BAD_PARAMS or
// CCAL_STATUS_SIN_TAN_NO_ROOT (and leaves *theta untouched) on failure.
TK_API int32_t ccal_xformCalib2_invSinTan_(double p0, double p1, double p2, double p3, double r,
                                           double* theta);

#endif
