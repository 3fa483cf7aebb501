// The refinement on image residuals: exact sets stay at the truth, noisy sets and the real stereo
// pair end at or below the calibration's own RMS, weights of zero drop points, bad input throws.
#include "rig_data.h"

#include <ccal/image_refinement.h>
#include <ccal/multicamera_calibration.h>
#include <tk/exception.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

tkImageRefinementOptions on() {
  tkImageRefinementOptions options;
  options.enabled = true;
  return options;
}

TEST(ImageRefinement, ExactSetsKeepTheTruthAndNoisySetsEndAtOrBelowTheCalibrationsOwnFit) {
  for (const std::string name :
       {"rig3-radial-exact.json", "rig3-sinetan-exact.json", "single-none-exact.json",
        "rig3-radial-noisy.json", "rig3-sinetan-noisy.json", "single-radial-noisy.json"}) {
    SCOPED_TRACE(name);
    const tkRigDataSet set = tfLoadRig(name);
    const auto z = tfWeightedZ(set.zData);
    const auto a = tfWeightedA(set.aData);
    Params calibrated, refined;
    tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, z, a, calibrated);
    refined = calibrated;
    const tkImageRefinementSummary summary =
        tfRefineOnImageResiduals(z, a, false, refined, tkImageRefinementOptions());
    EXPECT_LE(summary.rmsAfter, summary.rmsBefore);
    if (set.noiseSigmaPx == 0.0) {
      // Under sine-tan the truth is known up to the scale the lens shares with the linear map,
      // which the refinement keeps from its start.
      const bool sineTan = set.model == tk2XformCalib2Defs::eSineTan;
      tfExpectRigNear(refined, set.truth, 1e-9, !sineTan);
      if (sineTan)
        tfExpectRigNear(refined, calibrated, 1e-9);
      EXPECT_LT(summary.rmsAfter, 1e-9);
    } else {
      EXPECT_GT(summary.rmsAfter, 0.5 * set.noiseSigmaPx);
      EXPECT_LT(summary.rmsAfter, 1.5 * set.noiseSigmaPx);
    }
    // The option of the calibration entry point gives the same rig.
    Params viaOption;
    tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, z, a, on(), viaOption);
    tfExpectRigNear(viaOption, refined, 1e-12);
    // Poses with the truth's intrinsics held (noisy sets: at or below the pose solver's RMS).
    if (!set.truth.cameraPoseInverses().empty()) {
      Params posed;
      tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(
          set.truth.physicalAtZEquals1FromImageParams(), z, a, posed);
      const tkImageRefinementSummary poses = tfRefineOnImageResiduals(z, a, true, posed);
      EXPECT_LE(poses.rmsAfter, poses.rmsBefore);
      if (set.noiseSigmaPx == 0.0)
        tfExpectRigNear(posed, set.truth, 1e-9);
    }
  }
}

// The image-residual minimum of the radial model on OpenCV's stereo corners (every corner, the
// bad ones at the board's edge included); the calibration's own fit reaches 0.4299 / 0.4934 px.
TEST(ImageRefinement, RealStereoPairReachesTheImageResidualMinimum) {
  const tkRigDataSet set = tfLoadRig("opencv-stereo.json");
  const auto z = tfWeightedZ(set.zData);
  const auto a = tfWeightedA(set.aData);
  Params rig;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(tk2XformCalib2Defs::eRadial, z, a, rig);
  const tkImageRefinementSummary summary = tfRefineOnImageResiduals(z, a, false, rig);
  ASSERT_EQ(summary.rmsPerCamera.size(), 2u);
  EXPECT_LT(summary.rmsPerCamera[0], 0.42925);
  EXPECT_LT(summary.rmsPerCamera[1], 0.49265);
  EXPECT_TRUE(summary.converged);
}

TEST(ImageRefinement, APointOfWeightZeroDoesNotCountAndBadInputThrows) {
  const tkRigDataSet set = tfLoadRig("rig3-radial-noisy.json");
  auto z = tfWeightedZ(set.zData);
  const auto a = tfWeightedA(set.aData);
  Params start;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, z, a, start);
  // Drop one point by weight, and the same point moved 40 px with weight 0.
  auto& list = z[0].first[0];
  list[3] = tkCrspPairWeighted(list[3].image(), list[3].physical3D(), 0.0);
  Params dropped = start;
  tfRefineOnImageResiduals(z, a, false, dropped);
  list[3] = tkCrspPairWeighted(list[3].image() + tkVector<2>(40.0, -30.0), list[3].physical3D(),
                               0.0);
  Params moved = start;
  tfRefineOnImageResiduals(z, a, false, moved);
  tfExpectRigNear(moved, dropped, 1e-14);

  Params untouched = start;
  auto noWeight = z;
  for (auto& placement : noWeight)
    for (auto& l : placement.first)
      for (auto& k : l)
        k = tkCrspPairWeighted(k.image(), k.physical3D(), 0.0);
  auto noWeightA = a;
  for (auto& placement : noWeightA)
    for (auto& l : placement)
      for (auto& k : l)
        k = tkCrspPairWeighted(k.image(), k.physical3D(), 0.0);
  EXPECT_THROW(tfRefineOnImageResiduals(noWeight, noWeightA, false, untouched), tkInvariantFailure);
  auto negative = z;
  negative[0].first[0][0] = tkCrspPairWeighted(tkVector<2>(1.0, 1.0), tkVector<3>(), -1.0);
  EXPECT_THROW(tfRefineOnImageResiduals(negative, a, false, untouched), tkInvariantFailure);
  auto missing = z;
  missing[0].first.pop_back();
  EXPECT_THROW(tfRefineOnImageResiduals(missing, a, false, untouched), tkInvariantFailure);
  tkImageRefinementOptions none;
  none.maxIterations = 0;
  EXPECT_THROW(tfRefineOnImageResiduals(z, a, false, untouched, none), tkInvariantFailure);
  tfExpectRigNear(untouched, start, 0.0);
}

}  // namespace
