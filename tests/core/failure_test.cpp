// Conversion of negative statuses into exceptions. Each test uses keys of its own: converters
// stay registered for the life of the process.
#include <gtest/gtest.h>
#include <tk/failure.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace {

long status32(std::uint32_t pattern) {
  return static_cast<long>(static_cast<std::int32_t>(pattern));
}

std::vector<std::string>& calls() {
  static std::vector<std::string> log;
  return log;
}

void recordA(long) {
  calls().push_back("A");
}
void recordB(long) {
  calls().push_back("B");
}

struct Converted {
  long status;
};
void throwConverted(long status) {
  if (status == status32(0x80007001u))
    throw Converted{status};
}

}  // namespace

TEST(ThrowExceptionOnFailure, NonNegativeStatusesReturnAndAnUnconvertedOneIsAProcedureFailure) {
  EXPECT_NO_THROW(tfThrowExceptionOnFailure(0));
  EXPECT_NO_THROW(tfThrowExceptionOnFailure(LONG_MAX));
  const long status = status32(0xFD000123u);
  try {
    tfThrowExceptionOnFailure(status);
    FAIL() << "no exception";
  } catch (const tkProcedureFailure& e) {
    EXPECT_EQ(e.errorNumber(), status);
    EXPECT_STREQ(e.what(), "a procedure failed with status 0xFD000123 (-50331357)");
  }
}

TEST(ThrowExceptionOnFailure, KeyIsBits24To31OfTheStatus) {
  tfRegisterExceptionConverter(128, throwConverted);
  try {
    tfThrowExceptionOnFailure(status32(0x80007001u));
    FAIL() << "no exception";
  } catch (const Converted& c) {
    EXPECT_EQ(c.status, status32(0x80007001u));
  }
  // Same low bits, key 129: the converter under 128 is not asked.
  EXPECT_THROW(tfThrowExceptionOnFailure(status32(0x81007001u)), tkProcedureFailure);
}

TEST(ThrowExceptionOnFailure, ConvertersRunOnceEachInRegistrationOrder) {
  calls().clear();
  tfRegisterExceptionConverter(0xFE, recordA);
  tfRegisterExceptionConverter(0xFE, recordB);
  tfRegisterExceptionConverter(0xFE, recordA);
  EXPECT_THROW(tfThrowExceptionOnFailure(status32(0xFE000001u)), tkProcedureFailure);
  EXPECT_EQ(calls(), (std::vector<std::string>{"A", "B"}));
}

TEST(ThrowExceptionOnFailure, RegistrationRejectsNullConvertersAndBadKeys) {
  EXPECT_THROW(tfRegisterExceptionConverter(1, nullptr), tkBadPointer);
  EXPECT_THROW(tfRegisterExceptionConverter(256, recordA), tkInvariantFailure);
  EXPECT_THROW(tfRegisterExceptionConverter(-1, recordA), tkInvariantFailure);
}
