// The single-camera calibration driver on the synthetic single-camera data sets (plate points
// mapped into the world frame with the sets' ground-truth placement poses) and on generated
// scenes: recovery of the ground truth, agreement with the noise, repeatability, progress and
// abort.
#include <ccal/camera_calibration_coarse.h>
#include <ccal/camera_calibration_refine.h>
#include <ccal/single_camera_calibration.h>
#include <gtest/gtest.h>
#include <tk/attention.h>
#include <tk/exception.h>
#include <tk/progress.h>

#include "ccal/single/camera_param_packing.h"
#include "ccal/single/camera_projection.h"
#include "support/single_camera_data.h"
#include "support/single_camera_scene.h"

#include <Eigen/Dense>

#include <cmath>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

tkCameraCalibrationParams Calibrate(const SingleCameraDataSet& set, bool withPlateViews = true) {
  tkCameraCalibrationParams result;
  tfComputeCalibrationSingleCamera_internal(
      set.truth.physicalAtZEquals1FromImageParams().distModel(), set.correspondences,
      withPlateViews ? set.plateViews : std::vector<std::vector<tkCrspPairWeighted>>(),
      set.platePoses, result);
  return result;
}

// One driver run per data set, shared by the tests that judge it.
struct DriverRun {
  SingleCameraDataSet set;
  tkCameraCalibrationParams result;
};
const DriverRun& Calibrated(const std::string& fileName) {
  static std::map<std::string, DriverRun> runs;
  auto found = runs.find(fileName);
  if (found == runs.end()) {
    DriverRun run{LoadSingleCameraDataSet(fileName), {}};
    run.result = Calibrate(run.set);
    found = runs.emplace(fileName, run).first;
  }
  return found->second;
}

::testing::AssertionResult RelativelyNear(double actual, double expected, double tol) {
  if (std::fabs(actual - expected) <= tol * std::fabs(expected))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " vs expected " << expected << " (relative "
                                       << (actual - expected) / expected << ", tol " << tol << ")";
}

::testing::AssertionResult PosesNear(const tk3QuaternionXform& actual,
                                     const tk3QuaternionXform& expected, double tol) {
  const tkXform<3> a = actual.xform(), e = expected.xform();
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      if (!(std::fabs(a.matrix().element(r, c) - e.matrix().element(r, c)) <= tol))
        return ::testing::AssertionFailure() << "rotation element (" << r << ", " << c << ")";
  const double error = (a.trans() - e.trans()).length();
  if (!(error <= tol * e.trans().length()))
    return ::testing::AssertionFailure() << "translation off by " << error;
  return ::testing::AssertionSuccess();
}

// ---- exact data ---------------------------------------------------------------------------------

class DriverOnExactSet : public ::testing::TestWithParam<const char*> {};

// eRadial and eNoDistortion are fully determined by the data: every parameter comes back.
TEST_P(DriverOnExactSet, RecoversTheGroundTruth) {
  const DriverRun& run = Calibrated(GetParam());
  const tkPhysicalAtZEquals1FromImageParams& got = run.result.physicalAtZEquals1FromImageParams();
  const tkPhysicalAtZEquals1FromImageParams& truth =
      run.set.truth.physicalAtZEquals1FromImageParams();
  const double tol = 1e-7;
  EXPECT_TRUE(RelativelyNear(got.cameraScale().first, truth.cameraScale().first, tol));
  EXPECT_TRUE(RelativelyNear(got.cameraScale().second, truth.cameraScale().second, tol));
  EXPECT_NEAR(got.cameraSkew(), truth.cameraSkew(), tol * truth.cameraScale().first);
  EXPECT_TRUE(RelativelyNear(got.cameraTranslation().x(), truth.cameraTranslation().x(), tol));
  EXPECT_TRUE(RelativelyNear(got.cameraTranslation().y(), truth.cameraTranslation().y(), tol));
  // The centre lies near the axis (|c| ~ 1e-3 in the normalised plane): compared absolutely.
  EXPECT_NEAR(got.centerOfExpansion().x(), truth.centerOfExpansion().x(), tol);
  EXPECT_NEAR(got.centerOfExpansion().y(), truth.centerOfExpansion().y(), tol);
  ASSERT_EQ(got.lensDistParams().size(), truth.lensDistParams().size());
  for (std::size_t i = 0; i < got.lensDistParams().size(); ++i)
    EXPECT_TRUE(RelativelyNear(got.lensDistParams()[i], truth.lensDistParams()[i], tol));
  EXPECT_TRUE(PosesNear(run.result.cameraPoseInverse(), run.set.truth.cameraPoseInverse(), tol));
}

