#include "cli_options.h"

#include "tool_error.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

double parseNumber(const std::string& text, const std::string& option) {
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE ||
      !std::isfinite(value)) {
    throw tkToolUsageError(option + ": expected a finite number, got \"" + text + "\"");
  }
  return value;
}

long parseInteger(const std::string& text, const std::string& option, long lo, long hi) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || value < lo ||
      value > hi) {
    throw tkToolUsageError(option + ": expected an integer from " + std::to_string(lo) + " to " +
                           std::to_string(hi) + ", got \"" + text + "\"");
  }
  return value;
}

// The value after args[i] (advancing i), or a usage error naming the option.
const std::string& valueOf(const std::vector<std::string>& args, size_t& i) {
  if (i + 1 >= args.size())
    throw tkToolUsageError(args[i] + " needs a value");
  return args[++i];
}

bool isOption(const std::string& arg) {
  // A negative number is a coordinate, not an option.
  return arg.size() > 1 && arg[0] == '-' &&
         !(std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
}

tkMapOptions parseMap(const std::vector<std::string>& args) {
  tkMapOptions map;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--archive") {
      map.archivePath = valueOf(args, i);
    } else if (arg == "--camera") {
      map.camera = parseInteger(valueOf(args, i), "--camera", 0, 1000000);
    } else if (arg == "--to-image") {
      map.toImage = true;
    } else if (isOption(arg)) {
      throw tkToolUsageError("map: unknown option " + arg);
    } else {
      map.coordinates.push_back(parseNumber(arg, "map coordinate"));
    }
  }
  if (map.archivePath.empty())
    throw tkToolUsageError("map needs --archive FILE");
  if (map.coordinates.size() % 2 != 0)
    throw tkToolUsageError("map takes coordinates in pairs (X Y)");
  return map;
}

}  // namespace

tkCommandLine tfParseCommandLine(const std::vector<std::string>& args) {
  tkCommandLine line;
  if (!args.empty() && args[0] == "map") {
    line.command = tkCommandLine::eMap;
    line.map = parseMap(args);
    return line;
  }
  if (!args.empty() && (args[0] == "detect" || args[0] == "export" || args[0] == "undistort")) {
    line.command = args[0] == "detect"   ? tkCommandLine::eDetect
                   : args[0] == "export" ? tkCommandLine::eExport
                                         : tkCommandLine::eUndistort;
    line.commandArgs = args;
    return line;
  }
  tkCalibrateOptions& o = line.calibrate;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      line.command = tkCommandLine::eHelp;
      return line;
    } else if (arg == "--version") {
      line.command = tkCommandLine::eVersion;
      return line;
    } else if (arg == "--model") {
      o.model = valueOf(args, i);
      if (o.model != "radial" && o.model != "sine-tan" && o.model != "none") {
        throw tkToolUsageError("--model: expected radial, sine-tan or none, got \"" + o.model +
                               "\"");
      }
    } else if (arg == "--intrinsics") {
      o.intrinsicsPath = valueOf(args, i);
    } else if (arg == "--flow") {
      o.flow = static_cast<int>(parseInteger(valueOf(args, i), "--flow", 1, 3));
    } else if (arg == "--camera-height") {
      o.hasCameraHeight = true;
      o.cameraHeight = parseNumber(valueOf(args, i), "--camera-height");
    } else if (arg == "--json") {
      o.jsonPath = valueOf(args, i);
    } else if (arg == "--archive") {
      o.archivePath = valueOf(args, i);
    } else if (arg == "--plot") {
      o.plotPath = valueOf(args, i);
    } else if (arg == "--worst") {
      o.worst = static_cast<int>(parseInteger(valueOf(args, i), "--worst", 0, 1000));
    } else if (arg == "--no-progress") {
      o.progress = false;
    } else if (arg == "--no-image-refinement") {
      o.imageRefinement = false;
    } else if (arg == "--reject-outliers") {
      o.rejectOutliers = true;
    } else if (isOption(arg)) {
      throw tkToolUsageError("unknown option " + arg);
    } else if (o.inputPath.empty()) {
      o.inputPath = arg;
    } else {
      throw tkToolUsageError("only one point file can be calibrated at a time (got \"" +
                             o.inputPath + "\" and \"" + arg + "\")");
    }
  }
  return line;
}

const char* tfUsageText() {
  return "usage: ccal-calibrate [FILE] [options]\n"
         "       ccal-calibrate map --archive FILE [--camera N] [--to-image] [X Y]\n"
         "       ccal-calibrate detect --board chessboard:9x6|charuco:CxR [--square S]\n"
         "                             [--camera NAME] IMAGES... --output OUT.json\n"
         "       ccal-calibrate export RESULT.json --to opencv|ros|colmap --output OUT\n"
         "       ccal-calibrate undistort RESULT.json [--rectify] [--camera NAME] IMAGES...\n"
         "                                --output-dir DIR\n"
         "\n"
         "Calibrates the cameras of a point-list file (ccal-points/1 JSON; default: the bundled\n"
         "real stereo set data/opencv-stereo.json) and prints a report.\n"
         "\n"
         "  --model radial|sine-tan|none  lens model of area-scan cameras (default: the file's)\n"
         "  --intrinsics RESULT.json      known intrinsic models (a result written by --json):\n"
         "                                area scan: estimate the rig's poses only;\n"
         "                                telecentric flow 3: the known intrinsic part\n"
         "  --flow 1|2|3                  telecentric: 1 refined (default), 2 closed form,\n"
         "                                3 known intrinsics (from --intrinsics or from flow 1)\n"
         "  --camera-height H             telecentric: fix the unmeasurable Z of the camera\n"
         "  --json OUT                    write the result as JSON (ccal-result/2)\n"
         "  --archive OUT                 write the calibrated transforms as an archive\n"
         "  --plot OUT.svg                write a residual plot\n"
         "  --worst N                     list the N largest residuals (default 5)\n"
         "  --no-progress                 no progress bar on a terminal\n"
         "  --no-image-refinement         area scan: keep the calibration's own fit (default:\n"
         "                                refine it on the image residuals)\n"
         "  --reject-outliers             area scan: give weight 0 to points that do not fit\n"
         "                                and solve again (docs/outliers.md)\n"
         "\n"
         "map: maps image points to plate (world plane Z = 0) coordinates and back with a saved\n"
         "calibration; with --to-image the points are plate points. Without X Y it reads pairs\n"
         "from standard input, one per line.\n"
         "\n"
         "detect: finds a board in images and writes a point-list file; export: writes a\n"
         "result's cameras for OpenCV, ROS or COLMAP; undistort: undistorted images or\n"
         "rectified pairs. docs/cli.md lists their options.\n"
         "\n"
         "Exit status: 0 success, 1 the library failed, 2 bad input or command line,\n"
         "130 interrupted.\n";
}
