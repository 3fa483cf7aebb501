// Archives of tk2XformLineScan: round trip, the layout of the version bytes, the earlier
// version-0 layout, versions that cannot be read, and polymorphic loading through the type
// registry.
#include <ccal/line_scan_xform.h>
#include <gtest/gtest.h>
#include <tk/archive.h>
#include <tk/archive_geometry.h>
#include <tk/random_uniform.h>

#include "ccal/lnsc/lnsccal3.h"
#include "ccal/lnsc/lnscdist.h"
#include "support/archive_expect.h"
#include "support/line_scan_sets.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

ArchiveBytes store(tk2XformLineScan& xform) {
  return StoreToBytes(static_cast<tkPersistent&>(xform));
}

void load(const ArchiveBytes& buffer, tk2XformLineScan& xform) {
  tkPersistent& target = xform;
  LoadFromBytes(buffer, target);
}

double doubleAt(const ArchiveBytes& buffer, std::size_t offset) {
  double value = 0.0;
  std::memcpy(&value, buffer.data() + offset, sizeof value);  // little-endian hosts
  return value;
}

class LineScanArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    const tkLineScanSet set = loadLineScanSet("linescan-exact.json");
    fitted_.init(set.image, set.physical, set.distance);
  }
  tk2XformLineScan fitted_;
};

TEST_F(LineScanArchive, RoundTripRestoresModelAndDirection) {
  for (bool inverse : {false, true}) {
    tk2XformLineScan original = inverse ? fitted_.inverse() : fitted_;
    ArchiveBytes buffer = store(original);
    tk2XformLineScan loaded;
    load(buffer, loaded);
    EXPECT_TRUE(loaded == original) << "inverse " << inverse;
    EXPECT_EQ(loaded.w2i(), !inverse);
    const tkVector<2> plate(40.0, 30.0);
    const tkVector<2> point = inverse ? fitted_.mapPoint(plate) : plate;
    EXPECT_LT((loaded.mapPoint(point) - original.mapPoint(point)).length(), 1e-9);
  }
}

TEST_F(LineScanArchive, LayoutStartsWithTheVersionBytesOfEachPart) {
  ArchiveBytes buffer = store(fitted_);
  // version 1, tk2XformBase 0, camera record 0, lens record 0, k1, k2, scale, offset, pose
  // (9 + 3 doubles), motion (3 doubles), w2i.
  ASSERT_EQ(buffer.size(), 4u + 4 * 8 + 12 * 8 + 3 * 8 + 1);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(buffer[2], 0);
  EXPECT_EQ(buffer[3], 0);
  const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera = fitted_.lineScan()->camera;
  EXPECT_EQ(doubleAt(buffer, 4), camera.lens.k1);
  EXPECT_EQ(doubleAt(buffer, 12), camera.lens.k2);
  EXPECT_EQ(doubleAt(buffer, 20), camera.lens.scale);
  EXPECT_EQ(doubleAt(buffer, 28), camera.lens.offset);
  EXPECT_EQ(doubleAt(buffer, 36 + 96 + 16), camera.scannerMotion.z);
  EXPECT_EQ(buffer.back(), 1) << "w2i stored as true";
}

TEST_F(LineScanArchive, VersionZeroArchiveLoadsWithMotionInThePlate) {
  // The earlier layout: version 0, base, lens record, pose, motion (x, y), w2i.
  const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera = fitted_.lineScan()->camera;
  ArchiveBytes buffer;
  {
    tkArchive ar(buffer, tkArchive::eStore);
    unsigned char version = 0, baseVersion = 0;
    ar || version;
    ar || baseVersion;
    clnsc_physicalAtZEquals1FromLineScanImageParams lens = camera.lens;
    ar || lens;
    tkXform<3> pose = tk_lineScanCameraPoseInverse(camera).xform();
    ar || pose;
    tkVector<2> motion(camera.scannerMotion.x, camera.scannerMotion.y);
    ar || motion;
    bool w2i = false;
    ar || w2i;
  }
  tk2XformLineScan loaded;
  load(buffer, loaded);
  EXPECT_EQ(loaded.lineScan()->camera.scannerMotion.z, 0.0);
  EXPECT_FALSE(loaded.w2i());
  // The data set's motion lies in the plate, so the old layout held the whole camera.
  EXPECT_TRUE(loaded == fitted_.inverse());
}

TEST_F(LineScanArchive, UnknownVersionsNameTheirPart) {
  struct Case {
    std::size_t offset;
    const char* location;
    long line;
  };
  const Case cases[] = {
      {0, "ccal/lnsc/xflnsc", 34}, {2, "ccal/lnsc/lnsccal3", 313}, {3, "ccal/lnsc/lnscdist", 96}};
  for (const Case& c : cases) {
    ArchiveBytes buffer = store(fitted_);
    buffer[c.offset] = 2;
    tk2XformLineScan loaded;
    tkPersistent& target = loaded;
    EXPECT_TRUE(LoadThrowsUnknownVersion(buffer, target, c.location, c.line));
    EXPECT_TRUE(loaded == tk2XformLineScan()) << c.location << ": nothing was set";
  }
}

TEST_F(LineScanArchive, PoseThatIsNotARotationIsCorrupt) {
  ArchiveBytes buffer = store(fitted_);
  const double sheared = 1.5;
  std::memcpy(buffer.data() + 36, &sheared, sizeof sheared);  // element (0, 0) of the pose
  tk2XformLineScan loaded;
  EXPECT_THROW(load(buffer, loaded), tkArchive::Corrupt);
}

TEST_F(LineScanArchive, LoadedTransformStoresTheSameBytesAgain) {
  // The pose travels as a matrix and lives as a quaternion: a loaded transform must settle on a
  // matrix that its quaternion reproduces, so that loading and storing again changes nothing.
  tkRandomUniform random(7);
  for (int trial = 0; trial < 200; ++trial) {
    clnsc_lineScanCameraUnconstrainedCalibrationParams camera = fitted_.lineScan()->camera;
    const c3d_quaternion q{random.next(-1, 1), random.next(-1, 1), random.next(-1, 1),
                           random.next(-1, 1)};
    c3d_quaternionUnit_initQuaternion(&camera.poseInverseRotation, &q);
    ArchiveBytes first;
    {
      tkArchive ar(first, tkArchive::eStore);
      unsigned char version = 1, baseVersion = 0;
      bool w2i = true;
      ar || version;
      ar || baseVersion;
      ar || camera;
      ar || w2i;
    }
    tk2XformLineScan loaded;
    load(first, loaded);
    ArchiveBytes second = store(loaded);
    tk2XformLineScan reloaded;
    load(second, reloaded);
    ASSERT_EQ(store(reloaded), second) << "trial " << trial;
    EXPECT_LT(cameraDifference(reloaded.lineScan()->camera, camera), 1e-15) << "trial " << trial;
  }
}

TEST_F(LineScanArchive, ReaderThatKnowsOnlyTheArchiveRecreatesTheTransform) {
  const std::unique_ptr<tkPersistent> owned =
      LoadPointerFromBytes(StoreToBytes(static_cast<tkPersistent*>(&fitted_)));
  const tk2XformLineScan* loaded = dynamic_cast<const tk2XformLineScan*>(owned.get());
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(*loaded == fitted_);
}

}  // namespace
