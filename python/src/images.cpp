// The image tools for the Python module, on the same code as ccal-calibrate's detect, export and
// undistort (tools/images): board detection, OpenCV's camera fitted to an intrinsic model and
// written as OpenCV, ROS or COLMAP files, and undistorted images. ccal/_images.py wraps these.
//
// Faults of the input raise ValueError with the tool's message; a module built without OpenCV
// raises RuntimeError from the image functions.
#include "bindings.h"

#include <board_detection.h>
#include <camera_export.h>
#include <detect_points.h>
#include <opencv_camera_fit.h>
#include <tool_error.h>
#include <undistort_images.h>

#include <ccal/physical_at_z1_from_image_params.h>

namespace {

tkBoard boardOf(const std::string& text, double square, double marker,
                const std::string& dictionary) {
  tkBoard board;
  if (!tfParseBoardKind(text, board)) {
    throw py::value_error(
        "board: expected \"chessboard:COLSxROWS\" or \"charuco:COLSxROWS\" "
        "(inner corners), got \"" +
        text + "\"");
  }
  if (!(square > 0.0) || !(marker > 0.0) || !(marker < 1.0))
    throw py::value_error("square must be > 0 and marker (a fraction of the square) in (0, 1)");
  board.squareSize = square;
  board.markerSize = marker * square;
  board.dictionary = dictionary;
  return board;
}

py::dict detection(const tkBoardDetection& d) {
  std::vector<double> ids;
  std::vector<tkVector<2>> points;
  for (const tkBoardCorner& corner : d.corners) {
    ids.push_back(corner.id);
    points.push_back(corner.image);
  }
  py::dict out;
  out["found"] = d.found;
  out["readable"] = d.readable;
  out["reason"] = d.reason;
  out["image_size"] = py::make_tuple(d.width, d.height);
  out["ids"] = tfPyArray1(ids);
  out["corners"] = tfPyArray2(points);
  return out;
}

tkOpenCvCamera fitted(const tkPhysicalAtZEquals1FromImageParams& intrinsics,
                      const std::pair<int, int>& size, double tolerance, bool force) {
  tkOpenCvCamera camera;
  try {
    camera = tfFitOpenCvCamera(intrinsics, size.first, size.second, tolerance);
  } catch (const std::invalid_argument& error) {
    throw py::value_error(error.what());
  }
  if (camera.maxError > tolerance && !force) {
    throw py::value_error("OpenCV's model disagrees with the calibration by up to " +
                          std::to_string(camera.maxError) + " px, more than the tolerance " +
                          std::to_string(tolerance) + " px (force=True exports it anyway)");
  }
  return camera;
}

tkExportedCamera exported(const std::string& name,
                          const tkPhysicalAtZEquals1FromImageParams& intrinsics,
                          const std::pair<int, int>& size, double tolerance, bool force) {
  tkExportedCamera camera;
  camera.name = name;
  camera.hasDistortion = intrinsics.distModel() != tk2XformCalib2Defs::eNoDistortion;
  camera.camera = fitted(intrinsics, size, tolerance, force);
  return camera;
}

}  // namespace

void tfPyBindImages(py::module_& m) {
  m.def("_images_available", &tfImagesAvailable);
  m.def(
      "_detect_board",
      [](const std::string& path, const std::string& board, double square, double marker,
         const std::string& dictionary, int minCorners) {
        const tkBoard b = boardOf(board, square, marker, dictionary);
        try {
          return detection(tfDetectBoard(path, b, minCorners));
        } catch (const std::invalid_argument& error) {
          throw py::value_error(error.what());
        }
      },
      py::arg("path"), py::arg("board"), py::arg("square"), py::arg("marker"),
      py::arg("dictionary"), py::arg("min_corners"));
  m.def(
      "_detect_points",
      [](const std::vector<std::pair<std::string, std::vector<std::string>>>& cameras,
         const std::string& board, double square, double marker, const std::string& dictionary,
         int minCorners, const std::string& pairing, const std::string& worldView,
         const std::string& model) {
        tkDetectOptions options;
        for (const auto& camera : cameras)
          options.cameras.push_back({camera.first, camera.second});
        options.board = boardOf(board, square, marker, dictionary);
        options.minCorners = minCorners;
        options.pairing = pairing == "order"    ? tkDetectOptions::eByOrder
                          : pairing == "number" ? tkDetectOptions::eByNumber
                                                : tkDetectOptions::eAuto;
        options.worldView = worldView;
        options.distortionModel = model;
        py::list images;
        tkDetectSummary summary;
        try {
          summary = tfDetectPoints(options, [&images, &options](const tkImageOutcome& outcome) {
            py::dict d = detection(outcome.detection);
            d["camera"] = options.cameras[outcome.camera].name;
            d["path"] = outcome.path;
            d["view"] = outcome.view;
            images.append(d);
          });
        } catch (const tkToolInputError& error) {
          throw py::value_error(error.what());
        } catch (const std::invalid_argument& error) {
          throw py::value_error(error.what());
        }
        return py::make_tuple(summary.json, images);
      },
      py::arg("cameras"), py::arg("board"), py::arg("square"), py::arg("marker"),
      py::arg("dictionary"), py::arg("min_corners"), py::arg("pairing"), py::arg("world_view"),
      py::arg("model"));
  m.def(
      "_fit_opencv",
      [](const tkPhysicalAtZEquals1FromImageParams& intrinsics, std::pair<int, int> size,
         double tolerance) {
        const tkOpenCvCamera c = fitted(intrinsics, size, tolerance, true);
        const double k[9] = {c.fx, 0.0, c.cx, 0.0, c.fy, c.cy, 0.0, 0.0, 1.0};
        py::dict out;
        out["camera_matrix"] = tfPyMatrix(k, 3, 3);
        out["distortion"] = tfPyArray1(c.distortion);
        out["rms_error"] = c.rmsError;
        out["max_error"] = c.maxError;
        return out;
      },
      py::arg("intrinsics"), py::arg("image_size"), py::arg("tolerance"));
  m.def(
      "_export_camera",
      [](const std::string& format, const std::string& name,
         const tkPhysicalAtZEquals1FromImageParams& intrinsics, std::pair<int, int> size,
         double tolerance, bool force) {
        const tkExportedCamera camera = exported(name, intrinsics, size, tolerance, force);
        return format == "ros" ? tfRosCameraInfoYaml(camera) : tfOpenCvYaml(camera);
      },
      py::arg("format"), py::arg("name"), py::arg("intrinsics"), py::arg("image_size"),
      py::arg("tolerance"), py::arg("force"));
  m.def(
      "_export_colmap",
      [](const std::vector<tkPhysicalAtZEquals1FromImageParams>& cameras, std::pair<int, int> size,
         double tolerance, bool force) {
        std::vector<tkExportedCamera> all;
        for (size_t i = 0; i < cameras.size(); ++i)
          all.push_back(exported(std::to_string(i + 1), cameras[i], size, tolerance, force));
        return tfColmapCamerasTxt(all);
      },
      py::arg("cameras"), py::arg("image_size"), py::arg("tolerance"), py::arg("force"));
  m.def(
      "_undistort_image",
      [](const tkPhysicalAtZEquals1FromImageParams& intrinsics, const std::string& input,
         const std::string& output) {
        const std::string failure =
            tfResampleImage(tfUndistortedView(intrinsics), intrinsics, input, output);
        if (!failure.empty())
          throw py::value_error(input + ": " + failure);
      },
      py::arg("intrinsics"), py::arg("input"), py::arg("output"));
}
