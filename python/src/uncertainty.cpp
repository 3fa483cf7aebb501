// The calibration uncertainty of a rig result (include/ccal/calibration_uncertainty.h) as the
// Python class _Uncertainty: scalars and warnings as Python values, deviations and projection
// uncertainty as numpy arrays. ccal/__init__.py documents it as RigCalibration.uncertainty.
#include "bindings.h"

#include <ccal/calibration_uncertainty.h>

#include <cmath>
#include <string>

namespace {

const char* kindName(tkCalibrationWarningKind kind) {
  switch (kind) {
    case tkCalibrationWarningKind::eRankDeficient:
      return "rank-deficient";
    case tkCalibrationWarningKind::eFocalLengthUncertain:
      return "focal-length-uncertain";
    case tkCalibrationWarningKind::eLowCoverage:
      return "low-coverage";
    case tkCalibrationWarningKind::eCornerUncertainty:
      return "corner-uncertainty";
    case tkCalibrationWarningKind::eViewRms:
      return "view-rms";
    case tkCalibrationWarningKind::eNoiseNotEstimable:
      return "noise-not-estimable";
  }
  return "unknown";
}

py::dict cameraDict(const tkCameraDeviations& d) {
  py::dict out;
  out["fx"] = d.fx;
  out["fy"] = d.fy;
  out["cx"] = d.cx;
  out["cy"] = d.cy;
  out["skew"] = d.skew;
  out["focal"] = tfPyArray1({d.focalX, d.focalY});
  out["lens"] = tfPyArray1(d.lens);
  out["centre_of_expansion"] = tfPyArray1({d.centreX, d.centreY});
  out["rotation_deg"] = tfPyArray1({d.rotationDeg[0], d.rotationDeg[1], d.rotationDeg[2]});
  out["translation"] = tfPyArray1({d.translation[0], d.translation[1], d.translation[2]});
  return out;
}

// (n, 6) rows: rotation (deg) then translation σ of each placement.
tkPyArray placementArray(const std::vector<tkPlacementDeviations>& list) {
  std::vector<double> values;
  for (const tkPlacementDeviations& d : list) {
    values.insert(values.end(), d.rotationDeg.begin(), d.rotationDeg.end());
    values.insert(values.end(), d.translation.begin(), d.translation.end());
  }
  return tfPyMatrix(values.data(), static_cast<py::ssize_t>(list.size()), 6);
}

}  // namespace

py::object tfPyUncertainty(const tkMulticameraZRotationPlacementsWeighted& zRotation,
                           const tkMulticameraArbitraryPlacementsWeighted& arbitrary,
                           bool intrinsicsFixed,
                           const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& rig,
                           const py::object& imageSize, double sigma) {
  tkUncertaintyOptions options;
  options.sigma = sigma;
  if (!imageSize.is_none()) {
    const py::sequence size = imageSize;
    if (size.size() != 2)
      throw py::value_error("image_size must be (width, height)");
    options.imageSizes = {{size[0].cast<double>(), size[1].cast<double>()}};
  }
  return py::cast(tfCalibrationUncertainty(zRotation, arbitrary, intrinsicsFixed, rig, options));
}

void tfPyBindUncertainty(py::module_& m) {
  py::class_<tkCalibrationUncertainty>(m, "_Uncertainty")
      .def_property_readonly("sigma", &tkCalibrationUncertainty::sigma)
      .def_property_readonly("sigma_estimated", &tkCalibrationUncertainty::sigmaEstimated)
      .def_property_readonly("points", &tkCalibrationUncertainty::points)
      .def_property_readonly("parameters", &tkCalibrationUncertainty::parameters)
      .def_property_readonly("rank", &tkCalibrationUncertainty::rank)
      .def_property_readonly("rank_deficient", &tkCalibrationUncertainty::rankDeficient)
      .def_property_readonly("cameras",
                             [](const tkCalibrationUncertainty& u) {
                               py::list out;
                               for (const tkCameraDeviations& d : u.cameras())
                                 out.append(cameraDict(d));
                               return out;
                             })
      .def_property_readonly("z_rotation_placements",
                             [](const tkCalibrationUncertainty& u) {
                               return placementArray(u.zRotationPlacements());
                             })
      .def_property_readonly("arbitrary_placements",
                             [](const tkCalibrationUncertainty& u) {
                               return placementArray(u.arbitraryPlacements());
                             })
      .def_property_readonly("warnings",
                             [](const tkCalibrationUncertainty& u) {
                               py::list out;
                               for (const tkCalibrationWarning& w : u.warnings()) {
                                 py::dict d;
                                 d["kind"] = kindName(w.kind);
                                 d["camera"] = w.camera;
                                 d["placement"] = w.placement;
                                 d["value"] = w.value;
                                 d["limit"] = w.limit;
                                 d["message"] = w.message;
                                 out.append(d);
                               }
                               return out;
                             })
      .def_property_readonly("covariance",
                             [](const tkCalibrationUncertainty& u) {
                               const py::ssize_t n = u.columnSize();
                               return tfPyMatrix(u.covariance().data(), n, n);
                             })
      .def(
          "projection",
          [](const tkCalibrationUncertainty& u, long camera, const py::handle& points,
             double distance) {
            const std::vector<tkVector<2>> p = tfPyPoints2(points, "points");
            std::vector<double> rms, covariance, axes;
            for (const tkVector<2>& q : p) {
              const tkProjectionUncertainty e = tfProjectionUncertainty(u, camera, q, distance);
              rms.push_back(e.rms);
              covariance.insert(covariance.end(), {e.covariance[0][0], e.covariance[0][1],
                                                   e.covariance[1][0], e.covariance[1][1]});
              axes.insert(axes.end(), {e.major, e.minor, e.angle});
            }
            py::dict out;
            out["rms"] = tfPyArray1(rms);
            tkPyArray c = tfPyMatrix(covariance.data(), static_cast<py::ssize_t>(p.size()), 4);
            out["covariance"] = c.reshape({static_cast<py::ssize_t>(p.size()), py::ssize_t{2},
                                           py::ssize_t{2}});
            out["ellipse"] = tfPyMatrix(axes.data(), static_cast<py::ssize_t>(p.size()), 3);
            return out;
          },
          py::arg("camera"), py::arg("points"), py::arg("distance") = 0.0)
      .def(
          "relative_pose",
          [](const tkCalibrationUncertainty& u, long from, long to) {
            const tkPoseDeviations d = tfRelativePoseDeviations(u, from, to);
            py::dict out;
            out["rotation_deg"] =
                tfPyArray1({d.rotationDeg[0], d.rotationDeg[1], d.rotationDeg[2]});
            out["translation"] = tfPyArray1({d.translation[0], d.translation[1], d.translation[2]});
            return out;
          },
          py::arg("source"), py::arg("target"))
      .def(
          "map",
          [](const tkCalibrationUncertainty& u, long camera, long columns, long rows,
             double distance) {
            const std::vector<double> grid =
                tfProjectionUncertaintyGrid(u, camera, columns, rows, distance);
            return tfPyMatrix(grid.data(), rows, columns);
          },
          py::arg("camera"), py::arg("columns") = 32, py::arg("rows") = 24,
          py::arg("distance") = 0.0);
}
