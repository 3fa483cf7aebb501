// Registration and release of records through a call's clean-up table.
#include <gtest/gtest.h>
#include <proc/cstd_vector.h>
#include <proc/csys_cleanup.h>

#include <set>
#include <thread>
#include <vector>

namespace {

TEST(ProcCleanup, TagsAreNeverZeroAndNeverRepeat) {
  std::vector<std::vector<uint32_t>> perThread(2);
  std::vector<std::thread> threads;
  for (auto& tags : perThread) {
    threads.emplace_back([&tags] {
      for (int i = 0; i < 1000; ++i)
        tags.push_back(csys_cleanup_getNextTag());
    });
  }
  for (auto& thread : threads)
    thread.join();
  std::set<uint32_t> seen;
  for (const auto& tags : perThread) {
    for (uint32_t tag : tags) {
      EXPECT_NE(tag, 0u);
      EXPECT_TRUE(seen.insert(tag).second) << "tag " << tag << " issued twice";
    }
  }
}

TEST(ProcCleanup, EntriesRecordSequenceKindAndDestructor) {
  csys_cleanupEntry table[2];
  uint32_t count = 0;
  cstd_vectord first;
  cstd_vectord second;
  cstd_vectord third;
  csys_destructFunc destruct = nullptr;
  ASSERT_EQ(csys_typeCheckFunc_cstd_vectord(cstd_vectord_destruct, &destruct), CSTD_STATUS_OK);
  for (cstd_vectord* values : {&first, &second, &third}) {
    ASSERT_EQ(cstd_vectord_construct(values, 3), CSTD_STATUS_OK);
  }
  ASSERT_EQ(csys_cleanup_addEntry(table, 2, &count, &first, destruct), CSTD_STATUS_OK);
  ASSERT_EQ(csys_cleanup_addEntry(table, 2, &count, &second, destruct), CSTD_STATUS_OK);
  EXPECT_EQ(csys_cleanup_addEntry(table, 2, &count, &third, destruct), CSTD_STATUS_TABLE_FULL);
  EXPECT_EQ(csys_cleanup_addEntry(table, 2, &count, nullptr, destruct), CSTD_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(count, 2u);
  for (uint32_t i = 0; i < count; ++i) {
    EXPECT_EQ(table[i].sequence, i);
    EXPECT_EQ(table[i].kind, 50u);
    EXPECT_EQ(table[i].destruct, destruct);
  }
  EXPECT_EQ(table[1].record, &second);

  // Success path: every record is released once and the last status comes back.
  uint32_t tag = csys_cleanup_getNextTag();
  EXPECT_EQ(csys_cleanupExecute_(table, count, 7, tag), 7);
  EXPECT_EQ(first.elements, nullptr);
  EXPECT_EQ(second.elements, nullptr);
  EXPECT_EQ(table[0].record, nullptr);
  // A second release finds nothing left to do.
  EXPECT_EQ(csys_cleanup_releaseEntries(table, count), CSTD_STATUS_OK);
  cstd_vectord_destruct(&third);
}

// Counts releases of records that are plain ints; a negative value makes destruct fail.
std::vector<int> releasedValues;
cstd_status releaseInt(void* record) {
  int value = *static_cast<int*>(record);
  releasedValues.push_back(value);
  return value < 0 ? CSTD_STATUS_BAD_ARGUMENT : CSTD_STATUS_OK;
}

TEST(ProcCleanup, ExecuteReportsTheFirstFailureAfterReleasingEverything) {
  releasedValues.clear();
  int records[3] = {1, -2, 3};
  csys_cleanupEntry table[3];
  uint32_t count = 0;
  for (int& record : records) {
    ASSERT_EQ(csys_cleanup_addEntry(table, 3, &count, &record, releaseInt), CSTD_STATUS_OK);
  }
  uint32_t tag = csys_cleanup_getNextTag();
  EXPECT_EQ(csys_cleanupExecute_(table, count, CSTD_STATUS_OK, tag), CSTD_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(releasedValues, (std::vector<int>{3, -2, 1})) << "last registered, first released";

  // A failing last status wins over release failures.
  releasedValues.clear();
  count = 0;
  ASSERT_EQ(csys_cleanup_addEntry(table, 3, &count, &records[1], releaseInt), CSTD_STATUS_OK);
  EXPECT_EQ(csys_cleanupExecute_(table, count, CSTD_STATUS_ABORTED, tag), CSTD_STATUS_ABORTED);
  EXPECT_EQ(releasedValues.size(), 1u);

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
