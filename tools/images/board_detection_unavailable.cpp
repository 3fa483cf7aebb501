// Built in place of board_detection.cpp when OpenCV is missing.
#include "board_detection.h"

bool tfImagesAvailable() {
  return false;
}

tkBoardDetection tfDetectBoard(const std::string&, const tkBoard&, int) {
  throw tkImagesUnavailable("this ccal was built without OpenCV: image commands are unavailable");
}
