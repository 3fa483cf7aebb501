// The three entry points of telecentric calibration on the bundled data sets: recovery of the
// true camera, agreement with the noise, the argument checks, the output rules, the camera-height
// rules and abort requests.
#include <ccal/telecentric_calibration.h>
#include <gtest/gtest.h>
#include <tk/attention.h>

#include "support/geometry_expect.h"
#include "support/telecentric_sets.h"
#include "telcntrc/telecentric_expect.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

namespace {

using Params = tkCalibrateTelecentricCameraParams;

// The outputs of one calibration.
struct Outcome {
  std::vector<double> rms, largest;
  tk2XformCalib2 camera;

  // RMS over all points of a set whose poses hold equally many points.
  double pooledRms() const {
    double sum = 0.0;
    for (double r : rms)
      sum += r * r;
    return std::sqrt(sum / static_cast<double>(rms.size()));
  }
};

enum Flow { eProcedural = 1, eClosedForm = 2, eKnownIntrinsic = 3 };

Outcome calibrate(Flow flow, const tkTelecentricSet& set, const Params& params = Params()) {
  Outcome out;
  switch (flow) {
    case eProcedural:
      tfCalibrateTelecentricCamera(set.pairs, set.poses, params, out.rms, out.largest, out.camera);
      break;
    case eClosedForm:
      tfCalibrateTelecentricCamera(set.correspondences, set.poses, params, out.rms, out.largest,
                                   out.camera);
      break;
    case eKnownIntrinsic:
      tfCalibrateTelecentricCamera(set.correspondences, set.poses, params, set.truth.intrinsic,
                                   out.rms, out.largest, out.camera);
      break;
  }
  return out;
}

Params withHeight(double height) {
  Params params;
  params.useCameraHeight(true);
  params.cameraHeight(height);
  return params;
}

// (R^T t).z of E = (R, t): the home-frame Z of the point that E takes to the camera's origin,
// negated.
double originDepth(const tkXform<3>& E) {
  return (E.matrix().transpose() * E.trans()).z();
}

class TelecentricExact : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    set_ = new tkTelecentricSet(loadTelecentricSet("telecentric-exact.json"));
  }
  static void TearDownTestSuite() { delete set_; }
  static const tkTelecentricSet& set() { return *set_; }

 private:
  static tkTelecentricSet* set_;
};
tkTelecentricSet* TelecentricExact::set_ = nullptr;

class TelecentricNoisy : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    set_ = new tkTelecentricSet(loadTelecentricSet("telecentric-noisy.json"));
  }
  static void TearDownTestSuite() { delete set_; }
  static const tkTelecentricSet& set() { return *set_; }

 private:
  static tkTelecentricSet* set_;
};
tkTelecentricSet* TelecentricNoisy::set_ = nullptr;

}  // namespace

// ---- exact data ------------------------------------------------------------------------------

TEST_F(TelecentricExact, EveryFlowRecoversTheTrueImageMapping) {
  // Image coordinates carry 9 decimals, so residuals of a few 1e-10 pixels remain.
  for (Flow flow : {eProcedural, eClosedForm, eKnownIntrinsic}) {
    const Outcome out = calibrate(flow, set());
    EXPECT_LE(LargestMappingError(out.camera, set()), 1e-9) << "overload " << flow;
    ASSERT_EQ(out.rms.size(), set().poses.size());
    for (std::size_t i = 0; i < out.rms.size(); ++i) {
      EXPECT_LE(out.rms[i], 1e-9) << "overload " << flow << " pose " << i;
      EXPECT_LE(out.largest[i], 1e-9) << "overload " << flow << " pose " << i;
      EXPECT_GE(out.largest[i], out.rms[i]) << "overload " << flow << " pose " << i;
    }
    EXPECT_EQ(out.camera.intrinsicParams().distortionModel(), tk2XformCalib2Defs::eTelecentric);
  }
}

TEST_F(TelecentricExact, ComputedIntrinsicPartIsTheTrueOneWithTheOffsetInTheExtrinsicPart) {
  const tkCalib2ParamsIntrinsic& truth = set().truth.intrinsic;
  for (Flow flow : {eProcedural, eClosedForm}) {
    const tkCalib2ParamsIntrinsic K = calibrate(flow, set()).camera.intrinsicParams();
    EXPECT_NEAR(K.scale().x(), truth.scale().x(), 1e-9) << "overload " << flow;
    EXPECT_NEAR(K.scale().y(), truth.scale().y(), 1e-9) << "overload " << flow;
    EXPECT_NEAR(K.skew(), truth.skew(), 1e-9) << "overload " << flow;
    EXPECT_NEAR(K.translation().x(), 0.0, 1e-9) << "overload " << flow;
    EXPECT_NEAR(K.translation().y(), 0.0, 1e-9) << "overload " << flow;
  }
}

