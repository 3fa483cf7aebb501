#include <proc/csys_cleanup.h>

#include <proc/cstd_assert.h>

#include <atomic>

namespace {
std::atomic<uint32_t> lastTag{0};
}  // namespace

uint32_t csys_cleanup_getNextTag(void) {
  uint32_t tag = lastTag.fetch_add(1, std::memory_order_relaxed) + 1;
  // After 2^32 - 1 tags the counter wraps; 0 stays reserved for "no tag".
  while (tag == 0)
    tag = lastTag.fetch_add(1, std::memory_order_relaxed) + 1;
  return tag;
}

cstd_status csys_cleanup_addEntry(csys_cleanupEntry* table, uint32_t capacity, uint32_t* count,
                                  void* record, csys_destructFunc destruct) {
  if (table == nullptr || count == nullptr || record == nullptr || destruct == nullptr) {
    return CSTD_STATUS_BAD_ARGUMENT;
  }
  if (*count >= capacity)
    return CSTD_STATUS_TABLE_FULL;
  csys_cleanupEntry& entry = table[*count];
  entry.sequence = *count;
  entry.kind = CSYS_CLEANUP_KIND_DESTRUCT;
  entry.record = record;
  entry.destruct = destruct;
  *count = *count + 1u;
  return CSTD_STATUS_OK;
}

cstd_status csys_cleanup_releaseEntries(csys_cleanupEntry* table, uint32_t count) {
  if (count == 0)
    return CSTD_STATUS_OK;
  if (table == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  cstd_status result = CSTD_STATUS_OK;
  for (uint32_t i = count; i-- > 0;) {
    csys_cleanupEntry& entry = table[i];
    if (entry.record == nullptr)
      continue;
    if (entry.kind != CSYS_CLEANUP_KIND_DESTRUCT || entry.destruct == nullptr) {
      cstd_assert_(__FILE__, __LINE__);
      continue;
    }
    void* record = entry.record;
    entry.record = nullptr;  // released exactly once, even if destruct fails
    cstd_status status = entry.destruct(record);
    if (status < 0 && result >= 0)
      result = status;
  }
  return result;
}

cstd_status csys_cleanupExecute_(csys_cleanupEntry* table, uint32_t count, cstd_status lastStatus,
                                 uint32_t tag) {
  if (tag == 0)
    return CSTD_STATUS_BAD_ARGUMENT;
  cstd_status released = csys_cleanup_releaseEntries(table, count);
  if (lastStatus < 0)
    return lastStatus;
  return released < 0 ? released : lastStatus;
}
