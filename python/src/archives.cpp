// The Python classes of the calibration options with their archive forms, and the bytes of
// calibration files (archive_bytes.h).
#include "archive_bytes.h"
#include "bindings.h"

#include <pybind11/operators.h>

#include <ccal/calibrated_xform_archive.h>
#include <ccal/line_scan_calibration.h>
#include <ccal/telecentric_calibration.h>

#include <string>
#include <vector>

void tfPyBindArchives(py::module_& m) {
  using Ls = tkCalibrateLineScanCameraParams;
  py::class_<Ls>(m, "LineScanOptions",
                 "Options of the line-scan calibration: the camera-to-target distance (None: the\n"
                 "scale follows the default convention) and whether +Y of the client frame is\n"
                 "turned to follow the scanner motion.")
      .def(py::init([](py::object distance, bool align) {
             Ls p;
             if (!distance.is_none()) {
               p.useDistanceFromCameraToTarget(true);
               p.distanceFromCameraToTarget(distance.cast<double>());
             }
             p.calibrationYAxisAdjustmentMode(
                 align ? tkCalibrateLineScanCameraDefs::eAlignYAxisToScannerMotion
                       : tkCalibrateLineScanCameraDefs::eNoYAxisAdjustment);
             return p;
           }),
           py::arg("distance") = py::none(), py::arg("align_y_to_motion") = false)
      .def_property_readonly("distance",
                             [](const Ls& p) -> py::object {
                               if (!p.useDistanceFromCameraToTarget())
                                 return py::none();
                               return py::float_(p.distanceFromCameraToTarget());
                             })
      .def_property_readonly("align_y_to_motion",
                             [](const Ls& p) {
                               return p.calibrationYAxisAdjustmentMode() ==
                                      tkCalibrateLineScanCameraDefs::eAlignYAxisToScannerMotion;
                             })
      .def(py::self == py::self)
      .def("to_bytes", [](const Ls& p) { return tfPyStore(p); })
      .def_static("from_bytes", [](const py::bytes& b) { return tfPyLoaded<Ls>(b); })
      .def("__repr__", [](const Ls& p) {
        std::string distance = p.useDistanceFromCameraToTarget()
                                   ? std::to_string(p.distanceFromCameraToTarget())
                                   : std::string("None");
        return "LineScanOptions(distance=" + distance +
               ", align_y_to_motion=" + (p.calibrationYAxisAdjustmentMode() ? "True" : "False") +
               ")";
      });

  using Tc = tkCalibrateTelecentricCameraParams;
  py::class_<Tc>(m, "TelecentricOptions",
                 "Options of the telecentric calibration: the camera height that fixes the\n"
                 "unobservable Z translation (None: the camera's origin on the home plane).")
      .def(py::init([](py::object height) {
             Tc p;
             if (!height.is_none()) {
               p.useCameraHeight(true);
               p.cameraHeight(height.cast<double>());
             }
             return p;
           }),
           py::arg("camera_height") = py::none())
      .def_property_readonly("camera_height",
                             [](const Tc& p) -> py::object {
                               if (!p.useCameraHeight())
                                 return py::none();
                               return py::float_(p.cameraHeight());
                             })
      .def(py::self == py::self)
      .def("to_bytes", [](const Tc& p) { return tfPyStore(p); })
      .def_static("from_bytes", [](const py::bytes& b) { return tfPyLoaded<Tc>(b); })
      .def("__repr__", [](const Tc& p) {
        return "TelecentricOptions(camera_height=" +
               (p.useCameraHeight() ? std::to_string(p.cameraHeight()) : std::string("None")) + ")";
      });

  m.def(
      "_store_transforms",
      [](const std::vector<tk2XformCalib2>& transforms) { return tfPyStore(transforms); },
      py::arg("transforms"), "The bytes of a calibration file holding the transforms.");
  m.def(
      "_load_transforms",
      [](const py::bytes& data) { return tfPyLoaded<std::vector<tk2XformCalib2>>(data); },
      py::arg("data"), "The transforms of a calibration file's bytes.");
}