TEST_F(TelecentricExact, CalibratedTransformMapsTheHomePlaneBothWays) {
  // Pose 0 is the home frame itself: its plate points lie on the plane that tk2XformCalib2
  // maps, so the transform must reproduce the images and give the points back.
  for (Flow flow : {eProcedural, eClosedForm, eKnownIntrinsic}) {
    const tk2XformCalib2 camera = calibrate(flow, set()).camera;
    for (const tkCrspPairWeighted& c : set().correspondences[0]) {
      const tkVector<3> home = set().poses[0].mapPoint(c.physical3D());
      ASSERT_EQ(home.z(), 0.0);
      const tkVector<2> plane(home.x(), home.y());
      EXPECT_LE((camera.invMapPoint(plane) - set().truth.image(home)).length(), 1e-9)
          << "overload " << flow;
      EXPECT_LE((camera.mapPoint(set().truth.image(home)) - plane).length(), 1e-10)
          << "overload " << flow;
    }
  }
}

TEST_F(TelecentricExact, ProceduralAndClosedFormFlowsPlaceTheCameraAlike) {
  for (const Params& params : {Params(), withHeight(250.0), withHeight(-3.0)}) {
    const tkXform<3> procedural = calibrate(eProcedural, set(), params).camera.extrinsicXform();
    const tkXform<3> closedForm = calibrate(eClosedForm, set(), params).camera.extrinsicXform();
    EXPECT_TRUE(XformsNear(procedural, closedForm, 1e-9));
    const double expected = params.useCameraHeight() ? params.cameraHeight() : 0.0;
    EXPECT_NEAR(originDepth(procedural), expected, 1e-9);
    EXPECT_NEAR(originDepth(closedForm), expected, 1e-9);
  }
}

// ---- camera height ---------------------------------------------------------------------------

TEST_F(TelecentricExact, HeightDoesNotChangeTheImageMapping) {
  for (Flow flow : {eProcedural, eClosedForm, eKnownIntrinsic})
    EXPECT_LE(LargestMappingError(calibrate(flow, set(), withHeight(123.0)).camera, set()), 1e-9)
        << "overload " << flow;
}

TEST_F(TelecentricExact, KnownIntrinsicHeightTakesTheSignOfRotationEntry22) {
  // The true camera looks along the negative home Z axis: R(2, 2) < 0.
  ASSERT_LT(set().truth.cameraFromHome.matrix().element(2, 2), 0.0);
  const tkXform<3> E = calibrate(eKnownIntrinsic, set(), withHeight(40.0)).camera.extrinsicXform();
  EXPECT_NEAR(E.trans().z(), -40.0, 1e-12);

  // Turning the home frame half a turn about X makes R(2, 2) positive.
  tkTelecentricSet flipped = set();
  const tkXform<3> halfTurn(tkMatrix<3>(1, 0, 0, 0, -1, 0, 0, 0, -1), tkVector<3>());
  for (tkXform<3>& pose : flipped.poses)
    pose = halfTurn * pose;
  const tkXform<3> F =
      calibrate(eKnownIntrinsic, flipped, withHeight(40.0)).camera.extrinsicXform();
  EXPECT_GT(F.matrix().element(2, 2), 0.0);
  EXPECT_NEAR(F.trans().z(), 40.0, 1e-12);

  // Without the height the solver's Z of 0 is kept.
  EXPECT_EQ(calibrate(eKnownIntrinsic, set()).camera.extrinsicXform().trans().z(), 0.0);
}

TEST_F(TelecentricExact, ClosedFormHeightIsTheEstimatesZBeforeFactoring) {
  // The height enters the affine estimate's translation; after factoring it is the home-frame
  // depth of the camera's origin, not E's Z translation itself (the camera is tilted).
  const tkXform<3> E = calibrate(eClosedForm, set(), withHeight(70.0)).camera.extrinsicXform();
  EXPECT_NEAR(originDepth(E), 70.0, 1e-9);
  EXPECT_GT(std::abs(E.trans().z() - 70.0), 1e-3);
}

// ---- noisy data ------------------------------------------------------------------------------

