// The image tools: board detection on boards rendered through a known camera, the export of
// ccal's lens models to OpenCV's (read back by OpenCV itself), and the tool's answers to bad
// images and results. Tests that need OpenCV are skipped in a build without it.
#include <gtest/gtest.h>

#include "support/data_sets.h"

#include <area_scan_result.h>
#include <board_detection.h>
#include <camera_export.h>
#include <ccal/camera_terms.h>
#include <opencv_camera_fit.h>
#include <point_file.h>
#include <rectification.h>
#include <result_json.h>
#include <run_calibration.h>

#include <map>
#include <utility>

#ifdef CCAL_HAVE_OPENCV
#include <opencv2/aruco/charuco.hpp>
#include <opencv2/calib3d.hpp>
#include <opencv2/core/persistence.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <sys/wait.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#ifndef CCAL_CALIBRATE_EXE
#define CCAL_CALIBRATE_EXE ""
#endif

namespace {

std::string scratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string dir =
      ::testing::TempDir() + "ccal_images_" + info->name() + "_" + std::to_string(getpid());
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  return dir;
}

#ifdef CCAL_HAVE_OPENCV

// A pinhole camera looking at the plate: image = H * (X, Y, 1) with H = K [r1 r2 t].
struct RenderCase {
  const char* name;
  tkBoard board;
  int width, height;
  double tilt[3];      // rotation vector, radians
  double position[3];  // plate origin in the camera frame, plate units
};

cv::Matx33d homography(const RenderCase& c) {
  cv::Matx33d R;
  cv::Rodrigues(cv::Vec3d(c.tilt[0], c.tilt[1], c.tilt[2]), R);
  const double f = 0.9 * c.width;
  const cv::Matx33d K(f, 0, 0.5 * (c.width - 1), 0, f, 0.5 * (c.height - 1), 0, 0, 1);
  const cv::Matx33d columns(R(0, 0), R(0, 1), c.position[0], R(1, 0), R(1, 1), c.position[1],
                            R(2, 0), R(2, 1), c.position[2]);
  return K * columns;
}

// The board's grey level at plate point (x, y): an analytic chessboard, or OpenCV's drawing of
// the ChArUco board sampled with the pixel-edge convention (drawing pixel i spans [i, i+1)).
class BoardPaint {
 public:
  explicit BoardPaint(const tkBoard& board) : board_(board) {
    if (board.kind == tkBoard::eCharuco) {
      const auto dictionary = cv::aruco::getPredefinedDictionary(cv::aruco::DICT_4X4_50);
      const auto charuco =
          cv::aruco::CharucoBoard::create(board.columns + 1, board.rows + 1, 1.0f,
                                          static_cast<float>(board.markerSize), dictionary);
      charuco->draw(
          cv::Size((board.columns + 1) * kPixelsPerSquare, (board.rows + 1) * kPixelsPerSquare),
          drawing_, 0, 1);
    }
  }
  double operator()(double x, double y) const {
    // Squares counted from the board's outer corner, one square before the first inner corner.
    const double sx = x + 1.0, sy = y + 1.0;
    if (sx < 0 || sy < 0 || sx >= board_.columns + 1 || sy >= board_.rows + 1)
      return 225.0;  // white paper around the board
    if (board_.kind == tkBoard::eChessboard) {
      // The outer square at the first corner is white: the orientation findChessboardCornersSB
      // gives a board of odd x even squares.
      const bool white =
          (static_cast<int>(std::floor(sx)) + static_cast<int>(std::floor(sy))) % 2 == 0;
      return white ? 225.0 : 30.0;
    }
    const uchar value = drawing_.at<uchar>(static_cast<int>(sy * kPixelsPerSquare),
                                           static_cast<int>(sx * kPixelsPerSquare));
    return 30.0 + value * (195.0 / 255.0);
  }

 private:
  static constexpr int kPixelsPerSquare = 120;
  tkBoard board_;
  cv::Mat drawing_;
};

