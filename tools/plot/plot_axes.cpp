#include "plot_axes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

// The round step (1, 2 or 5 times a power of ten) closest above span / count.
double niceStep(double span, int count) {
  const double raw = span / std::max(count, 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double mantissa = raw / power;
  const double nice = mantissa <= 1.0 ? 1.0 : mantissa <= 2.0 ? 2.0 : mantissa <= 5.0 ? 5.0 : 10.0;
  return nice * power;
}

const tkPlotColor kInk{30, 30, 30};
const tkPlotColor kGrid{225, 225, 225};

}  // namespace

std::pair<double, double> tfPlotNiceRange(double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi))
    return {0.0, 1.0};
  if (lo > hi)
    std::swap(lo, hi);
  if (hi - lo <= 1e-12 * std::max(1.0, std::fabs(lo))) {
    const double pad = lo == 0.0 ? 1.0 : 0.1 * std::fabs(lo);
    lo -= pad;
    hi += pad;
  }
  const double step = niceStep(hi - lo, 6);
  return {std::floor(lo / step) * step, std::ceil(hi / step) * step};
}

std::vector<double> tfPlotTicks(double lo, double hi, tkPlotScale scale, int count) {
  std::vector<double> ticks;
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi))
    return ticks;
  if (scale == tkPlotScale::eLog) {
    if (!(lo > 0.0))
      return ticks;
    const int first = static_cast<int>(std::floor(std::log10(lo)));
    const int last = static_cast<int>(std::ceil(std::log10(hi)));
    const bool fine = last - first < 3;
    for (int e = first; e <= last; ++e) {
      const double decade = std::pow(10.0, e);
      for (double m : {1.0, 2.0, 5.0}) {
        if (m != 1.0 && !fine)
          continue;
        const double value = m * decade;
        if (value >= lo * (1 - 1e-9) && value <= hi * (1 + 1e-9))
          ticks.push_back(value);
      }
    }
    return ticks;
  }
  const double step = niceStep(hi - lo, count);
  for (double value = std::ceil(lo / step - 1e-9) * step; value <= hi + 1e-9 * step;
       value += step) {
    ticks.push_back(std::fabs(value) < 1e-12 * step ? 0.0 : value);
  }
  return ticks;
}

std::string tfPlotTickLabel(double value, double step) {
  char text[32];
  for (int digits = 1; digits <= 12; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (!(step > 0.0) || std::fabs(std::strtod(text, nullptr) - value) < 1e-3 * step)
      break;
  }
  return text;
}

tkPlotAxes::tkPlotAxes(tkSvgDocument& doc, double x, double y, double w, double h)
    : doc_(doc), x_(x), y_(y), w_(w), h_(h) {
  if (!(w > 0.0) || !(h > 0.0) || !std::isfinite(w) || !std::isfinite(h) || !std::isfinite(x) ||
      !std::isfinite(y)) {
    throw std::invalid_argument("plot area must have a positive finite size");
  }
}

void tkPlotAxes::setAxis(Axis& axis, double lo, double hi, tkPlotScale scale) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo < hi)) {
    throw std::invalid_argument("plot range needs finite bounds with lo < hi");
  }
  if (scale == tkPlotScale::eLog && !(lo > 0.0)) {
    throw std::invalid_argument("logarithmic plot range needs lo > 0");
  }
  axis.lo = lo;
  axis.hi = hi;
  axis.scale = scale;
}

void tkPlotAxes::xRange(double lo, double hi, tkPlotScale scale) {
  setAxis(xAxis_, lo, hi, scale);
}

void tkPlotAxes::yRange(double lo, double hi, tkPlotScale scale, bool downwards) {
  setAxis(yAxis_, lo, hi, scale);
  yDownwards_ = downwards;
}

void tkPlotAxes::equalAspect() {
  if (xAxis_.scale != tkPlotScale::eLinear || yAxis_.scale != tkPlotScale::eLinear)
    return;
  const double xPerUnit = w_ / (xAxis_.hi - xAxis_.lo);
  const double yPerUnit = h_ / (yAxis_.hi - yAxis_.lo);
  if (xPerUnit > yPerUnit) {
    const double half = 0.5 * w_ / yPerUnit;
    const double middle = 0.5 * (xAxis_.lo + xAxis_.hi);
    xAxis_.lo = middle - half;
    xAxis_.hi = middle + half;
  } else {
    const double half = 0.5 * h_ / xPerUnit;
    const double middle = 0.5 * (yAxis_.lo + yAxis_.hi);
    yAxis_.lo = middle - half;
    yAxis_.hi = middle + half;
  }
}

double tkPlotAxes::fraction(const Axis& axis, double value) {
  if (axis.scale == tkPlotScale::eLog) {
    if (!(value > 0.0))
      return -1.0;
    return (std::log10(value) - std::log10(axis.lo)) / (std::log10(axis.hi) - std::log10(axis.lo));
  }
  return (value - axis.lo) / (axis.hi - axis.lo);
}

double tkPlotAxes::toX(double dataX) const {
  return x_ + w_ * fraction(xAxis_, dataX);
}

double tkPlotAxes::toY(double dataY) const {
  const double f = fraction(yAxis_, dataY);
  return yDownwards_ ? y_ + h_ * f : y_ + h_ * (1.0 - f);
}

double tkPlotAxes::unitsPerDataX() const {
  return w_ / (xAxis_.hi - xAxis_.lo);
}