TEST_F(TelecentricNoisy, PerPoseRmsIsWhatTheNoiseExplains) {
  const double sigma = set().truth.noiseSigmaPx;
  ASSERT_GT(sigma, 0.0);
  const double points = static_cast<double>(set().pointCount());
  for (Flow flow : {eProcedural, eClosedForm, eKnownIntrinsic}) {
    const Outcome out = calibrate(flow, set());
    const double freeParameters = flow == eKnownIntrinsic ? 5.0 : 8.0;
    const double expected = sigma * std::sqrt(2.0) * std::sqrt(1.0 - freeParameters / (2 * points));
    // One draw of 2 x 300 coordinates strays by about 3 % per pose, 1.5 % over all.
    for (std::size_t i = 0; i < out.rms.size(); ++i)
      EXPECT_NEAR(out.rms[i] / expected, 1.0, 0.12) << "overload " << flow << " pose " << i;
    EXPECT_NEAR(out.pooledRms() / expected, 1.0, 0.05) << "overload " << flow;
    EXPECT_LE(LargestMappingError(out.camera, set()), 0.05) << "overload " << flow;
  }
}

TEST_F(TelecentricNoisy, ProceduralFlowHasTheSmallestResidual) {
  const double procedural = calibrate(eProcedural, set()).pooledRms();
  const double closedForm = calibrate(eClosedForm, set()).pooledRms();
  const double knownIntrinsic = calibrate(eKnownIntrinsic, set()).pooledRms();
  // For unit weights the closed-form fit is already the least-squares optimum of the model, so
  // the refinement can only confirm it; the known intrinsic part leaves fewer free parameters.
  EXPECT_LE(procedural, closedForm * (1.0 + 1e-12));
  EXPECT_LT(procedural, knownIntrinsic);
}

// ---- argument checks -------------------------------------------------------------------------

TEST_F(TelecentricExact, ProceduralOverloadChecksTheListCountBeforeThePoseCount) {
  std::vector<double> rms, largest;
  tk2XformCalib2 camera;
  const auto call = [&](std::size_t lists, std::size_t poses) {
    return [&, lists, poses] {
      const std::vector<std::vector<tkPair<tkVector<2>>>> points(set().pairs.begin(),
                                                                 set().pairs.begin() + lists);
      const std::vector<tkXform<3>> posesUsed(set().poses.begin(), set().poses.begin() + poses);
      tfCalibrateTelecentricCamera(points, posesUsed, Params(), rms, largest, camera);
    };
  };
  const std::wstring sizes = L"imagePointsPhysicalPoints.size() != poses.size()";
  EXPECT_TRUE(ThrowsWithMessage<tkCalibrateTelecentricCameraDefs::BadParams>(call(1, 2), sizes));
  EXPECT_TRUE(ThrowsWithMessage<tkCalibrateTelecentricCameraDefs::BadParams>(call(3, 2), sizes));
  EXPECT_TRUE(ThrowsWithMessage<tkCalibrateTelecentricCameraDefs::InsufficientPoses>(
      call(1, 1), L"poses.size() < 2"));
  EXPECT_TRUE(ThrowsWithMessage<tkCalibrateTelecentricCameraDefs::InsufficientPoses>(
      call(0, 0), L"poses.size() < 2"));
}

TEST_F(TelecentricExact, WeightedOverloadsCheckThePoseCountBeforeTheListCount) {
  std::vector<double> rms, largest;
  tk2XformCalib2 camera;
  for (Flow flow : {eClosedForm, eKnownIntrinsic}) {
    const auto call = [&](std::size_t lists, std::size_t poses) {
      return [&, lists, poses] {
        tkTelecentricSet part = set();
        part.correspondences.resize(lists);
        part.poses.resize(poses);
        calibrate(flow, part);
      };
    };
    using BadParams = tk_TelecentricCalibrationDefs::BadParams;
    EXPECT_TRUE(ThrowsWithMessage<BadParams>(call(2, 1), L"poses.size() < 2")) << flow;
    EXPECT_TRUE(ThrowsWithMessage<BadParams>(call(0, 0), L"poses.size() < 2")) << flow;
    EXPECT_TRUE(ThrowsWithMessage<BadParams>(call(2, 3), L"poses.size() != correspondences.size()"))
        << flow;
  }
}

