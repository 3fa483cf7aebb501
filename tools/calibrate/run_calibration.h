// Runs the calibration that a point-list file asks for and collects the result with every
// point's residual:
//   area-scan    rig calibration (one camera or more) with the file's lens model or the
//                --model override; rig pose estimation when known intrinsics are given;
//   telecentric  flow 1 (refined, unweighted), 2 (closed form, weighted) or 3 (known intrinsic
//                part: the given one, or that of a flow 1 calibration);
//   line-scan    line-scan camera calibration, with the placement's distance_to_target when the
//                file has one.
// Library failures pass through as the library throws them (tkException); inputs that do not
// fit the calibration (known intrinsics for other cameras, a kind that takes no --model, ...)
// throw tkToolInputError.
#ifndef CCAL_TOOLS_CALIBRATE_RUN_CALIBRATION_H
#define CCAL_TOOLS_CALIBRATE_RUN_CALIBRATION_H

#include "calibration_result.h"
#include "cli_options.h"

#include <ccal/physical_at_z1_from_image_params.h>
#include <point_file.h>
#include <tk/calib2_params.h>

#include <string>
#include <vector>

// Known intrinsic models, read from an earlier result (see result_json.h).
struct tkKnownIntrinsics {
  std::string path;
  std::string kind;  // kind of the result they come from
  std::vector<std::string> names;
  std::vector<tkPhysicalAtZEquals1FromImageParams> area;  // area scan
  std::vector<tkCalib2ParamsIntrinsic> calib2;            // every kind but line scan
};

// known may be null. path is the input's name for the result and the messages.
tkToolResult tfRunCalibration(const tkPointFile& file, const std::string& path,
                              const tkCalibrateOptions& options, const tkKnownIntrinsics* known);

// The model name of the file format for a distortion model ("radial", "sine-tan", "none",
// "telecentric").
std::string tfModelName(tk2XformCalib2Defs::tkCalib2DistortionModel model);

#endif
