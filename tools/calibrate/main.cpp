// ccal-calibrate: calibrates the cameras of a point-list file and reports the result; `map`
// maps points with a saved calibration; `detect` turns images of a board into a point-list file;
// `export` writes a result for other programs; `undistort` resamples images through a result. See docs/cli.md.
//
// Exit status: 0 success; 1 the library failed (its message and error number are printed);
// 2 a bad command line or input file (one message naming the file and the fault);
// 130 interrupted with Ctrl-C (the calibration is stopped through the abort token).
#include "calibration_result.h"
#include "cli_options.h"
#include "detect_command.h"
#include "export_command.h"
#include "map_command.h"
#include "progress_bar.h"
#include "residual_plot.h"
#include "result_archive.h"
#include "result_json.h"
#include "run_calibration.h"
#include "text_report.h"
#include "undistort_command.h"
#include "tool_error.h"

#include <point_file.h>
#include <tk/archive.h>
#include <tk/attention.h>
#include <tk/exception.h>
#include <tk/progress.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr int kLibraryFailure = 1;
constexpr int kBadInput = 2;
constexpr int kInterrupted = 130;

tkAbortToken* gAbortToken = nullptr;

extern "C" void onInterrupt(int) {
  // Only async-signal-safe work: an atomic store, and a second Ctrl-C ends the program at once.
  static const char message[] = "\nccal-calibrate: stopping (Ctrl-C again quits at once)\n";
  if (gAbortToken != nullptr)
    gAbortToken->requestAbort();
  std::signal(SIGINT, SIG_DFL);
  const ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
  (void)ignored;
}

// The bundled real stereo set: beside an installed tool (<prefix>/share/ccal/data), in the source
// tree when run from a build, or where the build was configured to install it.
std::string defaultInput() {
  std::vector<std::string> dirs;
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    std::string exe(self, static_cast<size_t>(length));
    dirs.push_back(exe.substr(0, exe.rfind('/')) + "/../share/ccal/data");
  }
  dirs.push_back(CCAL_DATA_DIR);
  dirs.push_back(CCAL_INSTALLED_DATA_DIR);
  for (const std::string& dir : dirs) {
    const std::string path = dir + "/opencv-stereo.json";
    if (std::ifstream(path).good())
      return path;
  }
  return std::string(CCAL_DATA_DIR) + "/opencv-stereo.json";
}

// The library's drivers open one progress block per stage (per-camera estimates, refinements)
// and report inside a block only when asked for an estimate. An estimate-only run counts those
// blocks, so that the real run can give each the same share of the bar: the fraction then moves
// stage by stage instead of jumping to the end with the first block.
double countProgressBlocks(const tkPointFile& file, const std::string& path,
                           const tkCalibrateOptions& options, const tkKnownIntrinsics* known) {
  const double many = 1e6;
  tkProgressScope estimate(nullptr, true);
  tkProgressTrackerBlock outer(many);
  try {
    tfRunCalibration(file, path, options, known);
  } catch (...) {
    // An estimate-only run returns no model; the blocks counted so far are what is wanted.
  }
  return std::max(1.0, std::round(estimate.fraction() * many));
}