INSTANTIATE_TEST_SUITE_P(DataSets, DriverOnExactSet,
                         ::testing::Values("single-radial-exact.json", "single-none-exact.json"));

// The sine-tangent lens values are nearly redundant (testing-notes.md): the model is judged by
// what it does over the data's field.
TEST(DriverOnSineTanSet, ExactSetReproducesTheMappingFocalLengthAxisAndPose) {
  const DriverRun& run = Calibrated("single-sinetan-exact.json");
  const tkPhysicalAtZEquals1FromImageParams& got = run.result.physicalAtZEquals1FromImageParams();
  const tkPhysicalAtZEquals1FromImageParams& truth =
      run.set.truth.physicalAtZEquals1FromImageParams();
  double largest = 0.0;
  for (const auto& c : run.set.correspondences)
    largest = std::fmax(largest,
                        (got.warpPoint(c.first.first) - truth.warpPoint(c.first.first)).length());
  EXPECT_LT(largest, 1e-8) << "image -> position at Z = 1 over the field";
  const auto focal = [](const tkPhysicalAtZEquals1FromImageParams& m, double scale) {
    const std::vector<double>& p = m.lensDistParams();
    return (p[0] / p[1] + p[2] / p[3]) / scale;
  };
  EXPECT_TRUE(RelativelyNear(focal(got, got.cameraScale().first),
                             focal(truth, truth.cameraScale().first), 1e-7));
  EXPECT_TRUE(RelativelyNear(focal(got, got.cameraScale().second),
                             focal(truth, truth.cameraScale().second), 1e-7));
  const tkVector<2> axis = got.invWarpPoint(tkVector<2>(0.0, 0.0));
  const tkVector<2> trueAxis = truth.invWarpPoint(tkVector<2>(0.0, 0.0));
  EXPECT_LT((axis - trueAxis).length(), 1e-4) << "image of the optical axis, pixels";
  EXPECT_TRUE(PosesNear(run.result.cameraPoseInverse(), run.set.truth.cameraPoseInverse(), 1e-7));
}

// ---- noisy data ---------------------------------------------------------------------------------

// The best achievable RMS per point for N points and p free parameters is about σ·√2·√(1 − p/(2N)).
double ExpectedRms(const SingleCameraDataSet& set, int parameters) {
  const double points = static_cast<double>(set.correspondences.size());
  return set.noiseSigmaPx * std::sqrt(2.0) * std::sqrt(1.0 - parameters / (2.0 * points));
}

class DriverOnNoisySet : public ::testing::TestWithParam<const char*> {};

TEST_P(DriverOnNoisySet, RmsIsWhatTheNoiseExplains) {
  const DriverRun& run = Calibrated(GetParam());
  const Model model = run.set.truth.physicalAtZEquals1FromImageParams().distModel();
  const double rms = tfWeightedRmsError(run.result, run.set.correspondences);
  // One noise draw strays by about ±1 % from the expectation.
  EXPECT_NEAR(rms, ExpectedRms(run.set, tfCameraParamCount(model)),
              0.02 * ExpectedRms(run.set, tfCameraParamCount(model)));
  EXPECT_LE(rms, tfWeightedRmsError(run.set.truth, run.set.correspondences))
      << "the fit explains the data no worse than the model that made them";
}

INSTANTIATE_TEST_SUITE_P(DataSets, DriverOnNoisySet,
                         ::testing::Values("single-radial-noisy.json", "single-none-noisy.json",
                                           "single-sinetan-noisy.json"));

// Standard errors from the image residuals' Jacobian at the result: each parameter of the camera
// block (pixels and world units; the rotation through the three quaternion values of the truth's
// held component) lies within four standard errors of the truth.
class DriverParameters : public ::testing::TestWithParam<const char*> {};

