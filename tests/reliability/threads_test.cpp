// Eight threads calibrating different data sets at once get, each, the bit pattern the same
// calibration gets alone: the library keeps no shared state between calls. Built with
// -DCCAL_TSAN=ON, ThreadSanitizer watches the same run for data races.
#include "bad_input.h"
#include "support/line_scan_sets.h"
#include "support/single_camera_data.h"
#include "support/telecentric_sets.h"

#include <ccal/line_scan_calibration.h>
#include <ccal/single_camera_calibration.h>
#include <ccal/telecentric_calibration.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Values = std::vector<double>;

// Every 12th correspondence of a single-camera set, calibrated without plate views.
std::function<Values()> singleCamera(const std::string& file,
                                     tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  SingleCameraDataSet set = LoadSingleCameraDataSet(file);
  WeightedCorrespondences subset;
  for (std::size_t i = 0; i < set.correspondences.size(); i += 12)
    subset.push_back(set.correspondences[i]);
  return [subset, model] {
    tkCameraCalibrationParams result;
    tfComputeCalibrationSingleCamera_internal(model, subset, {}, {}, result);
    Values v;
    bad::append(v, result);
    return v;
  };
}

std::function<Values()> telecentric(const std::string& file) {
  const tkTelecentricSet set = loadTelecentricSet(file);
  return [set] {
    tk2XformCalib2 xform;
    std::vector<double> rms, largest;
    tfCalibrateTelecentricCamera(set.correspondences, set.poses, {}, set.truth.intrinsic, rms,
                                 largest, xform);
    Values v = rms;
    bad::append(v, xform);
    return v;
  };
}

std::function<Values()> lineScan(const std::string& file) {
  const tkLineScanSet set = loadLineScanSet(file);
  return [set] {
    tk2XformCalib2 xform;
    double rms = 0, largest = 0;
    tfCalibrateLineScanCamera(set.image, set.physical, {}, rms, largest, xform);
    Values v{rms, largest};
    for (const tkVector<2>& p : set.physical)
      v.push_back(xform.invMapPoint(p).x());
    return v;
  };
}

TEST(Threads, EightCalibrationsAtOnceMatchTheirSingleThreadedResultsBitForBit) {
  const std::vector<std::function<Values()>> jobs = {
      singleCamera("single-none-exact.json", tk2XformCalib2Defs::eNoDistortion),
      singleCamera("single-none-noisy.json", tk2XformCalib2Defs::eNoDistortion),
      singleCamera("single-radial-exact.json", tk2XformCalib2Defs::eRadial),
      singleCamera("single-radial-noisy.json", tk2XformCalib2Defs::eRadial),
      telecentric("telecentric-exact.json"),
      telecentric("telecentric-noisy.json"),
      lineScan("linescan-exact.json"),
      lineScan("linescan-noisy.json"),
  };
  std::vector<Values> alone;
  for (const auto& job : jobs)
    alone.push_back(job());

  std::vector<Values> together(jobs.size());
  std::atomic<int> waiting{static_cast<int>(jobs.size())};
  std::vector<std::thread> threads;
  for (std::size_t j = 0; j < jobs.size(); ++j)
    threads.emplace_back([&, j] {
      --waiting;
      while (waiting > 0)
        std::this_thread::yield();  // start together
      together[j] = jobs[j]();
    });
  for (std::thread& t : threads)
    t.join();

  for (std::size_t j = 0; j < jobs.size(); ++j) {
    ASSERT_EQ(together[j].size(), alone[j].size()) << "job " << j;
    EXPECT_EQ(std::memcmp(together[j].data(), alone[j].data(), alone[j].size() * sizeof(double)), 0)
        << "job " << j;
  }
}

}  // namespace
