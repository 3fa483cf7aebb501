// The two per-correspondence gradient terms of the camera solvers (single camera and rig).
//
// A correspondence is an image point p (pixels, or the normalised image frame of the solve), the
// position at Z = 1 q = (Pc.x/Pc.z, Pc.y/Pc.z) of its physical point under the current pose, and
// a weight w. Its error is measured in the camera's normalised planes, split in two terms whose
// partial derivatives the solvers add up into the gradient column F:
//
// - the intrinsic term: a function of the intrinsic values with q held fixed, whose partial
//   derivatives go to the intrinsic entries of the camera block (offsets 0..4, 11, 12, 13...);
// - the pose terms: w·((Pc.x/Pc.z − m.x)² + (Pc.y/Pc.z − m.y)²) with m = warpPoint(p) held fixed
//   and the depth Pc.z taken at the current pose, added to a point-ray accumulator as an exact
//   function of the pose; tfGetQuaternionPartialDerivatives reads the pose entries (5..10) off it.
//
// Both are allocation-free and meant for the solvers' per-point loops.
#ifndef CCAL_SINGLE_CRSP_GRADIENT_TERMS_H
#define CCAL_SINGLE_CRSP_GRADIENT_TERMS_H

#include "ccal/single/camera_values.h"

#include <proc/c3d_plane.h>
#include <proc/c3d_ptRayGenericPoly.h>
#include <tk/failure.h>
#include <tk/vector.h>

// Adds the partial derivatives of the intrinsic term of one correspondence to block, a camera
// block in the layout of ccal/problem/parameter_layout.h: entries 0..4 always, 11, 12 and 13..
// under eRadial and eSineTan; the pose entries 5..10 are not touched. q is held fixed.
//
// eNoDistortion, eRadial: with d = L(p), e = d − c, W = d + k·|e|²·e (k = 0 without distortion),
//   E = w·((W.x − q.x)²/sx² + (W.y − q.y)²/sy²), the error at Z = 1 in approximate image units;
//   exact partial derivatives for tx, ty, sx, sy (also through the 1/s² factors), skew and, under
//   eRadial, cx, cy and k.
// eSineTan: with r = |q − c|, u = (q − c)/r, θ = atan2(r, 1), r_d = p0·tan(θ/p1) + p2·sin(θ/p3),
//   D = c + u·r_d and the residual e = D − L(p) in the distorted plane, E = w'·|e|² with
//   w' = w·(r/r_d)² held constant. The centre's derivatives are central differences of D with
//   step 1e-8 divided by the step (not twice it); the derivatives for p0, p1 are 0 when
//   |θ| ≥ (π/2 − 0.1)·|p1| and those for p2, p3 when |θ| ≥ (π/2)·|p3|. For a target at the
//   centre (r = 0) w' takes its limit w/(p0/p1 + p2/p3)² and u = 0.
// Any other model: reports a failed internal assertion and adds nothing.
//
// positionAtZ1, when not null, receives warpPoint(p) of the model, which the pose terms need:
// under eNoDistortion and eRadial it is W, computed on the way; under eSineTan it needs the
// inverse lens function and throws what tfThrowExceptionOnFailure raises for its status when no
// ray angle reaches the point. Under another model it receives L(p).
void tfAddIntrinsicGradientTerm(const tk_IntrinsicValues& intrinsic, const tkVector<2>& imagePoint,
                                const tkVector<2>& positionAtZ1OfPhysical, double weight,
                                double* block, tkVector<2>* positionAtZ1 = nullptr);

// Adds the pose terms of one correspondence to acc: the two planes through the viewing ray from
// the camera centre along (m.x, m.y, 1), m = warpPoint(p)
// (c3d_computeBothCoordAxesPlanePerpsAndDots: x − m.x·z = 0 and y − m.y·z = 0), each with weight
// depthWeight, as functions of the pose X = R·P + t of the physical point P. With depthWeight =
// w/Pc.z² at the current pose the sum is the error at Z = 1. Negative statuses (a non-finite m) go
// to tfThrowExceptionOnFailure.
inline void tfAddPoseTerms(c3d_ptRayGenericPoly& acc, const tkVector<3>& physicalPoint,
                           const tkVector<2>& positionAtZ1OfImage, double depthWeight) {
  const cmath_vect3 origin = {0.0, 0.0, 0.0};
  const cmath_vect3 direction = {positionAtZ1OfImage.x(), positionAtZ1OfImage.y(), 1.0};
  cmath_vect3 normals[2];
  double offsets[2];
  cstd_status status =
      c3d_computeBothCoordAxesPlanePerpsAndDots(&origin, &direction, normals, offsets);
  if (status < 0)
    tfThrowExceptionOnFailure(status);
  // One step for both planes: the same sum as two single-plane adds with constants −offsets[k].
  status = c3d_ptRayGenericPoly_addPlanePairWeighted(
      &acc, physicalPoint.x(), physicalPoint.y(), physicalPoint.z(), normals, offsets, depthWeight);
  if (status < 0)
    tfThrowExceptionOnFailure(status);
}

#endif
