// The archived form of tk2XformCalib2: every kind of camera round-trips exactly, alone and in a
// vector, the layout is pinned, and a damaged archive throws a typed exception while the target
// keeps its camera.
#include <ccal/calibrated_xform_archive.h>
#include <ccal/line_scan_calibration.h>
#include <ccal/line_scan_xform.h>
#include <gtest/gtest.h>
#include <tk/exception.h>

#include "support/archive_expect.h"
#include "support/camera_scenes.h"
#include "support/line_scan_sets.h"

#include <cstring>

namespace {

tk2XformCalib2 areaScanCamera(scenes::Model model) {
  tk2XformCalib2 xform;
  xform.init(scenes::intrinsicFor(model), tkCalib2ParamsExtrinsic());
  xform.extrinsicXform(scenes::cameraAbovePlate());
  return xform;
}

tk2XformCalib2 lineScanCamera() {
  return calibrateExactLineScanSet();
}

std::vector<tk2XformCalib2> everyKind() {
  std::vector<tk2XformCalib2> cameras;
  for (scenes::Model model : scenes::areaScanModels())
    cameras.push_back(areaScanCamera(model));
  cameras.push_back(areaScanCamera(tk2XformCalib2Defs::eTelecentric));
  cameras.push_back(lineScanCamera());
  return cameras;
}

}  // namespace

TEST(CalibratedXformArchive, EveryKindRoundTripsExactly) {
  for (tk2XformCalib2& camera : everyKind()) {
    const ArchiveBytes bytes = StoreToBytes(camera);
    tk2XformCalib2 loaded;
    LoadFromBytes(bytes, loaded);
    EXPECT_EQ(loaded, camera) << "model " << camera.data().distortionModel;
    EXPECT_EQ(StoreToBytes(loaded), bytes);
    // Line-scan poses are archived as rotation matrices: equal cameras up to rounding.
    const tkVector<2> image(300.5, 200.25);
    EXPECT_LT((loaded.mapPoint(image) - camera.mapPoint(image)).length(), 1e-12 * 1000);
  }
}

// Two line-scan cameras in one vector: each is written and read in full (no temporary object
// of one is taken for the other's).
TEST(CalibratedXformArchive, VectorsHoldEveryCamera) {
  std::vector<tk2XformCalib2> cameras = everyKind();
  tk2XformCalib2 aligned = lineScanCamera();
  tfAlignClientCoordinatesToScannerMotion(aligned);
  cameras.push_back(aligned);
  std::vector<tk2XformCalib2> loaded;
  LoadFromBytes(StoreToBytes(cameras), loaded);
  ASSERT_EQ(loaded.size(), cameras.size());
  for (size_t c = 0; c < cameras.size(); ++c)
    EXPECT_EQ(loaded[c], cameras[c]) << c;
  EXPECT_NE(loaded[4], loaded[5]);
  // A count larger than the bytes could hold is refused before anything is allocated.
  ArchiveBytes huge = {0x00, 0x00, 0x01, 0x00};
  EXPECT_THROW(LoadFromBytes(huge, loaded), tkArchive::Corrupt);
}

TEST(CalibratedXformArchive, LayoutIsPinned) {
  tk2XformCalib2 none = areaScanCamera(tk2XformCalib2Defs::eNoDistortion);
  const ArchiveBytes bytes = StoreToBytes(none);
  ASSERT_EQ(bytes.size(), tk_ArchiveMinBytes<tk2XformCalib2>::value);
  EXPECT_EQ(bytes[0], 0);  // version
  EXPECT_EQ(bytes[1], 0);  // not a line-scan camera
  double fx = 0.0;
  std::memcpy(&fx, &bytes[2], 8);
  EXPECT_EQ(fx, 800.0);
  EXPECT_EQ(bytes[42], 4);  // distortion model, after scale, skew and translation
  EXPECT_EQ(bytes[46], 0);  // an empty parameter list

  tk2XformCalib2 lineScan = lineScanCamera();
  const ArchiveBytes line = StoreToBytes(lineScan);
  // version, flag, camera record (version, lens record 33, pose 96, motion 24), w2i
  EXPECT_EQ(line.size(), 2u + 1 + 33 + 96 + 24 + 1);
  EXPECT_EQ(line[1], 1);
  EXPECT_EQ(line.back(), 1);  // the calibration maps plate -> image
}

TEST(CalibratedXformArchive, DamagedArchivesLeaveTheTargetWhole) {
  const tk2XformCalib2 original = areaScanCamera(tk2XformCalib2Defs::eRadial);
  for (tk2XformCalib2& camera : everyKind()) {
    const ArchiveBytes bytes = StoreToBytes(camera);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      tk2XformCalib2 target = original;
      EXPECT_THROW(LoadFromBytes(ArchiveBytes(bytes.begin(), bytes.begin() + cut), target),
                   tkArchive::Corrupt);
      ASSERT_EQ(target, original) << "cut at " << cut;
    }
  }
  tk2XformCalib2 radial = areaScanCamera(tk2XformCalib2Defs::eRadial);
  const ArchiveBytes bytes = StoreToBytes(radial);
  tk2XformCalib2 target = original;
  ArchiveBytes changed = bytes;
  changed[0] = 1;
  EXPECT_TRUE(LoadThrowsUnknownVersion(changed, target, "ccal/camera/calibrated_xform_archive", 0));
  changed = bytes;
  changed[1] = 2;  // not a boolean
  EXPECT_THROW(LoadFromBytes(changed, target), tkArchive::Corrupt);
  changed = bytes;
  changed[42] = 3;  // no such model
  EXPECT_THROW(LoadFromBytes(changed, target), tkArchive::Corrupt);
  changed = bytes;
  std::memset(&changed[2], 0, 16);  // K with zero scale
  EXPECT_THROW(LoadFromBytes(changed, target), tkMathError::Singular);
  changed = bytes;
  changed[46] = 2;  // a radial list of two values
  EXPECT_THROW(LoadFromBytes(changed, target), tkInvariantFailure);
  changed = bytes;
  const size_t rotation = bytes.size() - 96;
  double two = 2.0;
  std::memcpy(&changed[rotation], &two, 8);  // E is no rotation
  EXPECT_THROW(LoadFromBytes(changed, target), tkInvariantFailure);
  EXPECT_EQ(target, original);
}
