#include "outlier_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string figureText(const tkToolFigures& f) {
  char text[96];
  std::snprintf(text, sizeof text, "RMS %.4g px, largest %.4g px over %zu points", f.rms, f.largest,
                f.points);
  return text;
}

nlohmann::ordered_json figureJson(const tkToolFigures& f) {
  return {{"rms_px", f.rms}, {"max_px", f.largest}, {"points", f.points}};
}

}  // namespace

tkToolFigures tfInlierFigures(const tkToolResult& result, std::size_t c) {
  double weighted = 0.0, weights = 0.0;
  tkToolFigures f;
  for (const tkToolResidual& r : result.residuals) {
    if (r.rejected || (c < result.cameras.size() && r.camera != c))
      continue;
    const double length = r.residual.length();
    weighted += r.weight * length * length;
    weights += r.weight;
    f.largest = std::max(f.largest, length);
    ++f.points;
  }
  f.rms = weights > 0.0 ? std::sqrt(weighted / weights) : 0.0;
  return f;
}

std::string tfRejectionText(const tkToolResult& result) {
  const tkToolRejection& rejection = result.rejection;
  if (!rejection.enabled)
    return "";
  std::size_t rejected = 0;
  for (const tkToolResidual& r : result.residuals)
    rejected += r.rejected;
  char line[256];
  std::string out = "\noutlier rejection\n";
  std::snprintf(line, sizeof line,
                "  %zu point(s) rejected after %d further solve(s)%s; sigma %.4g px per "
                "coordinate\n",
                rejected, rejection.rounds, rejection.capped ? " (stopped by the round limit)" : "",
                rejection.sigma);
  out += line;
  for (std::size_t c = 0; c <= result.cameras.size(); ++c) {
    const bool pooled = c == result.cameras.size();
    const tkToolFigures& all = pooled ? result.overall : result.cameras[c].figures;
    std::snprintf(line, sizeof line, "  %-10s inliers: %s\n  %-10s all:     %s\n",
                  pooled ? "all" : result.cameras[c].name.c_str(),
                  figureText(tfInlierFigures(result, c)).c_str(), "", figureText(all).c_str());
    out += line;
  }
  for (std::size_t c = 0; c < result.cameras.size(); ++c) {
    for (std::size_t j = 0; j < result.placements.size(); ++j) {
      std::string rows;
      for (const tkToolResidual& r : result.residuals)
        if (r.rejected && r.camera == c && r.placement == j)
          rows += (rows.empty() ? "" : " ") + std::to_string(r.index);
      const bool dropped = rejection.dropped[j][c];
      if (rows.empty())
        continue;
      std::snprintf(line, sizeof line, "  %-10s %-12s %s", result.cameras[c].name.c_str(),
                    result.placements[j].name.c_str(),
                    dropped ? "view dropped (too few inliers left), rows " : "rejected rows ");
      out += line + rows + "\n";
    }
  }
  return out;
}

nlohmann::ordered_json tfRejectionJson(const tkToolResult& result) {
  const tkToolRejection& rejection = result.rejection;
  if (!rejection.enabled)
    return nullptr;
  nlohmann::ordered_json cameras = nlohmann::ordered_json::array();
  for (std::size_t c = 0; c < result.cameras.size(); ++c)
    cameras.push_back(figureJson(tfInlierFigures(result, c)));
  nlohmann::ordered_json rejected = nlohmann::ordered_json::array();
  for (const tkToolResidual& r : result.residuals)
    if (r.rejected)
      rejected.push_back({r.camera, r.placement, r.index});
  nlohmann::ordered_json dropped = nlohmann::ordered_json::array();
  for (std::size_t j = 0; j < rejection.dropped.size(); ++j)
    for (std::size_t c = 0; c < rejection.dropped[j].size(); ++c)
      if (rejection.dropped[j][c])
        dropped.push_back({c, j});
  return {{"rounds", rejection.rounds},
          {"capped", rejection.capped},
          {"sigma_px", rejection.sigma},
          {"inlier_figures", figureJson(tfInlierFigures(result, result.cameras.size()))},
          {"camera_inlier_figures", cameras},
          {"rejected", rejected},
          {"dropped_views", dropped}};
}
