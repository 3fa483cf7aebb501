// The clean-up guard: records registered by a call are released when an exception passes, and
// exactly once when the call succeeds.
#include <gtest/gtest.h>
#include <proc/csys_cleanup.h>
#include <tk/cleanup.h>

#include <stdexcept>
#include <vector>

namespace {

// A record that logs its release; csys_typeCheck_* are generated for it like for any record.
struct testRecord {
  int id;
};
std::vector<int> releasedIds;
cstd_status testRecord_destruct(testRecord* record) {
  releasedIds.push_back(record->id);
  return CSTD_STATUS_OK;
}
CSYS_DEFINE_TYPE_CHECKS(testRecord)

class CleanupGuard : public ::testing::Test {
 protected:
  // Registers record the way a call does: both type checks, then the entry.
  void add(testRecord* record) {
    csys_destructFunc destruct = nullptr;
    ASSERT_EQ(csys_typeCheck_testRecord(record), CSTD_STATUS_OK);
    ASSERT_EQ(csys_typeCheckFunc_testRecord(testRecord_destruct, &destruct), CSTD_STATUS_OK);
    ASSERT_EQ(csys_cleanup_addEntry(table_, 5, &count_, record, destruct), CSTD_STATUS_OK);
  }

  csys_cleanupEntry table_[5];
  uint32_t count_ = 0;
  testRecord records_[3] = {{1}, {2}, {3}};
};

TEST_F(CleanupGuard, ReleasesEveryRecordOnceOnEitherPath) {
  try {
    tk_CleanupObject guard(count_, table_, csys_cleanup_getNextTag());
    for (testRecord& record : records_)
      add(&record);
    throw std::runtime_error("failure after three records");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(releasedIds, (std::vector<int>{3, 2, 1})) << "an exception passed the guard";
  releasedIds.clear();
  count_ = 0;
  {
    uint32_t tag = csys_cleanup_getNextTag();
    tk_CleanupObject guard(count_, table_, tag);
    add(&records_[0]);
    add(&records_[1]);
    EXPECT_EQ(csys_cleanupExecute_(table_, count_, CSTD_STATUS_OK, tag), CSTD_STATUS_OK);
  }
  EXPECT_EQ(releasedIds, (std::vector<int>{2, 1})) << "the guard released a record twice";
}

}  // namespace
