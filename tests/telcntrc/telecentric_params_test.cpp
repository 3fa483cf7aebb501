// The options of telecentric calibration: the height check, comparison and the archive
// operator's layout and version check.
#include <ccal/telecentric_calibration.h>
#include <gtest/gtest.h>

#include "support/archive_expect.h"
#include "support/exception_expect.h"

#include <cmath>
#include <cstring>
#include <limits>

using Params = tkCalibrateTelecentricCameraParams;

TEST(TelecentricParams, HeightMustBeFiniteAndEqualityComparesItEvenWhenUnused) {
  Params params;
  EXPECT_FALSE(params.useCameraHeight());
  params.cameraHeight(12.5);
  for (double bad : {HUGE_VAL, -HUGE_VAL, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_TRUE(ThrowsWithMessage<tkCalibrateTelecentricCameraDefs::BadParams>(
        [&] { params.cameraHeight(bad); },
        L"cameraHeight == -HUGE_VAL || cameraHeight == HUGE_VAL"));
    EXPECT_EQ(params.cameraHeight(), 12.5) << bad << " was stored";
  }
  EXPECT_NE(params, Params());
  Params used = params;
  used.useCameraHeight(true);
  EXPECT_NE(used, params);
}

TEST(TelecentricParams, ArchiveHoldsVersionFlagAndHeight) {
  Params params;
  params.useCameraHeight(true);
  params.cameraHeight(-2.0);
  const ArchiveBytes bytes = StoreToBytes(params);
  EXPECT_EQ(bytes, (ArchiveBytes{0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0xC0}));
  Params loaded;
  LoadFromBytes(bytes, loaded);
  EXPECT_EQ(loaded, params);

  // A loaded height is not validated (little-endian hosts only).
  ArchiveBytes infinite = bytes;
  const double value = HUGE_VAL;
  std::memcpy(infinite.data() + 2, &value, sizeof value);
  LoadFromBytes(infinite, loaded);
  EXPECT_EQ(loaded.cameraHeight(), HUGE_VAL);

  ArchiveBytes newer = bytes;
  newer[0] = 1;
  Params target;
  EXPECT_TRUE(LoadThrowsUnknownVersion(newer, target, "ccal/telcntrc/ccalibtl", 49));
  EXPECT_EQ(target, Params()) << "rejected before any field";
}
