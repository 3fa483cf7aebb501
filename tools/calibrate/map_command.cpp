#include "map_command.h"

#include "result_archive.h"
#include "tool_error.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

namespace {

void mapOne(const tk2XformCalib2& camera, bool toImage, double a, double b, std::ostream& out) {
  const tkVector<2> input(a, b);
  tkVector<2> there, back;
  if (toImage) {
    there = camera.invMapPoint(input);
    back = camera.mapPoint(there);
  } else {
    there = camera.mapPoint(input);
    back = camera.invMapPoint(there);
  }
  char line[256];
  std::snprintf(line, sizeof line, "%.10g %.10g %.10g %.10g %.10g %.10g\n", a, b, there.x(),
                there.y(), back.x(), back.y());
  out << line;
}

}  // namespace

void tfRunMapCommand(const tkMapOptions& options, std::istream& in, std::ostream& out) {
  const std::vector<tk2XformCalib2> cameras = tfReadCalibrationArchive(options.archivePath);
  if (options.camera < 0 || static_cast<size_t>(options.camera) >= cameras.size()) {
    throw tkToolInputError(options.archivePath + ": has " + std::to_string(cameras.size()) +
                           " camera(s), no camera " + std::to_string(options.camera));
  }
  const tk2XformCalib2& camera = cameras[static_cast<size_t>(options.camera)];
  if (!options.coordinates.empty()) {
    for (size_t i = 0; i + 1 < options.coordinates.size(); i += 2)
      mapOne(camera, options.toImage, options.coordinates[i], options.coordinates[i + 1], out);
    return;
  }
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    for (char& ch : line)
      if (ch == ',')
        ch = ' ';
    std::istringstream fields(line);
    std::string first;
    if (!(fields >> first) || first[0] == '#')
      continue;
    std::istringstream pair(line);
    double a = 0.0, b = 0.0;
    std::string rest;
    if (!(pair >> a >> b) || (pair >> rest) || !std::isfinite(a) || !std::isfinite(b)) {
      throw tkToolInputError("standard input line " + std::to_string(number) +
                             ": expected two finite numbers, got \"" + line + "\"");
    }
    mapOne(camera, options.toImage, a, b, out);
  }
}
