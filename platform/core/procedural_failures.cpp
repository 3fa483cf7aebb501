// Turns the failure statuses of the procedural layer's own functions (key 0x81) and of its
// geometry functions and 3-D kernels (key 0x83) into the core library's exceptions. Other
// statuses of these keys, and the statuses of other keys without a converter, become
// tkProcedureFailure.
#include <proc/c3d_status.h>
#include <proc/cmath_xformLinear.h>
#include <proc/cstd_status.h>
#include <tk/attention.h>
#include <tk/failure.h>

#include <cstdint>
#include <new>

namespace {

void convertProceduralLayerFailure(long status) {
  const cstd_status code = static_cast<cstd_status>(status);
  if (code == CSTD_STATUS_ABORTED)
    throw tkAttention::Aborted();
  if (code == CSTD_STATUS_OUT_OF_MEMORY)
    throw std::bad_alloc();
}

void convertGeometryFailure(long status) {
  const cstd_status code = static_cast<cstd_status>(status);
  if (code == C3D_STATUS_NOT_FINITE)
    throw tkInvariantFailure(
        L"a 3-D geometry kernel was given a value that is not finite, or its result overflowed");
  if (code == C3D_STATUS_RAY_IN_XY_PLANE)
    throw tkInvariantFailure(
        L"a ray whose direction has no z component has no plane pair through it (the ray is "
        L"parallel to the image plane)");
  if (code == C3D_STATUS_ZERO_QUATERNION || code == CMATH_STATUS_SINGULAR)
    throw tkMathError::Singular();
}

[[maybe_unused]] const bool sRegistered =
    (tfRegisterExceptionConverter(0x81, convertProceduralLayerFailure),
     tfRegisterExceptionConverter(0x83, convertGeometryFailure), true);

}  // namespace
