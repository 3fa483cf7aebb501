#include <gtest/gtest.h>
#include <tk/exception.h>

TEST(Exception, SingularIsCaughtAsStdException) {
  try {
    throw tkMathError::Singular();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "tkMathError::Singular");
  }
}
