#include "result_quality.h"

#include "calibration_result.h"

#include <tk/exception.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr long kGridColumns = 32;
constexpr long kGridRows = 24;

const char* kindName(tkCalibrationWarningKind kind) {
  switch (kind) {
    case tkCalibrationWarningKind::eRankDeficient:
      return "rank-deficient";
    case tkCalibrationWarningKind::eFocalLengthUncertain:
      return "focal-length-uncertain";
    case tkCalibrationWarningKind::eLowCoverage:
      return "low-coverage";
    case tkCalibrationWarningKind::eCornerUncertainty:
      return "corner-uncertainty";
    case tkCalibrationWarningKind::eViewRms:
      return "view-rms";
    case tkCalibrationWarningKind::eNoiseNotEstimable:
      return "noise-not-estimable";
  }
  return "unknown";
}

}  // namespace

void tfComputeQuality(tkToolResult& result,
                      const tkMulticameraZRotationPlacementsWeighted& zRotation,
                      const tkMulticameraArbitraryPlacementsWeighted& arbitrary,
                      const std::vector<std::pair<bool, size_t>>& where,
                      const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& rig,
                      bool intrinsicsFixed) {
  tkToolQuality& q = result.quality;
  tkUncertaintyOptions options;
  if (result.hasImageSize)
    options.imageSizes = {result.imageSize};
  try {
    const tkCalibrationUncertainty u =
        tfCalibrationUncertainty(zRotation, arbitrary, intrinsicsFixed, rig, options);
    q.sigma = u.sigma();
    q.sigmaEstimated = u.sigmaEstimated();
    q.points = u.points();
    q.parameters = u.parameters();
    q.rank = u.rank();
    for (size_t c = 0; c < result.cameras.size(); ++c) {
      result.cameras[c].hasDeviations = true;
      result.cameras[c].deviations = u.cameras()[c];
      tkToolQualityCamera camera;
      if (result.hasImageSize) {
        const double w = result.imageSize[0], h = result.imageSize[1];
        const long index = static_cast<long>(c);
        camera.centre =
            tfProjectionUncertainty(u, index, tkVector<2>(0.5 * (w - 1.0), 0.5 * (h - 1.0))).rms;
        for (double x : {0.0, w - 1.0})
          for (double y : {0.0, h - 1.0})
            camera.corner =
                std::max(camera.corner, tfProjectionUncertainty(u, index, tkVector<2>(x, y)).rms);
        camera.gridColumns = kGridColumns;
        camera.gridRows = kGridRows;
        camera.grid = tfProjectionUncertaintyGrid(u, index, kGridColumns, kGridRows);
      }
      q.cameras.push_back(std::move(camera));
    }
    // File placement of (kind, index).
    const auto filePlacement = [&](bool z, size_t index) -> long {
      for (size_t j = 0; j < where.size(); ++j)
        if (where[j].first == z && where[j].second == index)
          return static_cast<long>(j);
      return -1;
    };
    for (size_t j = 0; j < where.size(); ++j) {
      result.placements[j].hasDeviations = true;
      result.placements[j].deviations = where[j].first
                                            ? u.zRotationPlacements()[where[j].second]
                                            : u.arbitraryPlacements()[where[j].second];
    }
    for (const tkCalibrationWarning& w : u.warnings()) {
      tkToolQualityWarning out;
      out.kind = kindName(w.kind);
      out.camera = w.camera;
      if (w.placement >= 0) {
        const size_t nZ = zRotation.size();
        const size_t p = static_cast<size_t>(w.placement);
        out.placement = p < nZ ? filePlacement(true, p) : filePlacement(false, p - nZ);
      }
      out.value = w.value;
      out.limit = w.limit;
      out.message = w.message;
      q.warnings.push_back(std::move(out));
    }
    q.present = true;
  } catch (const tkException&) {
    q = tkToolQuality();
    q.failure = "the uncertainty could not be computed";
    for (tkToolCamera& camera : result.cameras)
      camera.hasDeviations = false;
    for (tkToolPlacement& placement : result.placements)
      placement.hasDeviations = false;
  }
}

std::string tfPlusMinus(const tkToolResult& result, double sigma, const char* format) {
  if (!result.quality.present)
    return "";
  if (!std::isfinite(sigma))
    return " ± inf";
  char text[64];
  std::snprintf(text, sizeof text, format, sigma);
  return std::string(" ± ") + text;
}

void tfAppendQualityReport(std::string& out, const tkToolResult& result) {
  const tkToolQuality& q = result.quality;
  if (!q.present) {
    if (!q.failure.empty())
      out += "\nquality\n  " + q.failure + "\n";
    return;
  }
  char line[512];
  out += "\nquality\n";
  std::snprintf(line, sizeof line,
                "  noise σ %.4g px (%s), %ld points, %ld parameters, rank %ld\n", q.sigma,
                q.sigmaEstimated ? "estimated: Σw|r|²/(2N − k)" : "given", q.points,
                q.parameters, q.rank);
  out += line;
  for (size_t c = 0; c < q.cameras.size(); ++c) {
    const tkToolQualityCamera& camera = q.cameras[c];
    if (camera.grid.empty())
      continue;
    std::snprintf(line, sizeof line,
                  "  %-10s projection uncertainty (RMS, at infinity) %.3g px at the centre, "
                  "up to %.3g px at the corners\n",
                  result.cameras[c].name.c_str(), camera.centre, camera.corner);
    out += line;
  }
  bool any = false;
  for (size_t j = 0; j < result.placements.size(); ++j) {
    const tkToolPlacement& p = result.placements[j];
    if (!p.hasDeviations || j == 0)
      continue;
    if (!any)
      out += "  placement poses (plate -> world): σ rotation (deg), σ translation\n";
    any = true;
    const tkPlacementDeviations& d = p.deviations;
    std::snprintf(line, sizeof line, "    %-12s (%.2g, %.2g, %.2g) deg, (%.2g, %.2g, %.2g)\n",
                  p.name.c_str(), d.rotationDeg[0], d.rotationDeg[1], d.rotationDeg[2],
                  d.translation[0], d.translation[1], d.translation[2]);
    out += line;
  }
  if (q.warnings.empty()) {
    out += "  no warnings\n";
    return;
  }
  for (const tkToolQualityWarning& w : q.warnings) {
    std::string where;
    if (w.camera >= 0)
      where += result.cameras[static_cast<size_t>(w.camera)].name;
    if (w.placement >= 0)
      where += (where.empty() ? "" : ", ") + result.placements[static_cast<size_t>(w.placement)].name;
    out += "  warning (" + w.kind + (where.empty() ? "" : ", " + where) + "): " + w.message + "\n";
  }
}
