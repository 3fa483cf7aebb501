// Conversion of negative statuses into exceptions. Each test uses keys of its own: converters
// stay registered for the life of the process.
#include <gtest/gtest.h>
#include <proc/c3d_status.h>
#include <proc/cmath_xformLinear.h>
#include <proc/csys_attention.h>
#include <tk/attention.h>
#include <tk/failure.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace {

long status32(std::uint32_t pattern) {
  return static_cast<long>(static_cast<std::int32_t>(pattern));
}

std::vector<std::string> calls;
void recordA(long) {
  calls.push_back("A");
}
void recordB(long) {
  calls.push_back("B");
}

struct Converted {
  long status;
};
void throwConverted(long status) {
  if (status == status32(0x80007001u))
    throw Converted{status};
}

template <class Exception>
void expectConvertedTo(long status) {
  EXPECT_THROW(tfThrowExceptionOnFailure(status), Exception) << std::hex << status;
}

}  // namespace

TEST(ThrowExceptionOnFailure, LibraryStatusesBecomeTheirExceptionsAndOthersProcedureFailures) {
  EXPECT_NO_THROW(tfThrowExceptionOnFailure(0));
  EXPECT_NO_THROW(tfThrowExceptionOnFailure(LONG_MAX));
  expectConvertedTo<tkAttention::Aborted>(CSTD_STATUS_ABORTED);
  expectConvertedTo<tkProcedureFailure>(CSTD_STATUS_BAD_ARGUMENT);
  expectConvertedTo<tkMathError::Singular>(CMATH_STATUS_SINGULAR);
  expectConvertedTo<tkInvariantFailure>(C3D_STATUS_NOT_FINITE);
  expectConvertedTo<tkInvariantFailure>(C3D_STATUS_RAY_IN_XY_PLANE);
  expectConvertedTo<tkMathError::Singular>(C3D_STATUS_ZERO_QUATERNION);
  expectConvertedTo<tkProcedureFailure>(C3D_STATUS_FAILURE_(0x77));
  try {
    tfThrowExceptionOnFailure(status32(0xFD000123u));
    FAIL() << "no exception";
  } catch (const tkProcedureFailure& e) {
    EXPECT_EQ(e.errorNumber(), status32(0xFD000123u));
    EXPECT_STREQ(e.what(), "a procedure failed with status 0xFD000123 (-50331357)");
  }
}

TEST(ThrowExceptionOnFailure, ConvertersAreKeyedByBits24To31AndRunOnceEachInOrder) {
  tfRegisterExceptionConverter(128, throwConverted);
  try {
    tfThrowExceptionOnFailure(status32(0x80007001u));
    FAIL() << "no exception";
  } catch (const Converted& c) {
    EXPECT_EQ(c.status, status32(0x80007001u));
  }
  // Same low bits, key 129: the converter under 128 is not asked.
  expectConvertedTo<tkProcedureFailure>(status32(0x81007001u));

  tfRegisterExceptionConverter(0xFE, recordA);
  tfRegisterExceptionConverter(0xFE, recordB);
  tfRegisterExceptionConverter(0xFE, recordA);
  expectConvertedTo<tkProcedureFailure>(status32(0xFE000001u));
  EXPECT_EQ(calls, (std::vector<std::string>{"A", "B"}));

  EXPECT_THROW(tfRegisterExceptionConverter(1, nullptr), tkBadPointer);
  EXPECT_THROW(tfRegisterExceptionConverter(256, recordA), tkInvariantFailure);
  EXPECT_THROW(tfRegisterExceptionConverter(-1, recordA), tkInvariantFailure);
}
