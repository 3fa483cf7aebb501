// Internal: the lens stage of the area-scan camera model (position at Z = 1 <-> distorted
// normalised plane) with analytic first derivatives.
//
// Frames: q is the position at Z = 1 (undistorted normalised coordinate of a viewing ray), d the
// distorted normalised point, c the centre of expansion (the fixed point of the distortion, in
// both planes). The models and their lens values:
//   CCAL_DISTORTION_NONE      d = q                                   (no values)
//   CCAL_DISTORTION_RADIAL    q = d + k·|d − c|²·(d − c)              (lens[0] = k)
//   CCAL_DISTORTION_SINE_TAN  d = c + (q − c)/r · r_d(θ), r = |q − c|, θ = atan r,
//                             r_d(θ) = p0·tan(θ/p1) + p2·sin(θ/p3)    (lens[0..3] = p0..p3)
// Any other model value is treated as no distortion by distort(); undistort() passes the
// kernel's status on.
//
// Values come from the procedural kernels (ccal_lensDistortion_distort / _undistort), so they
// equal every other caller of those kernels bit for bit; only the derivatives are formed here.
//
// Degenerate points, defined rather than left to 0/0:
// - at the centre (r below 1e-15 under the sine-tangent model, r = 0 under the radial one) the
//   derivatives are their limits: d d/d q = s0·I, d q/d d = I/s0 with s0 = p0/p1 + p2/p3 the
//   slope r_d'(0), and the lens derivatives are 0 under the sine-tangent model;
// - a sine-tangent radius that no ray angle reaches: undistort() returns the kernel's negative
//   status and leaves its outputs untouched; where the inverse's slope r_d'(θ) is not positive
//   (no implicit-function derivative exists) it returns CCAL_STATUS_SIN_TAN_NO_ROOT as well, but
//   only when derivatives are asked for;
// - beyond θ/p1 = π/2 the tangent term and its derivatives are those of the formula (tan keeps
//   its period); nothing is clipped.
#ifndef CCAL_CORE_CAMERA_MODEL_LENS_H
#define CCAL_CORE_CAMERA_MODEL_LENS_H

#include <proc/ccal_lens_distortion.h>

#include <cstdint>

namespace ccal::detail {

// Number of lens values of a model: 0 none, 1 radial, 4 sine-tangent, −1 for any other value.
constexpr int lensValueCount(std::int32_t model) {
  return model == CCAL_DISTORTION_NONE       ? 0
         : model == CCAL_DISTORTION_RADIAL   ? 1
         : model == CCAL_DISTORTION_SINE_TAN ? 4
                                             : -1;
}

// The lens of a camera: model, centre of expansion and lens values (unused entries ignored).
struct Lens {
  std::int32_t model = CCAL_DISTORTION_NONE;
  double cx = 0.0, cy = 0.0;
  double values[4] = {0.0, 0.0, 0.0, 0.0};
};

// Derivatives of a lens stage's output (row 0: x, row 1: y) with respect to its input point,
// the centre (cx, cy) and the lens values (the model's count; the other columns are 0).
struct LensJacobian {
  double byPoint[2][2];
  double byCentre[2][2];
  double byValues[2][4];
};

// Position at Z = 1 -> distorted point. Never fails. With a non-null jacobian also fills it.
void distort(const Lens& lens, const double q[2], double d[2], LensJacobian* jacobian);

// Distorted point -> position at Z = 1. Returns 0, or a negative status (see the top of this
// file) with q and the jacobian untouched. Derivatives under eNoDistortion and eSineTan; the
// radial back direction's are the camera model's closed form (a jacobian under eRadial is a
// broken invariant, tkInvariantFailure).
std::int32_t undistort(const Lens& lens, const double d[2], double q[2], LensJacobian* jacobian);

}  // namespace ccal::detail

#endif
