// The comparison harness: generated sets, the shared figures of both libraries, the isolated
// runs and the report, and both libraries on exact generated data.
#include "ccal_runner.h"
#include "compare_metrics.h"
#include "compare_report.h"
#include "compare_run.h"
#include "compare_sets.h"
#include "opencv_runner.h"
#include "time_plot.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

// The radial camera of the synthetic single-camera set, and a camera without distortion made
// from it.
tkAreaScanCameraTruth radialCamera() {
  return tfLoadCompareSet(CCAL_DATA_DIR, "single-radial-exact.json").truth.cameras[0];
}
tkAreaScanCameraTruth pinholeCamera() {
  tkAreaScanCameraTruth camera = radialCamera();
  camera.distModel = "eNoDistortion";
  camera.lensDistParams.clear();
  camera.centerOfExpansion = tkVector<2>();
  return camera;
}

const tkRepeatPolicy kOnce{1, 1, 0.0, 0.0};

TEST(CompareSets, GeneratedViewsLieInTheImageAndFollowTheTruth) {
  const tkCompareSet set = tfGenerateViewSet(radialCamera(), 2448, 2048, 6, 0.0, 7);
  ASSERT_EQ(set.file.placements.size(), 6u);
  EXPECT_EQ(set.file.placements[0].kind, "z-rotation");
  EXPECT_EQ(set.file.placements[3].kind, "arbitrary");
  const tkPhysicalAtZEquals1FromImageParams intrinsic = tfIntrinsicOf(set.truth.cameras[0]);
  const tkXform<3>& worldToCamera = set.truth.cameras[0].worldToCamera;
  double largest = 0.0;
  for (std::size_t j = 0; j < 6; ++j) {
    ASSERT_EQ(set.file.placements[j].points[0].size(), 300u);
    for (const tkPointRow& row : set.file.placements[j].points[0]) {
      EXPECT_GT(row.image.x(), 0.0);
      EXPECT_LT(row.image.y(), 2047.0);
      const tkVector<3> pc =
          worldToCamera.mapPoint(set.truth.plateToWorld[j].mapPoint(row.physical));
      const tkVector<2> p = intrinsic.invWarpPoint(tkVector<2>(pc.x() / pc.z(), pc.y() / pc.z()));
      largest = std::max(largest, (p - row.image).length());
    }
  }
  EXPECT_LT(largest, 1e-9);
  // Placement 0 is the world frame.
  EXPECT_LT((set.truth.plateToWorld[0].mapPoint(tkVector<3>(50, 60, 0)) - tkVector<3>(50, 60, 0))
                .length(),
            1e-12);
  // Repeatable, and noise is added at the requested size.
  const tkCompareSet again = tfGenerateViewSet(radialCamera(), 2448, 2048, 6, 0.0, 7);
  EXPECT_EQ(again.file.placements[5].points[0][17].image,
            set.file.placements[5].points[0][17].image);
  const tkCompareSet noisy = tfGenerateViewSet(radialCamera(), 2448, 2048, 6, 0.1, 7);
  tkResidualStats noise;
  for (std::size_t j = 0; j < 6; ++j)
    for (std::size_t k = 0; k < 300; ++k)
      noise.add(noisy.file.placements[j].points[0][k].image,
                set.file.placements[j].points[0][k].image);
  EXPECT_NEAR(noise.rms(), 0.1 * std::sqrt(2.0), 0.01);
}

