// Turns the failure statuses of the procedural layer's own functions (key 0x81) and of its
// geometry functions (key 0x83) into the core library's exceptions. Other statuses of these keys,
// and the statuses of other keys without a converter, become tkProcedureFailure.
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

[[maybe_unused]] const bool sRegistered =
    (tfRegisterExceptionConverter(0x81, convertProceduralLayerFailure),
     tfRegisterExceptionConverter(0x83, convertGeometryFailure), true);

}  // namespace
