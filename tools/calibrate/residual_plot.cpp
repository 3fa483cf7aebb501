#include "residual_plot.h"

#include "outlier_output.h"
#include "tool_error.h"
#include "uncertainty_map.h"

#include <plot_axes.h>
#include <svg_document.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr double kPanelWidth = 520.0;
constexpr double kFrameHeight = 390.0;
constexpr double kHistogramHeight = 150.0;
constexpr double kTop = 60.0;
// Points --reject-outliers gave weight 0: a colour outside the ramp.
constexpr tkPlotColor kRejected{215, 25, 28};

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// The image rectangle of a camera: the file's image size, or the bounding box of its points.
void imageRange(const tkToolResult& result, size_t camera, double range[4]) {
  if (result.hasImageSize) {
    range[0] = 0.0;
    range[1] = result.imageSize[0];
    range[2] = 0.0;
    range[3] = result.imageSize[1];
    return;
  }
  range[0] = range[2] = HUGE_VAL;
  range[1] = range[3] = -HUGE_VAL;
  for (const tkToolResidual& r : result.residuals) {
    if (r.camera != camera)
      continue;
    range[0] = std::min(range[0], r.image.x());
    range[1] = std::max(range[1], r.image.x());
    range[2] = std::min(range[2], r.image.y());
    range[3] = std::max(range[3], r.image.y());
  }
  if (!(range[1] > range[0]) || !(range[3] > range[2])) {
    range[0] = range[2] = 0.0;
    range[1] = range[3] = 1.0;
  }
}

void drawCamera(tkSvgDocument& doc, const tkToolResult& result, size_t c, double left) {
  const tkToolCamera& camera = result.cameras[c];
  double range[4];
  imageRange(result, c, range);
  tkPlotAxes frame(doc, left + 70.0, kTop, kPanelWidth - 100.0, kFrameHeight - 80.0);
  frame.xRange(range[0], range[1]);
  frame.yRange(range[2], range[3], tkPlotScale::eLinear, true);
  frame.equalAspect();
  const bool lineScan = result.kind == "line-scan";
  frame.drawFrame(lineScan ? "u (pixels)" : "x (pixels)",
                  lineScan ? "v (scan lines)" : "y (pixels)",
                  "camera " + std::to_string(c) + " \"" + camera.name + "\"");
  // With --reject-outliers the scale, the colours and the histogram follow the inliers, and a
  // rejected point's arrow is at most twice as long as the longest inlier's.
  const bool rejection = result.rejection.enabled;
  const double largest =
      rejection ? tfInlierFigures(result, c).largest : camera.figures.largest;
  const double frameSpan = std::max(range[1] - range[0], range[3] - range[2]);
  // The largest residual is drawn 6% of the frame long.
  const double scale = largest > 0.0 ? 0.06 * frameSpan / largest : 1.0;
  const tkPlotColor outline{120, 120, 120};
  const tkSvgStroke border{outline, 1.0, "4 3"};
  doc.rect(frame.toX(range[0]), frame.toY(range[2]), frame.toX(range[1]) - frame.toX(range[0]),
           frame.toY(range[3]) - frame.toY(range[2]), nullptr, &border, "image");
  frame.beginClip();
  size_t rejected = 0;
  for (const bool drawRejected : {false, true}) {
    if (drawRejected && !result.rejection.enabled)
      continue;
    doc.beginGroup(drawRejected ? "rejected" : "arrows");
    for (const tkToolResidual& r : result.residuals) {
      if (r.camera != c || r.rejected != drawRejected)
        continue;
      rejected += r.rejected;
      const double length = r.residual.length();
      const double factor =
          r.rejected && length > 2.0 * largest ? scale * 2.0 * largest / length : scale;
      const tkVector<2> tip = r.image + r.residual * factor;
      const tkSvgStroke stroke{
          r.rejected ? kRejected : tfPlotColorRamp(largest > 0.0 ? length / largest : 0.0), 1.2,
          ""};
      doc.arrow(frame.toX(r.image.x()), frame.toY(r.image.y()), frame.toX(tip.x()),
                frame.toY(tip.y()), stroke, 4.0, "arrow");
    }
    doc.endGroup();
  }
  frame.endClip();
  // Colour key and arrow scale under the frame.
  const double keyY = kTop + kFrameHeight - 40.0;
  for (int i = 0; i < 10; ++i) {
    const tkPlotColor swatch = tfPlotColorRamp(i / 9.0);
    doc.rect(left + 70.0 + 14.0 * i, keyY, 14.0, 10.0, &swatch, nullptr, "key");
  }
  doc.text(left + 70.0, keyY + 24.0, "0", 10.0);
  doc.text(left + 210.0, keyY + 24.0, format("%.3g px", largest), 10.0, tkSvgAnchor::eEnd);
  doc.text(left + 230.0, keyY + 9.0,
           "arrows x" + format("%.3g", scale) + "; RMS " + format("%.4g px", camera.figures.rms) +
               (rejection ? ", inliers " + format("%.4g px", tfInlierFigures(result, c).rms) : ""),
           10.0);
  if (result.rejection.enabled)
    doc.text(left + 230.0, keyY + 24.0,
             "rejected (red, arrows at most 2x): " + std::to_string(rejected) + " points", 10.0,
             tkSvgAnchor::eStart, kRejected);

  // Histogram of |residual|.
  const int bins = 20;
  const double top = largest > 0.0 ? largest : 1.0;
  std::vector<double> edges, counts(bins, 0.0);
  for (int i = 0; i <= bins; ++i)
    edges.push_back(top * i / bins);
  for (const tkToolResidual& r : result.residuals) {
    if (r.camera != c || r.rejected)
      continue;
    const int bin = std::min(bins - 1, static_cast<int>(r.residual.length() / top * bins));
    counts[static_cast<size_t>(std::max(bin, 0))] += 1.0;
  }
  const double highest = *std::max_element(counts.begin(), counts.end());
  tkPlotAxes histogram(doc, left + 70.0, kTop + kFrameHeight + 20.0, kPanelWidth - 100.0,
                       kHistogramHeight - 50.0);
  histogram.xRange(0.0, top);
  histogram.yRange(0.0, tfPlotNiceRange(0.0, std::max(highest, 1.0)).second);
  histogram.drawFrame(rejection ? "|residual| of the inliers (pixels)" : "|residual| (pixels)",
                      "points", "");
  histogram.histogram(edges, counts, tfPlotColorRamp(0.35));
}

}  // namespace

