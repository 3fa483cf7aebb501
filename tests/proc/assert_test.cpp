// Reporting of failed internal assertions: the default handler and replacing it.
#include <gtest/gtest.h>
#include <proc/cstd_assert.h>

#include <string>

namespace {

std::string lastReport;
void remember(const char* file, int line) {
  lastReport = std::string(file) + "#" + std::to_string(line);
}

TEST(ProcAssert, MacroReportsFalseConditionsToTheHandlerAndTheDefaultWritesOneLine) {
  cstd_assertHandler previous = cstd_assert_setHandler(&remember);
  CSTD_ASSERT(1 + 1 == 2);
  EXPECT_TRUE(lastReport.empty());
  int line = __LINE__ + 1;
  CSTD_ASSERT(1 + 1 == 3);
  EXPECT_EQ(lastReport, std::string(__FILE__) + "#" + std::to_string(line));
  EXPECT_EQ(cstd_assert_setHandler(nullptr), &remember) << "null restores the default";
  ::testing::internal::CaptureStderr();
  cstd_assert_("camera.cpp", 322);
  cstd_assert_(nullptr, 7);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "internal assertion failed: camera.cpp:322\ninternal assertion failed: ?:7\n");
  cstd_assert_setHandler(previous);
}

}  // namespace
