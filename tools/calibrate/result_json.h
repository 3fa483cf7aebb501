// The result of a calibration as JSON, format "ccal-result/2" (docs/formats.md describes every
// field), and the reading of known intrinsic models back from such a file (--intrinsics).
//
// Numbers are written with the shortest text that reads back to the same double, so a result
// read back holds exactly the numbers that were computed.
#ifndef CCAL_TOOLS_CALIBRATE_RESULT_JSON_H
#define CCAL_TOOLS_CALIBRATE_RESULT_JSON_H

#include "calibration_result.h"
#include "run_calibration.h"

#include <string>

// The JSON text of the result (two-space indentation, one residual row per line).
std::string tfResultJson(const tkToolResult& result);

// Writes tfResultJson(result) to path. Throws tkToolInputError naming the file when it cannot be
// written.
void tfWriteResultJson(const tkToolResult& result, const std::string& path);

// Reads the intrinsic models of every camera of a ccal-result/2 file. Throws tkToolInputError
// naming the file and the fault (unreadable, not JSON, another format, a missing or malformed
// field, a line-scan result); intrinsic models the library rejects throw what it throws.
tkKnownIntrinsics tfReadKnownIntrinsics(const std::string& path);

#endif
