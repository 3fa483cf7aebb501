// The calibrated transforms of a result, stored with the library's archives (tkArchive), and
// read back by the map command.
//
// Layout (every value in the archive encoding of docs/archive-format.md):
//   std::string  "ccal-calibration"
//   uchar        version (1)
//   std::string  kind: "area-scan" | "telecentric" | "line-scan"
//   ulong        number of cameras
//   per camera:  std::string name, then
//     area-scan and telecentric: the calibrated transform's parts: tkVector<2> scale, double skew,
//       tkVector<2> translation (K: distorted normalised plane -> image), the distortion model
//       (enumeration, 1..7), std::vector<double> its parameter list, tkXform<3> world -> camera;
//     line-scan: the camera's tk2XformLineScan (by value, physical -> image).
#ifndef CCAL_TOOLS_CALIBRATE_RESULT_ARCHIVE_H
#define CCAL_TOOLS_CALIBRATE_RESULT_ARCHIVE_H

#include "calibration_result.h"

#include <ccal/line_scan_xform.h>
#include <tk/xform_calib2.h>

#include <memory>
#include <string>
#include <vector>

// One camera read back from an archive.
struct tkArchivedCamera {
  std::string name;
  tk2XformCalib2 xform;                        // area-scan and telecentric
  std::shared_ptr<tk2XformLineScan> lineScan;  // line-scan (physical -> image)

  // Image point -> point (x, y) of the world plane Z = 0 (the plate plane for line scan). Throws
  // what the transform throws.
  tkVector<2> toPlate(const tkVector<2>& image) const;
  // Plane point -> image point.
  tkVector<2> toImage(const tkVector<2>& plate) const;
};

struct tkCalibrationArchive {
  std::string kind;
  std::vector<tkArchivedCamera> cameras;
};

// Writes the cameras of result to path. Throws tkArchive::IOFailure (or another tkException) when
// the file cannot be written.
void tfWriteCalibrationArchive(const tkToolResult& result, const std::string& path);

// Reads an archive written by tfWriteCalibrationArchive. Throws tkToolInputError naming the file
// when it cannot be read, is not such an archive, is truncated or corrupt, or holds values that no
// camera can have.
tkCalibrationArchive tfReadCalibrationArchive(const std::string& path);

#endif