int calibrate(const tkCalibrateOptions& options) {
  const std::string path = options.inputPath.empty() ? defaultInput() : options.inputPath;
  // The report, the JSON and the plot name the input as the user typed it, and the bundled set
  // by its file name only: no output carries the directory this machine keeps it in.
  const std::string shownName =
      options.inputPath.empty() ? "opencv-stereo.json (bundled)" : options.inputPath;
  tkPointFile file;
  try {
    file = tfLoadPointFile(path);
  } catch (const tkPointFileError& error) {
    const std::string what = error.what();
    throw tkToolInputError(what.rfind("cannot read", 0) == 0 ? what : path + ": " + what);
  }
  std::unique_ptr<tkKnownIntrinsics> known;
  if (!options.intrinsicsPath.empty())
    known = std::make_unique<tkKnownIntrinsics>(tfReadKnownIntrinsics(options.intrinsicsPath));

  tkAbortToken token;
  gAbortToken = &token;
  std::signal(SIGINT, onInterrupt);
  tkProgressBar bar("calibrating");
  const bool showProgress = options.progress && isatty(fileno(stderr));
  tkToolResult result;
  {
    tkAttentionScope attention(token);
    std::unique_ptr<tkProgressScope> progress;
    std::unique_ptr<tkProgressTrackerBlock> stages;
    if (showProgress && file.kind == "area-scan") {
      const double blocks = countProgressBlocks(file, shownName, options, known.get());
      progress =
          std::make_unique<tkProgressScope>([&bar](double fraction) { bar.draw(fraction); }, false);
      stages = std::make_unique<tkProgressTrackerBlock>(blocks);
      bar.draw(0.0);
    }
    try {
      result = tfRunCalibration(file, shownName, options, known.get());
    } catch (...) {
      bar.clear();
      std::signal(SIGINT, SIG_DFL);
      gAbortToken = nullptr;
      if (token.isAbortRequested())
        throw tkAttention::Aborted();
      throw;
    }
  }
  bar.clear();
  std::signal(SIGINT, SIG_DFL);
  gAbortToken = nullptr;
  if (token.isAbortRequested())
    throw tkAttention::Aborted();

  std::cout << tfTextReport(result, options.worst);
  if (!options.jsonPath.empty()) {
    tfWriteResultJson(result, options.jsonPath);
    std::cout << "result JSON: " << options.jsonPath << "\n";
  }
  if (!options.archivePath.empty()) {
    try {
      tfWriteCalibrationArchive(result, options.archivePath);
    } catch (const tkArchive::IOFailure&) {
      throw tkToolInputError("cannot write " + options.archivePath);
    }
    std::cout << "archive: " << options.archivePath << "\n";
  }
  if (!options.plotPath.empty()) {
    tfWriteResidualPlot(result, options.plotPath);
    std::cout << "residual plot: " << options.plotPath << "\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    const tkCommandLine line = tfParseCommandLine(args);
    switch (line.command) {
      case tkCommandLine::eHelp:
        std::cout << tfUsageText();
        return 0;
      case tkCommandLine::eVersion:
        std::cout << "ccal-calibrate " << CCAL_VERSION << "\n";
        return 0;
      case tkCommandLine::eMap:
        tfRunMapCommand(line.map, std::cin, std::cout);
        return 0;
      case tkCommandLine::eDetect:
        tfRunDetectCommand(line.commandArgs, std::cout, isatty(fileno(stderr)) != 0);
        return 0;
      case tkCommandLine::eExport:
        tfRunExportCommand(line.commandArgs, std::cout);
        return 0;
      case tkCommandLine::eUndistort:
        tfRunUndistortCommand(line.commandArgs, std::cout);
        return 0;
      case tkCommandLine::eCalibrate:
        return calibrate(line.calibrate);
    }
  } catch (const tkToolUsageError& error) {
    std::cerr << "ccal-calibrate: " << error.what() << "\n\n" << tfUsageText();
    return kBadInput;
  } catch (const tkToolInputError& error) {
    std::cerr << "ccal-calibrate: " << error.what() << "\n";
    return kBadInput;
  } catch (const tkAttention::Aborted&) {
    std::cerr << "ccal-calibrate: interrupted; nothing was written\n";
    return kInterrupted;
  } catch (const tkToolFailure& error) {
    std::cerr << "ccal-calibrate: " << error.what() << "\n";
    return kLibraryFailure;
  } catch (const tkException& error) {
    char number[16];
    std::snprintf(number, sizeof number, "0x%08lX",
                  static_cast<unsigned long>(error.errorNumber()) & 0xFFFFFFFFul);
    std::cerr << "ccal-calibrate: the calibration failed: " << error.what() << " (error " << number
              << ")\n";
    return kLibraryFailure;
  } catch (const std::bad_alloc&) {
    std::cerr << "ccal-calibrate: out of memory\n";
    return kLibraryFailure;
  } catch (const std::exception& error) {
    std::cerr << "ccal-calibrate: " << error.what() << "\n";
    return kLibraryFailure;
  }
  return 0;
}
