// Point-list files ("ccal-points/1") for the Python module: the tools' reader turned into plain
// Python values; ccal/_points.py builds the PointFile and Placement classes from them.
#include "bindings.h"

#include <point_file.h>

namespace {

// Rows of one camera in one placement as an (N, 6) array: u, v, X, Y, Z, w.
tkPyArray rowsArray(const std::vector<tkPointRow>& rows) {
  tkPyArray array(std::vector<py::ssize_t>{static_cast<py::ssize_t>(rows.size()), 6});
  auto a = array.mutable_unchecked<2>();
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto r = static_cast<py::ssize_t>(i);
    a(r, 0) = rows[i].image.x();
    a(r, 1) = rows[i].image.y();
    a(r, 2) = rows[i].physical.x();
    a(r, 3) = rows[i].physical.y();
    a(r, 4) = rows[i].physical.z();
    a(r, 5) = rows[i].weight;
  }
  return array;
}

py::dict toPython(const tkPointFile& file) {
  py::dict d;
  d["description"] = file.description;
  d["kind"] = file.kind;
  d["distortion_model"] =
      file.distortionModel.empty() ? py::object(py::none()) : py::str(file.distortionModel);
  d["cameras"] = file.cameras;
  d["image_size"] = file.hasImageSize
                        ? py::object(py::make_tuple(file.imageSize[0], file.imageSize[1]))
                        : py::object(py::none());
  py::list placements;
  for (const tkPointPlacement& p : file.placements) {
    py::dict e;
    e["name"] = p.name;
    e["kind"] = p.kind.empty() ? py::object(py::none()) : py::str(p.kind);
    e["height"] = p.kind == "z-rotation" ? py::object(py::float_(p.height)) : py::none();
    e["pose"] = p.hasPose ? py::object(tfPyMatrix(p.pose.data(), 3, 4)) : py::none();
    e["distance_to_target"] =
        p.hasDistanceToTarget ? py::object(py::float_(p.distanceToTarget)) : py::none();
    py::list points;
    for (const auto& rows : p.points)
      points.append(rowsArray(rows));
    e["points"] = points;
    placements.append(e);
  }
  d["placements"] = placements;
  d["ground_truth_json"] = file.groundTruthJson;
  return d;
}

}  // namespace

void tfPyBindPointFiles(py::module_& m) {
  m.def(
      "_load_points", [](const std::string& path) { return toPython(tfLoadPointFile(path)); },
      py::arg("path"));
  m.def(
      "_parse_points", [](const std::string& text) { return toPython(tfParsePointFile(text)); },
      py::arg("text"));
}
