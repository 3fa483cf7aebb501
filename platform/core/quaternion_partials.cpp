#include <tk/exception.h>
#include <tk/failure.h>
#include <tk/quaternion_partials.h>

#include "platform/core/camera_model/pose.h"
#include "invalid_argument.h"

#include <cmath>
#include <string>

namespace {

cmath_xformLinear3 toRecord(const tkXform<3>& xform) {
  cmath_xformLinear3 record;
  record.trans = cmath_vect3{xform.trans().x(), xform.trans().y(), xform.trans().z()};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      record.matrix[r][c] = xform.matrix().element(r, c);
  return record;
}

}  // namespace

void tfGetRotationPartialDerivatives(const tk3Quaternion& quat, int unitValIndex,
                                     tkMatrix<3> derivatives[3]) {
  if (unitValIndex < 0 || unitValIndex > 3)
    tk_throwInvalidArgument("tfGetRotationPartialDerivatives: unitValIndex must be 0 to 3, not " +
                            std::to_string(unitValIndex));
  const tk3Quaternion q = quat.normalised();  // throws for a zero or non-finite quaternion
  const double held = q[unitValIndex];
  if (held == 0.0)
    throw tkMathError::Singular();
  ccal::detail::quaternionRotationDerivatives(q, unitValIndex, q.rotationMatrix(), derivatives);
}

void tfGetQuaternionPartialDerivatives(const tk3QuaternionXform& pose, int unitValIndex,
                                       const c3d_ptRayGenericPoly& acc, double partials[6]) {
  tkMatrix<3> dR[3];
  tfGetRotationPartialDerivatives(pose.quat(), unitValIndex, dR);

  const cmath_xformLinear3 poseRecord = toRecord(pose.xform());
  double gradient[12];  // ∂E/∂R00 ... ∂E/∂R22, ∂E/∂t0 ... ∂E/∂t2
  const cstd_status status = c3d_ptRayGenericPoly_gradient(&acc, &poseRecord, gradient);
  if (status == C3D_STATUS_NOT_FINITE)
    tk_throwInvalidArgument(
        "tfGetQuaternionPartialDerivatives: the accumulated sum is not finite at the pose");
  tfThrowExceptionOnFailure(status);

  double rotationPartials[3];
  for (int k = 0; k < 3; ++k) {
    double sum = 0.0;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        sum += gradient[3 * r + c] * dR[k].element(r, c);
    if (!std::isfinite(sum))
      tk_throwInvalidArgument(
          "tfGetQuaternionPartialDerivatives: the rotation gradient is not finite at the pose");
    rotationPartials[k] = sum;
  }
  for (int k = 0; k < 3; ++k) {
    partials[k] = rotationPartials[k];
    partials[3 + k] = gradient[9 + k];
  }
}

void tfGetQuaternionPartialDerivatives(const tk3QuaternionXform& pose,
                                       const c3d_ptRayGenericPoly& acc, double partials[6]) {
  tfGetQuaternionPartialDerivatives(pose, pose.quat().unitValIndex(), acc, partials);
}
