#include "detect_command.h"

#include "command_args.h"
#include "progress_bar.h"
#include "tool_error.h"

#include <board_detection.h>
#include <detect_points.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace {

struct DetectCommand {
  tkDetectOptions options;
  std::string outputPath;
  bool progress = true;
};

DetectCommand parse(const std::vector<std::string>& args) {
  DetectCommand command;
  tkDetectOptions& o = command.options;
  bool hasBoard = false;
  double markerSize = 0.0;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--board") {
      const std::string& value = tfOptionValue(args, i);
      if (!tfParseBoardKind(value, o.board)) {
        throw tkToolUsageError(
            "--board: expected chessboard:COLSxROWS or charuco:COLSxROWS "
            "(inner corners, at least 2x2), got \"" +
            value + "\"");
      }
      hasBoard = true;
    } else if (arg == "--square") {
      o.board.squareSize = tfPositiveNumber(tfOptionValue(args, i), arg);
    } else if (arg == "--marker") {
      markerSize = tfPositiveNumber(tfOptionValue(args, i), arg);
    } else if (arg == "--dictionary") {
      o.board.dictionary = tfOptionValue(args, i);
    } else if (arg == "--camera") {
      o.cameras.push_back({tfOptionValue(args, i), {}});
    } else if (arg == "--pair") {
      const std::string& value = tfOptionValue(args, i);
      if (value != "order" && value != "number")
        throw tkToolUsageError("--pair: expected order or number, got \"" + value + "\"");
      o.pairing = value == "order" ? tkDetectOptions::eByOrder : tkDetectOptions::eByNumber;
    } else if (arg == "--world-view") {
      o.worldView = tfOptionValue(args, i);
    } else if (arg == "--model") {
      o.distortionModel = tfOptionValue(args, i);
      if (o.distortionModel != "radial" && o.distortionModel != "sine-tan" &&
          o.distortionModel != "none") {
        throw tkToolUsageError("--model: expected radial, sine-tan or none, got \"" +
                               o.distortionModel + "\"");
      }
    } else if (arg == "--min-corners") {
      o.minCorners = static_cast<int>(tfIntegerIn(tfOptionValue(args, i), arg, 4, 1000000));
    } else if (arg == "-o" || arg == "--output") {
      command.outputPath = tfOptionValue(args, i);
    } else if (arg == "--no-progress") {
      command.progress = false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw tkToolUsageError("detect: unknown option " + arg);
    } else {
      if (o.cameras.empty())
        o.cameras.push_back({"camera", {}});
      for (const std::string& file : tfExpandFiles(arg))
        o.cameras.back().images.push_back(file);
    }
  }
  if (!hasBoard)
    throw tkToolUsageError("detect needs --board chessboard:COLSxROWS or charuco:COLSxROWS");
  if (command.outputPath.empty())
    throw tkToolUsageError("detect needs --output OUT.json");
  if (o.cameras.empty())
    throw tkToolUsageError("detect needs image files");
  o.board.markerSize = markerSize > 0.0 ? markerSize : 0.75 * o.board.squareSize;
  if (!(o.board.markerSize < o.board.squareSize))
    throw tkToolUsageError("--marker: the marker must be smaller than the square");
  return command;
}

}  // namespace

void tfRunDetectCommand(const std::vector<std::string>& args, std::ostream& out, bool progress) {
  const DetectCommand command = parse(args);
  if (!tfImagesAvailable())
    throw tkImagesUnavailable(
        "detect is unavailable: this ccal-calibrate was built without OpenCV");
  tkProgressBar bar("detecting");
  const bool showProgress = progress && command.progress;
  const std::vector<tkDetectCamera>& cameras = command.options.cameras;
  tkDetectSummary summary;
  try {
    summary = tfDetectPoints(command.options, [&](const tkImageOutcome& image) {
      const tkBoardDetection& d = image.detection;
      bar.clear();
      out << cameras[image.camera].name << " " << image.path << ": "
          << (d.found ? "found, " + std::to_string(d.corners.size()) + " corners"
                      : (d.readable ? "not found: " : "skipped: ") + d.reason)
          << "\n";
      out.flush();
      if (showProgress)
        bar.draw(static_cast<double>(image.done) / static_cast<double>(image.total));
    });
  } catch (...) {
    bar.clear();
    throw;
  }
  bar.clear();
  std::ofstream file(command.outputPath, std::ios::binary | std::ios::trunc);
  if (file)
    file << summary.json;
  file.flush();
  if (!file)
    throw tkToolInputError("cannot write " + command.outputPath);
  for (size_t c = 0; c < cameras.size(); ++c) {
    out << "camera " << cameras[c].name << ": board found in " << summary.viewsPerCamera[c]
        << " of " << cameras[c].images.size() << " images\n";
  }
  out << summary.placements << " views, world frame: " << summary.worldView
      << "\npoint file: " << command.outputPath << "\n";
}