// Renders with 8 x 8 samples per pixel (fewer leave the edges of a board facing the camera
// quantised), blurs (sigma 0.8 px) and adds noise (sigma 2 grey
// levels). Pixel (i, j) covers [i - 0.5, i + 0.5] x [j - 0.5, j + 0.5].
cv::Mat render(const RenderCase& c) {
  const cv::Matx33d toPlate = homography(c).inv();
  const BoardPaint paint(c.board);
  cv::Mat image(c.height, c.width, CV_64F);
  const int n = 8;
  for (int v = 0; v < c.height; ++v) {
    for (int u = 0; u < c.width; ++u) {
      double sum = 0.0;
      for (int a = 0; a < n; ++a) {
        for (int b = 0; b < n; ++b) {
          const cv::Vec3d p =
              toPlate * cv::Vec3d(u + (a + 0.5) / n - 0.5, v + (b + 0.5) / n - 0.5, 1);
          sum += paint(p[0] / p[2], p[1] / p[2]);
        }
      }
      image.at<double>(v, u) = sum / (n * n);
    }
  }
  cv::GaussianBlur(image, image, cv::Size(0, 0), 0.8);
  cv::Mat noise(image.size(), CV_64F);
  cv::RNG rng(12345);
  rng.fill(noise, cv::RNG::NORMAL, 0.0, 2.0);
  cv::Mat gray;
  cv::Mat noisy = image + noise;
  noisy.convertTo(gray, CV_8U);
  return gray;
}

tkBoard board(tkBoard::Kind kind, int columns, int rows) {
  tkBoard b;
  b.kind = kind;
  b.columns = columns;
  b.rows = rows;
  b.markerSize = 0.7;
  return b;
}

const RenderCase kRenderCases[] = {
    {"chessboard_facing",
     board(tkBoard::eChessboard, 8, 5),
     400,
     300,
     {0.1, -0.15, 0.05},
     {-3.0, -2.0, 11.0}},
    {"chessboard_tilted",
     board(tkBoard::eChessboard, 8, 5),
     400,
     300,
     {0.45, 0.3, -0.2},
     {-2.8, -2.2, 12.0}},
    {"charuco_facing",
     board(tkBoard::eCharuco, 6, 4),
     400,
     300,
     {-0.1, 0.12, 0.1},
     {-2.5, -1.6, 8.0}},
    {"charuco_tilted",
     board(tkBoard::eCharuco, 6, 4),
     400,
     300,
     {0.35, -0.3, 0.15},
     {-2.6, -1.5, 8.5}},
};

void PrintTo(const RenderCase& c, std::ostream* os) {
  *os << c.name;
}

#endif

}  // namespace

#ifdef CCAL_HAVE_OPENCV

class DetectRenderedBoard : public ::testing::TestWithParam<RenderCase> {};

