// Charts on an SVG document: a rectangular plot area with linear or logarithmic axes, ticks,
// grid and labels, into which series (polylines with markers and a legend), histograms, arrows
// and points are drawn in data coordinates.
//
//   tkSvgDocument doc(640, 400);
//   tkPlotAxes axes(doc, 70, 30, 540, 320);               // plot area in document units
//   axes.xRange(1, 40);                                   // data ranges
//   axes.yRange(1e-3, 10, tkPlotScale::eLog);
//   axes.drawFrame("views", "time (s)", "Calibration time");
//   axes.series(points, tfPlotSeriesColor(0), "ccal");    // one legend entry per series
//   axes.legend();
//   doc.save("time.svg");
//
// Data outside the ranges is clipped to the plot area. The y axis grows upwards unless
// yRange(..., downwards = true) is asked for (image coordinates).
#ifndef CCAL_TOOLS_PLOT_PLOT_AXES_H
#define CCAL_TOOLS_PLOT_PLOT_AXES_H

#include "svg_document.h"

#include <string>
#include <utility>
#include <vector>

enum class tkPlotScale { eLinear, eLog };

// A range [lo, hi] widened to round tick values (1, 2 or 5 times a power of ten) that cover the
// given one. A range of zero width is widened around its value; non-finite input gives [0, 1].
std::pair<double, double> tfPlotNiceRange(double lo, double hi);

// Tick values inside [lo, hi]: about `count` round values for a linear axis, powers of ten (with
// 2 and 5 between them when there are fewer than three decades) for a logarithmic one.
std::vector<double> tfPlotTicks(double lo, double hi, tkPlotScale scale, int count = 6);

// A tick label: the shortest of %g forms that tells neighbouring ticks apart.
std::string tfPlotTickLabel(double value, double step);

class tkPlotAxes {
 public:
  // The plot area is the rectangle (x, y, w, h) of doc (document units); the document must
  // outlive the axes. Ranges start as [0, 1]. Throws std::invalid_argument for a non-positive
  // or non-finite size.
  tkPlotAxes(tkSvgDocument& doc, double x, double y, double w, double h);

  // Data ranges. Throws std::invalid_argument when lo >= hi, a bound is not finite, or lo <= 0
  // on a logarithmic axis.
  void xRange(double lo, double hi, tkPlotScale scale = tkPlotScale::eLinear);
  void yRange(double lo, double hi, tkPlotScale scale = tkPlotScale::eLinear,
              bool downwards = false);
  // Widens one range about its middle so that one data unit has the same length on both axes
  // (linear axes only; for pictures of images and plates).
  void equalAspect();

  // Data -> document coordinates (log axes: non-positive values map below the area).
  double toX(double dataX) const;
  double toY(double dataY) const;
  // Document length of one data unit along x on a linear axis (for scaled arrows).
  double unitsPerDataX() const;

  // The frame, grid lines, ticks with labels, axis labels and a title above the area.
  void drawFrame(const std::string& xLabel, const std::string& yLabel, const std::string& title);

  // A polyline through the points (data coordinates; non-finite points break the line), with
  // a small disc at each point when markers is true, and a legend entry when label is not empty.
  void series(const std::vector<std::pair<double, double>>& points, const tkPlotColor& color,
              const std::string& label, bool markers = true, const std::string& dash = "");
  // Bars of a histogram: counts[i] over [edges[i], edges[i + 1]]. Throws std::invalid_argument
  // unless edges.size() == counts.size() + 1.
  void histogram(const std::vector<double>& edges, const std::vector<double>& counts,
                 const tkPlotColor& fill, const std::string& label = "");
  // The legend of the labelled series and histograms, in a box at the top-left (or top-right)
  // corner inside the area.
  void legend(bool topRight = false);

  // Clips what is drawn in data coordinates until endClip(); used around series and arrows.
  void beginClip();
  void endClip();

  tkSvgDocument& document() { return doc_; }
  double left() const { return x_; }
  double top() const { return y_; }
  double areaWidth() const { return w_; }
  double areaHeight() const { return h_; }

 private:
  struct Axis {
    double lo = 0.0;
    double hi = 1.0;
    tkPlotScale scale = tkPlotScale::eLinear;
  };
  struct LegendEntry {
    std::string label;
    tkPlotColor color;
    bool bar;
    std::string dash;
  };
  static double fraction(const Axis& axis, double value);
  static void setAxis(Axis& axis, double lo, double hi, tkPlotScale scale);

  tkSvgDocument& doc_;
  double x_, y_, w_, h_;
  Axis xAxis_, yAxis_;
  bool yDownwards_ = false;
  std::vector<LegendEntry> legend_;
};

#endif
