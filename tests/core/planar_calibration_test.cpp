// Planar multi-view calibration (tk2XformCalib2::init from plate views) against the ground truth
// of the synthetic data sets, against the noise level of the noisy sets and against OpenCV on
// real corners.
#include <gtest/gtest.h>
#include <tk/attention.h>
#include <tk/exception.h>
#include <tk/xform_calib2.h>

#include "platform/core/calib2/planar_calibration.h"
#include "support/area_scan_truth.h"
#include "support/data_sets.h"
#include "support/geometry_expect.h"

#include <cmath>
#include <limits>

namespace {

using Defs = tk2XformCalib2Defs;
using Views = std::vector<std::vector<tkPair<tkVector<2>>>>;

// RMS of cv2.calibrateCamera with one radial coefficient (k2, k3 and tangential terms fixed at
// 0) on data/opencv-left.json; see docs/opencv-reference.md.
constexpr double kOpenCvLeftRms = 0.4208310186;

struct DataSet {
  Views views;
  tkAreaScanTruth truth;
};

DataSet load(const std::string& name) {
  const tkPointFile file = loadDataSet(name);
  return {tfPlateViews(file, 0), tfParseAreaScanTruth(file)};
}

tkXform<3> trueCameraFromPlate(const tkAreaScanTruth& truth, std::size_t view) {
  return truth.cameras[0].worldToCamera * truth.plateToWorld[view];
}

double relativeError(double actual, double expected) {
  return std::abs(actual - expected) / std::max(std::abs(expected), 1e-300);
}

// Overall RMS (pixels) over all points from the per-view figures.
double overallRms(const Views& views, const std::vector<double>& rmsPerView) {
  double sum = 0.0, count = 0.0;
  for (std::size_t v = 0; v < views.size(); ++v) {
    sum += rmsPerView[v] * rmsPerView[v] * static_cast<double>(views[v].size());
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
    EXPECT_TRUE(PosesNearRelative(result.cameraFromPlate[v], trueCameraFromPlate(data.truth, v),
                                  1e-10, 1e-9))
        << "view " << v;
    // The points carry 9 decimals: the residual is their rounding.
    EXPECT_LT(result.rmsPerView[v], 1e-9) << "view " << v;
    EXPECT_LT(result.largestPerView[v], 2e-9) << "view " << v;
  }
}

INSTANTIATE_TEST_SUITE_P(RadialAndNone, PlanarCalibrationExact,
                         ::testing::Values("single-radial-exact.json", "single-none-exact.json"));

// Sine-tangent lens values are not unique (see docs/planar-calibration.md): judge the mapping
// image -> position at Z = 1 over the field, the poses and the residual.
TEST(PlanarCalibrationExactSineTan, ReproducesTheTrueMappingAndPoses) {
  const DataSet data = load("single-sinetan-exact.json");
  const tkAreaScanCameraTruth& truth = data.truth.cameras[0];
  Defs::tkCalib2DistortionModel model = Defs::eSineTan;
  tk2XformCalib2 xform;
  std::vector<double> rms, largest;
  xform.init(data.views, rms, largest, model);

  const tkXform<2> K = truth.imageFromDistorted();
  const tkCalib2ParamsIntrinsic trueIntrinsic = truth.intrinsic();
  const tkCalib2ParamsIntrinsic found = xform.intrinsicParams();
  ASSERT_EQ(found.distortionParams().size(), 6u);
  const double focal = K.matrix().element(0, 0);
  double worst = 0.0;
  for (const auto& view : data.views)
    for (const auto& pair : view) {
      const tkVector<2> q = found.invMapPoint(pair.first);
      worst = std::max(worst, (q - trueIntrinsic.invMapPoint(pair.first)).length() * focal);
    }
  EXPECT_LT(worst, 1e-5) << "largest mapping difference over the data, in pixels";
  EXPECT_LT(overallRms(data.views, rms), 1e-7);
  // The effective focal length K.scale * (p0/p1 + p2/p3) and the image of the optical axis.
  const std::vector<double>& p = found.distortionParams();
  const std::vector<double>& t = truth.lensDistParams;
  EXPECT_LT(relativeError(found.scale().x() * (p[0] / p[1] + p[2] / p[3]),
                          focal * (t[0] / t[1] + t[2] / t[3])),
            1e-8);
  EXPECT_TRUE(
      VectorsNear(found.mapPoint(tkVector<2>()), trueIntrinsic.mapPoint(tkVector<2>()), 1e-6));
  EXPECT_TRUE(
      PosesNearRelative(xform.extrinsicXform(), trueCameraFromPlate(data.truth, 0), 1e-9, 1e-8));
}

// ---- few views: the closed form falls back, the refinement holds what is unobservable -------

TEST(PlanarCalibrationFewViews, TwoViewsRecoverAZeroSkewCamera) {
  DataSet data = load("single-none-exact.json");
  // Two tilted views (the first three plates are parallel, which determines nothing).
  data.views = {data.views[3], data.views[4]};
  data.truth.plateToWorld = {data.truth.plateToWorld[3], data.truth.plateToWorld[4]};
  const tk_PlanarCalibration result = tk_calibratePlanar(data.views, CCAL_DISTORTION_NONE);
  const tkXform<2> K = data.truth.cameras[0].imageFromDistorted();
  EXPECT_EQ(result.camera.skew, 0.0);
  EXPECT_LT(relativeError(result.camera.scaleX, K.matrix().element(0, 0)), 1e-8);
  EXPECT_LT(relativeError(result.camera.transY, K.trans().y()), 1e-8);
  for (std::size_t v = 0; v < 2; ++v)
    EXPECT_TRUE(PosesNearRelative(result.cameraFromPlate[v], trueCameraFromPlate(data.truth, v),
                                  1e-8, 1e-8));
}

TEST(PlanarCalibrationFewViews, OneViewGivesASquarePixelCameraCentredOnTheImagePoints) {
  DataSet data = load("single-radial-noisy.json");
  data.views.erase(data.views.begin(), data.views.begin() + 4);  // a tilted arbitrary view
  data.views.resize(1);
  tk2XformCalib2 xform;
  std::vector<double> rms, largest;
  xform.init(data.views, rms, largest, Defs::eRadial);
  const tkCalib2ParamsIntrinsic intrinsic = xform.intrinsicParams();
  EXPECT_EQ(intrinsic.scale().x(), intrinsic.scale().y());
  EXPECT_EQ(intrinsic.skew(), 0.0);
  tkVector<2> centroid;
  for (const auto& pair : data.views[0])
    centroid += pair.first / static_cast<double>(data.views[0].size());
  EXPECT_TRUE(VectorsNear(intrinsic.translation(), centroid, 1e-9));
  // The focal length is determined by the tilt of the plate (within a few percent here).
  const double trueFocal = data.truth.cameras[0].imageFromDistorted().matrix().element(0, 0);
  EXPECT_LT(relativeError(intrinsic.scale().x(), trueFocal), 0.05);
  ASSERT_EQ(rms.size(), 1u);
  EXPECT_LT(rms[0], 0.2) << "noise of 0.1 px per coordinate";
}

// ---- noisy data: the residual is what the noise explains -------------------------------------

class PlanarCalibrationNoisy
    : public ::testing::TestWithParam<std::pair<const char*, Defs::tkCalib2DistortionModel>> {};

TEST_P(PlanarCalibrationNoisy, RmsMatchesTheNoiseLevel) {
  const DataSet data = load(GetParam().first);
  tk2XformCalib2 xform;
  std::vector<double> rms, largest;
  xform.init(data.views, rms, largest, GetParam().second);
  double nPoints = 0.0;
  for (const auto& view : data.views)
    nPoints += static_cast<double>(view.size());
  const double lensValues = GetParam().second == Defs::eRadial    ? 3.0
                            : GetParam().second == Defs::eSineTan ? 5.0
                                                                  : 0.0;
  const double parameters = 5.0 + lensValues + 6.0 * static_cast<double>(data.views.size());
  const double expected =
      data.truth.noiseSigmaPx * std::sqrt(2.0) * std::sqrt(1.0 - parameters / (2.0 * nPoints));
  EXPECT_NEAR(overallRms(data.views, rms), expected, 0.03 * expected);
  for (std::size_t v = 0; v < rms.size(); ++v)
    EXPECT_GE(largest[v], rms[v]);
}

INSTANTIATE_TEST_SUITE_P(
    EveryModel, PlanarCalibrationNoisy,
    ::testing::Values(std::make_pair("single-radial-noisy.json", Defs::eRadial),
                      std::make_pair("single-none-noisy.json", Defs::eNoDistortion),
                      std::make_pair("single-sinetan-noisy.json", Defs::eSineTan)));

// ---- real corners: at least as good as OpenCV with one radial coefficient --------------------

TEST(PlanarCalibrationReal, RadialModelFitsOpenCvCornersAtLeastAsWellAsOpenCv) {
  const Views views = tfPlateViews(loadDataSet("opencv-left.json"), 0);
  tk2XformCalib2 xform;
  std::vector<double> rms, largest;
  xform.init(views, rms, largest, Defs::eRadial);
  EXPECT_LE(overallRms(views, rms), kOpenCvLeftRms);
  EXPECT_GT(overallRms(views, rms), 0.9 * kOpenCvLeftRms) << "suspiciously far below OpenCV";
}

// ---- bad input: typed exceptions, nothing written --------------------------------------------

class PlanarCalibrationRejects : public ::testing::Test {
 protected:
  void SetUp() override {
    views = load("single-none-exact.json").views;
    views.resize(3);
    xform.init(tkCalib2ParamsIntrinsic(), tkCalib2ParamsExtrinsic());
  }
  template <typename Exception>
  void expectRejected(const Views& input, Defs::tkCalib2DistortionModel model) {
    std::vector<double> rms = {7.0}, largest = {8.0};
    const tk2XformCalib2 before = xform;
    EXPECT_THROW(xform.init(input, rms, largest, model), Exception);
    EXPECT_TRUE(xform == before) << "the transform changed";
    EXPECT_EQ(rms, std::vector<double>{7.0});
    EXPECT_EQ(largest, std::vector<double>{8.0});
  }
  Views views;
  tk2XformCalib2 xform;
};

TEST_F(PlanarCalibrationRejects, CountsModelsAndNonFiniteValues) {
  expectRejected<tkInvariantFailure>(Views(), Defs::eRadial);
  Views tooFew = views;
  tooFew[1].resize(3);
  expectRejected<tkInvariantFailure>(tooFew, Defs::eRadial);
  expectRejected<tkInvariantFailure>(views, Defs::eTelecentric);
  Views notFinite = views;
  notFinite[2][5].first = tkVector<2>(std::numeric_limits<double>::quiet_NaN(), 1.0);
  expectRejected<tkInvariantFailure>(notFinite, Defs::eNoDistortion);
  // One view of 4 points: 8 coordinates for 1 + 3 + 6 unknowns under the radial model.
  Views tiny = {{views[0][0], views[0][1], views[0][20], views[0][21]}};
  expectRejected<tkInvariantFailure>(tiny, Defs::eRadial);
}

TEST_F(PlanarCalibrationRejects, AnAbortRequestStopsTheRefinement) {
  tkAbortToken token;
  token.requestAbort();
  const tkAttentionScope scope(token);
  expectRejected<tkAttention::Aborted>(views, Defs::eRadial);
}

TEST_F(PlanarCalibrationRejects, CollinearPlateOrImagePoints) {
  Views collinear = views;
  for (auto& pair : collinear[1])
    pair.second = tkVector<2>(pair.second.x(), 2.0 * pair.second.x() + 1.0);
  expectRejected<tkMathError::Singular>(collinear, Defs::eRadial);
  Views sameImage = views;
  for (auto& pair : sameImage[0])
    pair.first = tkVector<2>(pair.first.x(), 400.0);
  expectRejected<tkMathError::Singular>(sameImage, Defs::eNoDistortion);
}
