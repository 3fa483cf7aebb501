// ccal-calibrate as a user runs it: a bundled data set of each kind, the outputs (report, JSON,
// archive, plot), the map command and the failures with their exit statuses.
#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <nlohmann/json.hpp>

#include "support/data_sets.h"
#include "svg_elements.h"

#include <ccal/camera_terms.h>
#include <result_archive.h>

#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

// Without the tool (CCAL_BUILD_TOOLS=OFF) every test is skipped.
#ifndef CCAL_CALIBRATE_EXE
#define CCAL_CALIBRATE_EXE ""
#define CCAL_NO_CALIBRATE_EXE
#endif

namespace {

using json = nlohmann::json;

struct ToolRun {
  int status = -1;
  std::string out, err;
};

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class CalibrateCli : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef CCAL_NO_CALIBRATE_EXE
    GTEST_SKIP() << "ccal-calibrate is not built (CCAL_BUILD_TOOLS=OFF)";
#endif
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = ::testing::TempDir() + "ccal_cli_" + info->name() + "_" + std::to_string(getpid());
    std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str());
  }

  std::string file(const std::string& name) const {
    return dir_ + "/" + name;
  }

  // Runs the tool with a shell command line of arguments (and optional standard input).
  ToolRun run(const std::string& args, const std::string& input = "") const {
    std::ofstream(file("stdin.txt")) << input;
    const std::string command = std::string("'") + CCAL_CALIBRATE_EXE + "' " + args + " <'" +
                                file("stdin.txt") + "' >'" + file("stdout.txt") + "' 2>'" +
                                file("stderr.txt") + "'";
    const int raw = std::system(command.c_str());
    ToolRun result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readText(file("stdout.txt"));
    result.err = readText(file("stderr.txt"));
    return result;
  }

  // A point file written from text, for the malformed cases.
  std::string writeFile(const std::string& name, const std::string& text) const {
    std::ofstream(file(name)) << text;
    return file(name);
  }

  std::string dir_;
};

}  // namespace

// ---- every bundled data set ---------------------------------------------------------------------

struct DataSetCase {
  const char* file;
  const char* options;
  double maxRms;  // pixels
};

void PrintTo(const DataSetCase& c, std::ostream* os) {
  *os << c.file << " " << c.options;
}

class CalibrateEveryDataSet : public CalibrateCli,
                              public ::testing::WithParamInterface<DataSetCase> {};

// One set of each kind and path through the tool (a real one-camera set, a noisy rig, a set
// under the sine-tangent model and one refitted with --model, both telecentric flows, both
// line-scan sets); the accuracy on every bundled set is the business of the library's own tests.
INSTANTIATE_TEST_SUITE_P(Bundled, CalibrateEveryDataSet,
                         ::testing::Values(DataSetCase{"opencv-left.json", "", 1.0},
                                           DataSetCase{"rig3-radial-noisy.json", "", 0.2},
                                           DataSetCase{"single-sinetan-exact.json", "", 1e-6},
                                           DataSetCase{"single-sinetan-noisy.json",
                                                       "--model radial", 0.2},
                                           DataSetCase{"telecentric-exact.json", "", 1e-6},
                                           DataSetCase{"telecentric-noisy.json", "--flow 2", 0.2},
                                           DataSetCase{"linescan-exact.json", "", 1e-6},
                                           DataSetCase{"linescan-noisy.json", "", 0.3}),
                         [](const ::testing::TestParamInfo<DataSetCase>& info) {
                           std::string name = info.param.file;
                           name = name.substr(0, name.find('.'));
                           for (char& ch : name)
                             if (ch == '-')
                               ch = '_';
                           return name;
                         });

