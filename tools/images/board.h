// A calibration board as the image tools know it: its kind, its size and where each of its
// corners lies on the plate.
//
// Plate frame: origin at the board's first corner (the first inner corner of a chessboard, the
// first inner corner of a ChArUco board), X along the corners' rows, Y down the columns, Z = 0 on
// the board, in the unit of squareSize. Corner ids run row by row: id = column + row * columns.
// That is OpenCV's order for both kinds, so the ids OpenCV's detectors return index this frame.
#ifndef CCAL_TOOLS_IMAGES_BOARD_H
#define CCAL_TOOLS_IMAGES_BOARD_H

#include <tk/vector.h>

#include <string>

struct tkBoard {
  enum Kind { eChessboard, eCharuco } kind = eChessboard;
  // Inner corners per row and per column (a 9 x 6 chessboard has 10 x 7 squares).
  int columns = 9;
  int rows = 6;
  double squareSize = 1.0;  // plate units
  // ChArUco only: the marker's side in plate units and the name of OpenCV's predefined
  // dictionary ("4x4_50", "5x5_100", "6x6_250", ...).
  double markerSize = 0.75;
  std::string dictionary = "4x4_50";

  int cornerCount() const { return columns * rows; }
  // The plate point of corner id (0 <= id < cornerCount()).
  tkVector<3> platePoint(int id) const {
    return tkVector<3>(squareSize * (id % columns), squareSize * (id / columns), 0.0);
  }
  // "chessboard 9x6" / "charuco 9x6 (4x4_50)": for messages.
  std::string describe() const;
};

// Parses "chessboard:COLSxROWS" or "charuco:COLSxROWS" (inner corners) with the square and,
// for ChArUco, marker size and dictionary given separately. Returns false for any other text.
bool tfParseBoardKind(const std::string& text, tkBoard& board);

#endif
