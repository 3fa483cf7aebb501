#include "result_quality_json.h"

#include <cmath>

namespace {

using json = nlohmann::ordered_json;

json number(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

json numbers(const double* v, size_t n) {
  json out = json::array();
  for (size_t i = 0; i < n; ++i)
    out.push_back(number(v[i]));
  return out;
}

}  // namespace

json tfDeviationsJson(const tkCameraDeviations& d) {
  return json{{"fx", number(d.fx)},
              {"fy", number(d.fy)},
              {"cx", number(d.cx)},
              {"cy", number(d.cy)},
              {"skew", number(d.skew)},
              {"focal", json::array({number(d.focalX), number(d.focalY)})},
              {"lens_dist_params", numbers(d.lens.data(), d.lens.size())},
              {"center_of_expansion", json::array({number(d.centreX), number(d.centreY)})},
              {"rotation_deg", numbers(d.rotationDeg.data(), 3)},
              {"translation", numbers(d.translation.data(), 3)}};
}

json tfDeviationsJson(const tkPlacementDeviations& d) {
  return json{{"rotation_deg", numbers(d.rotationDeg.data(), 3)},
              {"translation", numbers(d.translation.data(), 3)}};
}

json tfQualityJson(const tkToolResult& result) {
  const tkToolQuality& q = result.quality;
  if (!q.present)
    return json{{"failure", q.failure}};
  json cameras = json::array();
  for (const tkToolQualityCamera& c : q.cameras) {
    json camera{{"projection_uncertainty_centre_px", number(c.centre)},
                {"projection_uncertainty_corner_px", number(c.corner)}};
    if (!c.grid.empty())
      camera["projection_uncertainty_grid"] =
          json{{"columns", c.gridColumns},
               {"rows", c.gridRows},
               {"rms_px", numbers(c.grid.data(), c.grid.size())}};
    cameras.push_back(camera);
  }
  json warnings = json::array();
  for (const tkToolQualityWarning& w : q.warnings)
    warnings.push_back(json{{"kind", w.kind},
                            {"camera", w.camera},
                            {"placement", w.placement},
                            {"value", number(w.value)},
                            {"limit", number(w.limit)},
                            {"message", w.message}});
  return json{{"sigma_px", number(q.sigma)},
              {"sigma_estimated", q.sigmaEstimated},
              {"points", q.points},
              {"parameters", q.parameters},
              {"rank", q.rank},
              {"cameras", cameras},
              {"warnings", warnings}};
}
