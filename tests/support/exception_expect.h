// Exception checks that say what was thrown instead.
#ifndef CCAL_TESTS_SUPPORT_EXCEPTION_EXPECT_H
#define CCAL_TESTS_SUPPORT_EXCEPTION_EXPECT_H

#include <gtest/gtest.h>

#include <exception>
#include <string>

// Runs call and succeeds when it throws Exception (a tkExceptionWithString) with exactly
// `message`.
template <class Exception, class Call>
::testing::AssertionResult ThrowsWithMessage(Call&& call, const std::wstring& message) {
  try {
    call();
  } catch (const Exception& e) {
    if (e.message() == message)
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "message \"" << std::string(e.what()) << "\" instead of the expected one";
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "another exception: " << e.what();
  }
  return ::testing::AssertionFailure() << "nothing thrown";
}

#endif
