// Line-scan camera calibration: the options class, tfCalibrateLineScanCamera with its argument
// checks, the Y-axis adjustment and tfAlignClientCoordinatesToScannerMotion.
#include <ccal/line_scan_calibration.h>
#include <ccal/line_scan_xform.h>
#include <gtest/gtest.h>
#include <proc/clnsc_xformCalib2.h>
#include <tk/failure.h>

#include "support/archive_expect.h"
#include "support/exception_expect.h"
#include "support/geometry_expect.h"
#include "support/line_scan_sets.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

namespace {

using Defs = tkCalibrateLineScanCameraDefs;
using Params = tkCalibrateLineScanCameraParams;
using Camera = clnsc_lineScanCameraUnconstrainedCalibrationParams;

const Camera& cameraOf(const tk2XformCalib2& xform) {
  const clnsc_xformLineScan* lineScan = nullptr;
  EXPECT_EQ(ccal_getLineScanTransform(&xform.data(), &lineScan), 0);
  return lineScan->camera;
}

Params paramsWith(bool useDistance, double distance, Defs::CalibrationYAxisAdjustmentMode mode) {
  Params params;
  params.useDistanceFromCameraToTarget(useDistance);
  params.distanceFromCameraToTarget(distance);
  params.calibrationYAxisAdjustmentMode(mode);
  return params;
}

// ---- options --------------------------------------------------------------------------------

TEST(LineScanCalibrationParams, SettersRejectBadValuesAndEqualityComparesEveryField) {
  Params params;
  params.distanceFromCameraToTarget(250.0);
  for (double bad : {-1.0, HUGE_VAL, -HUGE_VAL, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_TRUE(ThrowsWithMessage<Defs::BadParams>(
        [&] { params.distanceFromCameraToTarget(bad); },
        L"distanceFromCameraToTarget < 0 || distanceFromCameraToTarget == HUGE_VAL"));
    EXPECT_EQ(params.distanceFromCameraToTarget(), 250.0) << "kept after " << bad;
  }
  params.calibrationYAxisAdjustmentMode(Defs::eAlignYAxisToScannerMotion);
  EXPECT_TRUE(ThrowsWithMessage<Defs::BadParams>(
      [&] {
        params.calibrationYAxisAdjustmentMode(static_cast<Defs::CalibrationYAxisAdjustmentMode>(2));
      },
      L"invalid enum"));
  EXPECT_EQ(params.calibrationYAxisAdjustmentMode(), 1);

  const std::function<void(Params&)> changes[] = {
      [](Params& p) { p.calibrationYAxisAdjustmentMode(Defs::eAlignYAxisToScannerMotion); },
      [](Params& p) { p.distanceFromCameraToTarget(5.0); },  // counts even without the flag
      [](Params& p) { p.useDistanceFromCameraToTarget(true); }};
  for (const auto& change : changes) {
    Params changed;
    change(changed);
    EXPECT_FALSE(changed == Params());
  }
}

TEST(LineScanCalibrationParams, ArchiveLayoutAndVersion) {
  Params params = paramsWith(true, 186.5, Defs::eAlignYAxisToScannerMotion);
  ArchiveBytes buffer = StoreToBytes(params);
  EXPECT_EQ(buffer, (ArchiveBytes{0, 1, 0, 0, 0, 0, 0, 0x50, 0x67, 0x40, 1, 0, 0, 0}))
      << "version, flag, distance (little-endian hosts), mode in 32 bits";
  Params loaded;
  LoadFromBytes(buffer, loaded);
  EXPECT_TRUE(loaded == params);

  buffer[0] = 1;
  Params untouched;
  EXPECT_TRUE(LoadThrowsUnknownVersion(buffer, untouched, "ccal/lnsc/ccalibls", 107));
  EXPECT_TRUE(untouched == Params());
}

// ---- calibration ----------------------------------------------------------------------------

class LineScanCalibration : public ::testing::Test {
 protected:
  tk2XformCalib2 calibrate(const Params& params, double* rms = nullptr, double* largest = nullptr) {
    double r = 0.0, l = 0.0;
    tk2XformCalib2 camera;
    tfCalibrateLineScanCamera(exact_.image, exact_.physical, params, rms ? *rms : r,
                              largest ? *largest : l, camera);
    return camera;
  }

  const tkLineScanSet& exact_ = exactLineScanSet();
};

TEST_F(LineScanCalibration, DefaultParamsAndPairsGiveTheSameCalibration) {
  double rms1 = 0, max1 = 0, rms2 = 0, max2 = 0;
  const tk2XformCalib2 fromLists = calibrate(Params(), &rms1, &max1);
  tk2XformCalib2 fromPairs;
  tfCalibrateLineScanCamera(lineScanPairs(exact_), Params(), rms2, max2, fromPairs);
  EXPECT_TRUE(fromLists == fromPairs);
  EXPECT_TRUE(rms1 == rms2 && max1 == max2);
  EXPECT_LT(max1, 1e-11);
  EXPECT_LT(cameraDifference(cameraOf(fromLists), exact_.truth), 1e-10)
      << "the data set's scale is the default one";
}

TEST_F(LineScanCalibration, ZeroDistanceIsRefusedWithoutTouchingTheOutputs) {
  // Other bad point lists: the point-list table of tests/reliability.
  double rms = -1.0, largest = -1.0;
  tk2XformCalib2 calibrated;
  EXPECT_TRUE(ThrowsWithMessage<Defs::BadParams>(
      [&] {
        tfCalibrateLineScanCamera(exact_.image, exact_.physical, paramsWith(true, 0.0, {}), rms,
                                  largest, calibrated);
      },
      L"params.useDistanceFromCameraToTarget() && params.distanceFromCameraToTarget() == 0"));
  EXPECT_TRUE(rms == -1.0 && largest == -1.0);
  EXPECT_TRUE(calibrated == tk2XformCalib2());
}

TEST_F(LineScanCalibration, AlignedModeIsTheAlignmentOfTheClientFrame) {
  double rms0 = 0, max0 = 0, rms1 = 0, max1 = 0;
  const tk2XformCalib2 plain =
      calibrate(paramsWith(true, exact_.distance, Defs::eNoYAxisAdjustment), &rms0, &max0);
  const tk2XformCalib2 aligned =
      calibrate(paramsWith(true, exact_.distance, Defs::eAlignYAxisToScannerMotion), &rms1, &max1);
  EXPECT_TRUE(rms1 == rms0 && max1 == max0) << "the figures do not change";
  tk2XformCalib2 alignedAfterwards = plain;
  tfAlignClientCoordinatesToScannerMotion(alignedAfterwards);
  EXPECT_TRUE(alignedAfterwards == aligned);

  // Every image point maps to the turned plate point: A·P, A the turn about Z taking the
  // in-plate motion onto +Y.
  const cmath_vect3& M = cameraOf(plain).scannerMotion;
  const double theta = std::atan2(M.x, M.y), c = std::cos(theta), s = std::sin(theta);
  for (double u = 100.0; u <= 4000.0; u += 300.0) {
    for (double v = 50.0; v <= 2500.0; v += 350.0) {
      const tkVector<2> P = plain.mapPoint(tkVector<2>(u, v));
      const tkVector<2> turned(c * P.x() - s * P.y(), s * P.x() + c * P.y());
      ASSERT_LT((aligned.mapPoint(tkVector<2>(u, v)) - turned).length(), 1e-9) << u << ", " << v;
    }
  }
  EXPECT_EQ(cameraOf(aligned).scannerMotion.x, 0.0);
  EXPECT_GT(cameraOf(aligned).scannerMotion.y, 0.0);

  tk2XformCalib2 twice = aligned;
  tfAlignClientCoordinatesToScannerMotion(twice);
  EXPECT_TRUE(twice == aligned);
}

TEST_F(LineScanCalibration, AlignmentNeedsALineScanTransform) {
  tk2XformCalib2 areaScan;
  try {
    tfAlignClientCoordinatesToScannerMotion(areaScan);
    FAIL() << "an area-scan transform was aligned";
  } catch (const tkProcedureFailure& e) {
    EXPECT_EQ(static_cast<uint32_t>(e.errorNumber()), 0x80001004u);
  }
  EXPECT_TRUE(areaScan == tk2XformCalib2());
}

TEST_F(LineScanCalibration, DocumentedWorkedExample) {
  // The numbers of docs/line-scan.md, "Worked example": the distance chooses a member of the
  // camera family, not the mapping; the alignment turns the client frame by −1°.
  struct Case {
    Params params;
    double height;
    tkVector<2> ofImage, ofPlate;  // mapPoint((2048, 1000)), invMapPoint((50, 30))
  };
  const Case cases[] = {{Params(), 186.6716, {48.409532, 22.631869}, {2118.400454, 1283.170786}},
                        {paramsWith(true, 150.0, Defs::eNoYAxisAdjustment),
                         150.0,
                         {48.409532, 22.631869},
                         {2118.400454, 1283.170786}},
                        {paramsWith(true, 150.0, Defs::eAlignYAxisToScannerMotion),
                         150.0,
                         {48.797140, 21.783559},
                         {2097.286792, 1318.492256}}};
  for (const Case& c : cases) {
    const tk2XformCalib2 camera = calibrate(c.params);
    EXPECT_NEAR(cameraCentre(cameraOf(camera)).z(), c.height, 1e-4);
    EXPECT_LT((camera.mapPoint(tkVector<2>(2048, 1000)) - c.ofImage).length(), 1e-6);
    EXPECT_LT((camera.invMapPoint(tkVector<2>(50, 30)) - c.ofPlate).length(), 1e-6);
  }
  const tk2XformLinear linear =
      tk2XformLineScan(exact_.image, exact_.physical).linearXform(tkVector<2>(50, 30));
  EXPECT_TRUE(
      MatricesNear(linear.matrix(), tkMatrix<2>(40.899035, 0.713895, -2.728602, 39.020822), 1e-6));
  EXPECT_TRUE(VectorsNear(linear.trans(), tkVector<2>(52.031829, 248.976199), 1e-6));
}

}  // namespace
