// Abort and progress of the long entry points on the bundled data sets. Another thread requests
// the abort while the call runs; the call must end soon after (the Parts ask for 50 ms; the
// assertion allows far more, because the test machines are shared, and the measured latencies
// are printed). Entry points that check through tkAttention::check throw tkAttention::Aborted
// and leave their outputs untouched; those whose minimisation simply ends at an abort return
// what they have. Progress fractions never decrease and end at 1 on a completed call.
#include "bad_input.h"
#include "multicam/rig_data.h"
#include "support/line_scan_sets.h"
#include "support/single_camera_data.h"
#include "support/telecentric_sets.h"

#include <ccal/camera_calibration_refine.h>
#include <ccal/line_scan_calibration.h>
#include <ccal/line_scan_xform.h>
#include <ccal/multicamera_calibration.h>
#include <ccal/single_camera_calibration.h>
#include <ccal/telecentric_calibration.h>
#include <tk/attention.h>
#include <tk/pose3d.h>
#include <tk/progress.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Values = std::vector<double>;

// Generous against machine load; the real figures are printed.
constexpr double kLatencyLimitMs = 2000.0;

struct LongCall {
  std::string name;
  std::function<void()> call;
  std::function<Values()> outputs;
  bool mayReturn;  // the minimisation may simply end and the call return what it has
  // The request comes this long after the call began (0: once it has reported progress, or
  // 0.2 ms after it began when it reports none - the start-up of the call).
  double requestAfterMs = 0.0;
  bool runToCompletion = true;  // also run it once without an abort (progress checks)
};

struct Observed {
  bool aborted = false;
  std::string otherFailure;
  bool finishedBeforeRequest = false;
  double latencyMs = 0.0;
  std::vector<double> fractions;
  bool untouched = false;
};

