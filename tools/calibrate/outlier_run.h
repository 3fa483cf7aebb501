// --reject-outliers for area-scan files: the rig solve repeated under the library's outlier
// rejection (<ccal/outlier_rejection.h>), and the marks it leaves on the tool's result.
#ifndef CCAL_TOOLS_CALIBRATE_OUTLIER_RUN_H
#define CCAL_TOOLS_CALIBRATE_OUTLIER_RUN_H

#include <ccal/outlier_rejection.h>

#include <cstddef>
#include <utility>
#include <vector>

struct tkToolResult;

// What the rejection did, for the report, the JSON and the plot (enabled false: it did not run).
// Indices follow the file: placements in file order, rows of the placement's list of a camera.
struct tkToolRejection {
  bool enabled = false;
  int rounds = 0;       // solves after the first
  bool capped = false;  // the round limit stopped it
  double sigma = 0.0;   // per coordinate, pixels (weight-normalised)
  std::vector<std::vector<std::vector<bool>>> inliers;  // [placement][camera][row]
  std::vector<std::vector<bool>> dropped;               // [placement][camera]
};

// Runs solve under the rejection's default options on the placements (file placement j is
// Z-rotation where[j].second when where[j].first, arbitrary otherwise) and records the outcome
// in rejection. Library failures pass through.
tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams tfSolveRejectingOutliers(
    const tkRigSolve& solve, const tkMulticameraZRotationPlacementsWeighted& zRotation,
    const tkMulticameraArbitraryPlacementsWeighted& arbitrary,
    const std::vector<std::pair<bool, std::size_t>>& where, tkToolRejection& rejection);

// Sets the rejected flag of every residual from result.rejection (no-op when not enabled).
void tfMarkRejected(tkToolResult& result);

#endif
