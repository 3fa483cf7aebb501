// Clean-up registration: releasing the records a call builds, on success and on failure alike.
//
// A call that builds procedural records works like this (C++ callers use tk_CleanupObject from
// <tk/cleanup.h> as the guard):
//
//   uint32_t tag = csys_cleanup_getNextTag();
//   csys_cleanupEntry table[5];
//   uint32_t count = 0;
//   tk_CleanupObject guard(count, table, tag);      // releases what is left if we leave early
//   cstd_vectord values;
//   check(cstd_vectord_construct(&values, 0));
//   csys_destructFunc destruct;
//   check(csys_typeCheck_cstd_vectord(&values));
//   check(csys_typeCheckFunc_cstd_vectord(cstd_vectord_destruct, &destruct));
//   check(csys_cleanup_addEntry(table, 5, &count, &values, destruct));
//   ... work; status = last procedural call ...
//   check(csys_cleanupExecute_(table, count, status, tag));   // releases everything
//
// Entries are released last first, each exactly once: a released entry's record pointer is set
// to null, so a later release (by the guard) skips it.
#ifndef PROC_CSYS_CLEANUP_H
#define PROC_CSYS_CLEANUP_H

#include <proc/cstd_status.h>
#include <proc/csys_typecheck.h>
#include <tk/export.h>

#include <stdint.h>

// The only entry kind: release the record with its destruct function.
#define CSYS_CLEANUP_KIND_DESTRUCT 50u

// One registered record.
typedef struct csys_cleanupEntry {
  uint32_t sequence;           // position of the registration within its call, from 0
  uint32_t kind;               // CSYS_CLEANUP_KIND_DESTRUCT
  void* record;                // the record; null once released
  csys_destructFunc destruct;  // from csys_typeCheckFunc_<record>
} csys_cleanupEntry;

// A new tag for one call's registrations: process-wide unique until 2^32 - 1 tags have been
// issued, never 0. Thread-safe.
TK_API uint32_t csys_cleanup_getNextTag(void);

// Appends (sequence = *count, kind 50, record, destruct) to table and increments *count
// (wrapping to 0 after 0xFFFFFFFF). table holds capacity entries.
// Returns CSTD_STATUS_BAD_ARGUMENT when table, count, record or destruct is null,
// CSTD_STATUS_TABLE_FULL when *count >= capacity; nothing is registered then.
TK_API cstd_status csys_cleanup_addEntry(csys_cleanupEntry* table, uint32_t capacity,
                                         uint32_t* count, void* record, csys_destructFunc destruct);

// Releases entries count-1 ... 0 that are not released yet and marks them released.
// Entries of another kind than 50 are not touched and reported as a failed internal assertion.
// Returns CSTD_STATUS_OK, the first negative status of a destruct function (the remaining
// entries are still released), or CSTD_STATUS_BAD_ARGUMENT when table is null and count > 0.
TK_API cstd_status csys_cleanup_releaseEntries(csys_cleanupEntry* table, uint32_t count);

// Ends a call that registered records: releases its entries as csys_cleanup_releaseEntries and
// returns lastStatus when it is negative, else the release status when that is negative, else
// lastStatus. tag is the call's tag; 0 was never issued and gives CSTD_STATUS_BAD_ARGUMENT
// without releasing anything (the guard then releases the entries).
TK_API cstd_status csys_cleanupExecute_(csys_cleanupEntry* table, uint32_t count,
                                        cstd_status lastStatus, uint32_t tag);

#endif