bool sameBits(const Values& a, const Values& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Runs call on a worker thread with progress reporting; with abort, requests the abort once the
// call has begun and reported progress (or 0.2 ms after it began when it reports none), or
// c.requestAfterMs after it began.
Observed runOnWorker(const LongCall& c, bool abort) {
  Observed run;
  const Values before = c.outputs();
  tkAbortToken token;
  std::atomic<bool> entered{false}, reported{false}, done{false};
  Clock::time_point finished, requested;
  std::thread worker([&] {
    tkAttentionScope attention(token);
    tkProgressScope progress(
        [&](double fraction) {
          run.fractions.push_back(fraction);
          reported = true;
        },
        false);
    try {
      entered = true;
      c.call();
    } catch (const tkAttention::Aborted&) {
      run.aborted = true;
    } catch (const std::exception& e) {
      run.otherFailure = e.what();
    }
    finished = Clock::now();
    done = true;
  });
  if (abort) {
    while (!entered)
      std::this_thread::yield();
    const Clock::time_point start = Clock::now();
    const auto delay =
        std::chrono::duration<double, std::milli>(c.requestAfterMs > 0.0 ? c.requestAfterMs : 0.2);
    while ((c.requestAfterMs > 0.0 || !reported) && !done && Clock::now() - start < delay)
      std::this_thread::yield();
    run.finishedBeforeRequest = done;
    requested = Clock::now();
    token.requestAbort();
  }
  worker.join();
  run.latencyMs = std::chrono::duration<double, std::milli>(finished - requested).count();
  run.untouched = sameBits(before, c.outputs());
  return run;
}

std::vector<LongCall> longCalls() {
  static const SingleCameraDataSet single = LoadSingleCameraDataSet("single-radial-exact.json");
  static const tkRigDataSet rig = tfLoadRig("rig3-radial-exact.json");
  // The telecentric data repeated, so that a call lasts long enough to be caught.
  static const tkTelecentricSet telecentric = [] {
    tkTelecentricSet set = loadTelecentricSet("telecentric-exact.json");
    for (std::size_t p = 0; p < set.poses.size(); ++p)
      for (int copy = 0; copy < 5; ++copy) {
        set.pairs[p].insert(set.pairs[p].end(), set.pairs[p].begin(), set.pairs[p].end());
        set.correspondences[p].insert(set.correspondences[p].end(), set.correspondences[p].begin(),
                                      set.correspondences[p].end());
      }
    return set;
  }();
  static const tkPointFile singleFile = loadDataSet("single-radial-exact.json");
  static const auto views = tfPlateViews(singleFile, 0, 10);
  static tkCameraCalibrationParams result = single.truth;
  static tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams rigResult;
  static tk2XformCalib2 xform;
  static std::vector<double> rms{7}, largest{7};
  static tk3DComputePoseResult pose;
  // The noisy line-scan data repeated, so that a fit lasts long enough to be caught.
  static const tkLineScanSet lineScan = [] {
    tkLineScanSet set = loadLineScanSet("linescan-noisy.json");
    for (int copy = 0; copy < 8; ++copy) {
      set.image.insert(set.image.end(), set.image.begin(), set.image.end());
      set.physical.insert(set.physical.end(), set.physical.begin(), set.physical.end());
    }
    return set;
  }();
  static tk2XformLineScan lineScanXform;
  const auto lineScanValues = [] {
    Values v;
    for (const tkVector<2>& p : {tkVector<2>(0.0, 0.0), tkVector<2>(10.0, 20.0)}) {
      const tkVector<2> q = lineScanXform.mapPoint(p);
      v.insert(v.end(), {q.x(), q.y()});
    }
    return v;
  };
  const auto params = [] {
    Values v;
    bad::append(v, result);
    return v;
  };
  const auto rigParams = [] {
    Values v;
    for (const auto& p : rigResult.cameraPoseInverses())
      bad::append(v, p.xform());
    return v;
  };
  const auto calibrated = [] {
    Values v = rms;
    v.insert(v.end(), largest.begin(), largest.end());
    bad::append(v, xform);
    return v;
  };
  const auto worldPairs = [] {
    std::vector<std::pair<tkVector<2>, tkVector<3>>> pairs;
    for (const auto& k : single.correspondences)
      pairs.push_back(k.first);
    return pairs;
  };
  tkCameraCalibrationParams start = single.truth;
  tkPhysicalAtZEquals1FromImageParams lens = start.physicalAtZEquals1FromImageParams();
  lens.k(0.0);
  start.physicalAtZEquals1FromImageParams(lens);
  tk2XformCalib2 camera;
  tfConvert(single.truth, camera);
  std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics =
      rig.truth.physicalAtZEquals1FromImageParams();
  return {
      {"tfComputeCalibrationSingleCamera_internal (start-up)",
       [] {
         tfComputeCalibrationSingleCamera_internal(tk2XformCalib2Defs::eRadial,
                                                   single.correspondences, single.plateViews,
                                                   single.platePoses, result);
       },
       params, false},
      {"tfComputeCalibrationSingleCamera_internal (no views, search)",
       [] {
         tfComputeCalibrationSingleCamera_internal(tk2XformCalib2Defs::eRadial,
                                                   single.correspondences, {}, {}, result);
       },
       params, true, 20.0, false},
      {"tfRefineCameraCalibrationParams",
       [start] { tfRefineCameraCalibrationParams(single.correspondences, start, result); }, params,
       true},
      {"tfCalibrateMultiplateMulticameraZRotationAndArbitrary",
       [] {
         tfCalibrateMultiplateMulticameraZRotationAndArbitrary(rig.model, rig.zData, rig.aData,
                                                               rigResult);
       },
       rigParams, true},
      {"tfCameraPoseMultiplateMulticameraZRotationAndArbitrary",
       [intrinsics] {
         tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(intrinsics, rig.zData, rig.aData,
                                                                rigResult);
       },
       rigParams, true},
      {"tfCalibrateTelecentricCamera (pairs)",
       [] {
         tfCalibrateTelecentricCamera(telecentric.pairs, telecentric.poses, {}, rms, largest,
                                      xform);
       },
       calibrated, false},
      {"tfCalibrateTelecentricCamera (weighted)",
       [] {
         tfCalibrateTelecentricCamera(telecentric.correspondences, telecentric.poses, {}, rms,
                                      largest, xform);
       },
       calibrated, false},
      {"tfCalibrateTelecentricCamera (weighted, intrinsic)",
       [] {
         tfCalibrateTelecentricCamera(telecentric.correspondences, telecentric.poses, {},
                                      telecentric.truth.intrinsic, rms, largest, xform);
       },
       calibrated, false},
      {"tk2XformCalib2::init (views)",
       [] { xform.init(views, rms, largest, tk2XformCalib2Defs::eRadial); }, calibrated, false},
      {"tfCalibrateLineScanCamera",
       [] {
         tfCalibrateLineScanCamera(lineScan.image, lineScan.physical, {}, rms[0], largest[0],
                                   xform);
       },
       calibrated, false},
      {"tk2XformLineScan::init", [] { lineScanXform.init(lineScan.image, lineScan.physical); },
       lineScanValues, false},
      {"tf3DComputePose", [worldPairs, camera] { tf3DComputePose(worldPairs(), camera, {}, pose); },
       [] {
         Values v{pose.rms()};
         bad::append(v, pose.pose().xform());
         return v;
       },
       false},
  };
}

void expectMonotonic(const std::vector<double>& fractions) {
  for (std::size_t i = 1; i < fractions.size(); ++i)
    ASSERT_GE(fractions[i], fractions[i - 1]) << "report " << i;
  for (double f : fractions)
    ASSERT_TRUE(f >= 0.0 && f <= 1.0) << f;
}

TEST(Abort, EveryLongEntryPointEndsSoonAfterAnAbortRequest) {
  for (const LongCall& c : longCalls()) {
    SCOPED_TRACE(c.name);
    if (c.runToCompletion) {
      const Observed completed = runOnWorker(c, false);
      EXPECT_FALSE(completed.aborted);
      EXPECT_EQ(completed.otherFailure, "");
      expectMonotonic(completed.fractions);
      if (!completed.fractions.empty()) {
        EXPECT_EQ(completed.fractions.back(), 1.0);
      }
    }

    const Observed run = runOnWorker(c, true);
    std::printf("abort latency %-55s %8.2f ms%s (%s)\n", c.name.c_str(), run.latencyMs,
                run.finishedBeforeRequest ? ", finished before the request" : "",
                run.aborted ? "Aborted" : "returned");
    EXPECT_EQ(run.otherFailure, "");
    expectMonotonic(run.fractions);
    if (run.finishedBeforeRequest)
      continue;  // too fast to catch on this machine; nothing to measure
    EXPECT_LT(run.latencyMs, kLatencyLimitMs);
    EXPECT_TRUE(run.aborted || c.mayReturn) << "returned instead of throwing Aborted";
    if (run.aborted) {
      EXPECT_TRUE(run.untouched) << "outputs changed before Aborted";
    }
  }
}

}  // namespace
