#include "procedure_failure.h"

#include <tk/exception.h>

void tk_throwOnProcedureFailure(long status) {
  if (status >= 0)
    return;
  throw tkMathError::Singular();
}