TEST(CompareMetrics, BothLibrariesProjectionsAgreeOnTheSameCamera) {
  const tkPhysicalAtZEquals1FromImageParams truth = tfIntrinsicOf(pinholeCamera());
  const tkIntrinsicErrors self = tfIntrinsicErrors(tfProjectionOf(truth), truth, 2448, 2048);
  EXPECT_LT(self.focalRel, 1e-9);
  EXPECT_LT(self.axisPx, 1e-9);
  EXPECT_LT(self.mapRmsPx, 1e-9);
  // The same camera in OpenCV's terms: K = L^-1, no distortion.
  const tkXform<2> K = pinholeCamera().imageFromDistorted();
  const cv::Mat Kcv = (cv::Mat_<double>(3, 3) << K.matrix().element(0, 0), K.matrix().element(0, 1),
                       K.trans().x(), 0.0, K.matrix().element(1, 1), K.trans().y(), 0, 0, 1);
  const tkIntrinsicErrors cv =
      tfIntrinsicErrors(tfOpenCvProjection(Kcv, cv::Mat::zeros(5, 1, CV_64F)), truth, 2448, 2048);
  EXPECT_LT(cv.focalRel, 1e-9);
  EXPECT_LT(cv.axisPx, 1e-6);
  EXPECT_LT(cv.mapRmsPx, 1e-6);
  // A focal length 1 % long shows as such.
  cv::Mat longer = Kcv.clone();
  longer.at<double>(0, 0) *= 1.01;
  EXPECT_NEAR(
      tfIntrinsicErrors(tfOpenCvProjection(longer, cv::Mat::zeros(5, 1, CV_64F)), truth, 2448, 2048)
          .focalRel,
      0.01, 1e-6);
}

TEST(CompareMetrics, RelativePoseErrorsIgnoreTheWorldFrame) {
  const tkXform<3> camera0(tkMatrix<3>::identity(), tkVector<3>(0, 0, 500));
  const double a = 0.002;
  const tkMatrix<3> turn(std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1);
  const tkXform<3> camera1(turn, tkVector<3>(-100, 0, 500));
  const tkXform<3> shift(tkMatrix<3>::identity(), tkVector<3>(7, 8, 9));  // another world frame
  const tkRelativePoseErrors same =
      tfRelativePoseErrors(camera0 * shift, camera1 * shift, camera0, camera1);
  EXPECT_LT(same.rotationMrad, 1e-4);
  EXPECT_LT(same.translationPct, 1e-9);
  const tkRelativePoseErrors off = tfRelativePoseErrors(
      camera0, camera1, camera0, tkXform<3>(tkMatrix<3>::identity(), tkVector<3>(-101, 0, 500)));
  EXPECT_NEAR(off.rotationMrad, 2.0, 1e-6);
  EXPECT_NEAR(off.translationPct, 100.0 / 101.0, 1e-9);  // 1 unit of a 101-unit baseline
  EXPECT_DOUBLE_EQ(tfMedian({3.0, 1.0, 2.0, 10.0}), 2.5);
}

TEST(CompareRun, FailuresOfTheJobBecomeRows) {
  tkCompareRow id;
  id.set = "s";
  id.method = "m";
  const tkCompareRow threw =
      tfRunIsolated([]() -> tkCompareRow { throw std::runtime_error("bad data"); }, id, 30);
  EXPECT_FALSE(threw.ok);
  EXPECT_EQ(threw.set, "s");
  EXPECT_NE(threw.note.find("bad data"), std::string::npos);
  const tkCompareRow crashed = tfRunIsolated([]() -> tkCompareRow { std::abort(); }, id, 30);
  EXPECT_FALSE(crashed.ok);
  EXPECT_NE(crashed.note.find("signal"), std::string::npos);
  const tkCompareRow slow = tfRunIsolated(
      []() -> tkCompareRow {
        std::this_thread::sleep_for(std::chrono::seconds(20));
        return tkCompareRow();
      },
      id, 0.5);
  EXPECT_NE(slow.note.find("time limit"), std::string::npos);
  const tkCompareRow fine = tfRunIsolated(
      [&] {
        tkCompareRow r = id;
        r.ok = true;
        r.rms = 0.125;
        r.points = 42;
        r.note = "a\nb";
        return r;
      },
      id, 30);
  EXPECT_TRUE(fine.ok);
  EXPECT_EQ(fine.rms, 0.125);
  EXPECT_EQ(fine.points, 42);
  EXPECT_TRUE(std::isnan(fine.largest));
  EXPECT_EQ(fine.note, "a b");
}

