// The rig calibration driver on the synthetic rig sets: exact data recover the truth, noisy data
// give residuals at the noise, cameras are linked through shared arbitrary placements, and
// broken inputs throw.
#include "rig_data.h"

#include <ccal/multicamera_calibration.h>
#include <tk/exception.h>
#include <tk/progress.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

// Exact data: the truth back, progress reported as a non-decreasing fraction that ends at 1, and
// the same bits on every call.
TEST(MulticameraCalibration, ExactRadialRigRecoversTheTruthRepeatablyAndReportsProgress) {
  const tkRigDataSet set = tfLoadRig("rig3-radial-exact.json");
  Params result;
  std::vector<double> fractions;
  {
    tkProgressScope scope([&](double f) { fractions.push_back(f); }, false);
    tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, set.zData, set.aData, result);
  }
  tfExpectRigNear(result, set.truth, 1e-9);
  EXPECT_EQ(result.calibrationPlatePoses()[0].rotZ(), 0.0);
  ASSERT_FALSE(fractions.empty());
  EXPECT_GE(fractions.front(), 0.0);
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_EQ(fractions.back(), 1.0);

  Params again;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, set.zData, set.aData, again);
  tfExpectSameBits(again, result);

  // Estimate-only: work reported, nothing computed (default cameras of the model).
  tkProgressScope estimate(nullptr, true);
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, set.zData, set.aData, again);
  EXPECT_GT(estimate.reportedWork(), 0.0);
  ASSERT_EQ(again.physicalAtZEquals1FromImageParams().size(), 3u);
  EXPECT_EQ(again.physicalAtZEquals1FromImageParams()[1].k(), 0.0);
}

TEST(MulticameraCalibration, NoisyRadialRigLeavesTheNoiseAndScalesWithThePlateUnit) {
  const tkRigDataSet set = tfLoadRig("rig3-radial-noisy.json");
  Params result;
  std::vector<double> rmsZ, maxZ, rmsA, maxA;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
      set.model, tfWeightedZ(set.zData), tfWeightedA(set.aData), result, rmsZ, maxZ, rmsA, maxA);
  ASSERT_EQ(rmsZ.size(), 3u);
  ASSERT_EQ(maxA.size(), 3u);
  // |d| of two independent N(0, σ²) components: RMS σ√2, less the fitted degrees of freedom.
  const double expected = set.noiseSigmaPx * std::sqrt(2.0);
  for (std::size_t c = 0; c < 3; ++c) {
    if (rmsZ[c] != 0.0) {
      EXPECT_NEAR(rmsZ[c], expected, 0.1 * expected) << c;
      EXPECT_GT(maxZ[c], rmsZ[c]);
      EXPECT_LT(maxZ[c], 6 * set.noiseSigmaPx);
    }
    EXPECT_NEAR(rmsA[c], expected, 0.1 * expected) << c;
  }
  // Against the truth: within what 0.1 px of noise on thousands of points allows.
  EXPECT_LT(tfProjectionDifference(set, result, set.truth).largest, 0.05);

  // Plate coordinates and heights in a unit 1000 times smaller: only translations change.
  Params scaled;
  std::vector<double> rmsZ2, maxZ2, rmsA2, maxA2;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, tfWeightedZ(set.zData, 1000.0),
                                                        tfWeightedA(set.aData, 1000.0), scaled,
                                                        rmsZ2, maxZ2, rmsA2, maxA2);
  for (std::size_t c = 0; c < 3; ++c) {
    EXPECT_NEAR(rmsA2[c], rmsA[c], 1e-9);
    EXPECT_NEAR(scaled.cameraPoseInverses()[c].trans().z(),
                1000.0 * result.cameraPoseInverses()[c].trans().z(),
                1e-7 * 1000.0 * result.cameraPoseInverses()[c].trans().length());
    EXPECT_NEAR(scaled.physicalAtZEquals1FromImageParams()[c].k(),
                result.physicalAtZEquals1FromImageParams()[c].k(), 1e-8);
  }
}

// Every list thinned to every n-th correspondence (fewer points keep the test short and the
// problem as well posed).
tkRigDataSet thinned(tkRigDataSet set, std::size_t n) {
  const auto thin = [n](tk_CrspList& list) {
    tk_CrspList kept;
    for (std::size_t k = 0; k < list.size(); k += n)
      kept.push_back(list[k]);
    list = kept;
  };
  for (auto& placement : set.zData)
    for (auto& list : placement.first)
      thin(list);
  for (auto& placement : set.aData)
    for (auto& list : placement)
      thin(list);
  return set;
}

// The sine-tangent lens radius ρ(θ) = p0·tan(θ/p1) + p2·sin(θ/p3) shares its scale with the linear
// map: ρ/α with L/α (and the translation moved so that the centre of expansion stays) is the same
// camera. The form with slope ρ'(0) = p0/p1 + p2/p3 = 1, in which the data sets give the truth.
tkPhysicalAtZEquals1FromImageParams unitSlope(tkPhysicalAtZEquals1FromImageParams m) {
  std::vector<double> p = m.lensDistParams();
  const double a = p[0] / p[1] + p[2] / p[3];
  p[0] /= a;
  p[2] /= a;
  m.lensDistParams(p);
  m.cameraScale(tkPair<double>(m.cameraScale().first / a, m.cameraScale().second / a));
  m.cameraSkew(m.cameraSkew() / a);
  m.cameraTranslation(m.cameraTranslation() / a + m.centerOfExpansion() * (1.0 - 1.0 / a));
  return m;
}

