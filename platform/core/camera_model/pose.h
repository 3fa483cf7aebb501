// Internal: rigid poses of the solvers' parameter forms, with the derivatives of a mapped point.
//
// A pose maps X = R·P + t. Two parameter forms:
// - quaternion: (var1, var2, var3, tx, ty, tz). The quaternion is (1 at the held index
//   unitValIndex, var1..var3 at the other indices in index order), normalised
//   (tk3Quaternion::setUsingUnitValIndex); the held index is fixed by the solver when it packs.
// - Z rotation: (τ, tx, ty) with τ = tan(θ/2), R the rotation by θ about Z, translation
//   (tx, ty, height) at a fixed height (tk3ZRotationXform(2·atan τ, ...)).
// The rotation matrices are computed as tk3Quaternion::rotationMatrix and
// tk3ZRotationXform::xform do, bit for bit.
//
// Used for a camera (world -> camera) and for a placement (plate -> world); a point on a
// placement seen by a camera composes both (cameraPointOf).
#ifndef CCAL_CORE_CAMERA_MODEL_POSE_H
#define CCAL_CORE_CAMERA_MODEL_POSE_H

#include "platform/core/force_inline.h"

#include <tk/matrix.h>
#include <tk/quaternion.h>
#include <tk/vector.h>
#include <tk/xform.h>

namespace ccal::detail {

constexpr int kMaxPoseValues = 6;

// dR/dv_k (k = 0, 1, 2) of the quaternion form holding index `held`, at the unit quaternion
// `unit`, whose held component must not be 0 (not checked). With u = unit/unit[held] the free
// form, |u|² = 1/unit[held]² and
//   dR/dv_k = (∂M/∂u_m − 2·u_m·R)/|u|² = unit[held]·(∂M/∂q_m(unit) − 2·unit[m]·R),
// M the quadratic rotation matrix of <tk/quaternion.h>, m the k-th index other than held.
void quaternionRotationDerivatives(const tk3Quaternion& unit, int held, const tkMatrix<3>& rotation,
                                   tkMatrix<3> derivatives[3]);

// One pose with its rotation derivatives, prepared once for many points.
struct Pose {
  tkMatrix<3> rotation = tkMatrix<3>::identity();
  tkVector<3> translation;
  tkMatrix<3> byRotationValue[3];  // dR per rotation value (quaternion: 3, Z rotation: 1)
  int rotationValues = 3;
  int valueCount = 6;  // quaternion 6, Z rotation 3 (τ, tx, ty)
};

// The quaternion form from its six values (var1..var3, tx, ty, tz). Throws
// tkMathError::Singular when a free value is not finite, tkInvariantFailure when held is
// outside 0..3.
Pose quaternionPose(int held, const double values[6]);
// The same from a unit quaternion whose component `held` is not 0 and a translation.
Pose quaternionPose(const tk3Quaternion& unit, int held, const tkVector<3>& translation);
// The Z-rotation form from (τ, tx, ty) at `height`.
Pose zRotationPose(const double values[3], double height);

// Packs a rigid transform (its matrix a rotation) into the quaternion form: chooses the held
// index (the component of largest magnitude, tk3Quaternion::unitValIndex, so |var| <= 1) and
// writes values[0..5]. Returns the held index. Throws tkMathError::Singular for a non-finite
// matrix.
int packQuaternionPose(const tkXform<3>& pose, double values[6]);
// The rigid transform of six quaternion-form values under `held` (rotation normalised), as
// quaternionPose gives it. Throws as quaternionPose.
tkXform<3> quaternionXform(int held, const double values[6]);

namespace pose_internal {

// d X/d pose values of X = R·P + t for a pose of kRotationValues rotation values and kValues
// values in all (the columns past kValues 0).
template <int kRotationValues, int kValues>
CCAL_FORCE_INLINE void pointByPose(const Pose& pose, const tkVector<3>& p, double (*byPose)[6]) {
  for (int k = 0; k < kRotationValues; ++k) {
    const tkVector<3> dx = pose.byRotationValue[k] * p;
    for (int r = 0; r < 3; ++r)
      byPose[r][k] = dx[r];
  }
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < kValues - kRotationValues; ++c)
      byPose[r][kRotationValues + c] = r == c ? 1.0 : 0.0;
    for (int c = kValues; c < 6; ++c)
      byPose[r][c] = 0.0;
  }
}

}  // namespace pose_internal

// X = R·P + t with d X/d pose values (valueCount columns, the rest 0) and, when byPoint is not
// null, d X/d P = R.
CCAL_FORCE_INLINE void mapPoint(const Pose& pose, const double P[3], double X[3],
                                double (*byPose)[6], double (*byPoint)[3]) {
  const tkVector<3> p(P[0], P[1], P[2]);
  const tkVector<3> x = pose.rotation * p + pose.translation;
  X[0] = x.x();
  X[1] = x.y();
  X[2] = x.z();
  if (byPose != nullptr) {
    if (pose.rotationValues == 3)
      pose_internal::pointByPose<3, 6>(pose, p, byPose);
    else
      pose_internal::pointByPose<1, 3>(pose, p, byPose);
  }
  if (byPoint != nullptr)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        byPoint[r][c] = pose.rotation.element(r, c);
}

// Derivatives of a camera-frame point with respect to the poses.
struct PointJacobian {
  double byCamera[3][6];
  double byPlacement[3][6];  // the placement's valueCount columns, the rest 0 (none without one)
};

// Pc = camera(placement(P)) (placement null: Pc = camera(P)), with derivatives when jacobian is
// not null.
CCAL_FORCE_INLINE void cameraPointOf(const Pose& camera, const Pose* placement, const double P[3],
                                     double Pc[3], PointJacobian* jacobian) {
  if (placement == nullptr) {
    mapPoint(camera, P, Pc, jacobian != nullptr ? jacobian->byCamera : nullptr, nullptr);
    return;
  }
  double X[3];
  double byPlacement[3][6];
  mapPoint(*placement, P, X, jacobian != nullptr ? byPlacement : nullptr, nullptr);
  mapPoint(camera, X, Pc, jacobian != nullptr ? jacobian->byCamera : nullptr, nullptr);
  if (jacobian == nullptr)
    return;
  const tkMatrix<3>& Rc = camera.rotation;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 6; ++c)
      jacobian->byPlacement[r][c] = Rc.element(r, 0) * byPlacement[0][c] +
                                    Rc.element(r, 1) * byPlacement[1][c] +
                                    Rc.element(r, 2) * byPlacement[2][c];
}

}  // namespace ccal::detail

#endif