TEST(CompareReport, TheMarkedSectionIsReplacedOrAppended) {
  const std::string first = tfReplaceMarkedSection("# Title\ntext", "one\n");
  EXPECT_EQ(first.find("# Title\ntext\n"), 0u);
  EXPECT_NE(first.find("one\n"), std::string::npos);
  const std::string second = tfReplaceMarkedSection(first + "\nafter\n", "two\n");
  EXPECT_EQ(second.find("one"), std::string::npos);
  EXPECT_NE(second.find("two\n"), std::string::npos);
  EXPECT_NE(second.find("\nafter\n"), std::string::npos);
  EXPECT_EQ(tfReplaceMarkedSection(second, "two\n"), second);

  tkCompareRow row;
  row.set = "a,b";
  row.note = "say \"x\"";
  const std::string csv = tfCompareCsv({row});
  EXPECT_NE(csv.find("\"a,b\""), std::string::npos);
  EXPECT_NE(csv.find("\"say \"\"x\"\"\""), std::string::npos);
  // The CSV reads back into the same rows (numbers to their printed precision).
  row.ok = true;
  row.rms = 0.4172;
  row.cpuSeconds = 1.5;
  row.runs = 3;
  const std::vector<tkCompareRow> back = tfParseCompareCsv(tfCompareCsv({row, tkCompareRow()}));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].set, "a,b");
  EXPECT_EQ(back[0].note, "say \"x\"");
  EXPECT_TRUE(back[0].ok);
  EXPECT_EQ(back[0].rms, 0.4172);
  EXPECT_EQ(back[0].cpuSeconds, 1.5);
  EXPECT_EQ(back[0].runs, 3);
  EXPECT_TRUE(std::isnan(back[0].largest));
  EXPECT_FALSE(back[1].ok);
  EXPECT_THROW(tfParseCompareCsv("header\na,b\n"), std::runtime_error);
}

TEST(CompareLibraries, BothFitExactGeneratedViewsOfAPinholeCamera) {
  const tkCompareSet set = tfGenerateViewSet(pinholeCamera(), 2448, 2048, 5, 0.0, 3);
  tkCompareRow id;
  const tkCompareRow ours = tfCcalPlanar(set, 0, id, kOnce);
  ASSERT_TRUE(ours.ok) << ours.note;
  EXPECT_EQ(ours.points, 1500);
  EXPECT_LT(ours.rms, 1e-6);
  EXPECT_LT(ours.focalRel, 1e-8);
  const tkCompareRow theirs = tfOpenCvPlanar(set, 0, tkOpenCvLens::eNone, id, kOnce);
  ASSERT_TRUE(theirs.ok);
  EXPECT_EQ(theirs.points, 1500);
  // OpenCV takes single-precision points.
  EXPECT_LT(theirs.rms, 1e-3);
  EXPECT_LT(theirs.focalRel, 1e-5);
  EXPECT_EQ(theirs.runs, 1);
  // A view with too few points is left out for both libraries.
  tkCompareSet fewer = set;
  fewer.file.placements[2].points[0].resize(9);
  EXPECT_EQ(tfUsableViews(fewer.file, 0), (std::vector<int>{0, 1, 3, 4}));
  EXPECT_EQ(tfOpenCvPlanar(fewer, 0, tkOpenCvLens::eNone, id, kOnce).points, 1200);
  EXPECT_EQ(tfCcalPlanar(fewer, 0, id, kOnce).points, 1200);
  EXPECT_THROW(tfCompareModelNamed("fisheye"), std::runtime_error);
}

TEST(CompareReport, ThePlotShowsEverySeriesOfTheScalingRows) {
  std::vector<tkCompareRow> rows;
  for (int views : {10, 20, 40})
    for (const char* library : {"ccal", "OpenCV"}) {
      tkCompareRow row;
      row.task = "scaling";
      row.library = library;
      row.method = "m";
      row.views = views;
      row.ok = true;
      row.cpuSeconds = (library[0] == 'c' ? 0.01 : 1.0) * views;
      rows.push_back(row);
    }
  rows.back().ok = false;  // a failed row is left out
  const std::vector<tkPlotSeries> series = tfScalingSeries(rows);
  ASSERT_EQ(series.size(), 2u);
  EXPECT_EQ(series[0].label, "ccal m");  // a method without a lens in parentheses
  EXPECT_EQ(series[1].x.size(), 2u);
  const std::string svg = tfTimePlotSvg("t", "views", "s", series);
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  EXPECT_NE(svg.find("ccal m"), std::string::npos);
  EXPECT_NE(svg.find("OpenCV m"), std::string::npos);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  // The targets name the growth of each series.
  const std::string md = tfCompareMarkdown(rows, "context");
  EXPECT_NE(md.find("Growth of ccal m: time ∝ views^1.00"), std::string::npos) << md;
}