void tkPlotAxes::drawFrame(const std::string& xLabel, const std::string& yLabel,
                           const std::string& title) {
  const tkSvgStroke grid{kGrid, 1.0, ""};
  const tkSvgStroke ink{kInk, 1.0, ""};
  const double fontSize = 11.0;
  const std::vector<double> xTicks = tfPlotTicks(xAxis_.lo, xAxis_.hi, xAxis_.scale);
  const std::vector<double> yTicks = tfPlotTicks(yAxis_.lo, yAxis_.hi, yAxis_.scale);
  const double xStep = xTicks.size() > 1 ? xTicks[1] - xTicks[0] : 0.0;
  const double yStep = yTicks.size() > 1 ? yTicks[1] - yTicks[0] : 0.0;
  for (double tick : xTicks) {
    const double px = toX(tick);
    doc_.line(px, y_, px, y_ + h_, grid);
    doc_.line(px, y_ + h_, px, y_ + h_ + 4, ink);
    const double step = xAxis_.scale == tkPlotScale::eLog ? tick : xStep;
    doc_.text(px, y_ + h_ + 16, tfPlotTickLabel(tick, step), fontSize, tkSvgAnchor::eMiddle, kInk);
  }
  for (double tick : yTicks) {
    const double py = toY(tick);
    doc_.line(x_, py, x_ + w_, py, grid);
    doc_.line(x_ - 4, py, x_, py, ink);
    const double step = yAxis_.scale == tkPlotScale::eLog ? tick : yStep;
    doc_.text(x_ - 7, py + 4, tfPlotTickLabel(tick, step), fontSize, tkSvgAnchor::eEnd, kInk);
  }
  doc_.rect(x_, y_, w_, h_, nullptr, &ink, "frame");
  if (!xLabel.empty()) {
    doc_.text(x_ + 0.5 * w_, y_ + h_ + 34, xLabel, 12.0, tkSvgAnchor::eMiddle, kInk);
  }
  if (!yLabel.empty()) {
    const double px = x_ - 48;
    const double py = y_ + 0.5 * h_;
    doc_.text(px, py, yLabel, 12.0, tkSvgAnchor::eMiddle, kInk, -90.0);
  }
  if (!title.empty()) {
    doc_.text(x_ + 0.5 * w_, y_ - 10, title, 14.0, tkSvgAnchor::eMiddle, kInk, 0.0, true);
  }
}

void tkPlotAxes::series(const std::vector<std::pair<double, double>>& points,
                        const tkPlotColor& color, const std::string& label, bool markers,
                        const std::string& dash) {
  const tkSvgStroke stroke{color, 2.0, dash};
  beginClip();
  std::vector<std::pair<double, double>> run;
  auto flush = [&]() {
    if (run.size() > 1)
      doc_.polyline(run, stroke, "series");
    run.clear();
  };
  for (const auto& point : points) {
    const double px = toX(point.first);
    const double py = toY(point.second);
    if (!std::isfinite(point.first) || !std::isfinite(point.second) || !std::isfinite(px) ||
        !std::isfinite(py)) {
      flush();
      continue;
    }
    run.emplace_back(px, py);
    if (markers)
      doc_.circle(px, py, 3.0, color, "marker");
  }
  flush();
  endClip();
  if (!label.empty())
    legend_.push_back({label, color, false, dash});
}

void tkPlotAxes::histogram(const std::vector<double>& edges, const std::vector<double>& counts,
                           const tkPlotColor& fill, const std::string& label) {
  if (edges.size() != counts.size() + 1) {
    throw std::invalid_argument("histogram needs one more edge than counts");
  }
  const tkSvgStroke outline{tkPlotColor{255, 255, 255}, 0.5, ""};
  beginClip();
  for (size_t i = 0; i < counts.size(); ++i) {
    if (!(counts[i] > 0.0))
      continue;
    const double left = toX(edges[i]);
    const double right = toX(edges[i + 1]);
    const double base = yAxis_.scale == tkPlotScale::eLog ? toY(yAxis_.lo) : toY(0.0);
    const double top = toY(counts[i]);
    doc_.rect(std::min(left, right), std::min(base, top), std::fabs(right - left),
              std::fabs(base - top), &fill, &outline, "bar");
  }
  endClip();
  if (!label.empty())
    legend_.push_back({label, fill, true, ""});
}

void tkPlotAxes::legend(bool topRight) {
  if (legend_.empty())
    return;
  const double fontSize = 11.0;
  const double rowHeight = 16.0;
  size_t longest = 0;
  for (const LegendEntry& entry : legend_)
    longest = std::max(longest, entry.label.size());
  const double boxWidth = 34.0 + 0.62 * fontSize * static_cast<double>(longest);
  const double boxHeight = 8.0 + rowHeight * static_cast<double>(legend_.size());
  const double left = topRight ? x_ + w_ - boxWidth - 8.0 : x_ + 8.0;
  const double top = y_ + 8.0;
  const tkPlotColor white{255, 255, 255};
  const tkSvgStroke border{tkPlotColor{180, 180, 180}, 1.0, ""};
  doc_.rect(left, top, boxWidth, boxHeight, &white, &border, "legend");
  for (size_t i = 0; i < legend_.size(); ++i) {
    const LegendEntry& entry = legend_[i];
    const double rowY = top + 4.0 + rowHeight * (static_cast<double>(i) + 0.5);
    if (entry.bar) {
      doc_.rect(left + 6.0, rowY - 5.0, 18.0, 10.0, &entry.color, nullptr);
    } else {
      doc_.line(left + 6.0, rowY, left + 24.0, rowY, tkSvgStroke{entry.color, 2.0, entry.dash});
    }
    doc_.text(left + 30.0, rowY + 4.0, entry.label, fontSize, tkSvgAnchor::eStart, kInk);
  }
}

void tkPlotAxes::beginClip() {
  doc_.beginClippedGroup(x_, y_, w_, h_);
}

void tkPlotAxes::endClip() {
  doc_.endGroup();
}