double radius(const tkPhysicalAtZEquals1FromImageParams& m, double theta) {
  const std::vector<double>& p = m.lensDistParams();
  return p[0] * std::tan(theta / p[1]) + p[2] * std::sin(theta / p[3]);
}

// Exact data: largest residual at the rounding of the data (1e-8 px), poses, linear maps and
// centres (unit-slope form) and the lens radius over the field of view to 1e-10. The four lens
// values themselves are not compared: beyond the shared scale p1..p3 lie along a valley whose
// Gauss-Newton curvature is at the rounding of K (docs/rig-calibration.md). Noisy data: RMS at
// the noise.
TEST(MulticameraCalibration, SineTangentRigRecoversTheTruthAndLeavesTheNoise) {
  const tkRigDataSet set = thinned(tfLoadRig("rig3-sinetan-exact.json"), 4);
  Params result;
  std::vector<double> rmsZ, maxZ, rmsA, maxA;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, tfWeightedZ(set.zData),
                                                        tfWeightedA(set.aData), result, rmsZ,
                                                        maxZ, rmsA, maxA);
  for (std::size_t c = 0; c < 3; ++c) {
    EXPECT_LE(maxZ[c], 1e-8) << c;
    EXPECT_LE(maxA[c], 1e-8) << c;
  }
  tfExpectRigNear(result, set.truth, 1e-10, false);
  for (std::size_t c = 0; c < 3; ++c) {
    const auto a = unitSlope(result.physicalAtZEquals1FromImageParams()[c]);
    const auto e = unitSlope(set.truth.physicalAtZEquals1FromImageParams()[c]);
    const double sx = e.cameraScale().first;
    tfExpectRelNear(a.cameraScale().first, e.cameraScale().first, sx, 1e-10, "sx");
    tfExpectRelNear(a.cameraScale().second, e.cameraScale().second, sx, 1e-10, "sy");
    tfExpectRelNear(a.cameraSkew(), e.cameraSkew(), sx, 1e-10, "skew");
    for (int k = 0; k < 2; ++k) {
      tfExpectRelNear(a.cameraTranslation()[k], e.cameraTranslation()[k], 1.0, 1e-10, "t");
      tfExpectRelNear(a.centerOfExpansion()[k], e.centerOfExpansion()[k], 1.0, 1e-10, "c");
    }
    // Over the field angles of the camera's data (beyond them the radius is extrapolated).
    double largest = 0.0;
    const auto field = [&](const tk_CrspList& list) {
      for (const auto& k : list)
        largest =
            std::max(largest, std::atan((e.warpPoint(k.first) - e.centerOfExpansion()).length()));
    };
    for (const auto& placement : set.zData)
      field(placement.first[c]);
    for (const auto& placement : set.aData)
      field(placement[c]);
    for (double theta = largest / 10; theta <= largest; theta += largest / 10)
      tfExpectRelNear(radius(a, theta), radius(e, theta), theta, 1e-10, "radius");
  }

  const tkRigDataSet noisy = thinned(tfLoadRig("rig3-sinetan-noisy.json"), 10);
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(noisy.model, tfWeightedZ(noisy.zData),
                                                        tfWeightedA(noisy.aData), result, rmsZ,
                                                        maxZ, rmsA, maxA);
  // σ·√2·√(1 − p/(2N)) with p the rig's free values (3 cameras of 17, 3 per further Z-rotation
  // placement, 6 per arbitrary one) and N the points.
  double points = 0.0;
  for (const auto& placement : noisy.zData)
    for (const auto& list : placement.first)
      points += static_cast<double>(list.size());
  for (const auto& placement : noisy.aData)
    for (const auto& list : placement)
      points += static_cast<double>(list.size());
  const double p = 3.0 * 17.0 + 3.0 * static_cast<double>(noisy.zData.size() - 1) +
                   6.0 * static_cast<double>(noisy.aData.size());
  const double expected = noisy.noiseSigmaPx * std::sqrt(2.0) * std::sqrt(1.0 - p / (2.0 * points));
  for (std::size_t c = 0; c < 3; ++c) {
    if (rmsZ[c] != 0.0) {
      EXPECT_NEAR(rmsZ[c], expected, 0.1 * expected) << c;
    }
    EXPECT_NEAR(rmsA[c], expected, 0.1 * expected) << c;
  }
  EXPECT_EQ(rmsZ[2], 0.0);  // cam2 saw no Z-rotation placement
}

// A camera without points in the Z-rotation placements is linked through a shared arbitrary
// placement and still recovered exactly.
TEST(MulticameraCalibration, ACameraIsLinkedThroughASharedArbitraryPlacement) {
  tkRigDataSet set = tfLoadRig("rig3-radial-exact.json");
  for (auto& placement : set.zData)
    placement.first[2].clear();
  Params result;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, set.zData, set.aData, result);
  tfExpectRigNear(result, set.truth, 1e-7);
}

TEST(MulticameraCalibration, InputsThatCannotDefineOrReachTheWorldFrameThrow) {
  tkRigDataSet set = tfLoadRig("rig3-radial-exact.json");
  Params result;
  // cam2 keeps only a placement no other camera saw: nothing links it to the world frame.
  for (auto& placement : set.zData)
    placement.first[2].clear();
  tk_ArbitraryPlacements isolated = set.aData;
  for (auto& placement : isolated)
    placement[2].clear();
  isolated.push_back({{}, {}, set.aData[0][2]});
  EXPECT_THROW(
      tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, set.zData, isolated, result),
      tkInvariantFailure);
  EXPECT_THROW(tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
                   set.model, tk_ZRotationPlacements(), set.aData, result),
               tkInvariantFailure);
  EXPECT_TRUE(result.cameraPoseInverses().empty());  // not written
}

}  // namespace
