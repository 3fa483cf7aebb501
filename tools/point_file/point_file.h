// Reader of point-list files ("ccal-points/1", JSON; see docs/formats.md).
//
// A point-list file holds the correspondences of one calibration problem: cameras, plate
// placements and, per placement and camera, rows (u, v, X, Y, Z[, w]) of image point (pixels),
// plate point (plate units) and optional weight. Line-scan files have rows (u, v, X, Y).
// The reader checks the structure and every number; a file that does not follow the format
// throws tkPointFileError naming the place of the fault. The ground truth, when present, is
// kept as JSON text for the caller to interpret.
#ifndef CCAL_TOOLS_POINT_FILE_H
#define CCAL_TOOLS_POINT_FILE_H

#include <tk/vector.h>

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

class tkPointFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct tkPointRow {
  tkVector<2> image;     // pixels
  tkVector<3> physical;  // plate units, in the plate's own frame
  double weight = 1.0;
};

struct tkPointPlacement {
  std::string name;
  std::string kind;  // "z-rotation" | "arbitrary" (area-scan); empty otherwise
  double height = 0.0;
  bool hasPose = false;
  std::array<double, 12> pose{};  // 3x4 row-major plate -> home (telecentric files)
  bool hasDistanceToTarget = false;
  double distanceToTarget = 0.0;                // line-scan files
  std::vector<std::vector<tkPointRow>> points;  // per camera, in the order of cameras
};

struct tkPointFile {
  std::string description;
  std::string kind;             // "area-scan" | "telecentric" | "line-scan"
  std::string distortionModel;  // "sine-tan" | "none" | "radial" (area-scan)
  std::vector<std::string> cameras;
  bool hasImageSize = false;
  std::array<double, 2> imageSize{};
  std::vector<tkPointPlacement> placements;
  std::string groundTruthJson;  // empty when the file has none
};

// Parses a point-list file from text. Throws tkPointFileError on any fault.
tkPointFile tfParsePointFile(const std::string& text);

// Reads and parses a point-list file. Throws tkPointFileError when the file cannot be read or
// does not follow the format.
tkPointFile tfLoadPointFile(const std::string& path);

#endif
