#include "board.h"

#include <cstdio>

std::string tkBoard::describe() const {
  std::string text = (kind == eChessboard ? "chessboard " : "charuco ") + std::to_string(columns) +
                     "x" + std::to_string(rows);
  if (kind == eCharuco)
    text += " (" + dictionary + ")";
  return text;
}

bool tfParseBoardKind(const std::string& text, tkBoard& board) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos)
    return false;
  const std::string kind = text.substr(0, colon);
  int columns = 0, rows = 0;
  char x = 0, extra = 0;
  if (std::sscanf(text.c_str() + colon + 1, "%d%c%d%c", &columns, &x, &rows, &extra) != 3 ||
      x != 'x' || columns < 2 || rows < 2 || columns > 1000 || rows > 1000) {
    return false;
  }
  if (kind == "chessboard")
    board.kind = tkBoard::eChessboard;
  else if (kind == "charuco")
    board.kind = tkBoard::eCharuco;
  else
    return false;
  board.columns = columns;
  board.rows = rows;
  return true;
}
