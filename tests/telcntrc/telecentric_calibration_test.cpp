// The three entry points of telecentric calibration on the bundled data sets: recovery of the
// true camera, agreement with the noise, the camera-height rules, the argument checks, the output
// rules and abort requests.
#include <ccal/telecentric_calibration.h>
#include <gtest/gtest.h>
#include <tk/attention.h>

#include "support/geometry_expect.h"
#include "support/telecentric_sets.h"
#include "telcntrc/telecentric_expect.h"

#include <cmath>

namespace {

using Params = tkCalibrateTelecentricCameraParams;
enum Flow { eProcedural = 1, eClosedForm = 2, eKnownIntrinsic = 3 };
const Flow kFlows[] = {eProcedural, eClosedForm, eKnownIntrinsic};

// The outputs of one calibration.
struct Outcome {
  std::vector<double> rms, largest;
  tk2XformCalib2 camera;
};

// Overload `flow` on the set (overload 3 with the true intrinsic part), into out.
void run(Flow flow, const tkTelecentricSet& set, const Params& params, Outcome& out) {
  if (flow == eProcedural)
    tfCalibrateTelecentricCamera(set.pairs, set.poses, params, out.rms, out.largest, out.camera);
  else if (flow == eClosedForm)
    tfCalibrateTelecentricCamera(set.correspondences, set.poses, params, out.rms, out.largest,
                                 out.camera);
  else
    tfCalibrateTelecentricCamera(set.correspondences, set.poses, params, set.truth.intrinsic,
                                 out.rms, out.largest, out.camera);
}

Outcome calibrate(Flow flow, const tkTelecentricSet& set, const Params& params = Params()) {
  Outcome out;
  run(flow, set, params, out);
  return out;
}

Params withHeight(double height) {
  Params params;
  params.useCameraHeight(true);
  params.cameraHeight(height);
  return params;
}

class TelecentricExact : public ::testing::Test {
 protected:
  static const tkTelecentricSet& set() { return exactTelecentricSet(); }
};

}  // namespace

TEST_F(TelecentricExact, EveryFlowRecoversTheTrueImageMapping) {
  // Image coordinates carry 9 decimals, so residuals of a few 1e-10 pixels remain.
  for (Flow flow : kFlows) {
    const Outcome out = calibrate(flow, set());
    EXPECT_LE(LargestMappingError(out.camera, set()), 1e-9) << "overload " << flow;
    // Pose 0 is the home frame itself: its points lie on the plane that the transform maps.
    for (const tkCrspPairWeighted& c : set().correspondences[0]) {
      const tkVector<3> home = set().poses[0].mapPoint(c.physical3D());
      const tkVector<2> plane(home.x(), home.y());
      EXPECT_LE((out.camera.invMapPoint(plane) - set().truth.image(home)).length(), 1e-9) << flow;
      EXPECT_LE((out.camera.mapPoint(set().truth.image(home)) - plane).length(), 1e-10) << flow;
    }
    ASSERT_EQ(out.rms.size(), set().poses.size());
    for (std::size_t i = 0; i < out.rms.size(); ++i) {
      EXPECT_LE(out.largest[i], 1e-9) << "overload " << flow << " pose " << i;
      EXPECT_GE(out.largest[i], out.rms[i]) << "overload " << flow << " pose " << i;
    }
    EXPECT_EQ(out.camera.intrinsicParams().distortionModel(), tk2XformCalib2Defs::eTelecentric);
  }
}

TEST(TelecentricNoisy, PerPoseRmsIsWhatTheNoiseExplainsAndTheProceduralFlowIsSmallest) {
  const tkTelecentricSet set = loadTelecentricSet("telecentric-noisy.json");
  const double sigma = set.truth.noiseSigmaPx;
  ASSERT_GT(sigma, 0.0);
  double points = 0.0;
  for (const auto& list : set.correspondences)
    points += static_cast<double>(list.size());
  double pooled[4] = {};
  for (Flow flow : kFlows) {
    const Outcome out = calibrate(flow, set);
    const double freeParameters = flow == eKnownIntrinsic ? 5.0 : 8.0;
    const double expected = sigma * std::sqrt(2.0 * (1.0 - freeParameters / (2 * points)));
    // One draw of 2 x 300 coordinates strays by about 3 % per pose, 1.5 % over all; the poses
    // hold equally many points.
    for (std::size_t i = 0; i < out.rms.size(); ++i) {
      EXPECT_NEAR(out.rms[i] / expected, 1.0, 0.12) << "overload " << flow << " pose " << i;
      pooled[flow] += out.rms[i] * out.rms[i] / static_cast<double>(out.rms.size());
    }
    pooled[flow] = std::sqrt(pooled[flow]);
    EXPECT_NEAR(pooled[flow] / expected, 1.0, 0.05) << "overload " << flow;
    EXPECT_LE(LargestMappingError(out.camera, set), 0.05) << "overload " << flow;
  }
  // For unit weights the closed-form fit is already the least-squares optimum of the model, so
  // the refinement confirms it to rounding; a known intrinsic part leaves fewer free parameters.
  EXPECT_LE(pooled[eProcedural], pooled[eClosedForm] * (1.0 + 1e-12));
  EXPECT_LT(pooled[eProcedural], pooled[eKnownIntrinsic]);
}

