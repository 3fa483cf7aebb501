#include "undistort_command.h"

#include "area_scan_result.h"
#include "command_args.h"
#include "tool_error.h"

#include <board_detection.h>
#include <undistort_images.h>

#include <cstdio>

namespace {

struct UndistortCommand {
  std::string resultPath, outputDir;
  bool rectify = false;
  std::vector<std::pair<std::string, std::vector<std::string>>> cameras;  // name, images
};

UndistortCommand parse(const std::vector<std::string>& args) {
  UndistortCommand command;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--camera") {
      command.cameras.push_back({tfOptionValue(args, i), {}});
    } else if (arg == "--rectify") {
      command.rectify = true;
    } else if (arg == "-o" || arg == "--output-dir") {
      command.outputDir = tfOptionValue(args, i);
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw tkToolUsageError("undistort: unknown option " + arg);
    } else if (command.resultPath.empty()) {
      command.resultPath = arg;
    } else {
      if (command.cameras.empty())
        command.cameras.push_back({"0", {}});
      for (const std::string& file : tfExpandFiles(arg))
        command.cameras.back().second.push_back(file);
    }
  }
  if (command.resultPath.empty() || command.outputDir.empty())
    throw tkToolUsageError("undistort needs RESULT.json, images and --output-dir DIR");
  if (command.rectify && command.cameras.size() != 2)
    throw tkToolUsageError(
        "undistort --rectify needs two cameras: --camera A IMAGES --camera B IMAGES");
  for (const auto& camera : command.cameras) {
    if (camera.second.empty())
      throw tkToolUsageError("undistort: camera " + camera.first + " has no image");
  }
  if (command.cameras.empty())
    throw tkToolUsageError("undistort needs images");
  return command;
}

std::string stem(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void printView(std::ostream& out, const std::string& name, const tkPinholeView& view) {
  char text[160];
  std::snprintf(text, sizeof text, "camera %s: new camera matrix fx %.4f fy %.4f cx %.4f cy %.4f\n",
                name.c_str(), view.fx, view.fy, view.cx, view.cy);
  out << text;
}

}  // namespace

void tfRunUndistortCommand(const std::vector<std::string>& args, std::ostream& out) {
  const UndistortCommand command = parse(args);
  const tkAreaScanResult result = tfReadAreaScanResult(command.resultPath);
  if (!tfImagesAvailable())
    throw tkImagesUnavailable(
        "undistort is unavailable: this ccal-calibrate was built without OpenCV");
  std::vector<size_t> index;
  std::vector<tkPinholeView> views;
  for (const auto& camera : command.cameras)
    index.push_back(tfFindCamera(result, camera.first, command.resultPath));
  if (command.rectify) {
    if (command.cameras[0].second.size() != command.cameras[1].second.size()) {
      throw tkToolInputError("undistort --rectify: camera " + command.cameras[0].first + " has " +
                             std::to_string(command.cameras[0].second.size()) + " images, camera " +
                             command.cameras[1].first + " " +
                             std::to_string(command.cameras[1].second.size()));
    }
    const tkAreaScanCamera& a = result.cameras[index[0]];
    const tkAreaScanCamera& b = result.cameras[index[1]];
    tkRectifiedPair pair;
    try {
      pair = tfRectifyPair(a.model, a.cameraFromWorld, b.model, b.cameraFromWorld);
    } catch (const std::invalid_argument& error) {
      throw tkToolInputError(command.resultPath + ": cannot rectify " + a.name + " and " + b.name +
                             ": " + error.what());
    }
    views = {pair.view[0], pair.view[1]};
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", pair.baseline);
    out << "rectified pair " << a.name << " / " << b.name << ", baseline " << text
        << " (world units)\n";
  } else {
    for (size_t c : index)
      views.push_back(tfUndistortedView(result.cameras[c].model));
  }
  size_t written = 0;
  const char* suffix = command.rectify ? "-rectified.png" : "-undistorted.png";
  for (size_t k = 0; k < command.cameras.size(); ++k) {
    const tkAreaScanCamera& camera = result.cameras[index[k]];
    printView(out, camera.name, views[k]);
    for (const std::string& image : command.cameras[k].second) {
      const std::string target = command.outputDir + "/" + stem(image) + suffix;
      const std::string failure = tfResampleImage(views[k], camera.model, image, target);
      out << camera.name << " " << image << ": "
          << (failure.empty() ? "-> " + target : "skipped: " + failure) << "\n";
      written += failure.empty() ? 1 : 0;
    }
  }
  if (written == 0)
    throw tkToolInputError("undistort: no image was written");
}
