#include "detect_points.h"

#include "tool_error.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace {

using json = nlohmann::json;

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string stem(const std::string& path) {
  const std::string name = baseName(path);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The last run of digits of the file's stem, or "" when it has none.
std::string numberOf(const std::string& path) {
  const std::string name = stem(path);
  size_t end = name.size();
  while (end > 0 && !std::isdigit(static_cast<unsigned char>(name[end - 1])))
    --end;
  size_t begin = end;
  while (begin > 0 && std::isdigit(static_cast<unsigned char>(name[begin - 1])))
    --begin;
  return name.substr(begin, end - begin);
}

bool numbersPairUp(const tkDetectOptions& options) {
  for (const tkDetectCamera& camera : options.cameras) {
    std::set<std::string> seen;
    for (const std::string& image : camera.images) {
      const std::string number = numberOf(image);
      if (number.empty() || !seen.insert(number).second)
        return false;
    }
  }
  return true;
}

// One view: its name and, per camera, the index of its image (-1: no image).
struct View {
  std::string name;
  std::vector<long> image;
};

std::vector<View> pairViews(const tkDetectOptions& options) {
  const size_t cameras = options.cameras.size();
  tkDetectOptions::Pairing pairing = options.pairing;
  if (pairing == tkDetectOptions::eAuto)
    pairing = numbersPairUp(options) ? tkDetectOptions::eByNumber : tkDetectOptions::eByOrder;
  std::vector<View> views;
  if (pairing == tkDetectOptions::eByOrder) {
    const size_t count = options.cameras[0].images.size();
    for (const tkDetectCamera& camera : options.cameras) {
      if (camera.images.size() != count) {
        throw tkToolInputError("cannot pair views by file order: camera " +
                               options.cameras[0].name + " has " + std::to_string(count) +
                               " images, camera " + camera.name + " " +
                               std::to_string(camera.images.size()));
      }
    }
    for (size_t i = 0; i < count; ++i) {
      View view;
      view.name = stem(options.cameras[0].images[i]);
      view.image.assign(cameras, static_cast<long>(i));
      views.push_back(view);
    }
    return views;
  }
  // By number, in increasing numeric order (then text, so "01" and "1" stay apart).
  auto less = [](const std::string& a, const std::string& b) {
    const std::string ta = a.substr(std::min(a.find_first_not_of('0'), a.size() - 1));
    const std::string tb = b.substr(std::min(b.find_first_not_of('0'), b.size() - 1));
    return ta.size() != tb.size() ? ta.size() < tb.size() : (ta != tb ? ta < tb : a < b);
  };
  std::map<std::string, std::vector<long>, decltype(less)> byNumber(less);
  for (size_t c = 0; c < cameras; ++c) {
    const tkDetectCamera& camera = options.cameras[c];
    for (size_t i = 0; i < camera.images.size(); ++i) {
      const std::string number = numberOf(camera.images[i]);
      if (number.empty()) {
        throw tkToolInputError("cannot pair views by number: " + camera.images[i] +
                               " has no number in its name");
      }
      std::vector<long>& slot = byNumber[number];
      slot.resize(cameras, -1);
      if (slot[c] >= 0) {
        throw tkToolInputError("cannot pair views by number: camera " + camera.name +
                               " has two images numbered " + number);
      }
      slot[c] = static_cast<long>(i);
    }
  }
  for (const auto& [number, images] : byNumber) {
    View view;
    view.name = cameras == 1 ? stem(options.cameras[0].images[static_cast<size_t>(images[0])])
                             : "view" + number;
    view.image = images;
    views.push_back(view);
  }
  return views;
}

std::string number(double value) {
  return json(value).dump();
}

std::string description(const tkDetectOptions& options, const tkDetectSummary& summary) {
  std::string text = "Corners detected by ccal-calibrate detect: " + options.board.describe() +
                     " inner corners, square " + number(options.board.squareSize) +
                     " plate units. Image points in pixels, OpenCV's convention (the centre of "
                     "the top-left pixel is (0, 0)). Views with the board, per camera:";
  for (size_t c = 0; c < options.cameras.size(); ++c) {
    text += (c == 0 ? " " : ", ") + options.cameras[c].name + " " +
            std::to_string(summary.viewsPerCamera[c]) + " of " +
            std::to_string(options.cameras[c].images.size()) + " images";
  }
  return text + ". World frame: view " + summary.worldView + ".";
}

}  // namespace

