// Bad values in models and options: converters, setters and options read from archives. Each row
// states what the caller gets (the second table of docs/failure-modes.md); as for the point
// lists, a failure leaves the outputs as they were. The setters' own checks,
// tkCalib2ParamsIntrinsic, extrinsicXform, the conversion of a telecentric camera and the
// point-list loader are covered by the tests of their folders.
#include "bad_input.h"

#include <ccal/line_scan_calibration.h>
#include <ccal/multicamera_calibration_params.h>
#include <ccal/telecentric_calibration.h>
#include <tk/archive.h>
#include <tk/pose3d.h>

#include "support/line_scan_sets.h"
#include "support/single_camera_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;
using Rig = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

struct Row {
  const char* what;
  std::function<bad::Outcome()> run;
  const char* expected;
};

tkCameraCalibrationParams camera(double scale, Model model) {
  tkCameraCalibrationParams c = scene::Camera(tk2XformCalib2Defs::eRadial);
  tkPhysicalAtZEquals1FromImageParams intrinsic = c.physicalAtZEquals1FromImageParams();
  intrinsic.cameraScale(tkPair<double>(scale, intrinsic.cameraScale().second));
  intrinsic.distModel(model);
  c.physicalAtZEquals1FromImageParams(intrinsic);
  return c;
}

bad::Outcome convert(const tkCameraCalibrationParams& c) {
  tk2XformCalib2 out;
  return bad::observeOutputs([&] { tfConvert(c, out); }, out);
}

tk2XformCalib2 telecentricXform() {
  tk2XformCalib2 x;
  x.init(tkCalib2ParamsIntrinsic({20, 20}, 0, {320, 240}, tk2XformCalib2Defs::eTelecentric, {}),
         tkCalib2ParamsExtrinsic());
  return x;
}

// Options whose archive holds a value their setters refuse.
template <class Options>
Options loadedOptions(Options options, std::size_t offset, const void* value, std::size_t size) {
  std::vector<unsigned char> bytes;
  {
    tkArchive ar(bytes, tkArchive::eStore);
    ar || options;
  }
  std::memcpy(bytes.data() + offset, value, size);
  tkArchive ar(bytes, tkArchive::eLoad);
  ar || options;
  return options;
}

bad::Outcome calibrateLineScan(const tkCalibrateLineScanCameraParams& params) {
  static const tkLineScanSet set = loadLineScanSet("linescan-exact.json");
  tk2XformCalib2 out;
  double rms = 7, largest = 7;
  return bad::observeOutputs(
      [&] { tfCalibrateLineScanCamera(set.image, set.physical, params, rms, largest, out); }, rms,
      largest, out);
}

bad::Outcome calibrateTelecentric(const tkCalibrateTelecentricCameraParams& params) {
  const bad::Scene s = bad::telecentricScene();
  std::vector<std::vector<tkCrspPairWeighted>> lists;
  for (const auto& placement : s.lists) {
    lists.emplace_back();
    for (const bad::Obs& o : placement[0])
      lists.back().emplace_back(o.image, o.physical, o.weight);
  }
  tk2XformCalib2 out;
  std::vector<double> rms{7}, largest{7};
  return bad::observeOutputs(
      [&] { tfCalibrateTelecentricCamera(lists, s.poses, params, rms, largest, out); }, rms,
      largest, out);
}

std::vector<Row> rows() {
  return {
      {"tfConvert(camera) NaN scale", [] { return convert(camera(kNaN, Model(5))); },
       "tkMathError::Singular"},
      {"tfConvert(camera) zero scale", [] { return convert(camera(0.0, Model(5))); },
       "tkMathError::Singular"},
      {"tfConvert(camera) model 2", [] { return convert(camera(1e-3, Model(2))); },
       "tkInvariantFailure"},
      {"tfConvert(rig) fewer intrinsics than poses",
       [] {
         Rig rig;
         rig.cameraPoseInverses({tk3QuaternionXform(), tk3QuaternionXform()});
         rig.physicalAtZEquals1FromImageParams({tkPhysicalAtZEquals1FromImageParams()});
         std::vector<tk2XformCalib2> out(1);
         return bad::observeOutputs([&] { tfConvert(rig, out); }, out);
       },
       "tkInvariantFailure"},
      {"rig invWarpPoint camera index out of range",
       [] {
         Rig rig;
         return bad::observeOutputs([&] { rig.invWarpPoint(tkVector<3>(0, 0, 1), 3); });
       },
       "tkInvariantFailure"},
      {"tkPhysicalAtZEquals1FromImageParams::distModel(2)",
       [] {
         tkPhysicalAtZEquals1FromImageParams p;
         return bad::observeOutputs([&] { p.distModel(Model(2)); }, p);
       },
       "ok, assertion"},
      {"tf3DComputePose telecentric camera",
       [] {
         tk3DComputePoseResult r;
         std::vector<std::pair<tkVector<2>, tkVector<3>>> pairs;
         for (int i = 0; i < 6; ++i)
           pairs.push_back({tkVector<2>(i, i * i), tkVector<3>(i, i * i, 0)});
         return bad::observeOutputs([&] { tf3DComputePose(pairs, telecentricXform(), {}, r); });
       },
       "tkInvariantFailure"},
      {"tfCalibrateLineScanCamera, archived mode 7",
       [] {
         const int32_t mode = 7;
         return calibrateLineScan(
             loadedOptions(tkCalibrateLineScanCameraParams(), 10, &mode, sizeof(mode)));
       },
       "ok"},
      {"tfCalibrateLineScanCamera, archived distance NaN",
       [] {
         tkCalibrateLineScanCameraParams p;
         p.useDistanceFromCameraToTarget(true);
         p.distanceFromCameraToTarget(100.0);
         return calibrateLineScan(loadedOptions(p, 2, &kNaN, sizeof(kNaN)));
       },
       "tkProcedureFailure"},
      {"tfCalibrateTelecentricCamera, archived height NaN",
       [] {
         tkCalibrateTelecentricCameraParams p;
         p.useCameraHeight(true);
         return calibrateTelecentric(loadedOptions(p, 2, &kNaN, sizeof(kNaN)));
       },
       "tkInvariantFailure"},
      {"tfAlignClientCoordinatesToScannerMotion without line scan",
       [] {
         tk2XformCalib2 x = telecentricXform();
         return bad::observeOutputs([&] { tfAlignClientCoordinatesToScannerMotion(x); }, x);
       },
       "tkProcedureFailure"},
  };
}

TEST(ModelInput, EachRowEndsAsDocumented) {
  for (const Row& row : rows()) {
    const bad::Outcome outcome = row.run();
    SCOPED_TRACE(std::string(row.what) + ": " + outcome.message);
    EXPECT_EQ(outcome.thrown, row.expected);
    EXPECT_TRUE(outcome.untouched);
    EXPECT_TRUE(outcome.finite);
  }
}

}  // namespace
