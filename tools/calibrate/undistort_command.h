// `ccal-calibrate undistort`: images -> undistorted images through a calibration result, or
// rectified pairs of a two-camera rig.
//
//   ccal-calibrate undistort RESULT.json [--camera NAME|N] IMAGES... --output-dir DIR
//   ccal-calibrate undistort RESULT.json --rectify --camera A IMAGES... --camera B IMAGES...
//                            --output-dir DIR
//
// Undistorted: a pinhole of the camera's own focal lengths and principal point (images before
// any --camera belong to camera 0). Rectified: both cameras turned to one orientation with a
// common camera matrix, so that a world point lies on the same row in both images; the i-th
// images of A and B form a pair. Outputs are DIR/<name>-undistorted.png or -rectified.png, of the
// inputs' size; one line per image, and the new camera matrix (and baseline) on out.
#ifndef CCAL_TOOLS_CALIBRATE_UNDISTORT_COMMAND_H
#define CCAL_TOOLS_CALIBRATE_UNDISTORT_COMMAND_H

#include <ostream>
#include <string>
#include <vector>

// args starts with "undistort". Throws tkToolUsageError for a bad command line, tkToolInputError
// for a result that is not an area-scan result, an unknown camera, rectification lists of
// different lengths, or when no image could be written; tkImagesUnavailable without OpenCV.
// An unreadable image is reported and skipped.
void tfRunUndistortCommand(const std::vector<std::string>& args, std::ostream& out);

#endif
