// `ccal-calibrate detect`: images of a calibration board -> a point-list file.
//
//   ccal-calibrate detect --board chessboard:9x6|charuco:COLSxROWS [--square S] [--marker M]
//                         [--dictionary D] [--camera NAME] IMAGES... [--camera NAME IMAGES...]
//                         [--pair order|number] [--world-view VIEW] [--model radial|sine-tan|none]
//                         [--min-corners N] [--no-progress] --output OUT.json
//
// IMAGES are files or quoted patterns (left*.jpg); images before any --camera belong to one
// camera named "camera". One line per image goes to out (found with how many corners, not found
// and why, skipped); a progress bar to a terminal's stderr. See tools/images/detect_points.h for
// the pairing of views and the file written, docs/images-to-calibration.md for a walk-through.
#ifndef CCAL_TOOLS_CALIBRATE_DETECT_COMMAND_H
#define CCAL_TOOLS_CALIBRATE_DETECT_COMMAND_H

#include <ostream>
#include <string>
#include <vector>

// args starts with "detect". Throws tkToolUsageError for a bad command line, tkToolInputError
// for inputs that give no point file (see tfDetectPoints) or an unwritable output, and
// tkImagesUnavailable when the tool was built without OpenCV.
void tfRunDetectCommand(const std::vector<std::string>& args, std::ostream& out, bool progress);

#endif
