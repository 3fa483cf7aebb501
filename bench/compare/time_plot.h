// The plot of time against the number of views: an SVG line chart of a few series.
//
// Drawn with the plotting code of the command-line tool (tools/plot), so that the comparison's
// chart looks like the tool's.
#ifndef CCAL_BENCH_COMPARE_TIME_PLOT_H
#define CCAL_BENCH_COMPARE_TIME_PLOT_H

#include <string>
#include <vector>

struct tkPlotSeries {
  std::string label;
  std::vector<double>
      x;  // same length as y; points with a non-finite or non-positive y are left out
  std::vector<double> y;
};

// The SVG document of a line chart with markers: linear x axis from 0, logarithmic y axis when
// the values span more than a factor of 30 (linear from 0 otherwise), a legend with the labels.
// An empty list of series, or series without drawable points, gives a chart with axes only.
std::string tfTimePlotSvg(const std::string& title, const std::string& xLabel,
                          const std::string& yLabel, const std::vector<tkPlotSeries>& series);

#endif
