#include "uncertainty_map.h"

#include <plot_axes.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kPanelHeight = 360.0;
constexpr double kContours[] = {0.1, 0.25, 0.5, 1.0};

std::string label(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// Convex hull (monotone chain) of the camera's image points, closed.
std::vector<std::pair<double, double>> outline(const tkToolResult& result, size_t c) {
  std::vector<std::pair<double, double>> points;
  for (const tkToolResidual& r : result.residuals)
    if (r.camera == c && r.weight > 0.0)
      points.emplace_back(r.image.x(), r.image.y());
  std::sort(points.begin(), points.end());
  if (points.size() < 3)
    return points;
  const auto cross = [](const std::pair<double, double>& o, const std::pair<double, double>& a,
                        const std::pair<double, double>& b) {
    return (a.first - o.first) * (b.second - o.second) -
           (a.second - o.second) * (b.first - o.first);
  };
  std::vector<std::pair<double, double>> hull(2 * points.size());
  size_t k = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0.0)
      --k;
    hull[k++] = points[i];
  }
  for (size_t i = points.size() - 1, t = k + 1; i > 0; --i) {
    while (k >= t && cross(hull[k - 2], hull[k - 1], points[i - 1]) <= 0.0)
      --k;
    hull[k++] = points[i - 1];
  }
  hull.resize(k);
  return hull;
}

}  // namespace

double tfUncertaintyMapHeight(const tkToolResult& result) {
  if (!result.quality.present)
    return 0.0;
  for (const tkToolQualityCamera& c : result.quality.cameras)
    if (!c.grid.empty())
      return kPanelHeight;
  return 0.0;
}

void tfDrawUncertaintyMap(tkSvgDocument& doc, const tkToolResult& result, size_t c, double left,
                          double top, double width) {
  if (c >= result.quality.cameras.size() || result.quality.cameras[c].grid.empty())
    return;
  const tkToolQualityCamera& q = result.quality.cameras[c];
  const double w = result.imageSize[0], h = result.imageSize[1];
  tkPlotAxes frame(doc, left + 70.0, top + 20.0, width - 100.0, kPanelHeight - 100.0);
  frame.xRange(0.0, w);
  frame.yRange(0.0, h, tkPlotScale::eLinear, true);
  frame.equalAspect();
  frame.drawFrame("x (pixels)", "y (pixels)", "projection uncertainty (RMS px, at infinity)");
  const long nx = q.gridColumns, ny = q.gridRows;
  const auto at = [&](long i, long j) { return q.grid[static_cast<size_t>(j * nx + i)]; };
  const auto gx = [&](double i) { return (w - 1.0) * i / static_cast<double>(nx - 1); };
  const auto gy = [&](double j) { return (h - 1.0) * j / static_cast<double>(ny - 1); };
  double lo = HUGE_VAL;
  for (double v : q.grid)
    lo = std::min(lo, v);
  lo = std::max(std::min(lo, 0.5), 1e-3);
  const auto shade = [&](double v) {
    const double t = std::isfinite(v) ? std::log(v / lo) / std::log(1.0 / lo) : 1.0;
    return tfPlotColorRamp(std::clamp(t, 0.0, 1.0));
  };
  frame.beginClip();
  doc.beginGroup("uncertainty-cells");
  const double cw = (w - 1.0) / static_cast<double>(nx - 1), ch = (h - 1.0) / static_cast<double>(ny - 1);
  for (long j = 0; j < ny; ++j)
    for (long i = 0; i < nx; ++i) {
      const tkPlotColor colour = shade(at(i, j));
      const double x0 = frame.toX(gx(static_cast<double>(i)) - 0.5 * cw);
      const double y0 = frame.toY(gy(static_cast<double>(j)) - 0.5 * ch);
      doc.rect(x0, y0, frame.toX(gx(static_cast<double>(i)) + 0.5 * cw) - x0,
               frame.toY(gy(static_cast<double>(j)) + 0.5 * ch) - y0, &colour, nullptr, "cell");
    }
  doc.endGroup();
  // Contours by marching squares: one segment per crossed cell edge pair.
  doc.beginGroup("uncertainty-contours");
  const tkSvgStroke contour{tkPlotColor{20, 20, 20}, 1.0, ""};
  for (double level : kContours) {
    for (long j = 0; j + 1 < ny; ++j)
      for (long i = 0; i + 1 < nx; ++i) {
        const std::array<double, 4> v{at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)};
        const std::array<std::pair<double, double>, 4> p{
            std::make_pair(double(i), double(j)), std::make_pair(double(i + 1), double(j)),
            std::make_pair(double(i + 1), double(j + 1)), std::make_pair(double(i), double(j + 1))};
        std::vector<std::pair<double, double>> crossings;
        for (int e = 0; e < 4; ++e) {
          const double a = v[static_cast<size_t>(e)], b = v[static_cast<size_t>((e + 1) % 4)];
          if (!std::isfinite(a) || !std::isfinite(b) || (a < level) == (b < level))
            continue;
          const double t = (level - a) / (b - a);
          const auto& pa = p[static_cast<size_t>(e)];
          const auto& pb = p[static_cast<size_t>((e + 1) % 4)];
          crossings.emplace_back(frame.toX(gx(pa.first + t * (pb.first - pa.first))),
                                 frame.toY(gy(pa.second + t * (pb.second - pa.second))));
        }
        for (size_t k = 0; k + 1 < crossings.size(); k += 2)
          doc.line(crossings[k].first, crossings[k].second, crossings[k + 1].first,
                   crossings[k + 1].second, contour, "contour");
      }
  }
  doc.endGroup();
  std::vector<std::pair<double, double>> hull = outline(result, c);
  if (hull.size() >= 3) {
    hull.push_back(hull.front());
    for (auto& point : hull)
      point = {frame.toX(point.first), frame.toY(point.second)};
    doc.polyline(hull, tkSvgStroke{tkPlotColor{255, 255, 255}, 1.5, "5 3"}, "points-outline");
  }
  frame.endClip();
  const double keyY = top + kPanelHeight - 45.0;
  for (int i = 0; i < 10; ++i) {
    const tkPlotColor swatch = tfPlotColorRamp(i / 9.0);
    doc.rect(left + 70.0 + 14.0 * i, keyY, 14.0, 10.0, &swatch, nullptr, "key");
  }
  doc.text(left + 70.0, keyY + 24.0, label("%.2g px", lo), 10.0);
  doc.text(left + 210.0, keyY + 24.0, "1 px", 10.0, tkSvgAnchor::eEnd);
  doc.text(left + 230.0, keyY + 9.0,
           "contours 0.1, 0.25, 0.5, 1 px; dashed: the points' outline", 10.0);
}
