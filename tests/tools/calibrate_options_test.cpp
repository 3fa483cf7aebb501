// The tool's command line and the reading of known intrinsics, without running a calibration.
#include <gtest/gtest.h>

#include <cli_options.h>
#include <result_json.h>
#include <tool_error.h>

#include <fstream>
#include <string>

#include <unistd.h>
#include <vector>

namespace {

tkCommandLine parse(std::vector<std::string> args) {
  return tfParseCommandLine(args);
}

std::string messageOf(const std::vector<std::string>& args) {
  try {
    tfParseCommandLine(args);
  } catch (const tkToolUsageError& error) {
    return error.what();
  }
  return "(no error)";
}

}  // namespace

TEST(CalibrateOptions, ParsesCalibrationAndMapCommands) {
  const tkCommandLine line = parse({"pts.json", "--model", "sine-tan", "--flow", "3", "--json",
                                    "r.json", "--camera-height", "-12.5", "--worst", "0"});
  EXPECT_EQ(line.command, tkCommandLine::eCalibrate);
  EXPECT_EQ(line.calibrate.inputPath, "pts.json");
  EXPECT_EQ(line.calibrate.model, "sine-tan");
  EXPECT_EQ(line.calibrate.flow, 3);
  EXPECT_DOUBLE_EQ(line.calibrate.cameraHeight, -12.5);
  EXPECT_EQ(line.calibrate.worst, 0);
  EXPECT_TRUE(line.calibrate.imageRefinement);
  EXPECT_FALSE(parse({"--no-image-refinement"}).calibrate.imageRefinement);
  EXPECT_FALSE(line.calibrate.rejectOutliers);
  EXPECT_TRUE(parse({"--reject-outliers"}).calibrate.rejectOutliers);
  EXPECT_TRUE(parse({}).calibrate.inputPath.empty());

  // Negative coordinates are numbers, not options.
  const tkCommandLine map = parse({"map", "--archive", "a.ccal", "--camera", "1", "-3.5", ".25"});
  EXPECT_EQ(map.command, tkCommandLine::eMap);
  EXPECT_EQ(map.map.camera, 1);
  EXPECT_EQ(map.map.coordinates, (std::vector<double>{-3.5, 0.25}));
  EXPECT_EQ(parse({"--help"}).command, tkCommandLine::eHelp);
}

TEST(CalibrateOptions, UsageErrorsSayWhatIsWrong) {
  EXPECT_NE(messageOf({"--model", "fisheye"}).find("radial, sine-tan or none"), std::string::npos);
  EXPECT_NE(messageOf({"--flow", "0"}).find("from 1 to 3"), std::string::npos);
  EXPECT_NE(messageOf({"--json"}).find("--json needs a value"), std::string::npos);
  EXPECT_NE(messageOf({"a.json", "b.json"}).find("only one point file"), std::string::npos);
  EXPECT_NE(messageOf({"--camera-height", "nan"}).find("finite number"), std::string::npos);
  EXPECT_NE(messageOf({"--frobnicate"}).find("unknown option"), std::string::npos);
  EXPECT_NE(messageOf({"map", "1", "2"}).find("--archive"), std::string::npos);
  EXPECT_NE(messageOf({"map", "--archive", "a", "1"}).find("pairs"), std::string::npos);
}

TEST(CalibrateOptions, KnownIntrinsicsNameTheFileAndTheField) {
  const std::string path =
      ::testing::TempDir() + "ccal_known_" + std::to_string(getpid()) + ".json";
  const auto faultOf = [&](const std::string& text) -> std::string {
    std::ofstream(path) << text;
    try {
      tfReadKnownIntrinsics(path);
    } catch (const tkToolInputError& error) {
      return error.what();
    }
    return "(no error)";
  };
  EXPECT_NE(faultOf("{").find("not valid JSON"), std::string::npos);
  EXPECT_NE(faultOf(R"({"format":"ccal-points/1"})").find("ccal-result/2"), std::string::npos);
  const std::string head =
      R"({"format":"ccal-result/1","kind":"area-scan","cameras":[{"name":"c",)";
  const std::string calib2 =
      R"("calib2":{"scale":[800,800],"skew":0,"translation":[320,240],"distortion_model":"radial",)"
      R"("params":[0.1,0,0]})";
  const std::string fault = faultOf(head + calib2 + "}]}");
  EXPECT_NE(fault.find(path), std::string::npos) << fault;
  EXPECT_NE(fault.find("cameras[0]: missing \"intrinsic\""), std::string::npos) << fault;
  EXPECT_NE(faultOf(head + R"("calib2":{"scale":[1]}}]})").find("cameras[0].calib2.scale"),
            std::string::npos);
  const std::string intrinsic =
      R"(,"intrinsic":{"camera_scale":[0.00125,0.00125],"camera_skew":0,)"
      R"("camera_translation":[-0.4,-0.3],"center_of_expansion":[0,0],"dist_model":"radial",)";
  EXPECT_NE(faultOf(head + calib2 + intrinsic + R"("lens_dist_params":[]}}]})")
                .find("wrong number of values"),
            std::string::npos);
  std::ofstream(path) << head + calib2 + intrinsic + R"("lens_dist_params":[-0.1]}}]})";
  const tkKnownIntrinsics known = tfReadKnownIntrinsics(path);
  ASSERT_EQ(known.area.size(), 1u);
  EXPECT_EQ(known.names[0], "c");
  EXPECT_DOUBLE_EQ(known.area[0].k(), -0.1);
  EXPECT_DOUBLE_EQ(known.calib2[0].scale().x(), 800.0);
}
