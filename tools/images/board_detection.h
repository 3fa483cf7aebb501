// Finding a calibration board's corners in one image (OpenCV's detectors).
//
// Chessboards: cv::findChessboardCornersSB finds the board (robust to blur, no fragile quad
// grouping), then every corner is refined with cv::cornerSubPix in a half-window of 0.3 times
// the distance to its nearest neighbouring corner, so that the window stays inside the four
// squares around the corner and off the board's cut edge (a fixed window reaches over it on
// small boards and pulls corners off by pixels; docs/images-to-calibration.md has the figures).
// ChArUco boards: ArUco markers, then OpenCV's interpolation of the chessboard corners between them
// and the same per-corner refinement; a partial view yields the corners it shows.
//
// Image points are in pixels, OpenCV's convention: the centre of the top-left pixel is (0, 0).
#ifndef CCAL_TOOLS_IMAGES_BOARD_DETECTION_H
#define CCAL_TOOLS_IMAGES_BOARD_DETECTION_H

#include "board.h"

#include <tk/vector.h>

#include <stdexcept>
#include <string>
#include <vector>

// The tools were built without OpenCV: detection, undistortion and image reading are missing.
class tkImagesUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct tkBoardCorner {
  int id = 0;         // tkBoard corner id
  tkVector<2> image;  // pixels
};

struct tkBoardDetection {
  bool readable = false;  // the file could be read as an image (of the camera's image size)
  bool found = false;     // enough corners for a view
  int width = 0, height = 0;
  std::vector<tkBoardCorner> corners;  // sorted by id; empty unless found
  std::string reason;                  // why not found (or not readable); empty when found
};

// True when the tools were built with OpenCV.
bool tfImagesAvailable();

// Reads the image file and finds the board in it. Never throws for a bad image (readable is
// false and reason says why); throws tkImagesUnavailable without OpenCV and std::invalid_argument
// for a ChArUco dictionary OpenCV does not know. A ChArUco view needs at least minCorners corners
// (and a chessboard all of them).
tkBoardDetection tfDetectBoard(const std::string& imagePath, const tkBoard& board,
                               int minCorners = 6);

#endif
