// Internal: the one place where the core library and the calibration library turn a negative
// status of the procedural layer into an exception.
#ifndef TK_CORE_PROCEDURE_FAILURE_H
#define TK_CORE_PROCEDURE_FAILURE_H

// Returns when status >= 0. Otherwise throws tkMathError::Singular for every failure.
// This function stands in for tfThrowExceptionOnFailure (<tk/failure.h>), which converts a status
// through the converters registered for its key; its body is to become a call of that function.
void tk_throwOnProcedureFailure(long status);

#endif