TEST_F(TelecentricExact, DegenerateDataThrowsTypedExceptions) {
  // Every pose the same: the home-frame points lie in one plane and the camera is not determined.
  tkTelecentricSet samePose = set();
  for (tkXform<3>& pose : samePose.poses)
    pose = set().poses[0];
  for (Flow flow : {eProcedural, eClosedForm, eKnownIntrinsic})
    EXPECT_THROW(calibrate(flow, samePose), tkMathError::Singular) << "overload " << flow;

  // Fewer than four points in all.
  tkTelecentricSet few = set();
  for (std::size_t i = 0; i < few.poses.size(); ++i) {
    few.pairs[i].resize(i == 0 ? 1 : 0);
    few.correspondences[i].resize(i == 0 ? 1 : 0);
  }
  EXPECT_TRUE(ThrowsWithMessage<tkCalibrateTelecentricCameraDefs::BadParams>(
      [&] { calibrate(eProcedural, few); }, L"points of positive weight < 4"));
  EXPECT_THROW(calibrate(eClosedForm, few), tkMathError::Singular);

  // Values that are not numbers.
  tkTelecentricSet notANumber = set();
  notANumber.pairs[1][5].first = tkVector<2>(NAN, 1.0);
  EXPECT_THROW(calibrate(eProcedural, notANumber), tkCalibrateTelecentricCameraDefs::BadParams);

  // A negative weight.
  tkTelecentricSet negative = set();
  negative.correspondences[2][7].weight(-1.0);
  for (Flow flow : {eClosedForm, eKnownIntrinsic})
    EXPECT_TRUE(ThrowsWithMessage<tk_TelecentricCalibrationDefs::BadParams>(
        [&] { calibrate(flow, negative); }, L"weight < 0 || !std::isfinite(weight)"))
        << "overload " << flow;
}

// ---- outputs ---------------------------------------------------------------------------------

TEST_F(TelecentricExact, OutputsHoldOneEntryPerPoseAfterSuccessAndAreUntouchedOnFailure) {
  tk2XformCalib2 previous;
  previous.init(tkCalib2ParamsIntrinsic(tkVector<2>(2.0, 3.0), 0.5, tkVector<2>(7.0, 8.0),
                                        tk2XformCalib2Defs::eTelecentric, {}),
                tkCalib2ParamsExtrinsic());
  const std::vector<double> sentinel(7, -1.0);
  tkTelecentricSet samePose = set();
  for (tkXform<3>& pose : samePose.poses)
    pose = set().poses[0];

  for (Flow flow : {eProcedural, eClosedForm, eKnownIntrinsic}) {
    const tkTelecentricSet* const sets[] = {&set(), &samePose};
    for (const tkTelecentricSet* data : sets) {
      std::vector<double> rms = sentinel, largest = sentinel;
      tk2XformCalib2 camera = previous;
      const bool succeeds = data == &set();
      try {
        switch (flow) {
          case eProcedural:
            tfCalibrateTelecentricCamera(data->pairs, data->poses, Params(), rms, largest, camera);
            break;
          case eClosedForm:
            tfCalibrateTelecentricCamera(data->correspondences, data->poses, Params(), rms, largest,
                                         camera);
            break;
          case eKnownIntrinsic:
            tfCalibrateTelecentricCamera(data->correspondences, data->poses, Params(),
                                         data->truth.intrinsic, rms, largest, camera);
            break;
        }
        EXPECT_TRUE(succeeds) << "overload " << flow;
      } catch (const tkMathError::Singular&) {
        EXPECT_FALSE(succeeds) << "overload " << flow;
      }
      if (succeeds) {
        EXPECT_EQ(rms.size(), data->poses.size()) << "overload " << flow;
        EXPECT_EQ(largest.size(), data->poses.size()) << "overload " << flow;
        EXPECT_NE(camera, previous) << "overload " << flow;
      } else {
        EXPECT_EQ(rms, sentinel) << "overload " << flow;
        EXPECT_EQ(largest, sentinel) << "overload " << flow;
        EXPECT_EQ(camera, previous) << "overload " << flow;
      }
    }
  }
}

