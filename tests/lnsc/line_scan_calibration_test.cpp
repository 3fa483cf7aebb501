// Line-scan camera calibration: the options class, tfCalibrateLineScanCamera with its argument
// checks, the Y-axis adjustment and tfAlignClientCoordinatesToScannerMotion.
#include <ccal/line_scan_calibration.h>
#include <ccal/line_scan_xform.h>
#include <gtest/gtest.h>
#include <proc/clnsc_xformCalib2.h>
#include <tk/attention.h>
#include <tk/failure.h>

#include "support/archive_expect.h"
#include "support/exception_expect.h"
#include "support/geometry_expect.h"
#include "support/line_scan_sets.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

using Mode = tkCalibrateLineScanCameraDefs::CalibrationYAxisAdjustmentMode;

const clnsc_xformLineScan& lineScanOf(const tk2XformCalib2& xform) {
  const clnsc_xformLineScan* lineScan = nullptr;
  EXPECT_EQ(ccal_getLineScanTransform(&xform.data(), &lineScan), 0);
  return *lineScan;
}

// ---- options --------------------------------------------------------------------------------

TEST(LineScanCalibrationParams, DefaultsAndSetterChecks) {
  tkCalibrateLineScanCameraParams params;
  params.distanceFromCameraToTarget(250.0);
  const wchar_t* distanceMessage =
      L"distanceFromCameraToTarget < 0 || distanceFromCameraToTarget == HUGE_VAL";
  for (double bad : {-1.0, HUGE_VAL, -HUGE_VAL, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_TRUE(ThrowsWithMessage<tkCalibrateLineScanCameraDefs::BadParams>(
        [&] { params.distanceFromCameraToTarget(bad); }, distanceMessage));
    EXPECT_EQ(params.distanceFromCameraToTarget(), 250.0) << "kept after " << bad;
  }

  params.calibrationYAxisAdjustmentMode(tkCalibrateLineScanCameraDefs::eAlignYAxisToScannerMotion);
  EXPECT_TRUE(ThrowsWithMessage<tkCalibrateLineScanCameraDefs::BadParams>(
      [&] { params.calibrationYAxisAdjustmentMode(static_cast<Mode>(2)); }, L"invalid enum"));
  EXPECT_EQ(params.calibrationYAxisAdjustmentMode(), 1);
}

TEST(LineScanCalibrationParams, EqualityComparesEveryField) {
  tkCalibrateLineScanCameraParams a, b;
  b.calibrationYAxisAdjustmentMode(tkCalibrateLineScanCameraDefs::eAlignYAxisToScannerMotion);
  EXPECT_FALSE(a == b);
  b = a;
  b.distanceFromCameraToTarget(5.0);
  EXPECT_FALSE(a == b) << "the distance counts even without the flag";
  b = a;
  b.useDistanceFromCameraToTarget(true);
  EXPECT_FALSE(a == b);
}

TEST(LineScanCalibrationParams, ArchiveLayoutAndVersion) {
  tkCalibrateLineScanCameraParams params;
  params.useDistanceFromCameraToTarget(true);
  params.distanceFromCameraToTarget(186.5);
  params.calibrationYAxisAdjustmentMode(tkCalibrateLineScanCameraDefs::eAlignYAxisToScannerMotion);
  ArchiveBytes buffer = StoreToBytes(params);
  ASSERT_EQ(buffer.size(), 1u + 1 + 8 + 4);
  EXPECT_EQ(buffer[0], 0) << "version";
  EXPECT_EQ(buffer[1], 1) << "flag";
  double distance = 0.0;
  std::memcpy(&distance, buffer.data() + 2, 8);
  EXPECT_EQ(distance, 186.5);
  EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + 10, buffer.end()),
            (std::vector<unsigned char>{1, 0, 0, 0}))
      << "mode, 32 bits";

  tkCalibrateLineScanCameraParams loaded;
  LoadFromBytes(buffer, loaded);
  EXPECT_TRUE(loaded == params);

  buffer[0] = 1;
  tkCalibrateLineScanCameraParams untouched;
  EXPECT_TRUE(LoadThrowsUnknownVersion(buffer, untouched, "ccal/lnsc/ccalibls", 107));
  EXPECT_TRUE(untouched == tkCalibrateLineScanCameraParams());
}