std::string tfResidualPlotSvg(const tkToolResult& result) {
  const size_t n = std::max<size_t>(result.cameras.size(), 1);
  tkSvgDocument doc(kPanelWidth * static_cast<double>(n),
                    kTop + kFrameHeight + kHistogramHeight + 30.0 +
                        tfUncertaintyMapHeight(result));
  doc.title("ccal-calibrate residuals: " + result.inputPath);
  doc.text(12.0, 24.0,
           result.inputPath + " - " + result.method + ", model " + result.model + ": RMS " +
               format("%.4g px", result.overall.rms) + ", largest " +
               format("%.4g px", result.overall.largest) +
               (result.rejection.enabled
                    ? "; inliers RMS " +
                          format("%.4g px", tfInlierFigures(result, result.cameras.size()).rms)
                    : ""),
           14.0, tkSvgAnchor::eStart, tkPlotColor{30, 30, 30}, 0.0, true);
  for (size_t c = 0; c < result.cameras.size(); ++c) {
    drawCamera(doc, result, c, kPanelWidth * static_cast<double>(c));
    tfDrawUncertaintyMap(doc, result, c, kPanelWidth * static_cast<double>(c),
                         kTop + kFrameHeight + kHistogramHeight + 10.0, kPanelWidth);
  }
  return doc.str();
}

void tfWriteResidualPlot(const tkToolResult& result, const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    throw tkToolInputError("cannot write " + path);
  const std::string text = tfResidualPlotSvg(result);
  const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !ok)
    throw tkToolInputError("cannot write " + path);
}