TEST_F(TelecentricExact, PoseWithoutWeightOrPointsGetsItsOwnFigures) {
  // An extra pose whose points carry weight 0 (and are a pixel off), and one without points.
  tkTelecentricSet extended = set();
  extended.poses.push_back(set().poses[1]);
  extended.correspondences.push_back(set().correspondences[1]);
  extended.pairs.push_back(set().pairs[1]);
  for (tkCrspPairWeighted& c : extended.correspondences.back()) {
    c.weight(0.0);
    c.image(c.image() + tkVector<2>(0.6, 0.8));
  }
  extended.poses.push_back(set().poses[2]);
  extended.correspondences.emplace_back();
  extended.pairs.emplace_back();

  for (Flow flow : {eClosedForm, eKnownIntrinsic}) {
    const Outcome out = calibrate(flow, extended);
    ASSERT_EQ(out.rms.size(), 6u);
    // The largest distance of the weightless pose, under the camera that came out.
    const tkXform<3> E = out.camera.extrinsicXform();
    double largest = 0.0;
    for (const tkCrspPairWeighted& c : extended.correspondences[4]) {
      const tkVector<3> Q = (E * extended.poses[4]).mapPoint(c.physical3D());
      const tkVector<2> predicted =
          out.camera.intrinsicParams().mapPoint(tkVector<2>(Q.x(), Q.y()));
      largest = std::max(largest, (c.image() - predicted).length());
    }
    EXPECT_EQ(out.rms[4], 0.0) << "overload " << flow;
    EXPECT_GT(largest, 0.5) << "overload " << flow;
    EXPECT_NEAR(out.largest[4], largest, 1e-12) << "overload " << flow;
    EXPECT_EQ(out.rms[5], 0.0) << "overload " << flow;
    EXPECT_EQ(out.largest[5], 0.0) << "overload " << flow;
  }
  // Weight 0 takes the points out of the closed-form fit (the known-intrinsic refinement is
  // unweighted and does see them).
  EXPECT_LE(LargestMappingError(calibrate(eClosedForm, extended).camera, set()), 1e-9);

  // The unweighted overload has no weights: the empty pose still gets zeros.
  extended.poses.erase(extended.poses.begin() + 4);
  extended.pairs.erase(extended.pairs.begin() + 4);
  const Outcome out = calibrate(eProcedural, extended);
  ASSERT_EQ(out.rms.size(), 5u);
  EXPECT_EQ(out.rms[4], 0.0);
  EXPECT_EQ(out.largest[4], 0.0);
}

// ---- abort -----------------------------------------------------------------------------------

TEST_F(TelecentricExact, AbortRequestedBeforehandStopsEveryFlowWithOutputsUntouched) {
  tkAbortToken token;
  token.requestAbort();
  tkAttentionScope scope(token);
  for (Flow flow : {eProcedural, eClosedForm, eKnownIntrinsic}) {
    std::vector<double> rms(3, -1.0), largest(3, -1.0);
    tk2XformCalib2 camera;
    const auto run = [&] {
      switch (flow) {
        case eProcedural:
          tfCalibrateTelecentricCamera(set().pairs, set().poses, Params(), rms, largest, camera);
          break;
        case eClosedForm:
          tfCalibrateTelecentricCamera(set().correspondences, set().poses, Params(), rms, largest,
                                       camera);
          break;
        case eKnownIntrinsic:
          tfCalibrateTelecentricCamera(set().correspondences, set().poses, Params(),
                                       set().truth.intrinsic, rms, largest, camera);
          break;
      }
    };
    EXPECT_THROW(run(), tkAttention::Aborted) << "overload " << flow;
    EXPECT_EQ(rms, std::vector<double>(3, -1.0));
    EXPECT_EQ(camera, tk2XformCalib2());
  }
}

TEST_F(TelecentricExact, AbortFromAnotherThreadEndsACalibration) {
  // Many copies of the points make each call long; another thread asks for the abort while
  // the calls run, and the next poll ends the running call.
  tkTelecentricSet large = set();
  for (std::size_t i = 0; i < large.poses.size(); ++i)
    for (int copy = 0; copy < 20; ++copy) {
      large.correspondences[i].insert(large.correspondences[i].end(),
                                      set().correspondences[i].begin(),
                                      set().correspondences[i].end());
      large.pairs[i].insert(large.pairs[i].end(), set().pairs[i].begin(), set().pairs[i].end());
    }
  for (Flow flow : {eProcedural, eClosedForm, eKnownIntrinsic}) {
    tkAbortToken token;
    std::atomic<bool> started{false};
    std::thread canceller([&] {
      while (!started.load())
        std::this_thread::yield();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      token.requestAbort();
    });
    bool aborted = false;
    {
      tkAttentionScope scope(token);
      started = true;
      // Calls are repeated until the abort arrives, so the test does not depend on timing.
      for (int call = 0; call < 100000 && !aborted; ++call) {
        try {
          calibrate(flow, large);
        } catch (const tkAttention::Aborted&) {
          aborted = true;
        }
      }
    }
    canceller.join();
    EXPECT_TRUE(aborted) << "overload " << flow;
  }
}
