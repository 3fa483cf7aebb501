// The guard of a call's clean-up registrations (<proc/csys_cleanup.h>).
#ifndef TK_CLEANUP_H
#define TK_CLEANUP_H

#include <proc/csys_cleanup.h>
#include <tk/export.h>

#include <stdint.h>

// Releases a call's registered records when it leaves early. Constructed over the call's entry
// count, table and tag before the first record is registered; the destructor releases every
// registered entry not released yet, last first (csys_cleanup_releaseEntries), whether an
// exception passes or not. After csys_cleanupExecute_ has released the entries there is nothing
// left for it to do, so the successful path releases each record once.
// count and table must outlive the guard. The destructor never throws; a failing destruct
// function is reported as a failed internal assertion.
class TK_API tk_CleanupObject {
 public:
  tk_CleanupObject(uint32_t& count, csys_cleanupEntry* table, uint32_t tag);
  ~tk_CleanupObject();
  tk_CleanupObject(const tk_CleanupObject&) = delete;
  tk_CleanupObject& operator=(const tk_CleanupObject&) = delete;

  // The registered records are someone else's to release from now on: the destructor does nothing.
  void dismiss() { dismissed_ = true; }
  uint32_t tag() const { return tag_; }

 private:
  uint32_t& count_;
  csys_cleanupEntry* table_;
  uint32_t tag_;
  bool dismissed_ = false;
};

#endif
