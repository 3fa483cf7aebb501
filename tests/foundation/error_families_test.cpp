// Every exception of the library, core leaves and error-family leaves in one table: what() and
// the error number, the archived form (cut at any byte it throws Corrupt), rethrowing after
// loading, the version bytes of each level of the chain, and the statuses converted to them.
#include <ccal/line_scan_calibration_errors.h>
#include <ccal/line_scan_xform_errors.h>
#include <ccal/multicamera_calibration_errors.h>
#include <ccal/telecentric_calibration_errors.h>
#include <ccal/telecentric_extrinsics_errors.h>
#include <gtest/gtest.h>
#include <tk/archive.h>
#include <tk/failure.h>

#include "support/archive_expect.h"
#include "support/exception_expect.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

long status32(std::uint32_t pattern) {
  return static_cast<long>(static_cast<std::int32_t>(pattern));
}

// One row per leaf: how to make it, the what() and errorNumber() it must answer.
struct Leaf {
  std::function<tkException*()> make;
  std::string what;
  long errorNumber;
};

// A family leaf made with the message "count < 2 é".
template <class T>
Leaf family(long number) {
  return {[] { return new T(L"count < 2 \u00e9"); }, "count < 2 \xc3\xa9", number};
}

std::vector<Leaf> allLeaves() {
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
      family<tk2XformLineScanDefs::InsufficientPoints>(0x1000AA00),
      family<tk2XformLineScanDefs::BadParams>(0x1000AA01),
      family<tkCalibrateLineScanCameraDefs::BadParams>(0x1000B400),
      family<tkCalibrateLineScanCameraDefs::InsufficientPoints>(0x1000B401),
      family<tkCalibrateTelecentricCameraDefs::BadParams>(0x1000B600),
      family<tkCalibrateTelecentricCameraDefs::InsufficientPoses>(0x1000B601),
      family<tk_TelecentricCalibrationDefs::BadParams>(0x1000AE40),
      family<tk_TelecentricCalibrationDefs::TooFewCorrespondences>(0x1000AE41),
      family<tk_MulticameraCalibrationDefs::BadParams>(0x1000AE80),
      family<tk_MulticameraCalibrationDefs::NotImplemented>(0x1000AE81),
      family<tk_MulticameraCalibrationDefs::TooFewCorrespondences>(0x1000AE82),
  };
}

// Not overriding suicideAndRethrow.
class tkExceptionTestPlain : public tkException {
 public:
  long errorNumber() const override { return 1; }
};

}  // namespace

TEST(Exceptions, WhatAndNumberSurviveStoreLoadAndRethrowAsTheSameLeaf) {
  for (const Leaf& leaf : allLeaves()) {
    SCOPED_TRACE(leaf.what);
    std::unique_ptr<tkException> original(leaf.make());
    EXPECT_EQ(static_cast<const std::exception&>(*original).what(), leaf.what);
    EXPECT_EQ(original->errorNumber(), leaf.errorNumber);
    const ArchiveBytes bytes = StoreToBytes(static_cast<tkPersistent*>(original.get()));
    for (std::size_t n = 0; n < bytes.size(); ++n) {
      ArchiveBytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
      tkArchive ar(cut, tkArchive::eLoad);
      tkPersistent* loaded = nullptr;
      EXPECT_THROW(ar || loaded, tkArchive::Corrupt) << "cut at " << n;
      EXPECT_EQ(loaded, nullptr);
    }
    // Owned until suicideAndRethrow, which deletes it (the sanitizer build sees a leak).
    auto* loaded = dynamic_cast<tkException*>(LoadPointerFromBytes(bytes).release());
    ASSERT_NE(loaded, nullptr);
    try {
      loaded->suicideAndRethrow();
      ADD_FAILURE() << "nothing thrown";
    } catch (const tkException& thrown) {
      EXPECT_EQ(typeid(thrown), typeid(*original));
      EXPECT_EQ(thrown.what(), leaf.what);
      EXPECT_EQ(thrown.errorNumber(), leaf.errorNumber);
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
  tkExceptionTestPlain plain;
  EXPECT_THROW(plain.suicideAndRethrow(), tkInvariantFailure);
}

TEST(Exceptions, ArchivedFormIsOneVersionByteAPerLevelThenTheMessage) {
  // By value: the leaf's version, its family's (none for a core leaf), tkExceptionWithString's,
  // tkException's, then the message. An unknown version names the level and reads nothing more.
  tkBadPointer core(L"m");
  tk_MulticameraCalibrationDefs::NotImplemented inFamily(L"m");
  const ArchiveBytes coreBytes = StoreToBytes(core), familyBytes = StoreToBytes(inFamily);
  EXPECT_EQ(ArchiveBytes(familyBytes.begin() + 1, familyBytes.end()), coreBytes)
      << "a family adds one version byte before the tkExceptionWithString part";
  const char* coreLevels[] = {"tkBadPointer", "tkExceptionWithString", "tkException"};
  for (std::size_t level = 0; level < 3; ++level) {
    ArchiveBytes bytes = coreBytes;
    bytes[level] = 1;
    tkBadPointer target(L"kept");
    EXPECT_TRUE(LoadThrowsUnknownVersion(bytes, target, coreLevels[level], 0));
    EXPECT_EQ(target.message(), L"kept");
  }
  const char* familyLevels[] = {"tk_MulticameraCalibrationDefs::NotImplemented",
                                "tk_MulticameraCalibrationDefs::Errors"};
  for (std::size_t level = 0; level < 2; ++level) {
    ArchiveBytes bytes = familyBytes;
    bytes[level] = 1;
    tk_MulticameraCalibrationDefs::NotImplemented target(L"kept");
    tkPersistent& asPersistent = target;
    EXPECT_TRUE(LoadThrowsUnknownVersion(bytes, asPersistent, familyLevels[level], 0));
    EXPECT_EQ(target.message(), L"kept");
  }
}

TEST(LineScanFailureConversion, StatusesBecomeTheirExceptionsAfterLoad) {
  using Defs = tkCalibrateLineScanCameraDefs;
  EXPECT_TRUE(ThrowsWithMessage<Defs::InsufficientPoints>(
      [&] { tfThrowExceptionOnFailure(status32(0x80001001u)); }, L"imagePoints.size() < 4"));
  EXPECT_TRUE(
      ThrowsWithMessage<Defs::BadParams>([&] { tfThrowExceptionOnFailure(status32(0x80001000u)); },
                                         L"imagePoints.size() != physicalPoints.size()"));
  EXPECT_THROW(tfThrowExceptionOnFailure(status32(0x80001002u)), tkMathError::Singular);
  // Not converted: the generic failure with the status as its number.
  EXPECT_NO_THROW(convertLineScanCalibrationFailure(status32(0x80001003u)));
  EXPECT_THROW(tfThrowExceptionOnFailure(status32(0x80001003u)), tkProcedureFailure);
}
