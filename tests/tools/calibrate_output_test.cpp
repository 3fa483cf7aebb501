// The outputs of the tool from a hand-made result: figures, report, JSON and plot, including the
// corner cases a calibration rarely produces (a camera that misses a placement, zero residuals,
// no image size).
#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <nlohmann/json.hpp>

#include <calibration_result.h>
#include <residual_plot.h>
#include <result_json.h>
#include <text_report.h>

#include "svg_elements.h"

#include <cmath>
#include <string>

namespace {

// Two area-scan cameras, two placements; camera 1 does not see placement 1.
tkToolResult handMade() {
  tkToolResult result;
  result.inputPath = "hand<made>.json";
  result.kind = "area-scan";
  result.method = "rig-calibration";
  result.model = "radial";
  for (const char* name : {"left", "right"}) {
    tkToolCamera camera;
    camera.name = name;
    camera.hasAreaModel = true;
    result.cameras.push_back(camera);
  }
  for (const char* name : {"p0", "p1"}) {
    tkToolPlacement placement;
    placement.name = name;
    placement.kind = "arbitrary";
    result.placements.push_back(placement);
  }
  const auto add = [&](size_t camera, size_t placement, double u, double du, double weight) {
    tkToolResidual r;
    r.camera = camera;
    r.placement = placement;
    r.index = result.residuals.size();
    r.image = tkVector<2>(u, 2 * u);
    r.residual = tkVector<2>(du, 0.0);
    r.weight = weight;
    result.residuals.push_back(r);
  };
  add(0, 0, 10, 3.0, 1.0);
  add(0, 1, 20, 1.0, 3.0);
  add(1, 0, 30, -2.0, 1.0);
  add(1, 0, 40, 0.0, 0.0);
  tfComputeFigures(result);
  return result;
}

}  // namespace

TEST(CalibrateOutput, FiguresAreWeightedPerCameraPlacementAndOverall) {
  const tkToolResult result = handMade();
  EXPECT_DOUBLE_EQ(result.cameras[0].figures.rms, std::sqrt((9.0 + 3.0) / 4.0));
  EXPECT_DOUBLE_EQ(result.cameras[1].figures.rms, 2.0);  // the weight-0 point does not count
  EXPECT_EQ(result.cameras[1].figures.points, 2u);       // but is a point
  EXPECT_DOUBLE_EQ(result.overall.largest, 3.0);
  EXPECT_EQ(result.placements[1].perCamera[1].points, 0u);
  EXPECT_DOUBLE_EQ(result.placements[1].perCamera[1].rms, 0.0);
}

TEST(CalibrateOutput, ReportListsWorstPointsAndMissingViews) {
  const std::string report = tfTextReport(handMade(), 2);
  const size_t worst = report.find("worst points");
  ASSERT_NE(worst, std::string::npos) << report;
  // Largest first: 3.0 (left, p0) before 2.0 (right, p0); only two rows.
  const size_t first = report.find("3.0000", worst);
  const size_t second = report.find("2.0000", worst);
  EXPECT_LT(first, second);
  EXPECT_EQ(report.find("1.0000    ", second), std::string::npos);
  // p1 is not seen by the right camera.
  const size_t p1 = report.find("  p1 ");
  ASSERT_NE(p1, std::string::npos);
  const std::string row = report.substr(p1, report.find('\n', p1) - p1);
  EXPECT_EQ(row.back(), '-') << row;
  EXPECT_EQ(tfTextReport(handMade(), 0).find("worst points"), std::string::npos);
}

TEST(CalibrateOutput, JsonAndPlotOfEdgeCasesStayWellFormed) {
  tkToolResult result = handMade();
  const nlohmann::json json = nlohmann::json::parse(tfResultJson(result));
  EXPECT_EQ(json["input"], "hand<made>.json");
  EXPECT_EQ(json["residuals"].size(), 4u);
  EXPECT_EQ(json["placements"][1]["figures"][1]["points"], 0);

  // All residuals zero and no image size: the frame comes from the points.
  for (tkToolResidual& r : result.residuals)
    r.residual = tkVector<2>();
  tfComputeFigures(result);
  const std::string plot = tfResidualPlotSvg(result);
  tinyxml2::XMLDocument svg;
  ASSERT_EQ(svg.Parse(plot.c_str()), tinyxml2::XML_SUCCESS) << svg.ErrorStr();
  EXPECT_EQ(countElements(svg.RootElement(), "path", "arrow"), 4);
  EXPECT_EQ(plot.find("nan"), std::string::npos);

  // An empty result (no residuals) still gives a document.
  result.residuals.clear();
  tfComputeFigures(result);
  EXPECT_EQ(svg.Parse(tfResidualPlotSvg(result).c_str()), tinyxml2::XML_SUCCESS);
  EXPECT_EQ(nlohmann::json::parse(tfResultJson(result))["residuals"].size(), 0u);
}
