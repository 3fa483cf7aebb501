#include "time_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

namespace {

const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd"};

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '&')
      out += "&amp;";
    else
      out += c;
  }
  return out;
}

std::string number(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

// About `count` round tick values covering [lo, hi].
std::vector<double> linearTicks(double lo, double hi, int count) {
  const double raw = (hi - lo) / count;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude;
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * magnitude >= raw) {
      step = m * magnitude;
      break;
    }
  std::vector<double> ticks;
  for (double t = std::ceil(lo / step) * step; t <= hi + 1e-9 * step; t += step)
    ticks.push_back(t);
  return ticks;
}

}  // namespace

std::string tfTimePlotSvg(const std::string& title, const std::string& xLabel,
                          const std::string& yLabel, const std::vector<tkPlotSeries>& series) {
  const double width = 720, height = 440, left = 80, right = 200, top = 40, bottom = 60;
  double xMin = std::numeric_limits<double>::infinity(), xMax = -xMin;
  double yMin = xMin, yMax = -xMin;
  for (const tkPlotSeries& s : series)
    for (std::size_t k = 0; k < s.x.size() && k < s.y.size(); ++k) {
      if (!std::isfinite(s.x[k]) || !std::isfinite(s.y[k]) || s.y[k] <= 0.0)
        continue;
      xMin = std::min(xMin, s.x[k]);
      xMax = std::max(xMax, s.x[k]);
      yMin = std::min(yMin, s.y[k]);
      yMax = std::max(yMax, s.y[k]);
    }
  if (!std::isfinite(xMin)) {
    xMin = 0.0, xMax = 1.0, yMin = 1.0, yMax = 10.0;
  }
  const bool logY = yMax / yMin > 30.0;
  double y0, y1;
  if (logY) {
    y0 = std::floor(std::log10(yMin));
    y1 = std::ceil(std::log10(yMax));
  } else {
    y0 = 0.0;
    y1 = yMax * 1.1;
  }
  if (y1 <= y0)
    y1 = y0 + 1.0;
  const double x0 = 0.0, x1 = xMax > 0.0 ? xMax * 1.05 : 1.0;
  const double plotW = width - left - right, plotH = height - top - bottom;
  const auto px = [&](double x) { return left + (x - x0) / (x1 - x0) * plotW; };
  const auto py = [&](double y) {
    const double v = logY ? std::log10(y) : y;
    return top + plotH - (v - y0) / (y1 - y0) * plotH;
  };

  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg << "<text x=\"" << left + plotW / 2 << "\" y=\"24\" text-anchor=\"middle\" font-size=\"15\">"
      << escaped(title) << "</text>\n";
  // Grid and ticks.
  for (double t : linearTicks(x0, x1, 8)) {
    svg << "<line x1=\"" << px(t) << "\" y1=\"" << top << "\" x2=\"" << px(t) << "\" y2=\""
        << top + plotH << "\" stroke=\"#ddd\"/>\n";
    svg << "<text x=\"" << px(t) << "\" y=\"" << top + plotH + 16 << "\" text-anchor=\"middle\">"
        << number(t) << "</text>\n";
  }
  std::vector<double> yTicks;
  if (logY) {
    for (double e = y0; e <= y1 + 1e-9; e += 1.0)
      yTicks.push_back(std::pow(10.0, e));
  } else {
    yTicks = linearTicks(y0, y1, 6);
  }
  for (double t : yTicks) {
    svg << "<line x1=\"" << left << "\" y1=\"" << py(t) << "\" x2=\"" << left + plotW << "\" y2=\""
        << py(t) << "\" stroke=\"#ddd\"/>\n";
    svg << "<text x=\"" << left - 6 << "\" y=\"" << py(t) + 4 << "\" text-anchor=\"end\">"
        << number(t) << "</text>\n";
  }
  svg << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << plotW << "\" height=\""
      << plotH << "\" fill=\"none\" stroke=\"black\"/>\n";
  svg << "<text x=\"" << left + plotW / 2 << "\" y=\"" << height - 18
      << "\" text-anchor=\"middle\">" << escaped(xLabel) << "</text>\n";
  svg << "<text transform=\"translate(20," << top + plotH / 2
      << ") rotate(-90)\" text-anchor=\"middle\">" << escaped(yLabel)
      << (logY ? " (log scale)" : "") << "</text>\n";
  // Series and legend.
  for (std::size_t s = 0; s < series.size(); ++s) {
    const char* colour = kColours[s % (sizeof kColours / sizeof kColours[0])];
    std::ostringstream points;
    std::size_t drawn = 0;
    for (std::size_t k = 0; k < series[s].x.size() && k < series[s].y.size(); ++k) {
      const double x = series[s].x[k], y = series[s].y[k];
      if (!std::isfinite(x) || !std::isfinite(y) || y <= 0.0)
        continue;
      points << px(x) << "," << py(y) << " ";
      svg << "<circle cx=\"" << px(x) << "\" cy=\"" << py(y) << "\" r=\"3.5\" fill=\"" << colour
          << "\"/>\n";
      ++drawn;
    }
    if (drawn > 1)
      svg << "<polyline points=\"" << points.str() << "\" fill=\"none\" stroke=\"" << colour
          << "\" stroke-width=\"2\"/>\n";
    const double ly = top + 16 + 20.0 * static_cast<double>(s);
    svg << "<line x1=\"" << left + plotW + 14 << "\" y1=\"" << ly - 4 << "\" x2=\""
        << left + plotW + 38 << "\" y2=\"" << ly - 4 << "\" stroke=\"" << colour
        << "\" stroke-width=\"2\"/>\n";
    svg << "<text x=\"" << left + plotW + 44 << "\" y=\"" << ly << "\">" << escaped(series[s].label)
        << "</text>\n";
  }
  svg << "</svg>\n";
  return svg.str();
}
