#include <ccal/line_scan_calibration_errors.h>
#include <ccal/line_scan_xform_errors.h>
#include <ccal/multicamera_calibration_errors.h>
#include <ccal/telecentric_calibration_errors.h>
#include <ccal/telecentric_extrinsics_errors.h>
#include <gtest/gtest.h>
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

// One row per leaf: how to make it, its error number and its registered class name.
struct LeafCase {
  std::function<tkExceptionWithString*(const std::wstring&)> make;
  long errorNumber;
  const char* className;
};

template <class Leaf>
LeafCase leafCase(long number, const char* name) {
  return {[](const std::wstring& m) -> tkExceptionWithString* { return new Leaf(m); }, number,
          name};
}

std::vector<LeafCase> allLeaves() {
  return {
      leafCase<tk2XformLineScanDefs::InsufficientPoints>(
          0x1000AA00, "tk2XformLineScanDefs::InsufficientPoints"),
      leafCase<tk2XformLineScanDefs::BadParams>(0x1000AA01, "tk2XformLineScanDefs::BadParams"),
      leafCase<tkCalibrateLineScanCameraDefs::BadParams>(
          0x1000B400, "tkCalibrateLineScanCameraDefs::BadParams"),
      leafCase<tkCalibrateLineScanCameraDefs::InsufficientPoints>(
          0x1000B401, "tkCalibrateLineScanCameraDefs::InsufficientPoints"),
      leafCase<tkCalibrateTelecentricCameraDefs::BadParams>(
          0x1000B600, "tkCalibrateTelecentricCameraDefs::BadParams"),
      leafCase<tkCalibrateTelecentricCameraDefs::InsufficientPoses>(
          0x1000B601, "tkCalibrateTelecentricCameraDefs::InsufficientPoses"),
      leafCase<tk_TelecentricCalibrationDefs::BadParams>(
          0x1000AE40, "tk_TelecentricCalibrationDefs::BadParams"),
      leafCase<tk_TelecentricCalibrationDefs::TooFewCorrespondences>(
          0x1000AE41, "tk_TelecentricCalibrationDefs::TooFewCorrespondences"),
      leafCase<tk_MulticameraCalibrationDefs::BadParams>(
          0x1000AE80, "tk_MulticameraCalibrationDefs::BadParams"),
      leafCase<tk_MulticameraCalibrationDefs::NotImplemented>(
          0x1000AE81, "tk_MulticameraCalibrationDefs::NotImplemented"),
      leafCase<tk_MulticameraCalibrationDefs::TooFewCorrespondences>(
          0x1000AE82, "tk_MulticameraCalibrationDefs::TooFewCorrespondences"),
  };
}

}  // namespace

TEST(ErrorFamilies, EveryLeafKeepsItsNumberAndMessageThroughArchiveAndRethrow) {
  for (const LeafCase& leaf : allLeaves()) {
    std::unique_ptr<tkExceptionWithString> original(leaf.make(L"count < 2 \u00e9"));
    EXPECT_EQ(original->errorNumber(), leaf.errorNumber) << leaf.className;
    EXPECT_STREQ(original->what(), "count < 2 \xc3\xa9") << leaf.className;
    // Owned until suicideAndRethrow, which deletes it (the sanitizer build sees a leak).
    auto* loaded = dynamic_cast<tkException*>(
        LoadPointerFromBytes(StoreToBytes(static_cast<tkPersistent*>(original.get()))).release());
    ASSERT_NE(loaded, nullptr) << leaf.className;
    try {
      loaded->suicideAndRethrow();
      ADD_FAILURE() << "nothing thrown for " << leaf.className;
    } catch (const tkExceptionWithString& e) {
      EXPECT_EQ(typeid(e), typeid(*original)) << leaf.className;
      EXPECT_EQ(e.errorNumber(), leaf.errorNumber) << leaf.className;
      EXPECT_EQ(e.message(), L"count < 2 \u00e9") << leaf.className;
    }
  }
}

TEST(ErrorFamilies, ArchivedFormIsTwoVersionBytesThenTheMessagePart) {
  tk_MulticameraCalibrationDefs::NotImplemented leaf(L"m");
  const ArchiveBytes byValue = StoreToBytes(static_cast<tkPersistent&>(leaf));
  tkBadPointer plain(L"m");  // a direct tkExceptionWithString: version byte + its part
  const ArchiveBytes messageOnly = StoreToBytes(static_cast<tkPersistent&>(plain));
  ASSERT_GE(byValue.size(), 2u);
  EXPECT_EQ(byValue[0], 0) << "leaf version";
  EXPECT_EQ(byValue[1], 0) << "Errors version";
  // Everything after the two family bytes is the tkExceptionWithString part, which the plain
  // exception writes after its own single version byte.
  EXPECT_EQ(std::vector<unsigned char>(byValue.begin() + 2, byValue.end()),
            std::vector<unsigned char>(messageOnly.begin() + 1, messageOnly.end()));
}

TEST(ErrorFamilies, UnknownVersionNamesTheClassThatCannotReadIt) {
  for (int versionPosition : {0, 1}) {
    tk_MulticameraCalibrationDefs::NotImplemented leaf(L"message");
    ArchiveBytes buffer = StoreToBytes(static_cast<tkPersistent&>(leaf));
    buffer[versionPosition] = 1;
    tk_MulticameraCalibrationDefs::NotImplemented target(L"kept");
    tkPersistent& asPersistent = target;
    EXPECT_TRUE(LoadThrowsUnknownVersion(buffer, asPersistent,
                                         versionPosition == 0
                                             ? "tk_MulticameraCalibrationDefs::NotImplemented"
                                             : "tk_MulticameraCalibrationDefs::Errors",
                                         0));
    EXPECT_EQ(target.message(), L"kept") << "nothing read before the failure";
  }
}

TEST(LineScanFailureConversion, StatusesBecomeTheirExceptionsAfterLoad) {
  const auto status = [](uint32_t bits) { return static_cast<long>(static_cast<int32_t>(bits)); };
  using Defs = tkCalibrateLineScanCameraDefs;
  EXPECT_TRUE(ThrowsWithMessage<Defs::InsufficientPoints>(
      [&] { tfThrowExceptionOnFailure(status(0x80001001u)); }, L"imagePoints.size() < 4"));
  EXPECT_TRUE(
      ThrowsWithMessage<Defs::BadParams>([&] { tfThrowExceptionOnFailure(status(0x80001000u)); },
                                         L"imagePoints.size() != physicalPoints.size()"));
  EXPECT_THROW(tfThrowExceptionOnFailure(status(0x80001002u)), tkMathError::Singular);
  // Not converted: the generic failure with the status as its number.
  EXPECT_NO_THROW(convertLineScanCalibrationFailure(status(0x80001003u)));
  EXPECT_THROW(tfThrowExceptionOnFailure(status(0x80001003u)), tkProcedureFailure);
}
