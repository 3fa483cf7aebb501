// Built in place of board_detection.cpp and undistort_images.cpp when OpenCV is missing.
#include "board_detection.h"
#include "undistort_images.h"

bool tfImagesAvailable() {
  return false;
}

tkBoardDetection tfDetectBoard(const std::string&, const tkBoard&, int) {
  throw tkImagesUnavailable("this ccal was built without OpenCV: image commands are unavailable");
}

std::string tfResampleImage(const tkPinholeView&, const tkPhysicalAtZEquals1FromImageParams&,
                            const std::string&, const std::string&) {
  throw tkImagesUnavailable("this ccal was built without OpenCV: image commands are unavailable");
}
