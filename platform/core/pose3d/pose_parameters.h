// Internal: a rigid pose as six free values for the Levenberg-Marquardt solvers, with the
// derivatives of its rotation.
//
// The rotation is the unit quaternion of tk3Quaternion's three-value form: the component of
// largest magnitude at packing time (heldIndex) is fixed at 1 and the other three, in index
// order, are the free values v1, v2, v3. The rotation of the unnormalised quaternion q is
// R = M(q) / |q|^2 (M quadratic in q; see tk/quaternion.h), smooth in v everywhere, and
// |v| <= 1 at packing time. The block layout is (v1, v2, v3, tx, ty, tz): the pose maps
// P -> R P + t.
#ifndef TK_CORE_POSE3D_POSE_PARAMETERS_H
#define TK_CORE_POSE3D_POSE_PARAMETERS_H

#include <tk/xform.h>

struct tk_PoseParameters {
  int heldIndex = 0;

  // Writes the six values of `pose` (whose matrix must be a rotation) into values[0..5] and
  // chooses heldIndex. Throws tkMathError::Singular for a non-finite matrix.
  void pack(const tkXform<3>& pose, double* values);
  // The pose of six values (rotation normalised). Throws tkMathError::Singular when a value is
  // not finite.
  tkXform<3> unpack(const double* values) const;

  // Rotation matrix (row-major) of the free values v[0..2] and, when byValue is not null, its
  // derivatives: byValue[i] = d R / d v_i. Allocation-free; used per evaluation.
  void rotation(const double* v, double R[3][3], double (*byValue)[3][3]) const;
};

#endif