INSTANTIATE_TEST_SUITE_P(BothBoardKinds, DetectRenderedBoard, ::testing::ValuesIn(kRenderCases),
                         [](const ::testing::TestParamInfo<RenderCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_P(DetectRenderedBoard, FindsEveryCornerWithin005PixelsRms) {
  const RenderCase& c = GetParam();
  const std::string path = scratchDir() + "/board.png";
  ASSERT_TRUE(cv::imwrite(path, render(c)));
  const tkBoardDetection found = tfDetectBoard(path, c.board);
  ASSERT_TRUE(found.found) << found.reason;
  EXPECT_EQ(found.width, c.width);
  // A chessboard in full; a ChArUco board with at least most of its corners.
  EXPECT_GE(found.corners.size(), static_cast<size_t>(c.board.cornerCount() * 3 / 4));
  const cv::Matx33d H = homography(c);
  double sum = 0.0, largest = 0.0;
  for (const tkBoardCorner& corner : found.corners) {
    const tkVector<3> plate = c.board.platePoint(corner.id);
    const cv::Vec3d truth = H * cv::Vec3d(plate.x(), plate.y(), 1.0);
    const double dx = corner.image.x() - truth[0] / truth[2];
    const double dy = corner.image.y() - truth[1] / truth[2];
    sum += dx * dx + dy * dy;
    largest = std::max(largest, std::hypot(dx, dy));
  }
  const double rms = std::sqrt(sum / static_cast<double>(found.corners.size()));
  RecordProperty("rms_px", std::to_string(rms));
  EXPECT_LT(rms, 0.05) << "largest " << largest;
  EXPECT_LT(largest, 0.15);
}

#endif

// ---- export: OpenCV's model fitted to ccal's lens models -------------------------------------

struct FitCase {
  const char* name;
  tk2XformCalib2Defs::tkCalib2DistortionModel model;
  std::vector<double> lens;
  double skew;      // of the camera matrix, pixels
  double maxError;  // what the fit must reach, pixels
};

void PrintTo(const FitCase& c, std::ostream* os) {
  *os << c.name;
}

class ExportFit : public ::testing::TestWithParam<FitCase> {};

INSTANTIATE_TEST_SUITE_P(
    LensModels, ExportFit,
    ::testing::Values(
        FitCase{"none", tk2XformCalib2Defs::eNoDistortion, {}, 0.0, 1e-9},
        FitCase{"none_with_skew", tk2XformCalib2Defs::eNoDistortion, {}, 0.5, 0.5},
        FitCase{"radial_barrel", tk2XformCalib2Defs::eRadial, {0.2}, 0.0, 0.05},
        FitCase{"radial_pincushion", tk2XformCalib2Defs::eRadial, {-0.1}, 0.0, 0.05},
        FitCase{"sine_tan", tk2XformCalib2Defs::eSineTan, {1.0, 1.0, 0.02, 1.0}, 0.0, 0.05}),
    [](const ::testing::TestParamInfo<FitCase>& info) { return std::string(info.param.name); });

// The camera is fitted over the image, written as OpenCV YAML, read back by cv::FileStorage and
// projected by cv::projectPoints: on a grid over the image it agrees with ccal's own mapping within
// the error the fit reports, and that error is what the model allows.
TEST_P(ExportFit, OpenCvReadsBackTheCameraWithinTheReportedError) {
  const FitCase& c = GetParam();
  tkPhysicalAtZEquals1FromImageParams model;
  model.distModel(c.model);
  model.lensDistParams(c.lens);
  tkCameraMatrixTerms k;
  k.fx = 400.0;
  k.fy = 402.0;
  k.cx = 318.0;
  k.cy = 243.0;
  k.skew = c.skew;
  tfSetCameraMatrixTerms(model, k);
  const tkOpenCvCamera fitted = tfFitOpenCvCamera(model, 640, 480, 0.05);
  EXPECT_LE(fitted.maxError, c.maxError);
  EXPECT_LE(fitted.rmsError, fitted.maxError);
  if (c.skew != 0.0) {
    EXPECT_GT(fitted.maxError, 0.1) << "the skew OpenCV cannot hold must show in the error";
  }

  tkExportedCamera exported;
  exported.name = "cam";
  exported.camera = fitted;
  exported.perViewRms = {0.25, 0.5};
#ifdef CCAL_HAVE_OPENCV
  const std::string path = scratchDir() + "/cam.yml";
  std::ofstream(path) << tfOpenCvYaml(exported);
  cv::FileStorage storage(path, cv::FileStorage::READ);
  ASSERT_TRUE(storage.isOpened());
  cv::Mat K, distortion, perView;
  storage["camera_matrix"] >> K;
  storage["distortion_coefficients"] >> distortion;
  storage["per_view_errors"] >> perView;
  EXPECT_EQ(static_cast<int>(storage["image_width"]), 640);
  EXPECT_EQ(perView.rows, 2);
  std::vector<cv::Point3d> rays;
  std::vector<cv::Point2d> images;
  for (int v = 0; v < 480; v += 16) {
    for (int u = 0; u < 640; u += 16) {
      const tkVector<2> q = model.warpPoint(tkVector<2>(u, v));
      rays.emplace_back(q.x(), q.y(), 1.0);
      images.emplace_back(u, v);
    }
  }
  std::vector<cv::Point2d> projected;
  cv::projectPoints(rays, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), K, distortion, projected);
  double largest = 0.0;
  for (size_t i = 0; i < rays.size(); ++i)
    largest =
        std::max(largest, std::hypot(projected[i].x - images[i].x, projected[i].y - images[i].y));
  EXPECT_LE(largest, fitted.maxError + 1e-6);
#endif

  // ROS and COLMAP carry the same numbers; COLMAP's principal point is half a pixel further.
  const std::string ros = tfRosCameraInfoYaml(exported);
  EXPECT_NE(ros.find(fitted.distortion.size() == 8 ? "rational_polynomial" : "plumb_bob"),
            std::string::npos);
  std::istringstream colmap(tfColmapCamerasTxt({exported}));
  std::string line;
  while (std::getline(colmap, line) && line[0] == '#') {
  }
  std::istringstream fields(line);
  std::string id, kind;
  double width, height, fx, fy, cx, cy;
  fields >> id >> kind >> width >> height >> fx >> fy >> cx >> cy;
  EXPECT_EQ(id, "1");
  EXPECT_NEAR(cx, fitted.cx + 0.5, 1e-9);
  EXPECT_NEAR(cy, fitted.cy + 0.5, 1e-9);
}

// ---- undistortion and rectification ---------------------------------------------------------

// Through a calibration of exact rig data, read back from the result file: the undistorted view
// keeps straight lines straight (every row of plate points stays on a line), and the rectified
// views of two cameras put every plate point on one row in both; both mappings invert.
TEST(Rectification, UndistortedLinesAreStraightAndRectifiedRowsAgree) {
  const tkPointFile file = tfLoadPointFile(dataPath("rig3-radial-exact.json"));
  const tkToolResult calibrated = tfRunCalibration(file, "rig3", tkCalibrateOptions(), nullptr);
  const std::string path = scratchDir() + "/result.json";
  tfWriteResultJson(calibrated, path);
  const tkAreaScanResult result = tfReadAreaScanResult(path);
  ASSERT_EQ(result.cameras.size(), 3u);
  const tkAreaScanCamera& a = result.cameras[0];
  const tkAreaScanCamera& b = result.cameras[1];
  const tkPinholeView plain = tfUndistortedView(a.model);
  const tkRectifiedPair pair =
      tfRectifyPair(a.model, a.cameraFromWorld, b.model, b.cameraFromWorld);
  EXPECT_GT(pair.baseline, 0.0);

  double worstLine = 0.0, worstRow = 0.0, worstRoundTrip = 0.0;
  size_t shared = 0;
  for (const tkPointPlacement& placement : file.placements) {
    // Undistorted rows of plate points of camera a: distance from the line through the ends.
    std::map<double, std::vector<tkVector<2>>> rows;
    for (const tkPointRow& row : placement.points[0])
      rows[row.physical.y()].push_back(tfToView(plain, a.model, row.image));
    for (const auto& [y, points] : rows) {
      if (points.size() < 3)
        continue;
      const tkVector<2> first = points.front(), along = points.back() - first;
      for (const tkVector<2>& p : points) {
        const tkVector<2> d = p - first;
        worstLine =
            std::max(worstLine, std::abs(d.x() * along.y() - d.y() * along.x()) / along.length());
      }
    }
    // The same plate point in both rectified views.
    std::map<std::pair<double, double>, tkVector<2>> seenByA;
    for (const tkPointRow& row : placement.points[0]) {
      const tkVector<2> view = tfToView(pair.view[0], a.model, row.image);
      seenByA[{row.physical.x(), row.physical.y()}] = view;
      worstRoundTrip =
          std::max(worstRoundTrip, (tfFromView(pair.view[0], a.model, view) - row.image).length());
    }
    for (const tkPointRow& row : placement.points[1]) {
      const auto it = seenByA.find({row.physical.x(), row.physical.y()});
      if (it == seenByA.end())
        continue;
      ++shared;
      worstRow = std::max(
          worstRow, std::abs(tfToView(pair.view[1], b.model, row.image).y() - it->second.y()));
    }
  }
  EXPECT_GT(shared, 100u);
  EXPECT_LT(worstLine, 1e-6) << "pixels off the straight line";
  EXPECT_LT(worstRow, 1e-6) << "pixels between the rows of one point in the rectified pair";
  EXPECT_LT(worstRoundTrip, 1e-6);
}

// ---- the tool's answers to bad input ---------------------------------------------------------

namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

ToolRun runTool(const std::string& dir, const std::string& args) {
  const std::string command = std::string("'") + CCAL_CALIBRATE_EXE + "' " + args + " >'" + dir +
                              "/out.txt' 2>'" + dir + "/err.txt' </dev/null";
  const int raw = std::system(command.c_str());
  ToolRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream out(dir + "/out.txt"), err(dir + "/err.txt");
  std::ostringstream o, e;
  o << out.rdbuf();
  e << err.rdbuf();
  run.out = o.str();
  run.err = e.str();
  return run;
}

}  // namespace

