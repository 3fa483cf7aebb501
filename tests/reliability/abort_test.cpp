// Abort and progress of the long entry points on the bundled data sets. Another thread requests
// the abort while the call runs; the call must end soon after (50 ms of its own CPU time; the
// wall-clock limit allows far more, because the test machines are shared, and the measured
// latencies are printed). Entry points that check through tkAttention::check throw
// tkAttention::Aborted and leave their outputs untouched; those whose minimisation simply ends
// at an abort return what they have. Progress fractions never decrease.
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
#include <cmath>
#include <cstdio>
#include <thread>

#include <pthread.h>
#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;
using Values = std::vector<double>;

// The work a call does after the request is measured as the CPU time of its thread, which
// machine load does not stretch; it must stay within the 50 ms asked for (sanitizers slow the
// code several times). The wall-clock limit is generous against load; both are printed.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kCpuLatencyLimitMs = 250.0;
#else
constexpr double kCpuLatencyLimitMs = 50.0;
#endif
constexpr double kLatencyLimitMs = 2000.0;

// NaN when the clock cannot be read (the thread has ended).
double cpuMs(clockid_t clock) {
  timespec t{};
  if (clock_gettime(clock, &t) != 0)
    return std::nan("");
  return 1e3 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec);
}
constexpr auto kRadial = tk2XformCalib2Defs::eRadial;

struct LongCall {
  std::string name;
  std::function<void()> call;
  std::function<Values()> outputs;
  bool mayReturn;  // the minimisation may simply end and the call return what it has
  // The request comes this long after the call began; 0: once it has reported progress, or
  // 0.2 ms after it began when it reports none (the start-up of the call).
  double requestAfterMs = 0.0;
};

template <class T>
std::vector<T> repeated(std::vector<T> list, int doublings) {
  for (int i = 0; i < doublings; ++i)
    list.insert(list.end(), list.begin(), list.end());
  return list;
}

std::vector<LongCall> longCalls() {
  static const SingleCameraDataSet single = LoadSingleCameraDataSet("single-radial-exact.json");
  static const tkRigDataSet rig = tfLoadRig("rig3-radial-exact.json");
  // The telecentric and line-scan data repeated, so that a call lasts long enough to be caught.
  static const tkTelecentricSet telecentric = [] {
    tkTelecentricSet set = loadTelecentricSet("telecentric-exact.json");
    for (std::size_t p = 0; p < set.poses.size(); ++p) {
      set.pairs[p] = repeated(set.pairs[p], 5);
      set.correspondences[p] = repeated(set.correspondences[p], 5);
    }
    return set;
  }();
  static const tkLineScanSet lineScan = loadLineScanSet("linescan-noisy.json");
  static const auto scanImage = repeated(lineScan.image, 8);
  static const auto scanPhysical = repeated(lineScan.physical, 8);
  static const auto views = tfPlateViews(loadDataSet("single-radial-exact.json"), 0, 10);
  static tkCameraCalibrationParams result = single.truth;
  static tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams rigResult;
  static tk2XformCalib2 xform;
  static tk2XformLineScan scanXform;
  static std::vector<double> rms{7}, largest{7};
  static tk3DComputePoseResult pose;
  const auto params = bad::valuesOf(result);
  const auto rigPoses = bad::valuesOf(rigResult.cameraPoseInverses());
  const auto calibrated = bad::valuesOf(rms, largest, xform);
  std::vector<std::pair<tkVector<2>, tkVector<3>>> worldPairs;
  for (const auto& k : single.correspondences)
    worldPairs.push_back(k.first);
  tkCameraCalibrationParams start = single.truth;
  tkPhysicalAtZEquals1FromImageParams lens = start.physicalAtZEquals1FromImageParams();
  lens.k(0.0);
  start.physicalAtZEquals1FromImageParams(lens);
  tk2XformCalib2 camera;
  tfConvert(single.truth, camera);
  const auto intrinsics = rig.truth.physicalAtZEquals1FromImageParams();
  return {
      {"single camera, start-up",
       [] {
         tfComputeCalibrationSingleCamera_internal(kRadial, single.correspondences,
                                                   single.plateViews, single.platePoses, result);
       },
       params, false},
      {"single camera without views, search",
       [] {
         tfComputeCalibrationSingleCamera_internal(kRadial, single.correspondences, {}, {}, result);
       },
       params, true, 20.0},
      {"tfRefineCameraCalibrationParams",
       [start] { tfRefineCameraCalibrationParams(single.correspondences, start, result); }, params,
       true},
      {"rig calibration",
       [] {
         tfCalibrateMultiplateMulticameraZRotationAndArbitrary(rig.model, rig.zData, rig.aData,
                                                               rigResult);
       },
       rigPoses, true},
      {"rig pose estimation",
       [intrinsics] {
         tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(intrinsics, rig.zData, rig.aData,
                                                                rigResult);
       },
       rigPoses, true},
      {"telecentric (pairs)",
       [] {
         tfCalibrateTelecentricCamera(telecentric.pairs, telecentric.poses, {}, rms, largest,
                                      xform);
       },
       calibrated, false},
      {"telecentric (weighted, intrinsic)",
       [] {
         tfCalibrateTelecentricCamera(telecentric.correspondences, telecentric.poses, {},
                                      telecentric.truth.intrinsic, rms, largest, xform);
       },
       calibrated, false},
      {"tk2XformCalib2::init (views)", [] { xform.init(views, rms, largest, kRadial); }, calibrated,
       false},
      {"tfCalibrateLineScanCamera",
       [] { tfCalibrateLineScanCamera(scanImage, scanPhysical, {}, rms[0], largest[0], xform); },
       calibrated, false},
      {"tk2XformLineScan::init", [] { scanXform.init(scanImage, scanPhysical); },
       [] {
         const tkVector<2> p = scanXform.mapPoint(tkVector<2>(10.0, 20.0));
         return Values{p.x(), p.y()};
       },
       false},
      {"tf3DComputePose", [worldPairs, camera] { tf3DComputePose(worldPairs, camera, {}, pose); },
       [] {
         Values v{pose.rms()};
         bad::append(v, pose.pose().xform());
         return v;
       },
       false},
  };
}

