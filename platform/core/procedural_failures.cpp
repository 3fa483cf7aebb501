// Turns the failure statuses of the procedural layer's own functions (key 0x81), of its matrix
// functions and of its 3-D geometry kernels (key 0x83) into the core library's exceptions. Other
// statuses of these keys, and the statuses of other keys without a converter, become
// tkProcedureFailure.
// NOTE (merge of the kernels into the single-camera branch): CMATH_STATUS_SINGULAR and
// C3D_STATUS_NOT_FINITE share the value 0x83000001; the matrix converter is registered first, so
// that value becomes tkMathError::Singular until one of the two codes is renumbered.
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
  if (static_cast<cstd_status>(status) == CMATH_STATUS_SINGULAR)
    throw tkMathError::Singular();
}

void convertGeometryKernelFailure(long status) {
  const cstd_status code = static_cast<cstd_status>(status);
  if (code == C3D_STATUS_NOT_FINITE)
    throw tkInvariantFailure(
        L"a 3-D geometry kernel was given a value that is not finite, or its result overflowed");
  if (code == C3D_STATUS_RAY_IN_XY_PLANE)
    throw tkInvariantFailure(
        L"a ray whose direction has no z component has no plane pair through it (the ray is "
        L"parallel to the image plane)");
  if (code == C3D_STATUS_ZERO_QUATERNION)
    throw tkMathError::Singular();
}

[[maybe_unused]] const bool sRegistered =
    (tfRegisterExceptionConverter(0x81, convertProceduralLayerFailure),
     tfRegisterExceptionConverter(0x83, convertGeometryFailure), true);
[[maybe_unused]] const bool sRegisteredGeometry =
    (tfRegisterExceptionConverter(0x83, convertGeometryKernelFailure), true);

}  // namespace
