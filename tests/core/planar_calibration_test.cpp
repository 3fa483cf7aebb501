// Planar multi-view calibration (tk2XformCalib2::init from plate views) against the ground truth
// of the synthetic data sets, against the noise level of the noisy sets and against OpenCV on
// real corners. Bad input and abort requests: see tests/reliability.
#include <gtest/gtest.h>
#include <tk/xform_calib2.h>

#include "platform/core/calib2/planar_calibration.h"
#include "support/area_scan_truth.h"
#include "support/data_sets.h"
#include "support/geometry_expect.h"

#include <cmath>

namespace {

using Defs = tk2XformCalib2Defs;
using Views = std::vector<std::vector<tkPair<tkVector<2>>>>;

// RMS of cv2.calibrateCamera with one radial coefficient (k2, k3 and tangential terms fixed at
// 0) on data/opencv-left.json; see docs/opencv-reference.md.
constexpr double kOpenCvLeftRms = 0.4208310186;

struct DataSet {
  Views views;
  tkAreaScanTruth truth;
  tkXform<3> cameraFromPlate(std::size_t view) const {
    return truth.cameras[0].worldToCamera * truth.plateToWorld[view];
  }
  double focal() const { return truth.cameras[0].imageFromDistorted().matrix().element(0, 0); }
};

DataSet load(const std::string& name) {
  const tkPointFile file = loadDataSet(name);
  return {tfPlateViews(file, 0), tfParseAreaScanTruth(file)};
}

double relativeError(double actual, double expected) {
  return std::abs(actual - expected) / std::max(std::abs(expected), 1e-300);
}

// Calibrates views under model; the overall RMS (pixels) over all points from the per-view ones.
double calibrate(const Views& views, Defs::tkCalib2DistortionModel model, tk2XformCalib2& xform) {
  std::vector<double> rms, largest;
  xform.init(views, rms, largest, model);
  double sum = 0.0, count = 0.0;
  for (std::size_t v = 0; v < views.size(); ++v) {
    EXPECT_GE(largest[v], rms[v]);
    sum += rms[v] * rms[v] * static_cast<double>(views[v].size());
    count += static_cast<double>(views[v].size());
  }
  return std::sqrt(sum / count);
}

}  // namespace

// ---- exact synthetic data: the fully determined models recover every value ------------------

class PlanarCalibrationExact : public ::testing::TestWithParam<const char*> {};

TEST_P(PlanarCalibrationExact, RecoversCameraLensAndEveryPose) {
  const DataSet data = load(GetParam());
  const tkAreaScanCameraTruth& truth = data.truth.cameras[0];
  const bool radial = truth.distModel == "eRadial";
  const tk_PlanarCalibration result =
      tk_calibratePlanar(data.views, radial ? CCAL_DISTORTION_RADIAL : CCAL_DISTORTION_NONE);
  const tkXform<2> K = truth.imageFromDistorted();
  EXPECT_LT(relativeError(result.camera.scaleX, K.matrix().element(0, 0)), 1e-9);
  EXPECT_LT(relativeError(result.camera.scaleY, K.matrix().element(1, 1)), 1e-9);
  EXPECT_LT(std::abs(result.camera.skew), 1e-8) << "the true skew is 0";
  EXPECT_LT(relativeError(result.camera.transX, K.trans().x()), 1e-9);
  EXPECT_LT(relativeError(result.camera.transY, K.trans().y()), 1e-9);
  if (radial) {
    EXPECT_LT(relativeError(result.camera.lens[0], truth.lensDistParams[0]), 1e-8);
    EXPECT_LT(relativeError(result.camera.centreX, truth.centerOfExpansion.x()), 1e-8);
    EXPECT_LT(relativeError(result.camera.centreY, truth.centerOfExpansion.y()), 1e-8);
  }
  ASSERT_EQ(result.cameraFromPlate.size(), data.views.size());
  for (std::size_t v = 0; v < data.views.size(); ++v) {
    EXPECT_TRUE(PosesNearRelative(result.cameraFromPlate[v], data.cameraFromPlate(v), 1e-10, 1e-9))
        << "view " << v;
    // The points carry 9 decimals: the residual is their rounding.
    EXPECT_LT(result.rmsPerView[v], 1e-9) << "view " << v;
    EXPECT_LT(result.largestPerView[v], 2e-9) << "view " << v;
  }
}

INSTANTIATE_TEST_SUITE_P(RadialAndNone, PlanarCalibrationExact,
                         ::testing::Values("single-radial-exact.json", "single-none-exact.json"));

