// Python classes of the camera models and transforms:
//   Intrinsics           tkPhysicalAtZEquals1FromImageParams (image <-> position at Z = 1)
//   CameraModel          tkCameraCalibrationParams (intrinsics and pose; single-camera result)
//   CalibratedTransform  tk2XformCalib2 (image <-> world plane Z = 0)
//   LineScanTransform    tk2XformLineScan
// Each shows the library's own terms and the conventional ones: K = [[fx, skew, cx], [0, fy, cy],
// [0, 0, 1]] maps the distorted normalised plane to pixels (for an Intrinsics object K = L^-1).
// Mappings of point arrays run in C++ loops with the GIL released.
#include "archive_bytes.h"
#include "bindings.h"

#include <pybind11/operators.h>

#include <ccal/calibrated_xform_archive.h>
#include <ccal/camera_calibration_params.h>
#include <ccal/camera_terms.h>
#include <ccal/line_scan_xform.h>
#include <ccal/physical_at_z1_from_image_params.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

// Applies f to every row of an (N, 2) array, or to a single point of shape (2,); the result has
// the input's shape.
template <class F>
py::array mapArray(const py::handle& points, const char* what, F f) {
  const tkPyArray probe = tkPyArray::ensure(points);
  if (probe && probe.ndim() == 1 && probe.shape(0) == 2) {
    const tkVector<2> q = f(tkVector<2>(probe.at(0), probe.at(1)));
    tkPyArray out(2);
    out.mutable_at(0) = q.x();
    out.mutable_at(1) = q.y();
    return std::move(out);
  }
  PyErr_Clear();
  const tkPyArray input = tfPyPoints(points, {2}, what);
  tkPyArray out(std::vector<py::ssize_t>{input.shape(0), 2});
  auto in = input.unchecked<2>();
  auto o = out.mutable_unchecked<2>();
  {
    py::gil_scoped_release release;
    for (py::ssize_t i = 0; i < in.shape(0); ++i) {
      const tkVector<2> q = f(tkVector<2>(in(i, 0), in(i, 1)));
      o(i, 0) = q.x();
      o(i, 1) = q.y();
    }
  }
  return std::move(out);
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string list(const std::vector<double>& values) {
  std::string text = "[";
  for (size_t i = 0; i < values.size(); ++i)
    text += (i ? ", " : "") + number(values[i]);
  return text + "]";
}

py::array cameraMatrix(const tkCameraMatrixTerms& k) {
  const double values[9] = {k.fx, k.skew, k.cx, 0.0, k.fy, k.cy, 0.0, 0.0, 1.0};
  return tfPyMatrix(values, 3, 3);
}

std::vector<double> quaternionOf(const tkLineScanTerms& terms) {
  return std::vector<double>(terms.quaternion, terms.quaternion + 4);
}

std::string reprIntrinsics(const tkPhysicalAtZEquals1FromImageParams& p) {
  const tkCameraMatrixTerms k = tfCameraMatrixTerms(p);
  return "Intrinsics(model='" + tfPyModelName(p.distModel()) + "', fx=" + number(k.fx) +
         ", fy=" + number(k.fy) + ", cx=" + number(k.cx) + ", cy=" + number(k.cy) +
         ", skew=" + number(k.skew) + ", lens=" + list(p.lensDistParams()) +
         ", center_of_expansion=(" + number(p.centerOfExpansion().x()) + ", " +
         number(p.centerOfExpansion().y()) + "))";
}

py::array quaternionArray(const tk3Quaternion& q) {
  const double values[4] = {q.a(), q.b(), q.c(), q.d()};
  return tfPyMatrix(values, 1, 4).attr("reshape")(4);
}

tkVector<2> vector2(const std::pair<double, double>& v) {
  return tkVector<2>(v.first, v.second);
}

std::pair<double, double> pair2(const tkVector<2>& v) {
  return {v.x(), v.y()};
}

tk2XformLineScan lineScanOf(const tk2XformCalib2& transform) {
  tk2XformLineScan lineScan;
  tfConvert(transform, lineScan);
  return lineScan;
}

tk2XformCalib2 fromLineScan(const tk2XformLineScan& lineScan) {
  tk2XformCalib2 transform;
  tfConvert(lineScan, transform);
  return transform;
}

std::tuple<double, double, double> triple(const tkVector<3>& v) {
  return std::make_tuple(v.x(), v.y(), v.z());
}

tkCameraMatrixTerms termsOf(const tk2XformCalib2& t) {
  return tfCameraMatrixTerms(t.intrinsicParams());
}

bool holdsLineScan(const tk2XformCalib2& transform) {
  return transform.data().lineScan != nullptr;
}

std::string reprTransform(const tk2XformCalib2& t) {
  if (holdsLineScan(t))
    return "CalibratedTransform(line-scan camera)";
  const tkCalib2ParamsIntrinsic intrinsic = t.intrinsicParams();
  const tkCameraMatrixTerms k = tfCameraMatrixTerms(intrinsic);
  const tkXform<3> e = t.extrinsicXform();
  return "CalibratedTransform(model='" + tfPyModelName(intrinsic.distortionModel()) +
         "', fx=" + number(k.fx) + ", fy=" + number(k.fy) + ", cx=" + number(k.cx) +
         ", cy=" + number(k.cy) + ", skew=" + number(k.skew) +
         ", distortion=" + list(intrinsic.distortionParams()) + ", camera_from_world_t=(" +
         number(e.trans().x()) + ", " + number(e.trans().y()) + ", " + number(e.trans().z()) + "))";
}

}  // namespace

