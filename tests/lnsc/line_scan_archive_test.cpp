// Archives of tk2XformLineScan: round trip (also polymorphic), the layout of the version bytes,
// the earlier version-0 layout, versions that cannot be read, corrupt poses, and stable bytes.
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

// The bytes of a transform archived field by field: version 1, base version 0, camera, w2i.
ArchiveBytes versionOne(clnsc_lineScanCameraUnconstrainedCalibrationParams camera, bool w2i) {
  ArchiveBytes buffer;
  tkArchive ar(buffer, tkArchive::eStore);
  unsigned char version = 1, baseVersion = 0;
  ar || version;
  ar || baseVersion;
  ar || camera;
  ar || w2i;
  return buffer;
}

class LineScanArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    const tkLineScanSet& set = exactLineScanSet();
    fitted_.init(set.image, set.physical, set.distance);
  }
  tk2XformLineScan fitted_;
};

TEST_F(LineScanArchive, RoundTripRestoresModelAndDirection) {
  for (bool inverse : {false, true}) {
    tk2XformLineScan original = inverse ? fitted_.inverse() : fitted_;
    tk2XformLineScan loaded;
    load(store(original), loaded);
    EXPECT_TRUE(loaded == original) << "inverse " << inverse;
    EXPECT_EQ(loaded.w2i(), !inverse);
    const tkVector<2> plate(40.0, 30.0);
    const tkVector<2> point = inverse ? fitted_.mapPoint(plate) : plate;
    EXPECT_LT((loaded.mapPoint(point) - original.mapPoint(point)).length(), 1e-9);
  }
  // A reader that knows only the archive recreates the transform through the type registry.
  const std::unique_ptr<tkPersistent> owned =
      LoadPointerFromBytes(StoreToBytes(static_cast<tkPersistent*>(&fitted_)));
  const tk2XformLineScan* loaded = dynamic_cast<const tk2XformLineScan*>(owned.get());
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(*loaded == fitted_);
}

TEST_F(LineScanArchive, LayoutMatchesTheFieldByFieldBytes) {
  // version 1, tk2XformBase 0, camera record 0, lens record 0, k1, k2, scale, offset, pose
  // (9 + 3 doubles), motion (3 doubles), w2i.
  const ArchiveBytes buffer = store(fitted_);
  ASSERT_EQ(buffer.size(), 4u + 4 * 8 + 12 * 8 + 3 * 8 + 1);
  EXPECT_EQ(ArchiveBytes(buffer.begin(), buffer.begin() + 4), (ArchiveBytes{1, 0, 0, 0}));
  EXPECT_EQ(buffer, versionOne(fitted_.lineScan()->camera, true));
}

TEST_F(LineScanArchive, VersionZeroArchiveLoadsWithMotionInThePlate) {
  // The earlier layout: version 0, base, lens record, pose, motion (x, y), w2i.
  const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera = fitted_.lineScan()->camera;
  ArchiveBytes buffer;
  {
    tkArchive ar(buffer, tkArchive::eStore);
    unsigned char version = 0, baseVersion = 0;
    clnsc_physicalAtZEquals1FromLineScanImageParams lens = camera.lens;
    tkXform<3> pose = tk_lineScanCameraPoseInverse(camera).xform();
    tkVector<2> motion(camera.scannerMotion.x, camera.scannerMotion.y);
    bool w2i = false;
    ar || version;
    ar || baseVersion;
    ar || lens;
    ar || pose;
    ar || motion;
    ar || w2i;
  }
  tk2XformLineScan loaded;
  load(buffer, loaded);
  EXPECT_EQ(loaded.lineScan()->camera.scannerMotion.z, 0.0);
  // The data set's motion lies in the plate, so the old layout held the whole camera.
  EXPECT_TRUE(loaded == fitted_.inverse());
}

TEST_F(LineScanArchive, UnknownVersionsAndCorruptPosesSetNothing) {
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
  ArchiveBytes sheared = store(fitted_);
  const double notARotation = 1.5;
  std::memcpy(sheared.data() + 36, &notARotation, sizeof notARotation);  // pose element (0, 0)
  tk2XformLineScan loaded;
  EXPECT_THROW(load(sheared, loaded), tkArchive::Corrupt);
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
    tk2XformLineScan loaded, reloaded;
    load(versionOne(camera, true), loaded);
    const ArchiveBytes second = store(loaded);
    load(second, reloaded);
    ASSERT_EQ(store(reloaded), second) << "trial " << trial;
    EXPECT_LT(cameraDifference(reloaded.lineScan()->camera, camera), 1e-15) << "trial " << trial;
  }
}

}  // namespace
