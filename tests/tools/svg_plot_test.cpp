#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <plot_axes.h>
#include <svg_document.h>

#include "svg_elements.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

// Parses an SVG text; fails the test when it is not well-formed XML.
void parse(tinyxml2::XMLDocument& xml, const std::string& text) {
  ASSERT_EQ(xml.Parse(text.c_str()), tinyxml2::XML_SUCCESS) << xml.ErrorStr() << "\n" << text;
}

}  // namespace

TEST(SvgDocument, EscapedTextSurvivesAnXmlParser) {
  tkSvgDocument doc(200, 100);
  const std::string hostile = "a<b & \"c\" 'd' >e\x01";
  doc.title(hostile);
  doc.text(10, 20, hostile, 12);
  doc.rect(0, 0, 10, 10, nullptr, nullptr, "x\"y");
  tinyxml2::XMLDocument xml;
  parse(xml, doc.str());
  const tinyxml2::XMLElement* text = xml.RootElement()->FirstChildElement("text");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text->GetText(), "a<b & \"c\" 'd' >e");
  EXPECT_EQ(tfSvgEscape("<&>"), "&lt;&amp;&gt;");
}

TEST(SvgDocument, ShapesArrowsAndGroupsFormOneDocument) {
  tkSvgDocument doc(300, 200);
  const tkSvgStroke stroke{tfPlotColorRamp(0.5), 1.5, "3 1"};
  doc.beginGroup("arrows");
  for (int i = 0; i < 5; ++i)
    doc.arrow(10 * i, 10, 10 * i + 5, 30, stroke, 4, "arrow");
  doc.arrow(1, 1, 1, 1, stroke, 4, "arrow");  // zero length: shaft only
  doc.endGroup();
  doc.beginClippedGroup(0, 0, 100, 100);
  doc.polyline({{0, 0}, {std::numeric_limits<double>::quiet_NaN(), 1}}, stroke);
  doc.circle(5, 5, 2, tfPlotSeriesColor(9));
  // A group left open is closed in the text.
  tinyxml2::XMLDocument xml;
  parse(xml, doc.str());
  EXPECT_EQ(countElements(xml.RootElement(), "path", "arrow"), 6);
  EXPECT_EQ(countElements(xml.RootElement(), "clipPath", nullptr), 1);
  EXPECT_NE(doc.str().find("points=\"0,0 0,1\""), std::string::npos);
  EXPECT_THROW(tkSvgDocument(0, 10), std::invalid_argument);
  tkSvgDocument empty(10, 10);
  EXPECT_THROW(empty.endGroup(), std::logic_error);
  EXPECT_THROW(empty.save("/nonexistent-dir/x.svg"), std::runtime_error);
}

TEST(SvgDocument, NumbersAndColours) {
  EXPECT_EQ(tfSvgNumber(1.0), "1");
  EXPECT_EQ(tfSvgNumber(-0.001), "0");
  EXPECT_EQ(tfSvgNumber(2.345), "2.35");
  EXPECT_EQ(tfSvgNumber(std::numeric_limits<double>::infinity()), "0");
  EXPECT_EQ(tfPlotColorRamp(0.0).hex(), "#440154");
  EXPECT_EQ(tfPlotColorRamp(7.0).hex(), "#fde725");
  EXPECT_EQ(tfPlotColorRamp(std::nan("")).hex(), "#440154");
}

TEST(PlotAxes, TicksAndRangesAreRound) {
  const auto range = tfPlotNiceRange(0.13, 9.7);
  EXPECT_DOUBLE_EQ(range.first, 0.0);
  EXPECT_DOUBLE_EQ(range.second, 10.0);
  const auto flat = tfPlotNiceRange(5.0, 5.0);
  EXPECT_LT(flat.first, 5.0);
  EXPECT_GT(flat.second, 5.0);
  const std::vector<double> linear = tfPlotTicks(0.0, 10.0, tkPlotScale::eLinear);
  ASSERT_EQ(linear.size(), 6u);
  EXPECT_DOUBLE_EQ(linear[1], 2.0);
  const std::vector<double> logTicks = tfPlotTicks(1e-3, 10.0, tkPlotScale::eLog);
  ASSERT_EQ(logTicks.size(), 5u);
  EXPECT_DOUBLE_EQ(logTicks.front(), 1e-3);
  EXPECT_EQ(tfPlotTickLabel(0.30000000000000004, 0.1), "0.3");
  EXPECT_EQ(tfPlotTickLabel(1e-3, 1e-3), "0.001");
  EXPECT_EQ(tfPlotTickLabel(400.0, 100.0), "400");
  EXPECT_EQ(tfPlotTickLabel(2.5, 0.5), "2.5");
  EXPECT_EQ(tfPlotTickLabel(3e8, 1e8), "3e+08");
}

TEST(PlotAxes, ChartWithSeriesHistogramAndLegendParses) {
  tkSvgDocument doc(640, 400);
  tkPlotAxes axes(doc, 70, 30, 540, 320);
  EXPECT_THROW(axes.yRange(0.0, 1.0, tkPlotScale::eLog), std::invalid_argument);
  EXPECT_THROW(axes.xRange(2.0, 1.0), std::invalid_argument);
  axes.xRange(1, 40);
  axes.yRange(1e-3, 10, tkPlotScale::eLog);
  EXPECT_DOUBLE_EQ(axes.toX(1), 70.0);
  EXPECT_DOUBLE_EQ(axes.toY(10), 30.0);
  EXPECT_DOUBLE_EQ(axes.toY(1e-3), 350.0);
  axes.drawFrame("views", "time (s)", "time <vs> views");
  axes.series({{1, 0.01}, {10, 0.1}, {40, 1.0}}, tfPlotSeriesColor(0), "ccal");
  axes.series({{1, 0.02}, {10, 0.3}}, tfPlotSeriesColor(1), "peer & co", false, "4 2");
  EXPECT_THROW(axes.histogram({0, 1}, {1, 2}, tfPlotSeriesColor(2)), std::invalid_argument);
  axes.histogram({1, 2, 3}, {0.5, 0.0}, tfPlotSeriesColor(2), "bars");
  axes.legend(true);
  tinyxml2::XMLDocument xml;
  parse(xml, doc.str());
  EXPECT_EQ(countElements(xml.RootElement(), "polyline", "series"), 2);
  EXPECT_EQ(countElements(xml.RootElement(), "circle", "marker"), 3);
  EXPECT_EQ(countElements(xml.RootElement(), "rect", "bar"), 1);
  EXPECT_EQ(countElements(xml.RootElement(), "rect", "legend"), 1);
}

TEST(PlotAxes, EqualAspectMakesDataUnitsSquare) {
  tkSvgDocument doc(400, 200);
  tkPlotAxes axes(doc, 0, 0, 400, 200);
  axes.xRange(0, 100);
  axes.yRange(0, 100, tkPlotScale::eLinear, true);
  axes.equalAspect();
  EXPECT_DOUBLE_EQ(axes.unitsPerDataX(), 2.0);
  EXPECT_DOUBLE_EQ(axes.toY(0) - axes.toY(100), -200.0);
  EXPECT_NEAR((axes.toX(100) - axes.toX(0)) / 100.0, 2.0, 1e-12);
}
