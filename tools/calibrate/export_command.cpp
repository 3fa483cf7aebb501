#include "export_command.h"

#include "area_scan_result.h"
#include "command_args.h"
#include "tool_error.h"

#include <camera_export.h>

#include <cstdio>
#include <fstream>

namespace {

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
  const tkAreaScanResult result = tfReadAreaScanResult(path);
  if (!result.hasImageSize) {
    throw tkToolInputError(path +
                           ": has no image_size (the point file had none); the fit "
                           "needs the image it covers");
  }
  std::vector<size_t> chosen;
  if (command.camera.empty()) {
    for (size_t c = 0; c < result.cameras.size(); ++c)
      chosen.push_back(c);
  } else {
    chosen.push_back(tfFindCamera(result, command.camera, path));
  }
  const int width = result.width, height = result.height;

  std::vector<tkExportedCamera> exported;
  for (size_t c : chosen) {
    const tkAreaScanCamera& source = result.cameras[c];
    tkExportedCamera camera;
    camera.name = source.name;
    camera.hasDistortion = source.model.distModel() != tk2XformCalib2Defs::eNoDistortion;
    camera.camera = tfFitOpenCvCamera(source.model, width, height, command.tolerance);
    camera.rmsError = source.rms;
    camera.perViewRms = source.perViewRms;
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