void tfPyBindCamera(py::module_& m) {
  using Intr = tkPhysicalAtZEquals1FromImageParams;
  py::class_<Intr>(
      m, "Intrinsics",
      "Intrinsic model of an area-scan camera: image (pixels) <-> position at Z = 1.\n"
      "Library terms: camera_scale, camera_skew, camera_translation (the linear map L\n"
      "image -> distorted normalised plane), model, lens_dist_params,\n"
      "center_of_expansion. Conventional terms: fx, fy, cx, cy, skew, camera_matrix\n"
      "(K = L^-1).")
      .def(py::init([](std::pair<double, double> scale, double skew,
                       std::pair<double, double> translation, const std::string& model,
                       py::object lens, std::pair<double, double> center) {
             Intr p;
             p.cameraScale(tkPair<double>(scale.first, scale.second));
             p.cameraSkew(skew);
             p.cameraTranslation(vector2(translation));
             p.distModel(tfPyModel(model));
             if (!lens.is_none())
               p.lensDistParams(lens.cast<std::vector<double>>());
             if (static_cast<int>(p.lensDistParams().size()) !=
                 Intr::lensDistParamsSize(p.distModel())) {
               throw py::value_error("lens_dist_params: the model takes " +
                                     std::to_string(Intr::lensDistParamsSize(p.distModel())) +
                                     " values");
             }
             p.centerOfExpansion(vector2(center));
             return p;
           }),
           py::arg("camera_scale") = std::make_pair(1.0, 1.0), py::arg("camera_skew") = 0.0,
           py::arg("camera_translation") = std::make_pair(0.0, 0.0), py::arg("model") = "radial",
           py::arg("lens_dist_params") = py::none(),
           py::arg("center_of_expansion") = std::make_pair(0.0, 0.0))
      .def_static(
          "from_camera_matrix",
          [](double fx, double fy, double cx, double cy, double skew, const std::string& model,
             py::object lens, std::pair<double, double> center) {
            if (!(fx != 0.0 && fy != 0.0))
              throw py::value_error("fx and fy must not be 0");
            Intr p;
            tfSetCameraMatrixTerms(p, tkCameraMatrixTerms{fx, fy, cx, cy, skew});
            p.distModel(tfPyModel(model));
            if (!lens.is_none())
              p.lensDistParams(lens.cast<std::vector<double>>());
            if (static_cast<int>(p.lensDistParams().size()) !=
                Intr::lensDistParamsSize(p.distModel())) {
              throw py::value_error("lens: the model takes " +
                                    std::to_string(Intr::lensDistParamsSize(p.distModel())) +
                                    " values");
            }
            p.centerOfExpansion(vector2(center));
            return p;
          },
          py::arg("fx"), py::arg("fy"), py::arg("cx"), py::arg("cy"), py::arg("skew") = 0.0,
          py::arg("model") = "radial", py::arg("lens") = py::none(),
          py::arg("center_of_expansion") = std::make_pair(0.0, 0.0),
          "The model whose camera matrix is K = [[fx, skew, cx], [0, fy, cy], [0, 0, 1]].")
      .def_property_readonly("model", [](const Intr& p) { return tfPyModelName(p.distModel()); })
      .def_property_readonly("camera_scale",
                             [](const Intr& p) {
                               return std::make_pair(p.cameraScale().first, p.cameraScale().second);
                             })
      .def_property_readonly("camera_skew", [](const Intr& p) { return p.cameraSkew(); })
      .def_property_readonly("camera_translation",
                             [](const Intr& p) { return pair2(p.cameraTranslation()); })
      .def_property_readonly("lens_dist_params", [](const Intr& p) { return p.lensDistParams(); })
      .def_property_readonly("center_of_expansion",
                             [](const Intr& p) { return pair2(p.centerOfExpansion()); })
      .def_property_readonly("fx", [](const Intr& p) { return tfCameraMatrixTerms(p).fx; })
      .def_property_readonly("fy", [](const Intr& p) { return tfCameraMatrixTerms(p).fy; })
      .def_property_readonly("cx", [](const Intr& p) { return tfCameraMatrixTerms(p).cx; })
      .def_property_readonly("cy", [](const Intr& p) { return tfCameraMatrixTerms(p).cy; })
      .def_property_readonly("skew", [](const Intr& p) { return tfCameraMatrixTerms(p).skew; })
      .def_property_readonly("camera_matrix",
                             [](const Intr& p) { return cameraMatrix(tfCameraMatrixTerms(p)); })
      .def(
          "to_z1",
          [](const Intr& p, const py::handle& image) {
            return mapArray(image, "image", [&p](const tkVector<2>& q) { return p.warpPoint(q); });
          },
          py::arg("image"), "Image points (pixels) -> positions at Z = 1 (undistorted).")
      .def(
          "to_image",
          [](const Intr& p, const py::handle& z1) {
            return mapArray(z1, "positions",
                            [&p](const tkVector<2>& q) { return p.invWarpPoint(q); });
          },
          py::arg("positions"), "Positions at Z = 1 -> image points (pixels).")
      .def("__repr__", &reprIntrinsics);

  using Cam = tkCameraCalibrationParams;
  py::class_<Cam>(m, "CameraModel",
                  "One calibrated area-scan camera: intrinsics and pose (world -> camera).")
      .def(py::init([](const Intr& intrinsics, const py::handle& pose) {
             Cam c;
             c.physicalAtZEquals1FromImageParams(intrinsics);
             c.cameraPoseInverse(tk3QuaternionXform(tfPyXform3(pose, "pose")));
             return c;
           }),
           py::arg("intrinsics"), py::arg("pose"))
      .def_property_readonly("intrinsics",
                             [](const Cam& c) { return c.physicalAtZEquals1FromImageParams(); })
      .def_property_readonly(
          "pose", [](const Cam& c) { return tfPyPose(c.cameraPoseInverse().xform()); },
          "(3, 4) [R | t], world -> camera: Pc = R P + t.")
      .def_property_readonly(
          "quaternion", [](const Cam& c) { return quaternionArray(c.cameraPoseInverse().quat()); },
          "Unit quaternion (a, b, c, d) of the world -> camera rotation.")
      .def_property_readonly("translation",
                             [](const Cam& c) {
                               const tkVector<3>& t = c.cameraPoseInverse().trans();
                               return std::make_tuple(t.x(), t.y(), t.z());
                             })
      .def(
          "project",
          [](const Cam& c, const py::handle& world) {
            const std::vector<tkVector<3>> points = tfPyPoints3(world, "world", false);
            std::vector<tkVector<2>> image(points.size());
            {
              py::gil_scoped_release release;
              for (size_t i = 0; i < points.size(); ++i)
                image[i] = c.invWarpPoint(points[i]);
            }
            return tfPyArray2(image);
          },
          py::arg("world"), "World points (N, 3) -> image points (N, 2), pixels.")
      .def(
          "image_to_plane",
          [](const Cam& c, const py::handle& image) {
            const std::vector<tkVector<2>> points = tfPyPoints2(image, "image");
            std::vector<tkVector<3>> plane(points.size());
            {
              py::gil_scoped_release release;
              for (size_t i = 0; i < points.size(); ++i)
                plane[i] = c.warpPointToZeroPlane(points[i]);
            }
            return tfPyArray3(plane);
          },
          py::arg("image"),
          "Image points (N, 2) -> the points of the world plane Z = 0 seen there.")
      .def(
          "transform",
          [](const Cam& c) {
            tk2XformCalib2 t;
            tfConvert(c, t);
            return t;
          },
          "The calibrated transform image <-> world plane Z = 0 of this camera.")
      .def("__repr__", [](const Cam& c) {
        const tkVector<3>& t = c.cameraPoseInverse().trans();
        return "CameraModel(" + reprIntrinsics(c.physicalAtZEquals1FromImageParams()) + ", t=(" +
               number(t.x()) + ", " + number(t.y()) + ", " + number(t.z()) + "))";
      });

  using Ls = tk2XformLineScan;
  py::class_<Ls>(m, "LineScanTransform",
                 "A line-scan (pushbroom) camera as a transform plate <-> image. A fitted\n"
                 "transform maps plate -> image (w2i); inverse() maps back.")
      .def(py::init<>())
      .def_static(
          "fit",
          [](const py::handle& image, const py::handle& plate, py::object distance) {
            const std::vector<tkVector<2>> u = tfPyPoints2(image, "image");
            const std::vector<tkVector<3>> p3 = tfPyPoints3(plate, "plate", true);
            std::vector<tkVector<2>> p;
            for (const tkVector<3>& q : p3)
              p.emplace_back(q.x(), q.y());
            Ls t;
            double rms = 0.0, largest = 0.0;
            py::gil_scoped_release release;
            if (distance.is_none())
              t.init(u, p, rms, largest);
            else
              t.init(u, p, distance.cast<double>(), rms, largest);
            return std::make_tuple(t, rms, largest);
          },
          py::arg("image"), py::arg("plate"), py::arg("distance") = py::none(),
          "Fits a camera to image points (u, v) of plate points (X, Y): (transform, rms, "
          "largest residual).")
      .def(
          "map",
          [](const Ls& t, const py::handle& points) {
            return mapArray(points, "points", [&t](const tkVector<2>& q) { return t.mapPoint(q); });
          },
          py::arg("points"))
      .def("inverse", &Ls::inverse)
      .def_property_readonly("w2i", &Ls::w2i)
      .def_property_readonly("is_linear", &Ls::isLinear)
      .def(
          "linear_xform",
          [](const Ls& t, std::pair<double, double> p) {
            const tk2XformLinear a = t.linearXform(vector2(p));
            const double values[6] = {
                a.matrix().element(0, 0), a.matrix().element(0, 1), a.trans().x(),
                a.matrix().element(1, 0), a.matrix().element(1, 1), a.trans().y()};
            return tfPyMatrix(values, 2, 3);
          },
          py::arg("point"), "The affine map [M | t] (2, 3) touching the mapping at point.")
      .def_property_readonly("lens",
                             [](const Ls& t) {
                               const tkLineScanTerms terms = tfLineScanTerms(t);
                               py::dict d;
                               d["u0"] = terms.offset;
                               d["f"] = terms.scale;
                               d["k1"] = terms.k1;
                               d["k2"] = terms.k2;
                               return d;
                             })
      .def_property_readonly(
          "quaternion", [](const Ls& t) { return tfPyArray1(quaternionOf(tfLineScanTerms(t))); },
          "Unit quaternion (a, b, c, d) of the client -> camera rotation at scan line 0.")
      .def_property_readonly("translation",
                             [](const Ls& t) { return triple(tfLineScanTerms(t).translation); })
      .def_property_readonly("scanner_motion",
                             [](const Ls& t) { return triple(tfLineScanTerms(t).motion); })
      .def(py::self == py::self)
      .def(py::self != py::self)
      .def("to_bytes",
           [](const Ls& t) {
             Ls copy(t);
             return tfPyStore<tkPersistent*>(&copy);
           })
      .def_static("from_bytes",
                  [](const py::bytes& data) {
                    Ls* object = nullptr;
                    try {
                      tfPyLoad(data, object);
                    } catch (...) {
                      delete object;
                      throw;
                    }
                    std::unique_ptr<Ls> owned(object);
                    if (!owned)
                      throw tkArchive::Corrupt(L"the archive holds no line-scan transform");
                    return Ls(*owned);
                  })
      .def("__repr__", [](const Ls& t) {
        const auto& c = t.lineScan()->camera;
        return std::string("LineScanTransform(") + (t.w2i() ? "plate->image" : "image->plate") +
               ", u0=" + number(c.lens.offset) + ", f=" + number(c.lens.scale) +
               ", k1=" + number(c.lens.k1) + ", k2=" + number(c.lens.k2) + ", motion=(" +
               number(c.scannerMotion.x) + ", " + number(c.scannerMotion.y) + ", " +
               number(c.scannerMotion.z) + "))";
      });

  using T = tk2XformCalib2;
  py::class_<T>(m, "CalibratedTransform",
                "A calibrated camera as a transform image (pixels) <-> world plane Z = 0.\n"
                "map(): image -> plane; inverse_map(): plane -> image. Area-scan and telecentric\n"
                "cameras show K (fx, fy, cx, cy, skew), the lens list and the pose; a transform\n"
                "from a line-scan calibration holds a LineScanTransform (line_scan).")
      .def(py::init<>())
      .def(py::init([](double fx, double fy, double cx, double cy, double skew,
                       const std::string& model, std::vector<double> distortion,
                       const py::handle& pose) {
             const tkCalib2ParamsIntrinsic intrinsic(tkVector<2>(fx, fy), skew, tkVector<2>(cx, cy),
                                                     tfPyModel(model), distortion);
             T t;
             t.init(intrinsic, tkCalib2ParamsExtrinsic());
             t.extrinsicXform(tfPyXform3(pose, "pose"));
             return t;
           }),
           py::arg("fx"), py::arg("fy"), py::arg("cx"), py::arg("cy"), py::arg("skew") = 0.0,
           py::arg("model") = "none", py::arg("distortion") = std::vector<double>(),
           py::arg("pose") = tfPyPose(tkXform<3>()),
           "From K, the lens model with its list (radial: k, cx, cy; sine-tan: p0..p3, cx, cy; "
           "none and telecentric: empty) and the pose world -> camera (3, 4).")
      .def_static("from_line_scan", &fromLineScan, py::arg("line_scan"))
      .def(
          "map",
          [](const T& t, const py::handle& image) {
            return mapArray(image, "image", [&t](const tkVector<2>& q) { return t.mapPoint(q); });
          },
          py::arg("image"), "Image points (N, 2) or one point (2,) -> world plane points.")
      .def(
          "inverse_map",
          [](const T& t, const py::handle& plane) {
            return mapArray(plane, "plane",
                            [&t](const tkVector<2>& q) { return t.invMapPoint(q); });
          },
          py::arg("plane"), "World plane points (N, 2) or one point (2,) -> image points.")
      .def_property_readonly("is_line_scan", &holdsLineScan)
      .def_property_readonly("line_scan",
                             [](const T& t) -> py::object {
                               if (!holdsLineScan(t))
                                 return py::none();
                               return py::cast(lineScanOf(t));
                             })
      .def_property_readonly(
          "model", [](const T& t) { return tfPyModelName(t.intrinsicParams().distortionModel()); })
      .def_property_readonly("fx", [](const T& t) { return termsOf(t).fx; })
      .def_property_readonly("fy", [](const T& t) { return termsOf(t).fy; })
      .def_property_readonly("cx", [](const T& t) { return termsOf(t).cx; })
      .def_property_readonly("cy", [](const T& t) { return termsOf(t).cy; })
      .def_property_readonly("skew", [](const T& t) { return termsOf(t).skew; })
      .def_property_readonly("camera_matrix", [](const T& t) { return cameraMatrix(termsOf(t)); })
      .def_property_readonly(
          "distortion", [](const T& t) { return t.intrinsicParams().distortionParams(); },
          "The lens list: radial [k, cx, cy], sine-tan [p0, p1, p2, p3, cx, cy], else [].")
      .def_property_readonly(
          "pose", [](const T& t) { return tfPyPose(t.extrinsicXform()); },
          "(3, 4) [R | t], world -> camera.")
      .def_property_readonly(
          "intrinsics",
          [](const T& t) {
            tkPhysicalAtZEquals1FromImageParams p;
            tfConvert(t, p);
            return p;
          },
          "The intrinsic part as an Intrinsics model (area-scan cameras only).")
      .def(py::self == py::self)
      .def(py::self != py::self)
      .def(
          "to_bytes", [](const T& t) { return tfPyStore(t); },
          "The transform in the library's archive form (see docs/python.md).")
      .def_static(
          "from_bytes", [](const py::bytes& data) { return tfPyLoaded<T>(data); }, py::arg("data"))
      .def("__repr__", &reprTransform);
}