TEST_P(DriverParameters, LieWithinAFewStandardErrorsOfTheTruth) {
  const DriverRun& run = Calibrated(GetParam());
  const Model model = run.set.truth.physicalAtZEquals1FromImageParams().distModel();
  const int n = tfCameraParamCount(model);
  double truth[tk_kMaxCameraParams], result[tk_kMaxCameraParams];
  const int held = tfPackCameraParams(run.set.truth, truth);
  tfPackCameraParams(run.result, result);
  // The result's rotation in the truth's three-value form (a ratio, so the quaternion's sign
  // does not matter).
  const tk3Quaternion& q = run.result.cameraPoseInverse().quat();
  for (int k = 0, slot = 0; k < 4; ++k)
    if (k != held)
      result[tk_kQuatVar1 + slot++] = q[k] / q[held];

  const auto residuals = [&](const double* x) {
    tk_CameraValues values;
    tfUnpackCameraValues(x, held, model, values);
    const tk_CameraProjection projection(values);
    Eigen::VectorXd r(2 * run.set.correspondences.size());
    for (std::size_t i = 0; i < run.set.correspondences.size(); ++i) {
      const auto& c = run.set.correspondences[i];
      const tkVector<2> e = c.first.first - projection.imagePoint(c.first.second);
      r(2 * i) = e.x();
      r(2 * i + 1) = e.y();
    }
    return r;
  };
  const Eigen::VectorXd r0 = residuals(result);
  Eigen::MatrixXd J(r0.size(), n);
  for (int j = 0; j < n; ++j) {
    double plus[tk_kMaxCameraParams], minus[tk_kMaxCameraParams];
    std::copy(result, result + n, plus);
    std::copy(result, result + n, minus);
    const double h = 1e-6 * std::fmax(1e-3, std::fabs(result[j]));
    plus[j] += h;
    minus[j] -= h;
    J.col(j) = (residuals(plus) - residuals(minus)) / (2 * h);
  }
  const double variance = r0.squaredNorm() / static_cast<double>(r0.size() - n);
  const Eigen::MatrixXd covariance = variance * (J.transpose() * J).inverse();
  for (int j = 0; j < n; ++j) {
    const double standardError = std::sqrt(covariance(j, j));
    EXPECT_LE(std::fabs(result[j] - truth[j]), 4.0 * standardError)
        << "parameter " << j << ": " << result[j] << " vs truth " << truth[j] << ", standard error "
        << standardError;
  }
}

INSTANTIATE_TEST_SUITE_P(DataSets, DriverParameters,
                         ::testing::Values("single-radial-noisy.json", "single-none-noisy.json"));

// ---- behaviour ----------------------------------------------------------------------------------

// A generated radial scene of 400 points: more than the 333 of the distortion search, so the
// random subset is exercised, and small enough to run again.
class DriverBehaviour : public ::testing::Test {
 protected:
  void SetUp() override {
    camera_ = scene::Camera(tk2XformCalib2Defs::eRadial);
    data_ = scene::Observe(camera_, 400, 0.2, 11);
  }
  tkCameraCalibrationParams Calibrate(const scene::Correspondences& data,
                                      Model model = tk2XformCalib2Defs::eRadial) const {
    tkCameraCalibrationParams result;
    tfComputeCalibrationSingleCamera_internal(model, data, {}, {}, result);
    return result;
  }
  tkCameraCalibrationParams camera_;
  scene::Correspondences data_;
};

TEST_F(DriverBehaviour, RepeatRunsAreBitIdentical) {
  const tkCameraCalibrationParams first = Calibrate(data_);
  const tkCameraCalibrationParams second = Calibrate(data_);
  double a[tk_kMaxCameraParams], b[tk_kMaxCameraParams];
  tfPackCameraParams(first, a);
  tfPackCameraParams(second, b);
  for (int i = 0; i < tfCameraParamCount(tk2XformCalib2Defs::eRadial); ++i)
    EXPECT_EQ(a[i], b[i]) << "parameter " << i;
  EXPECT_LT(tfWeightedRmsError(first, data_), 0.3);  // the fit is sound (σ = 0.2 px)
}

TEST_F(DriverBehaviour, NoDistortionIsTheCoarseEstimateThenTheFullRefinement) {
  const tkCameraCalibrationParams pinhole = scene::Camera(tk2XformCalib2Defs::eNoDistortion);
  const scene::Correspondences data = scene::Observe(pinhole, 400, 0.2, 12);
  std::vector<std::pair<tkVector<2>, tkVector<3>>> pairs;
  for (const auto& c : data)
    pairs.push_back(c.first);
  // The driver scales the physical frame first; the refinement does not depend on that scale
  // beyond rounding, so compare the images of the points.
  tkCameraCalibrationParams coarse, refined;
  tfCameraCalibrationParamsCoarse(tk2XformCalib2Defs::eNoDistortion, pairs, coarse);
  tfRefineCameraCalibrationParams(data, coarse, refined);
  const tkCameraCalibrationParams driven = Calibrate(data, tk2XformCalib2Defs::eNoDistortion);
  for (const auto& c : data)
    EXPECT_LT((driven.invWarpPoint(c.first.second) - refined.invWarpPoint(c.first.second)).length(),
              1e-6);
  EXPECT_TRUE(driven.physicalAtZEquals1FromImageParams().lensDistParams().empty());
}

