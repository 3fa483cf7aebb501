#include "point_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace {

using json = nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw tkPointFileError(where + ": " + what);
}

const json& member(const json& object, const char* key, const std::string& where) {
  auto it = object.find(key);
  if (it == object.end())
    fail(where, std::string("missing \"") + key + "\"");
  return *it;
}

std::string stringMember(const json& object, const char* key, const std::string& where) {
  const json& value = member(object, key, where);
  if (!value.is_string())
    fail(where + "." + key, "expected a string");
  return value.get<std::string>();
}

double finiteNumber(const json& value, const std::string& where) {
  if (!value.is_number())
    fail(where, "expected a number");
  const double number = value.get<double>();
  if (!std::isfinite(number))
    fail(where, "number is not finite");
  return number;
}

tkPointRow parseRow(const json& row, bool lineScan, const std::string& where) {
  if (!row.is_array())
    fail(where, "expected an array of numbers");
  const size_t n = row.size();
  const bool sizeOk = lineScan ? n == 4 : (n == 5 || n == 6);
  if (!sizeOk)
    fail(where, lineScan ? "expected [u, v, X, Y]" : "expected [u, v, X, Y, Z(, w)]");
  double values[6] = {0, 0, 0, 0, 0, 1.0};
  for (size_t i = 0; i < n; ++i) {
    values[i] = finiteNumber(row[i], where + "[" + std::to_string(i) + "]");
  }
  tkPointRow point;
  point.image = tkVector<2>(values[0], values[1]);
  point.physical = tkVector<3>(values[2], values[3], lineScan ? 0.0 : values[4]);
  point.weight = values[5];
  if (point.weight < 0.0)
    fail(where, "weight is negative");
  return point;
}

}  // namespace

tkPointFile tfParsePointFile(const std::string& text) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::exception& error) {
    throw tkPointFileError(std::string("not valid JSON: ") + error.what());
  }
  if (!root.is_object())
    fail("file", "expected a JSON object");
  if (stringMember(root, "format", "file") != "ccal-points/1") {
    fail("format", "expected \"ccal-points/1\"");
  }
  tkPointFile file;
  if (root.contains("description") && root["description"].is_string()) {
    file.description = root["description"].get<std::string>();
  }
  file.kind = stringMember(root, "kind", "file");
  if (file.kind != "area-scan" && file.kind != "telecentric" && file.kind != "line-scan") {
    fail("kind", "expected \"area-scan\", \"telecentric\" or \"line-scan\"");
  }
  const bool lineScan = file.kind == "line-scan";
  if (file.kind == "area-scan") {
    file.distortionModel = stringMember(root, "distortion_model", "file");
    if (file.distortionModel != "radial" && file.distortionModel != "sine-tan" &&
        file.distortionModel != "none") {
      fail("distortion_model", "expected \"radial\", \"sine-tan\" or \"none\"");
    }
  }
  const json& cameras = member(root, "cameras", "file");
  if (!cameras.is_array() || cameras.empty())
    fail("cameras", "expected a non-empty array");
  for (const json& camera : cameras) {
    if (!camera.is_string())
      fail("cameras", "expected camera names");
    file.cameras.push_back(camera.get<std::string>());
  }
  if (root.contains("image_size")) {
    const json& size = root["image_size"];
    if (!size.is_array() || size.size() != 2)
      fail("image_size", "expected [width, height]");
    file.hasImageSize = true;
    file.imageSize = {finiteNumber(size[0], "image_size[0]"),
                      finiteNumber(size[1], "image_size[1]")};
  }
  const json& placements = member(root, "placements", "file");
  if (!placements.is_array() || placements.empty()) {
    fail("placements", "expected a non-empty array");
  }
  for (size_t j = 0; j < placements.size(); ++j) {
    const json& entry = placements[j];
    const std::string where = "placements[" + std::to_string(j) + "]";
    if (!entry.is_object())
      fail(where, "expected an object");
    tkPointPlacement placement;
    if (entry.contains("name") && entry["name"].is_string()) {
      placement.name = entry["name"].get<std::string>();
    }
    if (file.kind == "area-scan") {
      placement.kind = stringMember(entry, "kind", where);
      if (placement.kind != "z-rotation" && placement.kind != "arbitrary") {
        fail(where + ".kind", "expected \"z-rotation\" or \"arbitrary\"");
      }
      if (placement.kind == "z-rotation") {
        placement.height = finiteNumber(member(entry, "height", where), where + ".height");
      }
    }
    if (entry.contains("pose")) {
      const json& pose = entry["pose"];
      if (!pose.is_array() || pose.size() != 3)
        fail(where + ".pose", "expected 3 rows of 4");
      for (int r = 0; r < 3; ++r) {
        if (!pose[r].is_array() || pose[r].size() != 4) {
          fail(where + ".pose", "expected 3 rows of 4");
        }
        for (int c = 0; c < 4; ++c) {
          placement.pose[r * 4 + c] = finiteNumber(pose[r][c], where + ".pose");
        }
      }
      placement.hasPose = true;
    } else if (file.kind == "telecentric") {
      fail(where, "telecentric placements need a \"pose\"");
    }
    if (entry.contains("distance_to_target")) {
      placement.hasDistanceToTarget = true;
      placement.distanceToTarget =
          finiteNumber(entry["distance_to_target"], where + ".distance_to_target");
    }
    const json& points = member(entry, "points", where);
    if (!points.is_object())
      fail(where + ".points", "expected an object keyed by camera");
    for (const auto& item : points.items()) {
      if (std::find(file.cameras.begin(), file.cameras.end(), item.key()) == file.cameras.end()) {
        fail(where + ".points", "\"" + item.key() + "\" is not one of the cameras");
      }
    }
    for (const std::string& camera : file.cameras) {
      const std::string listWhere = where + ".points." + camera;
      const json& rows = member(points, camera.c_str(), where + ".points");
      if (!rows.is_array())
        fail(listWhere, "expected an array of rows");
      std::vector<tkPointRow> list;
      list.reserve(rows.size());
      for (size_t i = 0; i < rows.size(); ++i) {
        list.push_back(parseRow(rows[i], lineScan, listWhere + "[" + std::to_string(i) + "]"));
      }
      placement.points.push_back(std::move(list));
    }
    file.placements.push_back(std::move(placement));
  }
  if (root.contains("ground_truth"))
    file.groundTruthJson = root["ground_truth"].dump();
  return file;
}

tkPointFile tfLoadPointFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw tkPointFileError("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return tfParsePointFile(text.str());
}