// ---- calibration ----------------------------------------------------------------------------

class LineScanCalibration : public ::testing::Test {
 protected:
  tkCalibrateLineScanCameraParams withDistance(Mode mode) const {
    tkCalibrateLineScanCameraParams params;
    params.useDistanceFromCameraToTarget(true);
    params.distanceFromCameraToTarget(exact_->distance);
    params.calibrationYAxisAdjustmentMode(mode);
    return params;
  }

  const tkLineScanSet* exact_ = &exactLineScanSet();
};

TEST_F(LineScanCalibration, DefaultParamsAndPairsGiveTheSameCalibration) {
  std::vector<tkPair<tkVector<2>>> pairs;
  for (std::size_t i = 0; i < exact_->image.size(); ++i)
    pairs.emplace_back(exact_->image[i], exact_->physical[i]);
  double rms1 = 0, max1 = 0, rms2 = 0, max2 = 0;
  tk2XformCalib2 fromLists, fromPairs;
  tfCalibrateLineScanCamera(exact_->image, exact_->physical, tkCalibrateLineScanCameraParams(),
                            rms1, max1, fromLists);
  tfCalibrateLineScanCamera(pairs, tkCalibrateLineScanCameraParams(), rms2, max2, fromPairs);
  EXPECT_TRUE(fromLists == fromPairs);
  EXPECT_EQ(rms1, rms2);
  EXPECT_EQ(max1, max2);
  EXPECT_LT(cameraDifference(lineScanOf(fromLists).camera, exact_->truth), 1e-10)
      << "the data set's scale is the default one";
}

TEST_F(LineScanCalibration, ArgumentChecksThrowWithoutTouchingTheOutputs) {
  const std::vector<tkVector<2>> shortList(exact_->physical.begin(), exact_->physical.end() - 1);
  std::vector<tkPair<tkVector<2>>> threePairs;
  for (std::size_t i = 0; i < 3; ++i)
    threePairs.emplace_back(exact_->image[i], exact_->physical[i]);
  tkCalibrateLineScanCameraParams zeroDistance;
  zeroDistance.useDistanceFromCameraToTarget(true);
  const std::vector<tkVector<2>> coincident(exact_->image.size(), tkVector<2>(1.0, 2.0));

  double rms = -1.0, largest = -1.0;
  tk2XformCalib2 calibrated;
  const tk2XformCalib2 untouched;
  const tkCalibrateLineScanCameraParams defaults;
  using Defs = tkCalibrateLineScanCameraDefs;
  EXPECT_TRUE(ThrowsWithMessage<Defs::BadParams>(
      [&] {
        tfCalibrateLineScanCamera(exact_->image, exact_->physical, zeroDistance, rms, largest,
                                  calibrated);
      },
      L"params.useDistanceFromCameraToTarget() && params.distanceFromCameraToTarget() == 0"));
  EXPECT_TRUE(ThrowsWithMessage<Defs::BadParams>(
      [&] {
        tfCalibrateLineScanCamera(exact_->image, shortList, defaults, rms, largest, calibrated);
      },
      L"imagePoints.size() != physicalPoints.size()"));
  EXPECT_TRUE(ThrowsWithMessage<Defs::InsufficientPoints>(
      [&] { tfCalibrateLineScanCamera(threePairs, defaults, rms, largest, calibrated); },
      L"imagePoints.size() < 4"));
  EXPECT_THROW(
      tfCalibrateLineScanCamera(exact_->image, coincident, defaults, rms, largest, calibrated),
      tkMathError::Singular);
  EXPECT_EQ(rms, -1.0);
  EXPECT_EQ(largest, -1.0);
  EXPECT_TRUE(calibrated == untouched);
}

