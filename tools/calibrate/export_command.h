// `ccal-calibrate export`: a calibration result (the tool's JSON, ccal-result/2) -> camera files
// of other programs.
//
//   ccal-calibrate export RESULT.json --to opencv|ros|colmap --output OUT [--camera NAME|N]
//                         [--tolerance PX] [--force]
//
// Each area-scan camera is fitted with OpenCV's model (five coefficients; eight, the rational
// model, for the sine-tangent lens) over the result's image_size; one line per camera reports
// the fit's RMS and largest disagreement in pixels. A camera whose largest disagreement exceeds
// the tolerance (0.05 px by default) stops the export before anything is written, unless --force.
// OpenCV and ROS files hold one camera: with several cameras (and no --camera) OUT gets the
// camera's name before its extension (out.yml -> out-left.yml). COLMAP's cameras.txt holds all.
#ifndef CCAL_TOOLS_CALIBRATE_EXPORT_COMMAND_H
#define CCAL_TOOLS_CALIBRATE_EXPORT_COMMAND_H

#include <ostream>
#include <string>
#include <vector>

// args starts with "export". Throws tkToolUsageError for a bad command line; tkToolInputError
// for an unreadable or malformed result, a result without image_size, a kind other than area
// scan, an unknown camera or an unwritable output; tkToolFailure when a fit exceeds the tolerance
// without --force.
void tfRunExportCommand(const std::vector<std::string>& args, std::ostream& out);

#endif
