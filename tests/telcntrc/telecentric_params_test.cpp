// The options of telecentric calibration: defaults, the height check, comparison and the archive
// operator's layout and version check.
#include <ccal/telecentric_calibration.h>
#include <gtest/gtest.h>
#include <tk/archive.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using Params = tkCalibrateTelecentricCameraParams;

std::vector<unsigned char> stored(Params params) {
  std::vector<unsigned char> buffer;
  {
    tkArchive ar(buffer, tkArchive::eStore);
    ar || params;
  }
  return buffer;
}

}  // namespace

TEST(TelecentricParams, DefaultsAndHeightCheck) {
  Params params;
  EXPECT_FALSE(params.useCameraHeight());
  EXPECT_EQ(params.cameraHeight(), 0.0);

  params.cameraHeight(-5.0);
  EXPECT_EQ(params.cameraHeight(), -5.0);
  params.cameraHeight(0.0);
  EXPECT_EQ(params.cameraHeight(), 0.0);
  params.cameraHeight(12.5);
  for (double bad : {HUGE_VAL, -HUGE_VAL, std::numeric_limits<double>::quiet_NaN()}) {
    try {
      params.cameraHeight(bad);
      ADD_FAILURE() << bad << " accepted";
    } catch (const tkCalibrateTelecentricCameraDefs::BadParams& e) {
      EXPECT_EQ(e.message(), L"cameraHeight == -HUGE_VAL || cameraHeight == HUGE_VAL");
      EXPECT_EQ(e.errorNumber(), 0x1000B600);
    }
    EXPECT_EQ(params.cameraHeight(), 12.5) << "a rejected height replaced the stored one";
  }
}

TEST(TelecentricParams, EqualityComparesTheHeightEvenWhenItIsNotUsed) {
  Params a, b;
  EXPECT_EQ(a, b);
  b.cameraHeight(1.0);
  EXPECT_NE(a, b);
  a.cameraHeight(1.0);
  EXPECT_EQ(a, b);
  a.useCameraHeight(true);
  EXPECT_NE(a, b);
  b = a;
  EXPECT_EQ(a, b);
  const Params copy(a);
  EXPECT_TRUE(copy.useCameraHeight());
  EXPECT_EQ(copy.cameraHeight(), 1.0);
}

TEST(TelecentricParams, ArchiveHoldsVersionFlagAndHeight) {
  Params params;
  params.useCameraHeight(true);
  params.cameraHeight(-2.0);
  const std::vector<unsigned char> expected = {0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0xC0};
  EXPECT_EQ(stored(params), expected);

  std::vector<unsigned char> buffer = stored(params);
  Params loaded;
  tkArchive ar(buffer, tkArchive::eLoad);
  ar || loaded;
  EXPECT_EQ(loaded, params);
  EXPECT_EQ(ar.remaining(), 0u);
}

TEST(TelecentricParams, LoadedHeightIsNotValidated) {
  Params infinite;
  std::vector<unsigned char> buffer = stored(infinite);
  const double value = HUGE_VAL;
  std::memcpy(buffer.data() + 2, &value, sizeof value);  // little-endian hosts only
  tkArchive ar(buffer, tkArchive::eLoad);
  ar || infinite;
  EXPECT_EQ(infinite.cameraHeight(), HUGE_VAL);
}

TEST(TelecentricParams, UnknownVersionIsRejectedBeforeAnyField) {
  Params source;
  source.useCameraHeight(true);
  source.cameraHeight(9.0);
  std::vector<unsigned char> buffer = stored(source);
  buffer[0] = 1;
  Params target;
  tkArchive ar(buffer, tkArchive::eLoad);
  try {
    ar || target;
    FAIL() << "version 1 was read";
  } catch (const tkArchive::UnknownVersion& e) {
    EXPECT_EQ(e.location(), "ccal/telcntrc/ccalibtl");
    EXPECT_EQ(e.line(), 49);
  }
  EXPECT_EQ(target, Params());
  EXPECT_EQ(ar.position(), 1u);
}
