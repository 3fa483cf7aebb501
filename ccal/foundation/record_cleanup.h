// The clean-up table of a call that builds procedural records (<proc/csys_cleanup.h>): storage
// for Capacity entries, the call's tag and the guard that releases the registered records when
// the call leaves early (tk_CleanupObject).
#ifndef CCAL_FOUNDATION_RECORD_CLEANUP_H
#define CCAL_FOUNDATION_RECORD_CLEANUP_H

#include <proc/csys_cleanup.h>
#include <tk/cleanup.h>
#include <tk/failure.h>

#include <stdint.h>

template <uint32_t Capacity>
class tk_RecordCleanup {
 public:
  // Takes the next tag; nothing is registered yet.
  tk_RecordCleanup() : tag_(csys_cleanup_getNextTag()), guard_(count_, table_, tag_) {}
  tk_RecordCleanup(const tk_RecordCleanup&) = delete;
  tk_RecordCleanup& operator=(const tk_RecordCleanup&) = delete;

  // Runs the constructed record's two type checks and enters it with its own destruct function.
  // Throws what tfThrowExceptionOnFailure raises for a failed check or a full table; the record
  // is then not registered (and is the caller's to destroy).
  template <class Record>
  void add(Record* record, cstd_status (*destruct)(Record*),
           cstd_status (*typeCheck)(const Record*),
           cstd_status (*typeCheckFunc)(cstd_status (*)(Record*), csys_destructFunc*)) {
    csys_destructFunc generic = nullptr;
    tfThrowExceptionOnFailure(typeCheck(record));
    tfThrowExceptionOnFailure(typeCheckFunc(destruct, &generic));
    tfThrowExceptionOnFailure(csys_cleanup_addEntry(table_, Capacity, &count_, record, generic));
  }

  // Ends the call with status: releases every registered record (csys_cleanupExecute_) and
  // throws what tfThrowExceptionOnFailure raises for the status that results.
  void execute(cstd_status status) {
    tfThrowExceptionOnFailure(csys_cleanupExecute_(table_, count_, status, tag_));
  }

 private:
  csys_cleanupEntry table_[Capacity];
  uint32_t count_ = 0;
  uint32_t tag_;
  tk_CleanupObject guard_;  // declared last: constructed over the members above
};

#endif