TEST_F(DriverBehaviour, ScalingThePhysicalFrameScalesOnlyThePoseTranslation) {
  // The physical scale is set before any model is involved; eNoDistortion keeps this quick.
  const tkCameraCalibrationParams pinhole = scene::Camera(tk2XformCalib2Defs::eNoDistortion);
  const scene::Correspondences data = scene::Observe(pinhole, 400, 0.2, 13);
  scene::Correspondences inches = data;
  for (auto& c : inches)
    c.first.second = c.first.second / 25.4;
  const tkCameraCalibrationParams reference = Calibrate(data, tk2XformCalib2Defs::eNoDistortion);
  const tkCameraCalibrationParams scaled = Calibrate(inches, tk2XformCalib2Defs::eNoDistortion);
  // The driver works in a frame of fixed spread, so both runs solve the same problem up to
  // rounding.
  const tkPhysicalAtZEquals1FromImageParams& a = scaled.physicalAtZEquals1FromImageParams();
  const tkPhysicalAtZEquals1FromImageParams& b = reference.physicalAtZEquals1FromImageParams();
  EXPECT_TRUE(RelativelyNear(a.cameraScale().first, b.cameraScale().first, 1e-9));
  EXPECT_TRUE(RelativelyNear(a.cameraScale().second, b.cameraScale().second, 1e-9));
  EXPECT_TRUE(RelativelyNear(a.cameraTranslation().x(), b.cameraTranslation().x(), 1e-9));
  EXPECT_TRUE(RelativelyNear(a.cameraTranslation().y(), b.cameraTranslation().y(), 1e-9));
  const tk3QuaternionXform unscaled(scaled.cameraPoseInverse().quat(),
                                    scaled.cameraPoseInverse().trans() * 25.4);
  EXPECT_TRUE(PosesNear(unscaled, reference.cameraPoseInverse(), 1e-9));
}

TEST_F(DriverBehaviour, EstimateOnlyReportsTheWorkAndLeavesTheResult) {
  tkCameraCalibrationParams result = camera_;
  {
    tkProgressScope scope(nullptr, true);
    tfComputeCalibrationSingleCamera_internal(tk2XformCalib2Defs::eRadial, data_, {}, {}, result);
    EXPECT_NEAR(scope.reportedWork(), 100.0 * std::log(10000.0) / std::log(std::sqrt(1.4)), 1e-9);
    EXPECT_NEAR(scope.reportedWork(), 5474.65, 0.01);
  }
  double a[tk_kMaxCameraParams], b[tk_kMaxCameraParams];
  tfPackCameraParams(result, a);
  tfPackCameraParams(camera_, b);
  for (int i = 0; i < tfCameraParamCount(tk2XformCalib2Defs::eRadial); ++i)
    EXPECT_EQ(a[i], b[i]) << "parameter " << i;
}

TEST_F(DriverBehaviour, ProgressClosesItsBlockAtTheEnd) {
  std::vector<double> fractions;
  tkProgressScope scope([&](double fraction) { fractions.push_back(fraction); }, false);
  tkCameraCalibrationParams result;
  tfComputeCalibrationSingleCamera_internal(tk2XformCalib2Defs::eNoDistortion, data_, {}, {},
                                            result);
  ASSERT_FALSE(fractions.empty());
  EXPECT_EQ(fractions.back(), 1.0);
}

// An abort request ends every minimisation at its first evaluation: without plate views the driver
// goes on with what it has and returns an unrefined model at once; with plate views the planar
// calibration sees the request and throws.
TEST_F(DriverBehaviour, AbortFromAnotherThreadEndsTheMinimisations) {
  const SingleCameraDataSet set = LoadSingleCameraDataSet("single-radial-exact.json");
  tkAbortToken token;
  tkAttentionScope attention(token);
  std::thread other([&token] { token.requestAbort(); });
  other.join();
  tkCameraCalibrationParams result = camera_;
  tfComputeCalibrationSingleCamera_internal(tk2XformCalib2Defs::eRadial, set.correspondences, {},
                                            {}, result);
  EXPECT_GT(tfWeightedRmsError(result, set.correspondences), 0.1) << "nothing was refined";
  EXPECT_THROW(
      tfComputeCalibrationSingleCamera_internal(tk2XformCalib2Defs::eRadial, set.correspondences,
                                                set.plateViews, set.platePoses, result),
      tkAttention::Aborted);
}

TEST_F(DriverBehaviour, PlatePosesMustMatchThePlateViews) {
  const std::vector<std::vector<tkCrspPairWeighted>> views(2);
  const std::vector<tkXform<3>> poses(1);
  tkCameraCalibrationParams result;
  EXPECT_THROW(tfComputeCalibrationSingleCamera_internal(tk2XformCalib2Defs::eRadial, data_, views,
                                                         poses, result),
               tkInvariantFailure);
}

}  // namespace