// Each bad input gives one clear message and its exit status (2 bad input, 1 a refused result).
TEST(ImagesCli, BadImagesAndResultsGiveClearMessagesAndStatuses) {
  if (std::string(CCAL_CALIBRATE_EXE).empty())
    GTEST_SKIP() << "ccal-calibrate is not built";
  const std::string dir = scratchDir();
  auto expect = [&dir](const std::string& args, int status, const std::string& message) {
    const ToolRun run = runTool(dir, args);
    EXPECT_EQ(run.status, status) << args << "\n" << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(message), std::string::npos)
        << args << ": expected \"" << message << "\" in\n"
        << run.out << run.err;
  };

  // An unsupported export model, a result without an image size, a misfit refused.
  expect("'" + dataPath("telecentric-exact.json") + "' --no-progress --json '" + dir + "/t.json'",
         0, "RMS");
  expect("export '" + dir + "/t.json' --to opencv -o '" + dir + "/t.yml'", 2,
         "only area-scan cameras can be exported");
  expect("'" + dataPath("single-radial-exact.json") + "' --no-progress --json '" + dir + "/r.json'",
         0, "RMS");
  expect("export '" + dir + "/r.json' --to colmap -o '" + dir + "/c.txt' --tolerance 1e-9", 1,
         "nothing was written");
  expect("export '" + dir + "/r.json' --to ros -o '" + dir + "/r.yaml' --camera nine", 2,
         "has no camera nine");
  expect("export '" + dir + "/missing.json' --to opencv -o x.yml", 2, "cannot read");
  expect("undistort '" + dir + "/t.json' x.png -o '" + dir + "'", 2,
         "only area-scan cameras can be exported or undistorted");
  expect("undistort '" + dir + "/r.json' --rectify --camera 0 x.png -o '" + dir + "'", 2,
         "--rectify needs two cameras");

  // The bundled set's plot is titled with the name as typed, never with the data directory.
  expect("--no-progress --plot '" + dir + "/p.svg'", 0, "residual plot");
  std::ifstream svg(dir + "/p.svg");
  std::string text((std::istreambuf_iterator<char>(svg)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("<title>ccal-calibrate residuals: opencv-stereo.json (bundled)</title>"),
            std::string::npos);

#ifdef CCAL_HAVE_OPENCV
  // Images: unreadable, blank, a board of another size, a camera that never sees the board.
  std::ofstream(dir + "/broken.png") << "not an image";
  cv::imwrite(dir + "/blank1.png", cv::Mat(240, 320, CV_8U, cv::Scalar(200)));
  cv::imwrite(dir + "/blank2.png", cv::Mat(240, 320, CV_8U, cv::Scalar(90)));
  cv::imwrite(dir + "/board1.png", render(kRenderCases[0]));
  cv::imwrite(dir + "/board2.png", render(kRenderCases[1]));
  const std::string out = " -o '" + dir + "/p.json'";
  expect("detect --board chessboard:8x5 '" + dir + "/broken.png' '" + dir + "/board1.png'" + out, 0,
         "broken.png: skipped: cannot read the image");
  expect("detect --board chessboard:8x5 '" + dir + "/broken.png'" + out, 2,
         "found in none of its 1 images");
  expect("detect --board chessboard:8x5 '" + dir + "/blank1.png'" + out, 2,
         "blank1.png: not found: no chessboard 8x5 found");
  expect("detect --board chessboard:9x6 '" + dir + "/board*.png'" + out, 2,
         "board1.png: not found: no chessboard 9x6 found");
  expect("detect --board chessboard:8x5 --camera a '" + dir + "/board*.png' --camera b '" + dir +
             "/blank*.png'" + out,
         2, "camera b: the chessboard 8x5 was found in none of its 2 images");
  expect("detect --board chessboard:8x5 '" + dir + "/nothing*.png'" + out, 2, "no file matches");
  expect("detect --board hexagon:7x5 x.png" + out, 2, "--board: expected");
  // Two cameras that see the same board make a file the calibration reads.
  expect("detect --board chessboard:8x5 --camera a '" + dir + "/board*.png' --camera b '" + dir +
             "/board*.png'" + out,
         0, "2 views, world frame: view1");
  expect("'" + dir + "/p.json' --no-progress", 0, "2 placement(s) (1 z-rotation, 1 arbitrary)");
  expect("undistort '" + dir + "/r.json' '" + dir + "/board1.png' '" + dir + "/broken.png' -o '" +
             dir + "'",
         0, "broken.png: skipped: cannot read the image");
  EXPECT_FALSE(cv::imread(dir + "/board1-undistorted.png").empty());
#else
  expect("detect --board chessboard:8x5 x.png -o p.json", 1, "built without OpenCV");
#endif
}
