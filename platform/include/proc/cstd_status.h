// Status codes of the procedural layer.
//
// Every procedural function that can fail returns a cstd_status: zero or a positive value is
// success, a negative value is a failure code. Callers in the core library hand every negative
// status to tfThrowExceptionOnFailure, which looks the code up by its key (bits 24-31) and throws
// the exception registered for it.
//
// The failures defined here belong to the containers, records, clean-up, attention and progress
// functions of this layer. They all carry the key 0x81; other procedural libraries use their own
// keys (the line-scan calibration uses 0x80).
#ifndef PROC_CSTD_STATUS_H
#define PROC_CSTD_STATUS_H

#include <stdint.h>

typedef int32_t cstd_status;

// Builds the signed 32-bit failure code 0x81000000 | code (the cast wraps as on every
// two's-complement platform).
#define CSTD_STATUS_FAILURE_(code) ((cstd_status)(0x81000000u | (uint32_t)(code)))

// Success.
#define CSTD_STATUS_OK ((cstd_status)0)
// A required pointer was null, or an argument is outside its documented range.
#define CSTD_STATUS_BAD_ARGUMENT CSTD_STATUS_FAILURE_(1)
// Memory could not be obtained, or a container was asked to hold more than it ever can.
#define CSTD_STATUS_OUT_OF_MEMORY CSTD_STATUS_FAILURE_(2)
// The calling thread's abort token is set (csys_attention_check).
#define CSTD_STATUS_ABORTED CSTD_STATUS_FAILURE_(3)
// A clean-up registration table has no free entry left.
#define CSTD_STATUS_TABLE_FULL CSTD_STATUS_FAILURE_(4)
// A type-tag check failed: null or misaligned record, or a destruct function that does not
// belong to the record type.
#define CSTD_STATUS_TYPE_MISMATCH CSTD_STATUS_FAILURE_(5)

#endif