tkDetectSummary tfDetectPoints(const tkDetectOptions& options,
                               const std::function<void(const tkImageOutcome&)>& onImage) {
  if (options.cameras.empty())
    throw tkToolInputError("no camera and no image given");
  std::set<std::string> names;
  size_t total = 0;
  for (const tkDetectCamera& camera : options.cameras) {
    if (!names.insert(camera.name).second)
      throw tkToolInputError("two cameras are named " + camera.name);
    if (camera.images.empty())
      throw tkToolInputError("camera " + camera.name + " has no image");
    total += camera.images.size();
  }
  const std::vector<View> views = pairViews(options);
  const size_t cameras = options.cameras.size();

  // found[v][c]: the corners of view v in camera c (empty: not found).
  std::vector<std::vector<std::vector<tkBoardCorner>>> found(views.size());
  std::vector<std::vector<int>> cameraSize(cameras);
  tkDetectSummary summary;
  summary.viewsPerCamera.assign(cameras, 0);
  size_t done = 0;
  for (size_t v = 0; v < views.size(); ++v) {
    found[v].resize(cameras);
    for (size_t c = 0; c < cameras; ++c) {
      if (views[v].image[c] < 0)
        continue;
      tkImageOutcome outcome;
      outcome.camera = c;
      outcome.path = options.cameras[c].images[static_cast<size_t>(views[v].image[c])];
      outcome.view = views[v].name;
      outcome.done = ++done;
      outcome.total = total;
      outcome.detection = tfDetectBoard(outcome.path, options.board, options.minCorners);
      tkBoardDetection& d = outcome.detection;
      // The camera's image size is that of its first image with the board; a later image of
      // another size cannot belong to the same camera model.
      if (d.readable) {
        if (cameraSize[c].empty()) {
          if (d.found)
            cameraSize[c] = {d.width, d.height};
        } else if (cameraSize[c][0] != d.width || cameraSize[c][1] != d.height) {
          d.readable = false;
          d.found = false;
          d.corners.clear();
          d.reason = "is " + std::to_string(d.width) + "x" + std::to_string(d.height) +
                     ", the camera's images with the board " + std::to_string(cameraSize[c][0]) +
                     "x" + std::to_string(cameraSize[c][1]);
        }
      }
      if (d.found) {
        found[v][c] = d.corners;
        ++summary.viewsPerCamera[c];
      }
      if (onImage)
        onImage(outcome);
    }
  }
  for (size_t c = 0; c < cameras; ++c) {
    if (summary.viewsPerCamera[c] == 0) {
      throw tkToolInputError("camera " + options.cameras[c].name + ": the " +
                             options.board.describe() + " was found in none of its " +
                             std::to_string(options.cameras[c].images.size()) + " images");
    }
  }

  // The world view: named, or the first seen by the most cameras.
  long world = -1;
  size_t bestSeen = 0;
  for (size_t v = 0; v < views.size(); ++v) {
    size_t seen = 0;
    for (size_t c = 0; c < cameras; ++c)
      seen += found[v][c].empty() ? 0 : 1;
    if (options.worldView.empty() ? seen > bestSeen
                                  : (views[v].name == options.worldView && seen > 0)) {
      world = static_cast<long>(v);
      bestSeen = seen;
    }
  }
  if (world < 0)
    throw tkToolInputError("--world-view " + options.worldView +
                           ": no view of that name shows the board");
  summary.worldView = views[static_cast<size_t>(world)].name;

  std::string placements;
  for (size_t v = 0; v < views.size(); ++v) {
    bool any = false;
    for (size_t c = 0; c < cameras; ++c)
      any = any || !found[v][c].empty();
    if (!any)
      continue;
    ++summary.placements;
    const bool isWorld = static_cast<long>(v) == world;
    placements += std::string(placements.empty() ? "\n" : ",\n") +
                  "    {\n      \"name\": " + json(views[v].name).dump() + ",\n      \"kind\": \"" +
                  (isWorld ? "z-rotation\",\n      \"height\": 0.0" : "arbitrary\"") +
                  ",\n      \"points\": {";
    for (size_t c = 0; c < cameras; ++c) {
      placements += std::string(c == 0 ? "\n" : ",\n") + "        " +
                    json(options.cameras[c].name).dump() + ": [";
      const std::vector<tkBoardCorner>& corners = found[v][c];
      for (size_t i = 0; i < corners.size(); ++i) {
        const tkVector<3> plate = options.board.platePoint(corners[i].id);
        placements += std::string(i == 0 ? "\n" : ",\n") + "          [" +
                      number(corners[i].image.x()) + ", " + number(corners[i].image.y()) + ", " +
                      number(plate.x()) + ", " + number(plate.y()) + ", 0.0]";
      }
      placements += corners.empty() ? "]" : "\n        ]";
    }
    placements += "\n      }\n    }";
  }

  std::string text = "{\n  \"format\": \"ccal-points/1\",\n  \"description\": " +
                     json(description(options, summary)).dump() +
                     ",\n  \"kind\": \"area-scan\",\n  \"distortion_model\": " +
                     json(options.distortionModel).dump() + ",\n  \"cameras\": [";
  for (size_t c = 0; c < cameras; ++c)
    text += (c == 0 ? "" : ", ") + json(options.cameras[c].name).dump();
  text += "],\n  \"image_size\": [" + std::to_string(cameraSize[0][0]) + ", " +
          std::to_string(cameraSize[0][1]) + "],\n  \"placements\": [" + placements + "\n  ]\n}\n";
  summary.json = text;
  return summary;
}