// Sine-tangent lens values are not unique (see docs/planar-calibration.md): judge the mapping
// image -> position at Z = 1 over the field, the effective focal length, the image of the
// optical axis, the poses and the residual.
TEST(PlanarCalibrationExactSineTan, ReproducesTheTrueMappingAndPoses) {
  const DataSet data = load("single-sinetan-exact.json");
  const tkAreaScanCameraTruth& truth = data.truth.cameras[0];
  tk2XformCalib2 xform;
  EXPECT_LT(calibrate(data.views, Defs::eSineTan, xform), 1e-7);
  const tkCalib2ParamsIntrinsic trueIntrinsic = truth.intrinsic();
  const tkCalib2ParamsIntrinsic found = xform.intrinsicParams();
  ASSERT_EQ(found.distortionParams().size(), 6u);
  double worst = 0.0;
  for (const auto& view : data.views)
    for (const auto& pair : view) {
      const tkVector<2> q = found.invMapPoint(pair.first);
      worst = std::max(worst, (q - trueIntrinsic.invMapPoint(pair.first)).length() * data.focal());
    }
  EXPECT_LT(worst, 1e-5) << "largest mapping difference over the data, in pixels";
  const std::vector<double>& p = found.distortionParams();
  const std::vector<double>& t = truth.lensDistParams;
  EXPECT_LT(relativeError(found.scale().x() * (p[0] / p[1] + p[2] / p[3]),
                          data.focal() * (t[0] / t[1] + t[2] / t[3])),
            1e-8);
  EXPECT_TRUE(
      VectorsNear(found.mapPoint(tkVector<2>()), trueIntrinsic.mapPoint(tkVector<2>()), 1e-6));
  EXPECT_TRUE(PosesNearRelative(xform.extrinsicXform(), data.cameraFromPlate(0), 1e-9, 1e-8));
}

// ---- few views: the closed form falls back, the refinement holds what is unobservable -------

TEST(PlanarCalibrationFewViews, TwoViewsGiveAZeroSkewCameraAndOneASquarePixelCentredOne) {
  DataSet data = load("single-none-exact.json");
  // Two tilted views (the first three plates are parallel, which determines nothing).
  const tk_PlanarCalibration two =
      tk_calibratePlanar({data.views[3], data.views[4]}, CCAL_DISTORTION_NONE);
  const tkXform<2> K = data.truth.cameras[0].imageFromDistorted();
  EXPECT_EQ(two.camera.skew, 0.0);
  EXPECT_LT(relativeError(two.camera.scaleX, K.matrix().element(0, 0)), 1e-8);
  EXPECT_LT(relativeError(two.camera.transY, K.trans().y()), 1e-8);
  for (std::size_t v = 0; v < 2; ++v)
    EXPECT_TRUE(PosesNearRelative(two.cameraFromPlate[v], data.cameraFromPlate(v + 3), 1e-8, 1e-8));

  data = load("single-radial-noisy.json");
  const Views one = {data.views[4]};  // a tilted arbitrary view
  tk2XformCalib2 xform;
  EXPECT_LT(calibrate(one, Defs::eRadial, xform), 0.2) << "noise of 0.1 px per coordinate";
  const tkCalib2ParamsIntrinsic intrinsic = xform.intrinsicParams();
  EXPECT_EQ(intrinsic.scale().x(), intrinsic.scale().y());
  EXPECT_EQ(intrinsic.skew(), 0.0);
  tkVector<2> centroid;
  for (const auto& pair : one[0])
    centroid += pair.first / static_cast<double>(one[0].size());
  EXPECT_TRUE(VectorsNear(intrinsic.translation(), centroid, 1e-9));
  // The focal length is determined by the tilt of the plate (within a few percent here).
  EXPECT_LT(relativeError(intrinsic.scale().x(), data.focal()), 0.05);
}

// ---- noisy data: the residual is what the noise explains -------------------------------------

class PlanarCalibrationNoisy
    : public ::testing::TestWithParam<std::pair<const char*, Defs::tkCalib2DistortionModel>> {};

TEST_P(PlanarCalibrationNoisy, RmsMatchesTheNoiseLevel) {
  const DataSet data = load(GetParam().first);
  tk2XformCalib2 xform;
  const double rms = calibrate(data.views, GetParam().second, xform);
  double nPoints = 0.0;
  for (const auto& view : data.views)
    nPoints += static_cast<double>(view.size());
  const double lensValues = GetParam().second == Defs::eRadial    ? 3.0
                            : GetParam().second == Defs::eSineTan ? 5.0
                                                                  : 0.0;
  const double parameters = 5.0 + lensValues + 6.0 * static_cast<double>(data.views.size());
  const double expected =
      data.truth.noiseSigmaPx * std::sqrt(2.0) * std::sqrt(1.0 - parameters / (2.0 * nPoints));
  EXPECT_NEAR(rms, expected, 0.03 * expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryModel, PlanarCalibrationNoisy,
    ::testing::Values(std::make_pair("single-radial-noisy.json", Defs::eRadial),
                      std::make_pair("single-none-noisy.json", Defs::eNoDistortion),
                      std::make_pair("single-sinetan-noisy.json", Defs::eSineTan)));

TEST(PlanarCalibrationReal, RadialModelFitsOpenCvCornersAtLeastAsWellAsOpenCv) {
  tk2XformCalib2 xform;
  const double rms =
      calibrate(tfPlateViews(loadDataSet("opencv-left.json"), 0), Defs::eRadial, xform);
  EXPECT_LE(rms, kOpenCvLeftRms);
  EXPECT_GT(rms, 0.9 * kOpenCvLeftRms) << "suspiciously far below OpenCV";
}
