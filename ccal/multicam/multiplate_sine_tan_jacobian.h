// The Jacobian K of the multi-plate gradient F under eSineTan (calibration, not pose-only) in
// Gauss-Newton form: K = 4·Σ w·gᵀg over every observation, g the derivatives of its image point
// with respect to its camera's block and its placement's block (central differences with step h,
// the camera's in one staged pass per point). F is a central difference of the image cost E with
// F = 2·∇E, so this K is F's Jacobian exactly where the residuals vanish. It costs one pass over
// the points instead of the N + 1 numerical gradients of forward differences of F, and it keeps
// the small curvatures of the nearly redundant lens values that those differences lose.
#ifndef CCAL_MULTICAM_MULTIPLATE_SINE_TAN_JACOBIAN_H
#define CCAL_MULTICAM_MULTIPLATE_SINE_TAN_JACOBIAN_H

#include "ccal/multicam/multiplate_gradient.h"

// Writes K (problem.size() squared values, column-major) at x; entries outside the blocks of
// a camera, a placement and the pairs of a camera with the placements it saw are zero. Returns 0
// or the negative status of an abort request.
long tfMultiplateSineTanJacobian(const tk_MultiplateProblem& problem, const double* x, double h,
                                 double* jacobian);

#endif
