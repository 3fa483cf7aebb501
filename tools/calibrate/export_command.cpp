#include "export_command.h"

#include "command_args.h"
#include "result_json.h"
#include "tool_error.h"

#include <camera_export.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using json = nlohmann::json;

struct ExportCommand {
  std::string resultPath, format, outputPath, camera;
  double tolerance = 0.05;
  bool force = false;
};

ExportCommand parse(const std::vector<std::string>& args) {
  ExportCommand command;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--to") {
      command.format = tfOptionValue(args, i);
      if (command.format != "opencv" && command.format != "ros" && command.format != "colmap") {
        throw tkToolUsageError("--to: expected opencv, ros or colmap, got \"" + command.format +
                               "\"");
      }
    } else if (arg == "-o" || arg == "--output") {
      command.outputPath = tfOptionValue(args, i);
    } else if (arg == "--camera") {
      command.camera = tfOptionValue(args, i);
    } else if (arg == "--tolerance") {
      command.tolerance = tfPositiveNumber(tfOptionValue(args, i), arg);
    } else if (arg == "--force") {
      command.force = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw tkToolUsageError("export: unknown option " + arg);
    } else if (command.resultPath.empty()) {
      command.resultPath = arg;
    } else {
      throw tkToolUsageError("export takes one result file");
    }
  }
  if (command.resultPath.empty() || command.format.empty() || command.outputPath.empty())
    throw tkToolUsageError("export needs RESULT.json, --to opencv|ros|colmap and --output OUT");
  return command;
}

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

// The RMS of every view the camera saw, from the result's per-placement figures.
std::vector<double> perViewRms(const json& root, size_t camera) {
  std::vector<double> rms;
  if (!root.contains("placements") || !root["placements"].is_array())
    return rms;
  for (const json& placement : root["placements"]) {
    const json& figures = placement.value("figures", json::array());
    if (figures.is_array() && camera < figures.size() && figures[camera].is_object() &&
        figures[camera].value("points", 0) > 0 && figures[camera]["rms_px"].is_number()) {
      rms.push_back(figures[camera]["rms_px"].get<double>());
    }
  }
  return rms;
}

std::string withSuffix(const std::string& path, const std::string& suffix) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return path + "-" + suffix;
  return path.substr(0, dot) + "-" + suffix + path.substr(dot);
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file)
    file << text;
  file.flush();
  if (!file)
    throw tkToolInputError("cannot write " + path);
}

std::string pixels(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f px", value);
  return text;
}

}  // namespace

void tfRunExportCommand(const std::vector<std::string>& args, std::ostream& out) {
  const ExportCommand command = parse(args);
  const std::string& path = command.resultPath;
  const json root = readJson(path);
  if (!root.is_object() || root.value("format", "") != "ccal-result/1")
    throw tkToolInputError(path + ": format: expected \"ccal-result/1\"");
  const std::string kind = root.value("kind", "");
  if (kind != "area-scan") {
    throw tkToolInputError(path + ": a " + kind +
                           " result; only area-scan cameras can be exported (OpenCV, ROS and "
                           "COLMAP have no model for telecentric and line-scan cameras)");
  }
  const json& size = root.value("image_size", json());
  if (!size.is_array() || size.size() != 2 || !size[0].is_number() || !size[1].is_number() ||
      size[0].get<double>() < 2 || size[1].get<double>() < 2) {
    throw tkToolInputError(path +
                           ": has no image_size (the point file had none); the fit "
                           "needs the image it covers");
  }
  const int width = static_cast<int>(size[0].get<double>());
  const int height = static_cast<int>(size[1].get<double>());
  const tkKnownIntrinsics known = tfReadKnownIntrinsics(path);

  std::vector<size_t> chosen;
  for (size_t c = 0; c < known.names.size(); ++c) {
    if (command.camera.empty() || command.camera == known.names[c] ||
        command.camera == std::to_string(c)) {
      chosen.push_back(c);
    }
  }
  if (chosen.empty())
    throw tkToolInputError(path + ": has no camera " + command.camera);

  std::vector<tkExportedCamera> exported;
  const json& figures = root.value("cameras", json::array());
  for (size_t c : chosen) {
    const tkPhysicalAtZEquals1FromImageParams& model = known.area[c];
    tkExportedCamera camera;
    camera.name = known.names[c];
    camera.hasDistortion = model.distModel() != tk2XformCalib2Defs::eNoDistortion;
    camera.camera = tfFitOpenCvCamera(model, width, height, command.tolerance);
    if (c < figures.size() && figures[c].contains("figures"))
      camera.rmsError = figures[c]["figures"].value("rms_px", 0.0);
    camera.perViewRms = perViewRms(root, c);
    out << "camera " << camera.name << ": OpenCV's model (" << camera.camera.distortion.size()
        << " coefficients) matches the calibration within " << pixels(camera.camera.maxError)
        << " (RMS " << pixels(camera.camera.rmsError) << ") over " << width << "x" << height
        << "\n";
    exported.push_back(camera);
  }
  for (const tkExportedCamera& camera : exported) {
    if (camera.camera.maxError > command.tolerance && !command.force) {
      throw tkToolFailure("camera " + camera.name +
                          ": OpenCV's model disagrees with the "
                          "calibration by up to " +
                          pixels(camera.camera.maxError) + ", more than the tolerance " +
                          pixels(command.tolerance) +
                          "; nothing was written (--force writes it anyway)");
    }
  }
  if (command.format == "colmap") {
    writeText(command.outputPath, tfColmapCamerasTxt(exported));
    out << "COLMAP cameras: " << command.outputPath << "\n";
    return;
  }
  for (const tkExportedCamera& camera : exported) {
    const std::string file =
        exported.size() == 1 ? command.outputPath : withSuffix(command.outputPath, camera.name);
    writeText(file,
              command.format == "opencv" ? tfOpenCvYaml(camera) : tfRosCameraInfoYaml(camera));
    out << (command.format == "opencv" ? "OpenCV camera " : "ROS camera_info ") << camera.name
        << ": " << file << "\n";
  }
}
