// The report section and the JSON member of --reject-outliers (result.rejection).
#ifndef CCAL_TOOLS_CALIBRATE_OUTLIER_OUTPUT_H
#define CCAL_TOOLS_CALIBRATE_OUTLIER_OUTPUT_H

#include "calibration_result.h"

#include <nlohmann/json.hpp>

#include <string>

// Figures of the points the final solve used (every residual not rejected), per camera (index c)
// or pooled (c = cameras.size()).
tkToolFigures tfInlierFigures(const tkToolResult& result, std::size_t c);

// The report's section: the rule's outcome, RMS over inliers and over all points per camera, the
// rejected points per camera and placement, dropped views. Empty when the rejection did not run.
std::string tfRejectionText(const tkToolResult& result);

// {"rounds", "capped", "sigma_px", "inlier_figures", "camera_inlier_figures", "rejected",
//  "dropped_views"} (docs/formats.md); null when the rejection did not run.
nlohmann::ordered_json tfRejectionJson(const tkToolResult& result);

#endif
