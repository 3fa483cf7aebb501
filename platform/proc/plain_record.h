// Implementation of the record function family (<proc/cstd_record.h>) for records that are plain
// values: copying is assignment and destruction releases nothing.
#ifndef PLATFORM_PROC_PLAIN_RECORD_H
#define PLATFORM_PROC_PLAIN_RECORD_H

#include <proc/cstd_record.h>

#include <type_traits>

// Defines the five functions of RECORD. defaultValue() gives a constructed record's value;
// equalValues(a, b) compares two values.
#define CSTD_DEFINE_PLAIN_RECORD_FUNCTIONS(RECORD, defaultValue, equalValues)                 \
  static_assert(std::is_trivially_copyable<RECORD>::value, #RECORD " must be a plain value"); \
  cstd_status RECORD##_construct(RECORD* record) {                                            \
    if (record == nullptr)                                                                    \
      return CSTD_STATUS_BAD_ARGUMENT;                                                        \
    *record = defaultValue();                                                                 \
    return CSTD_STATUS_OK;                                                                    \
  }                                                                                           \
  cstd_status RECORD##_destruct(RECORD* record) {                                             \
    return record == nullptr ? CSTD_STATUS_BAD_ARGUMENT : CSTD_STATUS_OK;                     \
  }                                                                                           \
  cstd_status RECORD##_constructCopy(RECORD* record, const RECORD* source) {                  \
    return RECORD##_assign(record, source);                                                   \
  }                                                                                           \
  cstd_status RECORD##_assign(RECORD* record, const RECORD* source) {                         \
    if (record == nullptr || source == nullptr)                                               \
      return CSTD_STATUS_BAD_ARGUMENT;                                                        \
    *record = *source;                                                                        \
    return CSTD_STATUS_OK;                                                                    \
  }                                                                                           \
  cstd_status RECORD##_compareEqual(const RECORD* a, const RECORD* b, int32_t* equal) {       \
    if (a == nullptr || b == nullptr || equal == nullptr)                                     \
      return CSTD_STATUS_BAD_ARGUMENT;                                                        \
    *equal = equalValues(*a, *b) ? 1 : 0;                                                     \
    return CSTD_STATUS_OK;                                                                    \
  }

#endif
