// From images of a calibration board to a point-list file (ccal-points/1, docs/formats.md).
//
// Every camera has its own list of image files. Views are paired across cameras either by file
// order (the i-th image of every camera is view i) or by number (the last run of digits in the
// file's name: left07.jpg and right07.jpg are one view, "view07"). The number pairing is used
// when every file name has a number that is unique within its camera, else the order pairing,
// which names a view after the first camera's file.
//
// The file's rows are (u, v, X, Y, 0): image point in pixels (OpenCV's convention, the centre of
// the top-left pixel is (0, 0)) and the corner's plate point (tkBoard's frame and unit). A view
// becomes a placement when at least one camera found the board in it; a camera that did not see
// it gets an empty list there. The world-frame placement (kind "z-rotation", height 0) is the
// named view, or else the first view found by every camera (or by the most cameras); the others
// are "arbitrary". A camera's image size is that of its first image with the board: later images
// of another size are skipped. image_size is the first camera's.
#ifndef CCAL_TOOLS_IMAGES_DETECT_POINTS_H
#define CCAL_TOOLS_IMAGES_DETECT_POINTS_H

#include "board.h"
#include "board_detection.h"

#include <functional>
#include <string>
#include <vector>

struct tkDetectCamera {
  std::string name;
  std::vector<std::string> images;  // file paths, in the camera's order
};

struct tkDetectOptions {
  std::vector<tkDetectCamera> cameras;
  tkBoard board;
  enum Pairing { eAuto, eByOrder, eByNumber } pairing = eAuto;
  std::string worldView;  // empty: chosen as described above
  std::string distortionModel = "radial";
  int minCorners = 6;  // ChArUco: fewest corners that make a view
};

// What happened to one image, handed to the caller as soon as it is known.
struct tkImageOutcome {
  size_t camera = 0;
  std::string path;
  std::string view;            // the placement name it belongs to
  size_t done = 0, total = 0;  // images handled so far (this one included) and in all
  tkBoardDetection detection;  // reason says why an image was skipped
};

struct tkDetectSummary {
  std::string json;                    // the point-list file
  std::vector<size_t> viewsPerCamera;  // views in which each camera found the board
  size_t placements = 0;
  std::string worldView;
};

// Detects the board in every image. onImage (may be empty) sees every image's outcome in turn.
// Throws tkToolInputError (tools/calibrate/tool_error.h) for: no camera, a camera without
// images, two cameras of one name, image lists that cannot be paired (order pairing with lists
// of different lengths, number pairing with a missing or repeated number), a camera that found
// the board in none of its images, and a world view that names no found view. Throws
// tkImagesUnavailable without OpenCV.
tkDetectSummary tfDetectPoints(const tkDetectOptions& options,
                               const std::function<void(const tkImageOutcome&)>& onImage);

#endif
