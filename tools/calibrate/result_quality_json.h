// The JSON of a result's quality (result_quality.h): a camera's and a placement's standard
// deviations and the "quality" object (docs/formats.md, "Quality"). Undetermined deviations
// (infinite) are written as null.
#ifndef CCAL_TOOLS_CALIBRATE_RESULT_QUALITY_JSON_H
#define CCAL_TOOLS_CALIBRATE_RESULT_QUALITY_JSON_H

#include "calibration_result.h"

#include <nlohmann/json.hpp>

nlohmann::ordered_json tfDeviationsJson(const tkCameraDeviations& d);
nlohmann::ordered_json tfDeviationsJson(const tkPlacementDeviations& d);
nlohmann::ordered_json tfQualityJson(const tkToolResult& result);

#endif