TEST(CompareLibraries, RigsOfExactDataGiveTheTruthsRelativePoses) {
  const tkCompareSet set = tfLoadCompareSet(CCAL_DATA_DIR, "rig3-radial-exact.json");
  const tkCompareRow ours = tfCcalRig(set, tkCompareRow(), kOnce);
  ASSERT_TRUE(ours.ok) << ours.note;
  EXPECT_EQ(ours.cameras, 3);
  EXPECT_EQ(ours.points, 7200);
  EXPECT_LT(ours.rms, 1e-6);
  EXPECT_LT(ours.relRotMrad, 1e-3);
  EXPECT_LT(ours.relTransPct, 1e-6);
  // OpenCV pairs each camera with an earlier one over the plate points both see; its k1 lens
  // cannot express the library's, so only closeness is asked for.
  const tkCompareRow theirs = tfOpenCvRig(set, tkOpenCvLens::eK1, tkCompareRow(), kOnce);
  ASSERT_TRUE(theirs.ok) << theirs.note;
  EXPECT_EQ(theirs.cameras, 3);
  EXPECT_GT(theirs.points, 0);
  EXPECT_LE(theirs.points, 2 * 7200);
  EXPECT_LT(theirs.rms, 0.1);
  EXPECT_LT(theirs.largest, 2.0);
  EXPECT_LT(theirs.relRotMrad, 2.0);
  EXPECT_LT(theirs.relTransPct, 0.5);
}

TEST(CompareLibraries, ThreeDimensionalPointsWithoutDistortionAreFitExactly) {
  const tkCompareSet set = tfLoadCompareSet(CCAL_DATA_DIR, "single-none-exact.json");
  const tkCompareRow ours = tfCcalPoints3d(set, tkCompareRow(), kOnce);
  ASSERT_TRUE(ours.ok) << ours.note;
  EXPECT_EQ(ours.points, 3600);
  EXPECT_LT(ours.rms, 1e-6);
  EXPECT_LT(ours.axisPx, 1e-4);
  const tkCompareRow theirs =
      tfOpenCvPoints3d(set, tkOpenCvLens::eNone, tkCompareRow(), kOnce);
  ASSERT_TRUE(theirs.ok);
  EXPECT_LT(theirs.rms, 1e-4);
  EXPECT_LT(theirs.focalRel, 1e-6);
  // A set without ground truth has no world points.
  const tkCompareSet real = tfLoadCompareSet(CCAL_DATA_DIR, "opencv-left.json");
  EXPECT_FALSE(real.hasTruth);
  EXPECT_THROW(tfCcalPoints3d(real, tkCompareRow(), kOnce), std::runtime_error);
}

TEST(CompareReport, TheTargetsJudgeTheOpenCvLeftRows) {
  const auto row = [](const char* library, const char* method, double rms, double cpu) {
    tkCompareRow r;
    r.set = "opencv-left/left";
    r.task = "planar";
    r.library = library;
    r.method = method;
    r.ok = true;
    r.rms = rms;
    r.cpuSeconds = cpu;
    return r;
  };
  const std::string better =
      tfCompareMarkdown({row("ccal", "rig calibration (radial)", 0.41, 0.2),
                         row("OpenCV", "calibrateCamera (k1)", 0.42, 0.1),
                         row("OpenCV", "calibrateCamera (k1,k2,p1,p2,k3)", 0.40, 0.1)},
                        "");
  EXPECT_NE(better.find("0.4200 px — **met**"), std::string::npos) << better;
  EXPECT_NE(better.find("— **not met** (ccal takes 2 ×"), std::string::npos) << better;
  const std::string failed =
      tfCompareMarkdown({row("ccal", "rig calibration (radial)", 0.41, 0.2)}, "");
  EXPECT_NE(failed.find("no comparable pair"), std::string::npos);
}

}  // namespace
