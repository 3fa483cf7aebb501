// Lens-distortion kernels shared by the intrinsic camera model and the calibrated transform.
//
// Frames: the "distorted normalised plane" is the image after the camera's linear map has been
// undone; the "position at Z = 1" is the undistorted normalised coordinate of a viewing ray (the
// point where the ray meets the plane Z = 1 of the camera frame). Undistortion goes from the
// distorted plane to Z = 1, distortion back.
//
// Models (the values of tk2XformCalib2Defs::tkCalib2DistortionModel):
//   CCAL_DISTORTION_SINE_TAN (1): params p0..p3, centre (cx, cy). A ray at angle theta from the
//     optical axis appears at distorted radius r_d = p0*tan(theta/p1) + p2*sin(theta/p3) from
//     the centre, so undistortion solves for theta (ccal_xformCalib2_invSinTan_).
//   CCAL_DISTORTION_NONE (4): no params; both directions are the identity.
//   CCAL_DISTORTION_RADIAL (5): param k, centre (cx, cy). Undistortion is d + k*|d - c|^2*(d - c)
//     (k acts from the image towards Z = 1; k > 0 is barrel distortion); distortion inverts the
//     cubic x + k*x^3 = r for the distorted radius x.
//   CCAL_DISTORTION_TELECENTRIC (7): the telecentric camera; no distortion (identity).
#ifndef PROC_CCAL_LENS_DISTORTION_H
#define PROC_CCAL_LENS_DISTORTION_H

#include <tk/export.h>

#include <stdint.h>

#define CCAL_DISTORTION_SINE_TAN 1
#define CCAL_DISTORTION_NONE 4
#define CCAL_DISTORTION_RADIAL 5
#define CCAL_DISTORTION_TELECENTRIC 7

// Status for a model value that is none of the above.
#define CCAL_STATUS_UNKNOWN_DISTORTION_MODEL ((int32_t)0x82000003u)

// Solves x + k*x^3 = r for the distorted radius x by the closed-form cubic roots: x = r when
// k is zero within 1e-15; for k > 0 the better of the two Cardano candidates; for k < 0 the
// trigonometric root on the monotonic branch. A candidate is taken only when its residual is
// no larger than that of x = r, so outside the monotonic range of x + k*x^3 the result is r.
// The chosen root gets one Newton step when that lowers its residual (full double precision).
TK_API double ccal_radialCubicInverse(double k, double r);

// Distorted normalised point (dx, dy) -> position at Z = 1 (*qx, *qy).
// params holds 1 value (radial), 4 values (sine-tangent) or may be null (other models).
// Returns 0; CCAL_STATUS_UNKNOWN_DISTORTION_MODEL for an unknown model (output = input); or the
// status of ccal_xformCalib2_invSinTan_ when no angle reaches the radius (output untouched).
// Under sine-tangent a point within 1e-15 of the centre maps to the centre.
TK_API int32_t ccal_lensDistortion_undistort(int32_t model, const double* params, double cx,
                                             double cy, double dx, double dy, double* qx,
                                             double* qy);

// Position at Z = 1 (qx, qy) -> distorted normalised point (*dx, *dy). Never fails: unknown
// models leave the point unchanged. Under sine-tangent the ray angle is atan(|q - c|).
TK_API void ccal_lensDistortion_distort(int32_t model, const double* params, double cx, double cy,
                                        double qx, double qy, double* dx, double* dy);

#endif
