// Archive forms of the calibrated transform and the line-scan transform (transform_archive.h),
// and the Python classes of the calibration options with their library archive forms.
#include "bindings.h"
#include "transform_archive.h"

#include <pybind11/operators.h>

#include <ccal/line_scan_calibration.h>
#include <ccal/telecentric_calibration.h>
#include <proc/ccal_xformCalib2.h>
#include <tk/archive.h>
#include <tk/archive_geometry.h>

#include <memory>
#include <string>

namespace {

const char* const kTransformName = "ccal.CalibratedTransform";

py::bytes toBytes(const std::vector<unsigned char>& buffer) {
  return py::bytes(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

std::vector<unsigned char> fromBytes(const py::bytes& data) {
  const std::string text = data;
  return std::vector<unsigned char>(text.begin(), text.end());
}

// Stores or loads a value class through its free archive operator.
template <class V>
std::vector<unsigned char> storeValue(const V& value) {
  std::vector<unsigned char> buffer;
  V copy = value;
  tkArchive archive(buffer, tkArchive::eStore);
  archive || copy;
  archive.flush();
  return buffer;
}

template <class V>
V loadValue(const std::vector<unsigned char>& bytes) {
  std::vector<unsigned char> buffer = bytes;
  tkArchive archive(buffer, tkArchive::eLoad);
  V value;
  archive || value;
  if (archive.remaining() != 0)
    throw tkArchive::Corrupt(L"bytes follow the archived value");
  return value;
}

tkXform<2> xform2(const cmath_xformLinear& r) {
  return tkXform<2>(tkMatrix<2>(r.matrix[0][0], r.matrix[0][1], r.matrix[1][0], r.matrix[1][1]),
                    tkVector<2>(r.trans.x, r.trans.y));
}

tkXform<3> xform3(const cmath_xformLinear3& r) {
  tkMatrix<3> m;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      m.element(i, j, r.matrix[i][j]);
  return tkXform<3>(m, tkVector<3>(r.trans.x, r.trans.y, r.trans.z));
}

// Fills a calibrated-transform record from the archived fields; the caller owns the record.
void fillRecord(ccal_xformCalib2& record, const tkXform<2>& k, long model,
                const std::vector<double>& list, const tkXform<3>& e) {
  if (list.size() > CCAL_XFORMCALIB2_MAX_DISTORTION_PARAMS)
    throw tkArchive::Corrupt(L"the distortion list is too long");
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      record.imageFromDistorted.matrix[i][j] = k.matrix().element(i, j);
  record.imageFromDistorted.trans.x = k.trans().x();
  record.imageFromDistorted.trans.y = k.trans().y();
  record.distortionModel = static_cast<int32_t>(model);
  record.distortionParamCount = static_cast<int32_t>(list.size());
  for (size_t i = 0; i < CCAL_XFORMCALIB2_MAX_DISTORTION_PARAMS; ++i)
    record.distortionParams[i] = i < list.size() ? list[i] : 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      record.cameraFromWorld.matrix[i][j] = e.matrix().element(i, j);
  record.cameraFromWorld.trans.x = e.trans().x();
  record.cameraFromWorld.trans.y = e.trans().y();
  record.cameraFromWorld.trans.z = e.trans().z();
}

}  // namespace

std::vector<unsigned char> tfStoreLineScanTransform(const tk2XformLineScan& transform) {
  std::vector<unsigned char> buffer;
  tk2XformLineScan copy(transform);
  tkPersistent* object = &copy;
  tkArchive archive(buffer, tkArchive::eStore);
  archive || object;
  archive.flush();
  return buffer;
}

tk2XformLineScan tfLoadLineScanTransform(const std::vector<unsigned char>& bytes) {
  std::vector<unsigned char> buffer = bytes;
  tkArchive archive(buffer, tkArchive::eLoad);
  tk2XformLineScan* object = nullptr;
  archive || object;
  std::unique_ptr<tk2XformLineScan> owned(object);
  if (!owned)
    throw tkArchive::Corrupt(L"the archive holds no line-scan transform");
  if (archive.remaining() != 0)
    throw tkArchive::Corrupt(L"bytes follow the archived line-scan transform");
  return *owned;
}

std::vector<unsigned char> tfStoreCalibratedTransform(const tk2XformCalib2& transform) {
  std::vector<unsigned char> buffer;
  tkArchive archive(buffer, tkArchive::eStore);
  std::string name = kTransformName;
  unsigned char version = 0;
  bool holdsLineScan = transform.data().lineScan != nullptr;
  archive || name || version || holdsLineScan;
  if (holdsLineScan) {
    tk2XformLineScan lineScan = tfPyLineScanOf(transform);
    tkPersistent* object = &lineScan;
    archive || object;
  } else {
    const ccal_xformCalib2& r = transform.data();
    tkXform<2> k = xform2(r.imageFromDistorted);
    long model = r.distortionModel;
    std::vector<double> list(r.distortionParams, r.distortionParams + r.distortionParamCount);
    tkXform<3> e = xform3(r.cameraFromWorld);
    archive || k || model || list || e;
  }
  archive.flush();
  return buffer;
}

tk2XformCalib2 tfLoadCalibratedTransform(const std::vector<unsigned char>& bytes) {
  std::vector<unsigned char> buffer = bytes;
  tkArchive archive(buffer, tkArchive::eLoad);
  std::string name;
  archive || name;
  if (name != kTransformName)
    throw tkArchive::Corrupt(L"the archive holds no calibrated transform");
  unsigned char version = 0;
  archive || version;
  if (version != 0)
    throw tkArchive::UnknownVersion(kTransformName, 0);
  bool holdsLineScan = false;
  archive || holdsLineScan;
  tk2XformCalib2 result;
  if (holdsLineScan) {
    tk2XformLineScan* object = nullptr;
    archive || object;
    std::unique_ptr<tk2XformLineScan> owned(object);
    if (!owned)
      throw tkArchive::Corrupt(L"the archive holds no line-scan transform");
    result = tfPyTransformFromLineScan(*owned);
  } else {
    tkXform<2> k;
    long model = 0;
    std::vector<double> list;
    tkXform<3> e;
    archive || k || model || list || e;
    ccal_xformCalib2 record;
    ccal_xformCalib2_construct(&record);
    try {
      fillRecord(record, k, model, list, e);
      result = tk2XformCalib2(record);
    } catch (...) {
      ccal_xformCalib2_destruct(&record);
      throw;
    }
    ccal_xformCalib2_destruct(&record);
  }
  if (archive.remaining() != 0)
    throw tkArchive::Corrupt(L"bytes follow the archived calibrated transform");
  return result;
}

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
      .def("to_bytes", [](const Ls& p) { return toBytes(storeValue(p)); })
      .def_static("from_bytes", [](const py::bytes& b) { return loadValue<Ls>(fromBytes(b)); })
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
      .def("to_bytes", [](const Tc& p) { return toBytes(storeValue(p)); })
      .def_static("from_bytes", [](const py::bytes& b) { return loadValue<Tc>(fromBytes(b)); })
      .def("__repr__", [](const Tc& p) {
        return "TelecentricOptions(camera_height=" +
               (p.useCameraHeight() ? std::to_string(p.cameraHeight()) : std::string("None")) + ")";
      });
}
