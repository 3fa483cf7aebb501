// The single-camera calibration driver on the synthetic single-camera data sets (plate points
// mapped into the world frame with the sets' ground-truth placement poses, plate views passed) and
// on a generated scene: recovery of the ground truth, agreement with the noise and the
// estimate-only mode (repeatability and abort: tests/reliability).
#include <ccal/single_camera_calibration.h>
#include <gtest/gtest.h>
#include <tk/exception.h>
#include <tk/progress.h>

#include "ccal/problem/parameter_layout.h"
#include "ccal/single/camera_projection.h"
#include "support/single_camera_data.h"
#include "support/single_camera_scene.h"

#include <Eigen/Dense>

#include <cmath>
#include <iostream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

using ccal::detail::CameraOffset;
using ccal::detail::ParameterLayout;

namespace {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;
using Packed = std::vector<double>;
using PlateViews = std::vector<std::vector<tkCrspPairWeighted>>;

// One driver run per data set, shared by the tests that judge it.
struct DriverRun {
  SingleCameraDataSet set;
  tkCameraCalibrationParams result;
};
// With plate views (as the rig calibration passes them) the planar estimate competes with the
// distortion search; without them the search alone must find the start.
struct Case {
  const char* fileName;
  bool plateViews;
};
std::ostream& operator<<(std::ostream& out, const Case& c) {
  return out << c.fileName << (c.plateViews ? " with plate views" : " without plate views");
}
const DriverRun& Calibrated(const Case& c) {
  static std::map<std::pair<std::string, bool>, DriverRun> runs;
  const auto key = std::make_pair(std::string(c.fileName), c.plateViews);
  auto found = runs.find(key);
  if (found == runs.end()) {
    DriverRun run{LoadSingleCameraDataSet(c.fileName), {}};
    const SingleCameraDataSet& set = run.set;
    tfComputeCalibrationSingleCamera_internal(
        set.truth.physicalAtZEquals1FromImageParams().distModel(), set.correspondences,
        c.plateViews ? set.plateViews : PlateViews(),
        c.plateViews ? set.platePoses : std::vector<tkXform<3>>(), run.result);
    found = runs.emplace(key, run).first;
  }
  return found->second;
}

// The single-camera column (ParameterLayout) with the rotation in the three-value form holding
// quaternion component `held` (ratios, so the quaternion's sign does not matter).
Packed Pack(const tkCameraCalibrationParams& camera, int held) {
  Packed x(CameraOffset::kMaxSize);
  ParameterLayout::packCameraBlock(camera, x.data());
  const tk3Quaternion& q = camera.cameraPoseInverse().quat();
  for (int k = 0, slot = CameraOffset::kQuatVar1; k < 4; ++k)
    if (k != held)
      x[slot++] = q[k] / q[held];
  x.resize(ParameterLayout::calibrationBlockSize(
      camera.physicalAtZEquals1FromImageParams().distModel()));
  return x;
}
int HeldIndex(const tkCameraCalibrationParams& camera) {
  return camera.cameraPoseInverse().quat().unitValIndex();
}

// ---- exact data ---------------------------------------------------------------------------------

// Largest image residual of the result over its set, pixels (the sets' image points carry 9
// decimals).
double LargestResidual(const DriverRun& run) {
  double largest = 0.0;
  for (const auto& c : run.set.correspondences)
    largest =
        std::fmax(largest, (run.result.invWarpPoint(c.first.second) - c.first.first).length());
  std::cout << "largest residual " << largest << " px\n";
  return largest;
}

// eRadial and eNoDistortion are fully determined by the data: every value of the camera block
// comes back to 1e-9 relative (values near 0, such as the skew, to 1e-12 absolute), and the image
// residuals are those of the data's rounding. The centre of expansion (about 1e-3 here) is the
// weakest value: with the image points rounded to 9 decimals the cost's minimum lies about 1e-12
// from the truth there (solves that differ only in rounding end 3e-13 apart), so it gets 2e-12
// absolute.
class DriverOnExactSet : public ::testing::TestWithParam<Case> {};

TEST_P(DriverOnExactSet, RecoversTheGroundTruth) {
  const DriverRun& run = Calibrated(GetParam());
  const int held = HeldIndex(run.set.truth);
  const Packed truth = Pack(run.set.truth, held), got = Pack(run.result, held);
  for (std::size_t i = 0; i < truth.size(); ++i) {
    const bool centre = i == CameraOffset::kCenterX || i == CameraOffset::kCenterY;
    EXPECT_NEAR(got[i], truth[i], centre ? 2e-12 : 1e-9 * std::fmax(std::fabs(truth[i]), 1e-3))
        << "parameter " << i;
  }
  EXPECT_LT(LargestResidual(run), 1e-8);
}

// eNoDistortion uses no plate views (no search, no planar estimate).
INSTANTIATE_TEST_SUITE_P(DataSets, DriverOnExactSet,
                         ::testing::Values(Case{"single-radial-exact.json", true},
                                           Case{"single-radial-exact.json", false},
                                           Case{"single-none-exact.json", false}));

// The sine-tangent lens values are nearly redundant (testing-notes.md): the model is judged by
// what it does over the data's field (relative to the field's radius at Z = 1), its effective
// focal lengths, its axis and the pose.
class DriverOnSineTanSet : public ::testing::TestWithParam<Case> {};

TEST_P(DriverOnSineTanSet, ExactSetReproducesTheMappingFocalLengthsAxisAndPose) {
  const DriverRun& run = Calibrated(GetParam());
  const double tolerance = 1e-3;  // 1e-10 relative, the axis to 1e-7 px
  // Without plate views the final refinement starts far along the flat valley of the lens values
  // (docs/single-camera-calibration.md) and must still reach the data's rounding.
  EXPECT_LT(LargestResidual(run), 1e-8);
  const auto& got = run.result.physicalAtZEquals1FromImageParams();
  const auto& truth = run.set.truth.physicalAtZEquals1FromImageParams();
  double largest = 0.0, field = 0.0;
  for (const auto& c : run.set.correspondences) {
    largest = std::fmax(largest,
                        (got.warpPoint(c.first.first) - truth.warpPoint(c.first.first)).length());
    field = std::fmax(field, truth.warpPoint(c.first.first).length());
  }
  EXPECT_LT(largest, 1e-7 * tolerance * field) << "image -> position at Z = 1 over the field";
  const auto gain = [](const tkPhysicalAtZEquals1FromImageParams& m) {
    const std::vector<double>& p = m.lensDistParams();
    return p[0] / p[1] + p[2] / p[3];
  };
  EXPECT_NEAR(gain(got) / got.cameraScale().first, gain(truth) / truth.cameraScale().first,
              1e-7 * tolerance * gain(truth) / truth.cameraScale().first);
  EXPECT_NEAR(gain(got) / got.cameraScale().second, gain(truth) / truth.cameraScale().second,
              1e-7 * tolerance * gain(truth) / truth.cameraScale().second);
  const tkVector<2> axis = got.invWarpPoint(tkVector<2>()) - truth.invWarpPoint(tkVector<2>());
  EXPECT_LT(axis.length(), 1e-4 * tolerance) << "image of the optical axis, pixels";
  const tkXform<3> pose = run.result.cameraPoseInverse().xform();
  const tkXform<3> truePose = run.set.truth.cameraPoseInverse().xform();
  EXPECT_LT((pose.mapPoint(tkVector<3>(100.0, 100.0, 0.0)) -
             truePose.mapPoint(tkVector<3>(100.0, 100.0, 0.0)))
                .length(),
            1e-7 * tolerance * truePose.trans().length());
}

INSTANTIATE_TEST_SUITE_P(DataSets, DriverOnSineTanSet,
                         ::testing::Values(Case{"single-sinetan-exact.json", true},
                                           Case{"single-sinetan-exact.json", false}));

// ---- noisy data ---------------------------------------------------------------------------------

class DriverOnNoisySet : public ::testing::TestWithParam<Case> {};

// For N points and p free parameters the best achievable RMS per point is about
// σ·√2·√(1 − p/(2N)); one noise draw strays by about ±1 %.
TEST_P(DriverOnNoisySet, RmsIsWhatTheNoiseExplains) {
  const DriverRun& run = Calibrated(GetParam());
  const double p = ParameterLayout::calibrationBlockSize(
      run.result.physicalAtZEquals1FromImageParams().distModel());
  const double N = static_cast<double>(run.set.correspondences.size());
  const double expected = run.set.noiseSigmaPx * std::sqrt(2.0) * std::sqrt(1.0 - p / (2.0 * N));
  const double rms = tfWeightedRmsError(run.result, run.set.correspondences);
  EXPECT_NEAR(rms, expected, 0.02 * expected);
  EXPECT_LE(rms, tfWeightedRmsError(run.set.truth, run.set.correspondences))
      << "the fit explains the data no worse than the model that made them";
}

INSTANTIATE_TEST_SUITE_P(DataSets, DriverOnNoisySet,
                         ::testing::Values(Case{"single-radial-noisy.json", true},
                                           Case{"single-radial-noisy.json", false},
                                           Case{"single-none-noisy.json", false},
                                           Case{"single-sinetan-noisy.json", true},
                                           Case{"single-sinetan-noisy.json", false}));

// Standard errors from the Jacobian of the image residuals at the result (pixels and world units,
// the rotation in the truth's three-value form): each value lies within four of them of the truth.
class DriverParameters : public ::testing::TestWithParam<Case> {};

TEST_P(DriverParameters, LieWithinAFewStandardErrorsOfTheTruth) {
  const DriverRun& run = Calibrated(GetParam());
  const Model model = run.result.physicalAtZEquals1FromImageParams().distModel();
  const int held = HeldIndex(run.set.truth);
  const Packed truth = Pack(run.set.truth, held), got = Pack(run.result, held);
  const int n = static_cast<int>(got.size());
  const auto residuals = [&](const Packed& x) {
    tk_CameraValues values;
    ParameterLayout::unpackCameraBlock(x.data(), held, model, values);
    const tk_CameraProjection projection(values);
    Eigen::VectorXd r(2 * run.set.correspondences.size());
    for (std::size_t i = 0; i < run.set.correspondences.size(); ++i) {
      const auto& c = run.set.correspondences[i];
      const tkVector<2> e = c.first.first - projection.imagePoint(c.first.second);
      r.segment<2>(2 * static_cast<long>(i)) << e.x(), e.y();
    }
    return r;
  };
  const Eigen::VectorXd r0 = residuals(got);
  Eigen::MatrixXd J(r0.size(), n);
  for (int j = 0; j < n; ++j) {
    Packed plus = got, minus = got;
    const double h = 1e-6 * std::fmax(1e-3, std::fabs(got[j]));
    plus[j] += h;
    minus[j] -= h;
    J.col(j) = (residuals(plus) - residuals(minus)) / (2 * h);
  }
  const double variance = r0.squaredNorm() / static_cast<double>(r0.size() - n);
  const Eigen::MatrixXd covariance = variance * (J.transpose() * J).inverse();
  for (int j = 0; j < n; ++j)
    EXPECT_LE(std::fabs(got[j] - truth[j]), 4.0 * std::sqrt(covariance(j, j)))
        << "parameter " << j << ": " << got[j] << " vs truth " << truth[j];
}

INSTANTIATE_TEST_SUITE_P(DataSets, DriverParameters,
                         ::testing::Values(Case{"single-radial-noisy.json", false},
                                           Case{"single-none-noisy.json", false}));

// ---- behaviour ----------------------------------------------------------------------------------

// A generated scene of 400 points: more than the 333 of the distortion search.
class DriverBehaviour : public ::testing::Test {
 protected:
  const Model radial_ = tk2XformCalib2Defs::eRadial;
  const scene::Correspondences data_ = scene::Observe(scene::Camera(radial_), 400, 0.2, 11);
};

TEST_F(DriverBehaviour, EstimateOnlyReportsTheWorkAndLeavesTheResult) {
  const tkCameraCalibrationParams untouched = scene::Camera(radial_);
  tkCameraCalibrationParams result = untouched;
  tkProgressScope scope(nullptr, true);
  tfComputeCalibrationSingleCamera_internal(radial_, data_, {}, {}, result);
  EXPECT_NEAR(scope.reportedWork(), 100.0 * std::log(10000.0) / std::log(std::sqrt(1.4)), 1e-9);
  EXPECT_EQ(Pack(result, 0), Pack(untouched, 0));
}

TEST_F(DriverBehaviour, PlatePosesMustMatchThePlateViews) {
  tkCameraCalibrationParams result;
  EXPECT_THROW(
      tfComputeCalibrationSingleCamera_internal(radial_, data_, {{}, {}}, {tkXform<3>()}, result),
      tkInvariantFailure);
}

}  // namespace