// ---- camera height ---------------------------------------------------------------------------

TEST_F(TelecentricExact, ProceduralAndClosedFormFlowsPlaceTheCameraAlike) {
  // Overload 2 puts the height into the estimate before factoring: it becomes the home-frame
  // depth (R^T t).z of the camera's origin, not E's Z (the camera is tilted). Overload 1 follows.
  for (const Params& params : {Params(), withHeight(250.0), withHeight(-3.0)}) {
    const tkXform<3> procedural = calibrate(eProcedural, set(), params).camera.extrinsicXform();
    const tkXform<3> closedForm = calibrate(eClosedForm, set(), params).camera.extrinsicXform();
    EXPECT_TRUE(XformsNear(procedural, closedForm, 1e-9));
    const double height = params.useCameraHeight() ? params.cameraHeight() : 0.0;
    EXPECT_NEAR((closedForm.matrix().transpose() * closedForm.trans()).z(), height, 1e-9);
    EXPECT_TRUE(!params.useCameraHeight() || std::abs(closedForm.trans().z() - height) > 1e-3);
  }
  for (Flow flow : kFlows)
    EXPECT_LE(LargestMappingError(calibrate(flow, set(), withHeight(123.0)).camera, set()), 1e-9)
        << "the height changed the mapping of overload " << flow;
}

TEST_F(TelecentricExact, KnownIntrinsicHeightTakesTheSignOfRotationEntry22) {
  // The true camera looks along the negative home Z axis: R(2, 2) < 0. Turning the home frame
  // half a turn about X makes it positive.
  ASSERT_LT(set().truth.cameraFromHome.matrix().element(2, 2), 0.0);
  const tkXform<3> E = calibrate(eKnownIntrinsic, set(), withHeight(40.0)).camera.extrinsicXform();
  EXPECT_NEAR(E.trans().z(), -40.0, 1e-12);
  tkTelecentricSet flipped = set();
  for (tkXform<3>& pose : flipped.poses)
    pose = tkXform<3>(tkMatrix<3>(1, 0, 0, 0, -1, 0, 0, 0, -1), tkVector<3>()) * pose;
  const tkXform<3> F =
      calibrate(eKnownIntrinsic, flipped, withHeight(40.0)).camera.extrinsicXform();
  EXPECT_GT(F.matrix().element(2, 2), 0.0);
  EXPECT_NEAR(F.trans().z(), 40.0, 1e-12);
  EXPECT_EQ(calibrate(eKnownIntrinsic, set()).camera.extrinsicXform().trans().z(), 0.0);
}

// ---- argument checks and outputs ---------------------------------------------------------------

TEST_F(TelecentricExact, CountsAreCheckedInTheOrderOfEachOverload) {
  // The procedural overload checks the list count before the pose count, the weighted ones the
  // pose count first.
  using Defs = tkCalibrateTelecentricCameraDefs;
  using Weighted = tk_TelecentricCalibrationDefs::BadParams;
  const std::wstring sizes = L"imagePointsPhysicalPoints.size() != poses.size()";
  const std::wstring fewPoses = L"poses.size() < 2";
  const std::wstring weightedSizes = L"poses.size() != correspondences.size()";
  const auto call = [&](Flow flow, std::size_t lists, std::size_t poses) {
    return [&, flow, lists, poses] {
      tkTelecentricSet part = set();
      part.pairs.resize(lists);
      part.correspondences.resize(lists);
      part.poses.resize(poses);
      calibrate(flow, part);
    };
  };
  EXPECT_TRUE(ThrowsWithMessage<Defs::BadParams>(call(eProcedural, 1, 2), sizes));
  EXPECT_TRUE(ThrowsWithMessage<Defs::BadParams>(call(eProcedural, 4, 1), sizes));
  EXPECT_TRUE(ThrowsWithMessage<Defs::InsufficientPoses>(call(eProcedural, 1, 1), fewPoses));
  EXPECT_TRUE(ThrowsWithMessage<Defs::InsufficientPoses>(call(eProcedural, 0, 0), fewPoses));
  for (Flow flow : {eClosedForm, eKnownIntrinsic}) {
    EXPECT_TRUE(ThrowsWithMessage<Weighted>(call(flow, 2, 1), fewPoses)) << flow;
    EXPECT_TRUE(ThrowsWithMessage<Weighted>(call(flow, 0, 0), fewPoses)) << flow;
    EXPECT_TRUE(ThrowsWithMessage<Weighted>(call(flow, 2, 3), weightedSizes)) << flow;
  }
}

