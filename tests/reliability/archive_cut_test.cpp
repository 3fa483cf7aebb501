// Archives cut at every byte: each persistent class and each archive operator of the library
// throws tkArchive::Corrupt for every proper prefix of a valid archive, and the value being
// loaded keeps what it held.
#include <ccal/line_scan_calibration.h>
#include <ccal/line_scan_xform.h>
#include <ccal/telecentric_calibration.h>
#include <tk/archive.h>
#include <tk/archive_geometry.h>

#include "support/line_scan_sets.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

template <class T>
Bytes stored(T& value) {
  Bytes bytes;
  tkArchive ar(bytes, tkArchive::eStore);
  ar || value;
  return bytes;
}

// Loads every proper prefix of value's archive into a copy of target: each must throw Corrupt
// and leave the copy's stored form as target's.
template <class T>
void expectEveryCutFails(T& value, const T& target) {
  T expected = target;
  const Bytes full = stored(value);
  const Bytes untouched = stored(expected);
  for (std::size_t n = 0; n < full.size(); ++n) {
    Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    tkArchive ar(cut, tkArchive::eLoad);
    T loaded = target;
    EXPECT_THROW(ar || loaded, tkArchive::Corrupt) << "cut at " << n << " of " << full.size();
    EXPECT_EQ(stored(loaded), untouched) << "cut at " << n;
  }
}

// The same through a tkPersistent*: the pointer stays null.
void expectEveryCutFails(tkPersistent& object) {
  tkPersistent* pointer = &object;
  const Bytes full = stored(pointer);
  for (std::size_t n = 0; n < full.size(); ++n) {
    Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    tkArchive ar(cut, tkArchive::eLoad);
    tkPersistent* loaded = nullptr;
    EXPECT_THROW(ar || loaded, tkArchive::Corrupt) << "cut at " << n << " of " << full.size();
    EXPECT_EQ(loaded, nullptr);
  }
}

tk2XformLineScan fittedLineScan() {
  const tkLineScanSet set = loadLineScanSet("linescan-exact.json");
  return tk2XformLineScan(set.image, set.physical, set.distance);
}

// The exception leaves: tests/foundation/error_families_test.
TEST(ArchiveCut, LineScanTransformFailsCleanly) {
  tk2XformLineScan lineScan = fittedLineScan();
  expectEveryCutFails(static_cast<tkPersistent&>(lineScan));
}

TEST(ArchiveCut, ValuesAndObjectsLoadedInPlaceKeepTheirState) {
  tk2XformLineScan lineScan = fittedLineScan();
  expectEveryCutFails(lineScan, tk2XformLineScan());
  tkCalibrateLineScanCameraParams lineScanParams;
  lineScanParams.useDistanceFromCameraToTarget(true);
  lineScanParams.distanceFromCameraToTarget(250.0);
  lineScanParams.calibrationYAxisAdjustmentMode(
      static_cast<tkCalibrateLineScanCameraDefs::CalibrationYAxisAdjustmentMode>(1));
  expectEveryCutFails(lineScanParams, tkCalibrateLineScanCameraParams());
  tkCalibrateTelecentricCameraParams telecentricParams;
  telecentricParams.useCameraHeight(true);
  telecentricParams.cameraHeight(-4.5);
  expectEveryCutFails(telecentricParams, tkCalibrateTelecentricCameraParams());
  tkXform<3> xform3(tkMatrix<3>(), tkVector<3>(1, 2, 3));
  expectEveryCutFails(xform3, tkXform<3>());
  tkXform<2> xform2(tkMatrix<2>(1, 2, 3, 4), tkVector<2>(5, 6));
  expectEveryCutFails(xform2, tkXform<2>());
  tk1Xform xform1(2.0, -1.0);
  expectEveryCutFails(xform1, tk1Xform());
}

}  // namespace
