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

// Largest image distance between the mappings of two rigs over every correspondence's plate
// point.
double largestMappingDifference(const tkRigDataSet& set, const Params& a, const Params& b) {
  double largest = 0.0;
  const auto over = [&](const std::vector<tk_CrspList>& lists, const tkXform<3>& poseA,
                        const tkXform<3>& poseB) {
    for (std::size_t c = 0; c < lists.size(); ++c)
      for (const auto& k : lists[c]) {
        const tkVector<2> d = a.invWarpPoint(poseA.mapPoint(k.second), static_cast<long>(c)) -
                              b.invWarpPoint(poseB.mapPoint(k.second), static_cast<long>(c));
        largest = std::max(largest, d.length());
      }
  };
  for (std::size_t j = 0; j < set.zData.size(); ++j)
    over(set.zData[j].first, a.calibrationPlatePoses()[j].xform(),
         b.calibrationPlatePoses()[j].xform());
  for (std::size_t j = 0; j < set.aData.size(); ++j)
    over(set.aData[j], a.arbitraryCalibrationPlatePoses()[j].xform(),
         b.arbitraryCalibrationPlatePoses()[j].xform());
  return largest;
}

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
  tfExpectRigNear(result, set.truth, 1e-7);
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
  EXPECT_LT(largestMappingDifference(set, result, set.truth), 0.05);

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
  tk_ArbitraryPlacements ragged = set.aData;
  ragged[1].pop_back();
  EXPECT_THROW(
      tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, set.zData, ragged, result),
      tkInvariantFailure);
  EXPECT_TRUE(result.cameraPoseInverses().empty());  // not written
}

}  // namespace
