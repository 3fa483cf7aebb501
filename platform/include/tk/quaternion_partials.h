// Pose gradients in the three-value quaternion form used by the calibration solvers.
//
// A solver holds a rotation as three free values v = (var1, var2, var3) together with the index
// h of the quaternion component held fixed (tk3Quaternion::setUsingUnitValIndex): the quaternion
// is u = (1 at index h, v1, v2, v3 at the other indices in index order), normalised, and the
// rotation is R(u) = M(u)/|u|², M the quadratic matrix of <tk/quaternion.h>. The derivatives
// below are exact derivatives of that map, normalisation included:
//
//   dR/dv_k = (∂M/∂u_m − 2·u_m·R)/|u|²,   m the k-th index other than h.
//
// They depend on h. A solver stores h when it packs its parameters and keeps it for the whole
// minimisation while the quaternion drifts, so the component of largest magnitude (what
// tk3Quaternion::unitValIndex() reports) may change on the way: such solvers must pass their
// stored index to the overloads taking unitValIndex. The overloads without it use
// pose.quat().unitValIndex(), which is right only where the parameterisation is taken.
#ifndef TK_QUATERNION_PARTIALS_H
#define TK_QUATERNION_PARTIALS_H

#include <proc/c3d_ptRayGenericPoly.h>
#include <tk/export.h>
#include <tk/matrix.h>
#include <tk/quaternion.h>
#include <tk/quaternion_xform.h>

// derivatives[k] = dR/dv_k (k = 0, 1, 2 for var1, var2, var3) at the rotation of quat, for the
// three-value form holding component unitValIndex (0 = a ... 3 = d). quat need not be a unit
// quaternion (only its direction counts) and the held component may have either sign. Throws
// tkInvariantFailure when unitValIndex is outside 0..3 and tkMathError::Singular when quat is
// zero or not finite, or its held component is 0 (the three free values would be infinite).
TK_API void tfGetRotationPartialDerivatives(const tk3Quaternion& quat, int unitValIndex,
                                            tkMatrix<3> derivatives[3]);

// The partial derivatives of the sum held by acc (<proc/c3d_ptRayGenericPoly.h>), taken at pose,
// with respect to the pose's three free quaternion values (var1, var2, var3 of the form holding
// component unitValIndex) and its translation x, y, z, in that order: six values in partials.
// Throws as tfGetRotationPartialDerivatives, and tkInvariantFailure when the accumulated sum or
// its gradient is not finite at pose.
TK_API void tfGetQuaternionPartialDerivatives(const tk3QuaternionXform& pose, int unitValIndex,
                                              const c3d_ptRayGenericPoly& acc, double partials[6]);

// The same for the form holding pose.quat().unitValIndex(). Solvers whose quaternion moves away
// from its starting value must use the overload above with their stored index.
TK_API void tfGetQuaternionPartialDerivatives(const tk3QuaternionXform& pose,
                                              const c3d_ptRayGenericPoly& acc, double partials[6]);

#endif