TEST_F(LineScanCalibration, AbortRequestEndsTheRefinement) {
  tkAbortToken token;
  token.requestAbort();
  const tkAttentionScope scope(token);
  double rms = -1.0, largest = -1.0;
  tk2XformCalib2 calibrated;
  EXPECT_THROW(
      tfCalibrateLineScanCamera(exact_->image, exact_->physical, tkCalibrateLineScanCameraParams(),
                                rms, largest, calibrated),
      tkAttention::Aborted);
  EXPECT_EQ(rms, -1.0);
}

TEST_F(LineScanCalibration, AlignedModeIsTheAlignmentOfTheClientFrame) {
  double rms0 = 0, max0 = 0, rms1 = 0, max1 = 0;
  tk2XformCalib2 plain, aligned;
  tfCalibrateLineScanCamera(exact_->image, exact_->physical,
                            withDistance(tkCalibrateLineScanCameraDefs::eNoYAxisAdjustment), rms0,
                            max0, plain);
  tfCalibrateLineScanCamera(exact_->image, exact_->physical,
                            withDistance(tkCalibrateLineScanCameraDefs::eAlignYAxisToScannerMotion),
                            rms1, max1, aligned);
  EXPECT_EQ(rms1, rms0) << "the figures do not change";
  EXPECT_EQ(max1, max0);

  tk2XformCalib2 alignedAfterwards = plain;
  tfAlignClientCoordinatesToScannerMotion(alignedAfterwards);
  EXPECT_TRUE(alignedAfterwards == aligned);

  // Every image point maps to the turned plate point: A·P, A the turn about Z taking the
  // in-plate motion onto +Y.
  const cmath_vect3& M = lineScanOf(plain).camera.scannerMotion;
  const double theta = std::atan2(M.x, M.y), c = std::cos(theta), s = std::sin(theta);
  for (double u = 100.0; u <= 4000.0; u += 300.0) {
    for (double v = 50.0; v <= 2500.0; v += 350.0) {
      const tkVector<2> P = plain.mapPoint(tkVector<2>(u, v));
      const tkVector<2> turned(c * P.x() - s * P.y(), s * P.x() + c * P.y());
      ASSERT_LT((aligned.mapPoint(tkVector<2>(u, v)) - turned).length(), 1e-9) << u << ", " << v;
    }
  }
  EXPECT_EQ(lineScanOf(aligned).camera.scannerMotion.x, 0.0);
  EXPECT_GT(lineScanOf(aligned).camera.scannerMotion.y, 0.0);

  tk2XformCalib2 twice = aligned;
  tfAlignClientCoordinatesToScannerMotion(twice);
  EXPECT_TRUE(twice == aligned);
}

TEST_F(LineScanCalibration, AlignmentNeedsALineScanTransform) {
  tk2XformCalib2 areaScan;
  const tk2XformCalib2 before = areaScan;
  try {
    tfAlignClientCoordinatesToScannerMotion(areaScan);
    FAIL() << "an area-scan transform was aligned";
  } catch (const tkProcedureFailure& e) {
    EXPECT_EQ(static_cast<uint32_t>(e.errorNumber()), 0x80001004u);
  }
  EXPECT_TRUE(areaScan == before);

  // A camera that moves only along Z has no in-plate motion to align to.
  clnsc_xformLineScan vertical;
  clnsc_xformLineScan_construct(&vertical);
  vertical.camera.scannerMotion = {0.0, 0.0, 1.0};
  ccal_xformCalib2 record;
  ccal_xformCalib2_construct(&record);
  ASSERT_EQ(ccal_setFromLineScanTransform(&record, &vertical), 0);
  tk2XformCalib2 xform(record);
  ccal_xformCalib2_destruct(&record);
  EXPECT_THROW(tfAlignClientCoordinatesToScannerMotion(xform), tkMathError::Singular);
}

