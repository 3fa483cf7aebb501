#include "time_plot.h"

#include <plot_axes.h>
#include <svg_document.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

std::string tfTimePlotSvg(const std::string& title, const std::string& xLabel,
                          const std::string& yLabel, const std::vector<tkPlotSeries>& series) {
  const auto drawable = [](double x, double y) {
    return std::isfinite(x) && std::isfinite(y) && y > 0.0;
  };
  double xMax = 0.0, yMin = std::numeric_limits<double>::infinity(), yMax = 0.0;
  for (const tkPlotSeries& s : series)
    for (std::size_t k = 0; k < s.x.size() && k < s.y.size(); ++k)
      if (drawable(s.x[k], s.y[k])) {
        xMax = std::max(xMax, s.x[k]);
        yMin = std::min(yMin, s.y[k]);
        yMax = std::max(yMax, s.y[k]);
      }
  if (!(yMax > 0.0)) {
    xMax = 1.0, yMin = 1.0, yMax = 10.0;
  }

  tkSvgDocument doc(720, 440);
  doc.title(title);
  tkPlotAxes axes(doc, 80, 40, 600, 330);
  const std::pair<double, double> xRange = tfPlotNiceRange(0.0, xMax);
  axes.xRange(xRange.first, xRange.second);
  if (yMax / yMin > 30.0) {
    axes.yRange(std::pow(10.0, std::floor(std::log10(yMin))),
                std::pow(10.0, std::ceil(std::log10(yMax)) + 1.0),  // a decade for the legend
                tkPlotScale::eLog);
  } else {
    const std::pair<double, double> yRange = tfPlotNiceRange(0.0, yMax);
    axes.yRange(yRange.first, yRange.second);
  }
  axes.drawFrame(xLabel, yLabel, title);
  axes.beginClip();
  for (std::size_t i = 0; i < series.size(); ++i) {
    std::vector<std::pair<double, double>> points;
    for (std::size_t k = 0; k < series[i].x.size() && k < series[i].y.size(); ++k)
      if (drawable(series[i].x[k], series[i].y[k]))
        points.emplace_back(series[i].x[k], series[i].y[k]);
    axes.series(points, tfPlotSeriesColor(i), series[i].label);
  }
  axes.endClip();
  axes.legend();
  return doc.str();
}
