// The "quality" of an area-scan result: the noise estimate, standard deviations of every term,
// projection uncertainty at the image centre and corners and over a grid, coverage and the
// warnings (include/ccal/calibration_uncertainty.h), computed from the data and the result the
// tool has, and written into the report, the JSON and the plot.
#ifndef CCAL_TOOLS_CALIBRATE_RESULT_QUALITY_H
#define CCAL_TOOLS_CALIBRATE_RESULT_QUALITY_H

#include <ccal/calibration_uncertainty.h>

#include <string>
#include <utility>
#include <vector>

struct tkToolResult;

struct tkToolQualityCamera {
  double centre = 0.0;    // projection uncertainty (RMS radius, px) at the image centre
  double corner = 0.0;    // the largest of the four corners'
  long gridColumns = 0;   // the map over the image (row-major RMS radii, px), empty when the
  long gridRows = 0;      // image size is unknown
  std::vector<double> grid;
};

struct tkToolQualityWarning {
  std::string kind;    // "rank-deficient", "focal-length-uncertain", "low-coverage",
                       // "corner-uncertainty", "view-rms", "noise-not-estimable"
  long camera = -1;    // −1: the whole rig
  long placement = -1; // index into the file's placements, −1: none
  double value = 0.0;
  double limit = 0.0;
  std::string message;
};

struct tkToolQuality {
  bool present = false;  // computed (area scan, and the computation succeeded)
  std::string failure;   // why not, when it was tried
  double sigma = 0.0;
  bool sigmaEstimated = true;
  long points = 0, parameters = 0, rank = 0;
  std::vector<tkToolQualityCamera> cameras;
  std::vector<tkToolQualityWarning> warnings;
};

// Computes the quality of an area-scan result: fills result.quality, every camera's and every
// placement's deviations. where: per file placement (is Z-rotation, index among its kind). A
// library failure is recorded in quality.failure, never thrown.
void tfComputeQuality(tkToolResult& result,
                      const tkMulticameraZRotationPlacementsWeighted& zRotation,
                      const tkMulticameraArbitraryPlacementsWeighted& arbitrary,
                      const std::vector<std::pair<bool, size_t>>& where,
                      const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& rig,
                      bool intrinsicsFixed);

// " ± σ" with the precision of format (empty without quality).
std::string tfPlusMinus(const tkToolResult& result, double sigma, const char* format = "%.2g");
// The "quality" section of the text report (nothing without quality).
void tfAppendQualityReport(std::string& out, const tkToolResult& result);

#endif