TEST_P(CalibrateEveryDataSet, ReportsJsonAndPlotAgree) {
  const DataSetCase& c = GetParam();
  const ToolRun r = run("'" + dataPath(c.file) + "' " + c.options + " --json '" + file("r.json") +
                        "' --plot '" + file("r.svg") + "' --archive '" + file("r.ccal") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("RMS"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("worst points"), std::string::npos);

  const json result = json::parse(readText(file("r.json")));
  EXPECT_EQ(result["format"], "ccal-result/2");
  const double rms = result["figures"]["rms_px"];
  EXPECT_LT(rms, c.maxRms);
  // The report prints the same RMS as the JSON.
  char text[64];
  std::snprintf(text, sizeof text, "RMS %.4g px, largest", rms);
  EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  // The figures from the rows: tfComputeFigures on a hand-made result (calibrate_output_test).
  EXPECT_EQ(result["residuals"].size(), result["figures"]["points"].get<size_t>());

  // The archive holds the cameras of the JSON, number for number.
  const std::vector<tk2XformCalib2> archive = tfReadCalibrationArchive(file("r.ccal"));
  ASSERT_EQ(archive.size(), result["cameras"].size());
  for (size_t c = 0; c < archive.size(); ++c) {
    const json& camera = result["cameras"][c];
    tkLineScanTerms terms;
    if (tfLineScanTerms(archive[c], terms)) {
      EXPECT_EQ(terms.scale, camera["line_scan"]["lens"]["scale"].get<double>());
      EXPECT_EQ(terms.k1, camera["line_scan"]["lens"]["k1"].get<double>());
      continue;
    }
    const tkCalib2ParamsIntrinsic k = archive[c].intrinsicParams();
    EXPECT_EQ(k.scale().x(), camera["calib2"]["scale"][0].get<double>());
    EXPECT_EQ(k.skew(), camera["calib2"]["skew"].get<double>());
    EXPECT_EQ(k.distortionParams(), camera["calib2"]["params"].get<std::vector<double>>());
    const tkXform<3> e = archive[c].extrinsicXform();
    for (int r = 0; r < 3; ++r) {
      EXPECT_EQ(e.matrix().element(r, 0), camera["calib2"]["camera_from_world"][r][0]);
      EXPECT_EQ(e.trans()[r], camera["calib2"]["camera_from_world"][r][3]);
    }
  }

  // The plot is well-formed XML with one arrow per point.
  tinyxml2::XMLDocument svg;
  ASSERT_EQ(svg.LoadFile(file("r.svg").c_str()), tinyxml2::XML_SUCCESS) << svg.ErrorStr();
  EXPECT_EQ(countElements(svg.RootElement(), "path", "arrow"),
            static_cast<int>(result["residuals"].size()));
}

// ---- the main job, rendering, pose with known intrinsics ----------------------------------------

TEST_F(CalibrateCli, WithoutArgumentsCalibratesTheRealStereoSet) {
  const ToolRun r = run("--plot '" + file("stereo.svg") + "' --json '" + file("stereo.json") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("opencv-stereo.json"), std::string::npos);
  EXPECT_NE(r.out.find("camera 1 \"right\""), std::string::npos);
  EXPECT_NE(r.out.find("wall time"), std::string::npos);
  // Refined on image residuals by default, with σ beside the terms and the quality section.
  const json stereo = json::parse(readText(file("stereo.json")));
  EXPECT_TRUE(stereo["image_refinement"].get<bool>());
  EXPECT_LT(stereo["cameras"][0]["figures"]["rms_px"].get<double>(), 0.42925);
  EXPECT_GT(stereo["cameras"][0]["deviations"]["fx"].get<double>(), 0.0);
  EXPECT_GT(stereo["placements"][1]["deviations"]["rotation_deg"][0].get<double>(), 0.0);
  const json& quality = stereo["quality"];
  EXPECT_EQ(quality["rank"], quality["parameters"]);
  EXPECT_EQ(quality["cameras"][0]["projection_uncertainty_grid"]["rms_px"].size(), 32u * 24u);
  ASSERT_FALSE(quality["warnings"].empty());
  EXPECT_EQ(quality["warnings"][0]["kind"], "view-rms");
  EXPECT_EQ(quality["warnings"][0]["placement"], 1);  // view02
  EXPECT_NE(r.out.find("fx 537.7694 ± 0.69"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("warning (view-rms, left, view02)"), std::string::npos);
  tinyxml2::XMLDocument svg;
  ASSERT_EQ(svg.LoadFile(file("stereo.svg").c_str()), tinyxml2::XML_SUCCESS);
  EXPECT_GT(countElements(svg.RootElement(), "line", "contour"), 10);
  const ToolRun own = run("--no-image-refinement --json '" + file("own.json") + "'");
  ASSERT_EQ(own.status, 0) << own.err;
  const json plain = json::parse(readText(file("own.json")));
  EXPECT_FALSE(plain["image_refinement"].get<bool>());
  EXPECT_GT(plain["cameras"][0]["figures"]["rms_px"].get<double>(),
            stereo["cameras"][0]["figures"]["rms_px"].get<double>() + 1e-4);
  // Rendered once by a real SVG renderer.
  if (std::system("command -v rsvg-convert >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "rsvg-convert (librsvg2-bin) is not installed";
  ASSERT_EQ(
      std::system(
          ("rsvg-convert -o '" + file("stereo.png") + "' '" + file("stereo.svg") + "'").c_str()),
      0);
  EXPECT_GT(readText(file("stereo.png")).size(), 10000u);

  // Pose estimation with the intrinsic models of that result reproduces its residuals.
  const ToolRun pose = run("'" + dataPath("opencv-stereo.json") + "' --intrinsics '" +
                           file("stereo.json") + "' --json '" + file("pose.json") + "'");
  ASSERT_EQ(pose.status, 0) << pose.err;
  const json first = json::parse(readText(file("stereo.json")));
  const json second = json::parse(readText(file("pose.json")));
  EXPECT_EQ(second["method"], "rig-pose");
  EXPECT_NEAR(second["figures"]["rms_px"].get<double>(), first["figures"]["rms_px"].get<double>(),
              0.05);
}

namespace {

// Arrows (of class "arrow") inside groups of class `group`, at any depth.
int arrowsInGroups(const tinyxml2::XMLElement* element, const char* group) {
  int count = 0;
  for (; element != nullptr; element = element->NextSiblingElement()) {
    const char* cls = element->Attribute("class");
    if (std::string(element->Name()) == "g" && cls != nullptr && std::string(cls) == group)
      count += countElements(element->FirstChildElement(), "path", "arrow");
    else
      count += arrowsInGroups(element->FirstChildElement(), group);
  }
  return count;
}

}  // namespace

TEST_F(CalibrateCli, RejectOutliersListsTheRejectedCornersInEveryOutput) {
  const ToolRun r =
      run("--reject-outliers --plot '" + file("r.svg") + "' --json '" + file("r.json") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("outlier rejection"), std::string::npos);
  EXPECT_NE(r.out.find("view02       rejected rows 0 9 18 27 36 45"), std::string::npos) << r.out;

  const json result = json::parse(readText(file("r.json")));
  const json& outliers = result["outliers"];
  const json& rejected = outliers["rejected"];
  ASSERT_GT(rejected.size(), 10u);
  for (int camera : {0, 1})  // view02 (placement 1), corner 0 of the board's edge column
    EXPECT_NE(std::find(rejected.begin(), rejected.end(), json::array({camera, 1, 0})),
              rejected.end());
  ASSERT_EQ(outliers["camera_inlier_figures"].size(), 2u);
  EXPECT_LT(outliers["inlier_figures"]["rms_px"].get<double>(),
            0.5 * result["figures"]["rms_px"].get<double>());
  EXPECT_EQ(outliers["inlier_figures"]["points"].get<size_t>() + rejected.size(),
            result["residuals"].size());

  tinyxml2::XMLDocument svg;
  ASSERT_EQ(svg.LoadFile(file("r.svg").c_str()), tinyxml2::XML_SUCCESS) << svg.ErrorStr();
  EXPECT_EQ(arrowsInGroups(svg.RootElement(), "rejected"), static_cast<int>(rejected.size()));

  // The pose of known intrinsics takes the option too; other kinds of file refuse it.
  const ToolRun pose = run("'" + dataPath("opencv-stereo.json") + "' --reject-outliers " +
                           "--intrinsics '" + file("r.json") + "'");
  EXPECT_EQ(pose.status, 0) << pose.err;
  EXPECT_NE(pose.out.find("outlier rejection"), std::string::npos);
  const ToolRun telecentric = run("'" + dataPath("telecentric-exact.json") + "' --reject-outliers");
  EXPECT_EQ(telecentric.status, 2);
  EXPECT_NE(telecentric.err.find("area-scan"), std::string::npos) << telecentric.err;
}

TEST_F(CalibrateCli, TelecentricFlowsAllFitExactData) {
  const std::string input = "'" + dataPath("telecentric-exact.json") + "'";
  ASSERT_EQ(run(input + " --json '" + file("t1.json") + "'").status, 0);
  for (const std::string flow : {"2", "3"}) {
    const ToolRun r = run(input + " --flow " + flow + " --json '" + file("t.json") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_LT(json::parse(readText(file("t.json")))["figures"]["rms_px"].get<double>(), 1e-6);
  }
  const ToolRun known = run(input + " --flow 3 --intrinsics '" + file("t1.json") + "'");
  EXPECT_EQ(known.status, 0) << known.err;
  EXPECT_NE(known.out.find("telecentric-flow-3"), std::string::npos);
}

// ---- map ----------------------------------------------------------------------------------------

TEST_F(CalibrateCli, MapRoundTripsThroughSavedCalibrations) {
  for (const char* set :
       {"single-radial-exact.json", "telecentric-exact.json", "linescan-exact.json"}) {
    ASSERT_EQ(run("'" + dataPath(set) + "' --archive '" + file("cal.ccal") + "'").status, 0);
    const std::string archive = " --archive '" + file("cal.ccal") + "'";
    const ToolRun one = run("map" + archive + " --camera 0 700.5 450.25");
    ASSERT_EQ(one.status, 0) << set << one.err;
    double u, v, x, y, u2, v2;
    ASSERT_EQ(std::sscanf(one.out.c_str(), "%lf %lf %lf %lf %lf %lf", &u, &v, &x, &y, &u2, &v2), 6);
    EXPECT_NEAR(u2, 700.5, 1e-6) << set;
    EXPECT_NEAR(v2, 450.25, 1e-6) << set;
    // Plate -> image from standard input gives the image point back.
    const ToolRun back =
        run("map" + archive + " --to-image",
            "# plate points\n" + std::to_string(x) + ", " + std::to_string(y) + "\n\n" + "1 2\n");
    ASSERT_EQ(back.status, 0) << back.err;
    ASSERT_EQ(std::sscanf(back.out.c_str(), "%lf %lf %lf %lf", &x, &y, &u2, &v2), 4);
    EXPECT_NEAR(u2, 700.5, 1e-3) << set;
    EXPECT_NEAR(v2, 450.25, 1e-3) << set;
    EXPECT_EQ(std::count(back.out.begin(), back.out.end(), '\n'), 2);
  }
  const std::string archive = " --archive '" + file("cal.ccal") + "'";
  const ToolRun badCamera = run("map" + archive + " --camera 3 1 2");
  EXPECT_EQ(badCamera.status, 2);
  EXPECT_NE(badCamera.err.find("no camera 3"), std::string::npos) << badCamera.err;
  const ToolRun badLine = run("map" + archive, "1 2\n3 x\n");
  EXPECT_EQ(badLine.status, 2);
  EXPECT_NE(badLine.err.find("line 2"), std::string::npos) << badLine.err;
  // Archives that are cut, carry a trailing byte or are no archive: one line naming the file.
  const std::string bytes = readText(file("cal.ccal"));
  for (const std::string& damaged : {bytes.substr(0, bytes.size() / 2), bytes + '\0',
                                     readText(dataPath("linescan-exact.json"))}) {
    std::ofstream(file("bad.ccal"), std::ios::binary) << damaged;
    const ToolRun bad = run("map --archive '" + file("bad.ccal") + "' 1 2");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad.ccal: not a readable calibration archive"), std::string::npos)
        << bad.err;
    EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
  }
}

// ---- failures -----------------------------------------------------------------------------------

TEST_F(CalibrateCli, BadFilesGetOneMessageAndStatusTwo) {
  const std::string head =
      R"({"format":"ccal-points/1","kind":"area-scan","distortion_model":"radial",)"
      R"("cameras":["a","b"],"placements":[{"name":"p","kind":"z-rotation","height":0,"points":)";
  const struct {
    std::string text;
    std::string fault;
  } cases[] = {
      {head + R"({"a":[[1,2,3,4,0]]}}]})", "missing \"b\""},
      {head + R"({"a":[[1,2,3,4]],"b":[]}}]})", "points.a[0]"},
      {R"({"format":"ccal-points/1","kind":"area-scan","cameras":["a"]})", "distortion_model"},
  };
  for (const auto& c : cases) {
    const std::string path = writeFile("bad.json", c.text);
    const ToolRun r = run("'" + path + "'");
    EXPECT_EQ(r.status, 2) << c.text << "\n" << r.err;
    EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.fault), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  const ToolRun missing = run("'" + file("nothing.json") + "'");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
  const ToolRun usage = run("--flow 4");
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("usage:"), std::string::npos);
  const ToolRun wrongKind = run("'" + dataPath("linescan-exact.json") + "' --model none");
  EXPECT_EQ(wrongKind.status, 2);
  // Known intrinsics of another rig: the camera lists do not match.
  ASSERT_EQ(
      run("'" + dataPath("single-none-exact.json") + "' --json '" + file("one.json") + "'").status,
      0);
  const ToolRun mismatch =
      run("'" + dataPath("rig3-radial-exact.json") + "' --intrinsics '" + file("one.json") + "'");
  EXPECT_EQ(mismatch.status, 2);
  EXPECT_NE(mismatch.err.find("one.json"), std::string::npos) << mismatch.err;
}

TEST_F(CalibrateCli, LibraryFailuresPrintTheMessageAndErrorNumber) {
  // No Z-rotation placement: the rig calibration refuses the data.
  const std::string path = writeFile(
      "arbitrary.json",
      R"({"format":"ccal-points/1","kind":"area-scan","distortion_model":"none","cameras":["a"],)"
      R"("placements":[{"name":"p","kind":"arbitrary","points":{"a":[[1,2,0,0,0],[3,4,1,0,0],)"
      R"([5,6,0,1,0],[7,9,1,1,0]]}}]})");
  const ToolRun r = run("'" + path + "'");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("the calibration failed"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(error 0x"), std::string::npos) << r.err;
}

TEST_F(CalibrateCli, CtrlCStopsCleanlyAndWritesNothing) {
  // The radial rig under the sine-tangent model: the slowest bundled run (seconds of work on a
  // loaded machine).
  const std::string input = dataPath("rig3-radial-exact.json");
  const std::string json = file("never.json");
  const std::string err = file("stderr.txt");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (std::freopen(err.c_str(), "w", stderr) == nullptr ||
        !std::freopen("/dev/null", "w", stdout))
      _exit(99);
    execl(CCAL_CALIBRATE_EXE, CCAL_CALIBRATE_EXE, input.c_str(), "--model", "sine-tan", "--json",
          json.c_str(), static_cast<char*>(nullptr));
    _exit(98);
  }
  // The tool catches SIGINT only around the calibration itself: wait until it does (the caught
  // signals in /proc), however slowly a loaded or instrumented build gets there.
  const auto catchesInterrupt = [child] {
    std::ifstream status("/proc/" + std::to_string(child) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("SigCgt:", 0) == 0)
        return ((std::stoull(line.substr(7), nullptr, 16) >> (SIGINT - 1)) & 1U) != 0;
    return false;
  };
  for (int waited = 0; !catchesInterrupt() && waited < 120000; waited += 10)
    usleep(10 * 1000);
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_NE(readText(err).find("interrupted"), std::string::npos) << readText(err);
  EXPECT_FALSE(std::ifstream(json).good());
}
