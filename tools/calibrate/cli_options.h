// The command line of ccal-calibrate.
//
//   ccal-calibrate [FILE] [--model radial|sine-tan|none] [--intrinsics RESULT.json]
//                  [--flow 1|2|3] [--camera-height H] [--json OUT] [--archive OUT]
//                  [--plot OUT.svg] [--worst N] [--no-progress] [--no-image-refinement]
//                  [--reject-outliers]
//   ccal-calibrate map --archive FILE [--camera N] [--to-image] [X Y]
//   ccal-calibrate detect|export|undistort ...   (parsed by their own *_command.h)
//   ccal-calibrate --help | --version
//
// docs/cli.md describes every option.
#ifndef CCAL_TOOLS_CALIBRATE_CLI_OPTIONS_H
#define CCAL_TOOLS_CALIBRATE_CLI_OPTIONS_H

#include <string>
#include <vector>

struct tkCalibrateOptions {
  std::string inputPath;       // empty: the bundled real stereo set
  std::string model;           // empty: the file's lens model
  std::string intrinsicsPath;  // rig pose with known intrinsics
  int flow = 1;                // telecentric flow
  bool hasCameraHeight = false;
  double cameraHeight = 0.0;
  std::string jsonPath;
  std::string archivePath;
  std::string plotPath;
  int worst = 5;
  bool progress = true;
  bool imageRefinement = true;  // area scan: refine on image residuals after the calibration
  bool rejectOutliers = false;  // area scan: outlier rejection around the rig solve
};

struct tkMapOptions {
  std::string archivePath;
  long camera = 0;
  bool toImage = false;             // input points are plate points
  std::vector<double> coordinates;  // pairs from the command line; empty: read stdin
};

struct tkCommandLine {
  enum Command { eCalibrate, eMap, eDetect, eExport, eUndistort, eHelp, eVersion } command = eCalibrate;
  tkCalibrateOptions calibrate;
  tkMapOptions map;
  std::vector<std::string> commandArgs;  // detect, export, undistort: the arguments, the command's name first
};

// Parses argv (without the program name). Throws tkToolUsageError with a one-line message for
// an unknown option, a missing or malformed value, or a second input file.
tkCommandLine tfParseCommandLine(const std::vector<std::string>& args);

// The usage text printed by --help and after a usage error.
const char* tfUsageText();

#endif
