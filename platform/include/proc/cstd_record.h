// The function family every plain record of the procedural layer provides.
//
// A record is a plain struct in storage the caller owns. CSTD_DECLARE_RECORD_FUNCTIONS(R) declares,
// after the struct R:
//
//   cstd_status R_construct(R* record);
//     Writes the record's default value (stated with each record). Must precede any other use.
//   cstd_status R_destruct(R* record);
//     Ends the record's life; it must be constructed again before reuse.
//   cstd_status R_constructCopy(R* record, const R* source);
//     Constructs record as a copy of the constructed source.
//   cstd_status R_assign(R* record, const R* source);
//     Overwrites the constructed record with the value of source (source may be record).
//   cstd_status R_compareEqual(const R* a, const R* b, int32_t* equal);
//     *equal = 1 when every field is equal as a double (so -0.0 equals 0.0 and NaN equals
//     nothing), else 0.
//
// Each returns CSTD_STATUS_OK, or CSTD_STATUS_BAD_ARGUMENT when a pointer is null (nothing is
// written then). The type-tag checks of <proc/csys_typecheck.h> come with the family.
#ifndef PROC_CSTD_RECORD_H
#define PROC_CSTD_RECORD_H

#include <proc/csys_typecheck.h>
#include <tk/export.h>

#define CSTD_DECLARE_RECORD_FUNCTIONS(RECORD)                                                 \
  TK_API cstd_status RECORD##_construct(RECORD* record);                                      \
  TK_API cstd_status RECORD##_destruct(RECORD* record);                                       \
  TK_API cstd_status RECORD##_constructCopy(RECORD* record, const RECORD* source);            \
  TK_API cstd_status RECORD##_assign(RECORD* record, const RECORD* source);                   \
  TK_API cstd_status RECORD##_compareEqual(const RECORD* a, const RECORD* b, int32_t* equal); \
  CSYS_DEFINE_TYPE_CHECKS(RECORD)

#endif
