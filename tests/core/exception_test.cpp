// The core exceptions: readable what(), error numbers, archiving and rethrowing after loading.
#include <gtest/gtest.h>
#include <tk/archive.h>
#include <tk/failure.h>

#include "support/archive_expect.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <typeinfo>
#include <vector>

namespace {

long status32(std::uint32_t pattern) {
  return static_cast<long>(static_cast<std::int32_t>(pattern));
}

// One object of every core leaf, each with the what() and errorNumber() it must answer.
struct Case {
  std::function<tkException*()> make;
  const char* what;
  long errorNumber;
};

std::vector<Case> coreLeaves() {
  return {
      {[] { return new tkMathError::Singular; }, "tkMathError::Singular", 0x10000100},
      {[] { return new tkBadPointer(L"points is null"); }, "points is null", 0x10000101},
      {[] { return new tkBadPointer; }, "tkBadPointer", 0x10000101},
      {[] { return new tkInvariantFailure(L"scale \u00B5 > 0"); }, "scale \xC2\xB5 > 0",
       0x10000102},
      {[] { return new tkArchive::UnknownVersion("ccal/lnsc/xflnsc", 34); },
       "the archive holds a version that ccal/lnsc/xflnsc cannot read (line 34)", 0x10000103},
      {[] { return new tkArchive::Corrupt; }, "tkArchive::Corrupt", 0x10000104},
      {[] { return new tkArchive::CannotStore(L"too long"); }, "too long", 0x10000105},
      {[] { return new tkArchive::IOFailure(L"cannot open x"); }, "cannot open x", 0x10000106},
      {[] { return new tkProcedureFailure(status32(0x80001001u)); },
       "a procedure failed with status 0x80001001 (-2147479551)", status32(0x80001001u)},
  };
}

// Not overriding suicideAndRethrow.
class tkExceptionTestPlain : public tkException {
 public:
  long errorNumber() const override { return 1; }
};

}  // namespace

TEST(CoreExceptions, WhatAndNumberSurviveStoreLoadAndRethrowAsTheSameLeaf) {
  for (const Case& c : coreLeaves()) {
    std::unique_ptr<tkException> original(c.make());
    EXPECT_STREQ(static_cast<const std::exception&>(*original).what(), c.what);
    EXPECT_EQ(original->errorNumber(), c.errorNumber) << c.what;
    auto* loaded = dynamic_cast<tkException*>(
        LoadPointerFromBytes(StoreToBytes(static_cast<tkPersistent*>(original.get()))).release());
    ASSERT_NE(loaded, nullptr) << c.what;
    try {
      loaded->suicideAndRethrow();  // deletes the loaded object
      ADD_FAILURE() << "no exception for " << c.what;
    } catch (const tkException& thrown) {
      EXPECT_EQ(typeid(thrown), typeid(*original));
      EXPECT_STREQ(thrown.what(), c.what);
      EXPECT_EQ(thrown.errorNumber(), c.errorNumber);
    }
  }
  // UnknownVersion carries more than its message.
  tkArchive::UnknownVersion original("ccal/telcntrc/ccalibtl", 49), loaded("", 0);
  LoadFromBytes(StoreToBytes(original), loaded);
  EXPECT_EQ(loaded.location(), "ccal/telcntrc/ccalibtl");
  EXPECT_EQ(loaded.line(), 49);
  // what() follows the message through copy and assignment.
  tkBadPointer first(L"one");
  const tkBadPointer copy(first);
  first = tkBadPointer(L"two");
  EXPECT_STREQ(first.what(), "two");
  EXPECT_STREQ(copy.what(), "one");
}

TEST(CoreExceptions, UnknownVersionAtEachLevelOfTheChain) {
  const ArchiveBytes stored = StoreToBytes(tkBadPointer(L"x"));
  // By value: leaf version, tkExceptionWithString version, tkException version, message.
  const char* locations[] = {"tkBadPointer", "tkExceptionWithString", "tkException"};
  for (std::size_t level = 0; level < 3; ++level) {
    ArchiveBytes bytes = stored;
    bytes[level] = 1;
    tkBadPointer loaded(L"before");
    EXPECT_TRUE(LoadThrowsUnknownVersion(bytes, loaded, locations[level], 0));
    EXPECT_EQ(loaded.message(), L"before");
  }
}

TEST(CoreExceptions, SuicideAndRethrowOfAClassThatDoesNotOverrideIt) {
  tkExceptionTestPlain plain;
  EXPECT_THROW(plain.suicideAndRethrow(), tkInvariantFailure);
}
