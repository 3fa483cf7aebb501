#include "area_scan_result.h"

#include "result_json.h"
#include "tool_error.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <sstream>

namespace {

using json = nlohmann::json;

json readJson(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw tkToolInputError("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  try {
    return json::parse(text.str());
  } catch (const json::exception&) {
    throw tkToolInputError(path + ": not valid JSON");
  }
}

double numberAt(const json& value) {
  return value.is_number() ? value.get<double>() : NAN;
}

}  // namespace

tkAreaScanResult tfReadAreaScanResult(const std::string& path) {
  const json root = readJson(path);
  const std::string format = root.is_object() ? root.value("format", "") : "";
  if (format != "ccal-result/2" && format != "ccal-result/1")
    throw tkToolInputError(path + ": format: expected \"ccal-result/2\" (or /1)");
  const std::string kind = root.value("kind", "");
  if (kind != "area-scan") {
    throw tkToolInputError(path + ": a " + kind +
                           " result; only area-scan cameras can be exported or undistorted "
                           "(OpenCV, ROS and COLMAP have no model for telecentric and line-scan "
                           "cameras)");
  }
  const tkKnownIntrinsics known = tfReadKnownIntrinsics(path);
  tkAreaScanResult result;
  const json size = root.value("image_size", json());
  if (size.is_array() && size.size() == 2 && numberAt(size[0]) >= 2 && numberAt(size[1]) >= 2) {
    result.hasImageSize = true;
    result.width = static_cast<int>(numberAt(size[0]));
    result.height = static_cast<int>(numberAt(size[1]));
  }
  const json& cameras = root["cameras"];
  const json placements = root.value("placements", json::array());
  for (size_t c = 0; c < known.names.size(); ++c) {
    tkAreaScanCamera camera;
    camera.name = known.names[c];
    camera.model = known.area[c];
    const std::string where = path + ": cameras[" + std::to_string(c) + "]";
    const json& pose = cameras[c]["calib2"].value("camera_from_world", json());
    if (!pose.is_array() || pose.size() != 3)
      throw tkToolInputError(where + ".calib2.camera_from_world: expected 3 rows of 4 numbers");
    for (size_t r = 0; r < 3; ++r) {
      for (size_t k = 0; k < 4; ++k) {
        const double value = pose[r].is_array() && pose[r].size() == 4 ? numberAt(pose[r][k]) : NAN;
        if (!std::isfinite(value))
          throw tkToolInputError(where + ".calib2.camera_from_world: expected 3 rows of 4 numbers");
        camera.cameraFromWorld[r * 4 + k] = value;
      }
    }
    if (cameras[c].contains("figures"))
      camera.rms = cameras[c]["figures"].value("rms_px", 0.0);
    for (const json& placement : placements) {
      const json figures = placement.value("figures", json::array());
      if (figures.is_array() && c < figures.size() && figures[c].is_object() &&
          figures[c].value("points", 0) > 0 && figures[c]["rms_px"].is_number()) {
        camera.perViewRms.push_back(figures[c]["rms_px"].get<double>());
      }
    }
    result.cameras.push_back(camera);
  }
  return result;
}

size_t tfFindCamera(const tkAreaScanResult& result, const std::string& camera,
                    const std::string& path) {
  for (size_t c = 0; c < result.cameras.size(); ++c) {
    if (camera == result.cameras[c].name || camera == std::to_string(c))
      return c;
  }
  throw tkToolInputError(path + ": has no camera " + camera);
}
