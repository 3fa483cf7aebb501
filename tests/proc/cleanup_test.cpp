// Registration and release of records through a call's clean-up table (the guard that runs it
// when an exception passes: tests/core/cleanup_test).
#include <gtest/gtest.h>
#include <proc/cstd_vector.h>
#include <proc/csys_cleanup.h>

#include <set>
#include <thread>
#include <vector>

namespace {

TEST(ProcCleanup, TagsAreNeverZeroAndNeverRepeatAcrossThreads) {
  std::vector<std::vector<uint32_t>> perThread(2);
  std::vector<std::thread> threads;
  for (auto& tags : perThread)
    threads.emplace_back([&tags] {
      for (int i = 0; i < 1000; ++i)
        tags.push_back(csys_cleanup_getNextTag());
    });
  for (auto& thread : threads)
    thread.join();
  std::set<uint32_t> seen;
  for (const auto& tags : perThread)
    for (uint32_t tag : tags)
      EXPECT_TRUE(tag != 0 && seen.insert(tag).second) << "tag " << tag;
}

// Logs releases of records that are plain ints; a negative value makes the release fail.
std::vector<int> releasedValues;
cstd_status releaseInt(void* record) {
  int value = *static_cast<int*>(record);
  releasedValues.push_back(value);
  return value < 0 ? CSTD_STATUS_BAD_ARGUMENT : CSTD_STATUS_OK;
}

TEST(ProcCleanup, ExecuteReleasesEverythingOnceLastFirstAndReportsTheFirstFailure) {
  releasedValues.clear();
  int records[3] = {1, -2, 3};
  csys_cleanupEntry table[3];
  uint32_t count = 0;
  for (int& record : records)
    ASSERT_EQ(csys_cleanup_addEntry(table, 3, &count, &record, releaseInt), CSTD_STATUS_OK);
  EXPECT_EQ(csys_cleanup_addEntry(table, 3, &count, &records[0], releaseInt),
            CSTD_STATUS_TABLE_FULL);
  EXPECT_EQ(csys_cleanup_addEntry(table, 3, &count, nullptr, releaseInt), CSTD_STATUS_BAD_ARGUMENT);
  const uint32_t tag = csys_cleanup_getNextTag();
  EXPECT_EQ(csys_cleanupExecute_(table, count, CSTD_STATUS_OK, tag), CSTD_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(releasedValues, (std::vector<int>{3, -2, 1}));
  EXPECT_EQ(csys_cleanup_releaseEntries(table, count), CSTD_STATUS_OK);
  EXPECT_EQ(releasedValues.size(), 3u) << "a second release finds nothing left to do";

  // A failing last status wins over release failures; a success status comes back as given.
  releasedValues.clear();
  count = 0;
  ASSERT_EQ(csys_cleanup_addEntry(table, 3, &count, &records[1], releaseInt), CSTD_STATUS_OK);
  EXPECT_EQ(csys_cleanupExecute_(table, count, CSTD_STATUS_ABORTED, tag), CSTD_STATUS_ABORTED);
  count = 0;
  ASSERT_EQ(csys_cleanup_addEntry(table, 3, &count, &records[2], releaseInt), CSTD_STATUS_OK);
  EXPECT_EQ(csys_cleanupExecute_(table, count, 7, tag), 7);

  // The tag 0 is never issued: nothing is released and the entries stay for the guard.
  releasedValues.clear();
  count = 0;
  ASSERT_EQ(csys_cleanup_addEntry(table, 3, &count, &records[0], releaseInt), CSTD_STATUS_OK);
  EXPECT_EQ(csys_cleanupExecute_(table, count, CSTD_STATUS_OK, 0), CSTD_STATUS_BAD_ARGUMENT);
  EXPECT_TRUE(releasedValues.empty());
  EXPECT_EQ(csys_cleanup_releaseEntries(table, count), CSTD_STATUS_OK);
  EXPECT_EQ(releasedValues, std::vector<int>{1});
}

}  // namespace
