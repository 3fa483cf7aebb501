#include <tk/cleanup.h>

#include <proc/cstd_assert.h>

tk_CleanupObject::tk_CleanupObject(uint32_t& count, csys_cleanupEntry* table, uint32_t tag)
    : count_(count), table_(table), tag_(tag) {}

tk_CleanupObject::~tk_CleanupObject() {
  if (dismissed_)
    return;
  CSTD_ASSERT(csys_cleanup_releaseEntries(table_, count_) >= 0);
}
