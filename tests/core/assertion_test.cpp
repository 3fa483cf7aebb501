// Replacing the process-wide handler of failed internal assertions.
#include <gtest/gtest.h>
#include <tk/assertion.h>

#include <atomic>

namespace {

std::atomic<int> reports{0};
std::atomic<int> lastLine{0};
std::atomic<const char*> lastFile{nullptr};

void countReports(const char* file, int line) {
  lastFile = file;
  lastLine.store(line);
  reports.fetch_add(1);
}

TEST(AssertionHandler, ReplacedHandlerReceivesFileAndLineAndCanBeRestored) {
  reports = 0;
  tkAssertionHandler previous = tfSetAssertionHandler(&countReports);
  ASSERT_NE(previous, nullptr);
  cstd_assert_("camera.cpp", 321);
  EXPECT_EQ(reports.load(), 1);
  EXPECT_STREQ(lastFile.load(), "camera.cpp");
  EXPECT_EQ(lastLine.load(), 321);

  EXPECT_EQ(tfSetAssertionHandler(previous), &countReports);
  ::testing::internal::CaptureStderr();
  cstd_assert_("camera.cpp", 322);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "internal assertion failed: camera.cpp:322\n");
  EXPECT_EQ(reports.load(), 1) << "the replaced handler was still called";
}

TEST(AssertionHandler, NullReinstallsTheDefaultHandler) {
  tkAssertionHandler previous = tfSetAssertionHandler(&countReports);
  EXPECT_EQ(tfSetAssertionHandler(nullptr), &countReports);
  tkAssertionHandler defaultHandler = tfSetAssertionHandler(previous);
  EXPECT_NE(defaultHandler, nullptr);
  EXPECT_NE(defaultHandler, &countReports);
}

}  // namespace
