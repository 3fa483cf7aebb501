#include "board_detection.h"

#include <opencv2/aruco/charuco.hpp>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <stdexcept>

namespace {

cv::Ptr<cv::aruco::Dictionary> dictionaryNamed(const std::string& name) {
  static const std::map<std::string, int> known = {
      {"4x4_50", cv::aruco::DICT_4X4_50},          {"4x4_100", cv::aruco::DICT_4X4_100},
      {"4x4_250", cv::aruco::DICT_4X4_250},        {"4x4_1000", cv::aruco::DICT_4X4_1000},
      {"5x5_50", cv::aruco::DICT_5X5_50},          {"5x5_100", cv::aruco::DICT_5X5_100},
      {"5x5_250", cv::aruco::DICT_5X5_250},        {"5x5_1000", cv::aruco::DICT_5X5_1000},
      {"6x6_50", cv::aruco::DICT_6X6_50},          {"6x6_100", cv::aruco::DICT_6X6_100},
      {"6x6_250", cv::aruco::DICT_6X6_250},        {"6x6_1000", cv::aruco::DICT_6X6_1000},
      {"7x7_50", cv::aruco::DICT_7X7_50},          {"7x7_100", cv::aruco::DICT_7X7_100},
      {"7x7_250", cv::aruco::DICT_7X7_250},        {"7x7_1000", cv::aruco::DICT_7X7_1000},
      {"original", cv::aruco::DICT_ARUCO_ORIGINAL}};
  const auto it = known.find(name);
  if (it == known.end())
    throw std::invalid_argument("unknown ArUco dictionary \"" + name + "\"");
  return cv::aruco::getPredefinedDictionary(it->second);
}

// Refines each corner in a half-window of 0.3 times the distance to its nearest neighbour on the
// board (neighbours by id: left, right, up, down, where found), less on a ChArUco board.
void refineCorners(const cv::Mat& gray, const tkBoard& board, std::vector<tkBoardCorner>& corners) {
  std::map<int, size_t> byId;
  for (size_t i = 0; i < corners.size(); ++i)
    byId[corners[i].id] = i;
  const cv::TermCriteria criteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 100, 1e-4);
  // On a ChArUco board the window must also stay inside the white margin around the markers.
  double fraction = 0.3;
  if (board.kind == tkBoard::eCharuco)
    fraction = std::min(fraction, 0.9 * 0.5 * (1.0 - board.markerSize / board.squareSize));
  for (tkBoardCorner& corner : corners) {
    const int column = corner.id % board.columns, row = corner.id / board.columns;
    double nearest = HUGE_VAL;
    const int steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (const auto& step : steps) {
      const int c = column + step[0], r = row + step[1];
      if (c < 0 || c >= board.columns || r < 0 || r >= board.rows)
        continue;
      const auto it = byId.find(c + r * board.columns);
      if (it != byId.end())
        nearest = std::min(nearest, (corners[it->second].image - corner.image).length());
    }
    if (!std::isfinite(nearest))
      continue;  // a corner without a found neighbour keeps the detector's position
    const int half = std::max(2, static_cast<int>(fraction * nearest));
    std::vector<cv::Point2f> point{
        cv::Point2f(static_cast<float>(corner.image.x()), static_cast<float>(corner.image.y()))};
    cv::cornerSubPix(gray, point, cv::Size(half, half), cv::Size(-1, -1), criteria);
    corner.image = tkVector<2>(point[0].x, point[0].y);
  }
}

void findChessboard(const cv::Mat& gray, const tkBoard& board, tkBoardDetection& out) {
  std::vector<cv::Point2f> points;
  const bool found = cv::findChessboardCornersSB(gray, cv::Size(board.columns, board.rows), points,
                                                 cv::CALIB_CB_ACCURACY);
  if (!found || static_cast<int>(points.size()) != board.cornerCount()) {
    out.reason = "no " + board.describe() + " found";
    return;
  }
  for (int id = 0; id < board.cornerCount(); ++id)
    out.corners.push_back({id, tkVector<2>(points[id].x, points[id].y)});
}

void findCharuco(const cv::Mat& gray, const tkBoard& board, int minCorners, tkBoardDetection& out) {
  const cv::Ptr<cv::aruco::Dictionary> dictionary = dictionaryNamed(board.dictionary);
  // OpenCV counts squares; the tool counts inner corners.
  const cv::Ptr<cv::aruco::CharucoBoard> charuco = cv::aruco::CharucoBoard::create(
      board.columns + 1, board.rows + 1, static_cast<float>(board.squareSize),
      static_cast<float>(board.markerSize), dictionary);
  std::vector<std::vector<cv::Point2f>> markers;
  std::vector<int> markerIds;
  cv::aruco::detectMarkers(gray, dictionary, markers, markerIds);
  std::vector<cv::Point2f> points;
  std::vector<int> ids;
  if (!markerIds.empty())
    cv::aruco::interpolateCornersCharuco(markers, markerIds, gray, charuco, points, ids);
  if (static_cast<int>(ids.size()) < minCorners) {
    out.reason = "no " + board.describe() + " found (" + std::to_string(markerIds.size()) +
                 " markers, " + std::to_string(ids.size()) + " corners; at least " +
                 std::to_string(minCorners) + " corners needed)";
    return;
  }
  for (size_t i = 0; i < ids.size(); ++i)
    out.corners.push_back({ids[i], tkVector<2>(points[i].x, points[i].y)});
  std::sort(out.corners.begin(), out.corners.end(),
            [](const tkBoardCorner& a, const tkBoardCorner& b) { return a.id < b.id; });
}

}  // namespace

bool tfImagesAvailable() {
  return true;
}

tkBoardDetection tfDetectBoard(const std::string& imagePath, const tkBoard& board, int minCorners) {
  tkBoardDetection out;
  cv::Mat gray;
  // A file that cannot be opened is answered here, without OpenCV's warning on stderr.
  if (!std::ifstream(imagePath, std::ios::binary).good()) {
    out.reason = "cannot read the image";
    return out;
  }
  try {
    gray = cv::imread(imagePath, cv::IMREAD_GRAYSCALE);
  } catch (const cv::Exception&) {
    gray.release();
  }
  if (gray.empty()) {
    out.reason = "cannot read the image";
    return out;
  }
  out.readable = true;
  out.width = gray.cols;
  out.height = gray.rows;
  try {
    if (board.kind == tkBoard::eChessboard)
      findChessboard(gray, board, out);
    else
      findCharuco(gray, board, minCorners, out);
    if (!out.corners.empty())
      refineCorners(gray, board, out.corners);
  } catch (const cv::Exception& error) {
    out.corners.clear();
    out.reason = std::string("OpenCV failed: ") + error.what();
  }
  out.found = !out.corners.empty();
  return out;
}