TEST_F(TelecentricExact, OutputsHoldOneEntryPerPoseAndFailuresLeaveThemAlone) {
  Outcome before{std::vector<double>(7, -1.0), std::vector<double>(7, -1.0), tk2XformCalib2()};
  before.camera.init(tkCalib2ParamsIntrinsic(tkVector<2>(2.0, 3.0), 0.5, tkVector<2>(7.0, 8.0),
                                             tk2XformCalib2Defs::eTelecentric, {}),
                     tkCalib2ParamsExtrinsic());
  const auto expectUntouched = [&](const Outcome& out, Flow flow) {
    EXPECT_TRUE(out.rms == before.rms && out.largest == before.largest) << "overload " << flow;
    EXPECT_EQ(out.camera, before.camera) << "overload " << flow;
  };
  // Bad input (points in one plane, non-finite values, negative weights, ...): the point-list
  // table of tests/reliability; here an abort of every overload.
  for (Flow flow : kFlows) {
    Outcome out = before;
    run(flow, set(), Params(), out);
    EXPECT_TRUE(out.rms.size() == set().poses.size() && out.largest.size() == set().poses.size())
        << "overload " << flow << ": one entry per pose after success";
    out = before;
    tkAbortToken token;
    token.requestAbort();
    tkAttentionScope scope(token);
    EXPECT_THROW(run(flow, set(), Params(), out), tkAttention::Aborted) << "overload " << flow;
    expectUntouched(out, flow);
  }
}

TEST_F(TelecentricExact, PoseWithoutWeightOrPointsGetsItsOwnFigures) {
  // An extra pose whose points carry weight 0 (and are a pixel off), and one without points.
  tkTelecentricSet extended = set();
  extended.poses.insert(extended.poses.end(), {set().poses[1], set().poses[2]});
  extended.correspondences.push_back(set().correspondences[1]);
  for (tkCrspPairWeighted& c : extended.correspondences.back()) {
    c.weight(0.0);
    c.image(c.image() + tkVector<2>(0.6, 0.8));
  }
  extended.correspondences.emplace_back();
  extended.pairs.resize(6);
  for (Flow flow : kFlows) {
    const Outcome out = calibrate(flow, extended);
    ASSERT_EQ(out.rms.size(), 6u);
    EXPECT_TRUE(out.rms[5] == 0.0 && out.largest[5] == 0.0) << "overload " << flow;
    if (flow == eProcedural)
      continue;  // its pair lists carry no weights: pose 4 has no points either
    const tkXform<3> cameraFromPlate = out.camera.extrinsicXform() * extended.poses[4];
    double largest = 0.0;
    for (const tkCrspPairWeighted& c : extended.correspondences[4]) {
      const tkVector<3> Q = cameraFromPlate.mapPoint(c.physical3D());
      const tkVector<2> predicted =
          out.camera.intrinsicParams().mapPoint(tkVector<2>(Q.x(), Q.y()));
      largest = std::max(largest, (c.image() - predicted).length());
    }
    EXPECT_EQ(out.rms[4], 0.0) << "overload " << flow;
    EXPECT_GT(largest, 0.5) << "overload " << flow;
    EXPECT_NEAR(out.largest[4], largest, 1e-12) << "overload " << flow;
  }
  // Weight 0 takes points out of the closed-form fit (the known-intrinsic refinement is
  // unweighted and sees them).
  EXPECT_LE(LargestMappingError(calibrate(eClosedForm, extended).camera, set()), 1e-9);
}