TEST(Abort, EveryLongEntryPointEndsSoonAfterAnAbortRequest) {
  for (const LongCall& c : longCalls()) {
    SCOPED_TRACE(c.name);
    // The call runs on a worker with progress reporting; the abort is requested from here.
    tkAbortToken token;
    std::atomic<bool> entered{false}, reported{false}, done{false};
    std::vector<double> fractions;
    bad::Outcome outcome;
    Clock::time_point finished;
    double finishedCpu = 0.0;
    std::thread worker([&] {
      tkAttentionScope attention(token);
      tkProgressScope progress(
          [&](double fraction) {
            fractions.push_back(fraction);
            reported = true;
          },
          false);
      entered = true;
      outcome = bad::observe(c.call, c.outputs);
      finishedCpu = cpuMs(CLOCK_THREAD_CPUTIME_ID);
      finished = Clock::now();
      done = true;
    });
    while (!entered)
      std::this_thread::yield();
    const Clock::time_point begun = Clock::now();
    const std::chrono::duration<double, std::milli> delay(c.requestAfterMs > 0.0 ? c.requestAfterMs
                                                                                 : 0.2);
    while ((c.requestAfterMs > 0.0 || !reported) && !done && Clock::now() - begun < delay)
      std::this_thread::yield();
    const bool doneBefore = done;
    clockid_t workerClock{};
    pthread_getcpuclockid(worker.native_handle(), &workerClock);
    const double requestedCpu = cpuMs(workerClock);
    const Clock::time_point requested = Clock::now();
    token.requestAbort();
    worker.join();
    const double latencyMs =
        std::chrono::duration<double, std::milli>(finished - requested).count();
    const double cpuLatencyMs = finishedCpu - requestedCpu;
    const bool finishedBefore = doneBefore || !(cpuLatencyMs >= 0.0);
    if (finishedBefore)
      std::printf("abort latency %-36s finished before the request\n", c.name.c_str());
    else
      std::printf("abort latency %-36s %8.2f ms, CPU %7.2f ms (%s)\n", c.name.c_str(), latencyMs,
                  cpuLatencyMs, outcome.thrown.c_str());

    for (std::size_t i = 1; i < fractions.size(); ++i)
      EXPECT_GE(fractions[i], fractions[i - 1]) << "report " << i;
    if (finishedBefore)
      continue;  // too fast to catch on this machine; nothing to measure
    EXPECT_LT(latencyMs, kLatencyLimitMs);
    EXPECT_LT(cpuLatencyMs, kCpuLatencyLimitMs);
    if (outcome.thrown == "ok" && !c.mayReturn) {
      // The request may have come after the call's last check; one made before it must be seen.
      tkAbortToken early;
      early.requestAbort();
      tkAttentionScope attention(early);
      outcome = bad::observe(c.call, c.outputs);
    }
    if (outcome.thrown == "ok") {
      EXPECT_TRUE(c.mayReturn) << "returned instead of throwing Aborted";
      EXPECT_TRUE(outcome.finite);
    } else {
      EXPECT_EQ(outcome.thrown, "tkAttention::Aborted") << outcome.message;
      EXPECT_TRUE(outcome.untouched) << "outputs changed before Aborted";
    }
  }
}

}  // namespace
