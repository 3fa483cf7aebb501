// The rig calibration on real chessboard corners (OpenCV's sample stereo pair, data/opencv-*.json)
// against what OpenCV reaches on the same points with one radial coefficient
// (bench/opencv_stereo_reference.py; figures in docs/benchmarks.md). Every corner counts,
// including the few at the board's edge that lie several pixels off.
#include "rig_data.h"

#include <ccal/multicamera_calibration.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

// Per-camera RMS over all placements from the Z-rotation and arbitrary figures.
std::vector<double> rmsPerCamera(const tkRigDataSet& set, const std::vector<double>& rmsZ,
                                 const std::vector<double>& rmsA) {
  std::vector<double> out;
  for (std::size_t c = 0; c < rmsZ.size(); ++c) {
    double nZ = 0.0, nA = 0.0;
    for (const auto& placement : set.zData)
      nZ += static_cast<double>(placement.first[c].size());
    for (const auto& placement : set.aData)
      nA += static_cast<double>(placement[c].size());
    out.push_back(std::sqrt((rmsZ[c] * rmsZ[c] * nZ + rmsA[c] * rmsA[c] * nA) / (nZ + nA)));
  }
  return out;
}

std::vector<double> calibrate(const tkRigDataSet& set, std::vector<double>& largest) {
  Params result;
  std::vector<double> rmsZ, maxZ, rmsA, maxA;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
      tk2XformCalib2Defs::eRadial, tfWeightedZ(set.zData), tfWeightedA(set.aData), result, rmsZ,
      maxZ, rmsA, maxA);
  largest.clear();
  for (std::size_t c = 0; c < maxZ.size(); ++c)
    largest.push_back(std::max(maxZ[c], maxA[c]));
  return rmsPerCamera(set, rmsZ, rmsA);
}

// OpenCV 4.6.0, k1 only: calibrateCamera on the left camera; stereoCalibrate (intrinsics of
// both cameras refined jointly from the per-camera results), RMS per camera.
constexpr double kOpenCvLeftAlone = 0.4208310186;
constexpr double kOpenCvStereoLeft = 0.4344229876;
constexpr double kOpenCvStereoRight = 0.4980570049;

TEST(RealData, OneCameraAndTheStereoPairFitNoWorseThanOpenCv) {
  std::vector<double> largest;
  const std::vector<double> alone = calibrate(tfLoadRig("opencv-left.json"), largest);
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_LT(alone[0], kOpenCvLeftAlone);
  EXPECT_GT(largest[0], 3.0);  // the edge outliers are in the figures, not dropped

  const std::vector<double> pair = calibrate(tfLoadRig("opencv-stereo.json"), largest);
  ASSERT_EQ(pair.size(), 2u);
  EXPECT_LT(pair[0], kOpenCvStereoLeft);
  EXPECT_LT(pair[1], kOpenCvStereoRight);
  // One rig: each camera fits a little worse than alone.
  EXPECT_GT(pair[0], alone[0]);
}

}  // namespace