TEST_F(LineScanCalibration, DocumentedWorkedExample) {
  // The numbers of docs/line-scan.md, "Worked example".
  const auto near = [](const tkVector<2>& actual, double x, double y) {
    return (actual - tkVector<2>(x, y)).length() < 1e-6;
  };
  tkCalibrateLineScanCameraParams params;
  double rms = 0, largest = 0;
  tk2XformCalib2 camera;
  tfCalibrateLineScanCamera(exact_->image, exact_->physical, params, rms, largest, camera);
  EXPECT_LT(largest, 1e-11);
  const clnsc_lineScanCameraUnconstrainedCalibrationParams fitted = lineScanOf(camera).camera;
  EXPECT_NEAR(fitted.lens.offset, 2048.0, 1e-9);
  EXPECT_NEAR(fitted.lens.scale, 7800.0, 1e-7);
  EXPECT_TRUE(VectorsNear(cameraCentre(fitted), tkVector<3>(22.3614, -4.8169, 186.6716), 1e-4));
  EXPECT_NEAR(fitted.scannerMotion.x, -0.000446782, 1e-9);
  EXPECT_NEAR(fitted.scannerMotion.y, 0.0255961, 1e-7);
  EXPECT_TRUE(near(camera.invMapPoint(tkVector<2>(50, 30)), 2118.400454, 1283.170786));
  EXPECT_TRUE(near(camera.mapPoint(tkVector<2>(2048, 1000)), 48.409532, 22.631869));

  params.useDistanceFromCameraToTarget(true);
  params.distanceFromCameraToTarget(150.0);
  tfCalibrateLineScanCamera(exact_->image, exact_->physical, params, rms, largest, camera);
  const clnsc_lineScanCameraUnconstrainedCalibrationParams nearer = lineScanOf(camera).camera;
  EXPECT_NEAR(nearer.lens.scale, 6222.474787, 1e-6);
  EXPECT_NEAR(nearer.lens.k1, -0.0763692, 1e-7);
  EXPECT_NEAR(nearer.lens.k2, 0.0202509, 1e-7);
  EXPECT_TRUE(VectorsNear(cameraCentre(nearer), tkVector<3>(31.8721, -4.1519, 150.0), 1e-4));
  EXPECT_TRUE(near(camera.invMapPoint(tkVector<2>(50, 30)), 2118.400454, 1283.170786));
  EXPECT_TRUE(near(camera.mapPoint(tkVector<2>(2048, 1000)), 48.409532, 22.631869));

  params.calibrationYAxisAdjustmentMode(tkCalibrateLineScanCameraDefs::eAlignYAxisToScannerMotion);
  tfCalibrateLineScanCamera(exact_->image, exact_->physical, params, rms, largest, camera);
  const cmath_vect3& M = fitted.scannerMotion;
  EXPECT_NEAR(std::atan2(M.x, M.y) * 180.0 / std::acos(-1.0), -1.0, 1e-9);
  EXPECT_NEAR(lineScanOf(camera).camera.scannerMotion.y, 0.0256, 1e-10);
  EXPECT_TRUE(near(camera.mapPoint(tkVector<2>(2048, 1000)), 48.797140, 21.783559));
  EXPECT_TRUE(near(camera.invMapPoint(tkVector<2>(50, 30)), 2097.286792, 1318.492256));

  const tk2XformLineScan xform(exact_->image, exact_->physical);
  const tk2XformLinear linear = xform.linearXform(tkVector<2>(50, 30));
  EXPECT_TRUE(
      MatricesNear(linear.matrix(), tkMatrix<2>(40.899035, 0.713895, -2.728602, 39.020822), 1e-6));
  EXPECT_TRUE(VectorsNear(linear.trans(), tkVector<2>(52.031829, 248.976199), 1e-6));
}

}  // namespace
