// numpy conversions and lens-model names of the Python module.
#include "bindings.h"

#include <ccal/camera_terms.h>

#include <algorithm>
#include <string>

tkPyArray tfPyPoints(const py::handle& value, std::initializer_list<py::ssize_t> columns,
                     const char* what) {
  tkPyArray array;
  try {
    array = tkPyArray::ensure(value);
  } catch (const py::error_already_set&) {
    array = tkPyArray();
  }
  if (!array) {
    PyErr_Clear();
    throw py::value_error(std::string(what) + ": expected an array of numbers");
  }
  const bool widthOk = array.ndim() == 2 &&
                       std::find(columns.begin(), columns.end(), array.shape(1)) != columns.end();
  // An empty list converts to shape (0,); take it as no points.
  if (array.ndim() == 1 && array.shape(0) == 0)
    return tkPyArray(std::vector<py::ssize_t>{0, *columns.begin()});
  if (!widthOk) {
    std::string widths;
    for (py::ssize_t c : columns)
      widths += (widths.empty() ? "" : " or ") + std::to_string(c);
    throw py::value_error(std::string(what) + ": expected an array of shape (N, " + widths + ")");
  }
  return array;
}

std::vector<tkVector<2>> tfPyPoints2(const py::handle& value, const char* what) {
  const tkPyArray array = tfPyPoints(value, {2}, what);
  auto a = array.unchecked<2>();
  std::vector<tkVector<2>> points(static_cast<size_t>(a.shape(0)));
  for (py::ssize_t i = 0; i < a.shape(0); ++i)
    points[static_cast<size_t>(i)] = tkVector<2>(a(i, 0), a(i, 1));
  return points;
}

std::vector<tkVector<3>> tfPyPoints3(const py::handle& value, const char* what, bool allowPlanar) {
  const tkPyArray array =
      allowPlanar ? tfPyPoints(value, {3, 2}, what) : tfPyPoints(value, {3}, what);
  auto a = array.unchecked<2>();
  const bool planar = a.shape(1) == 2;
  std::vector<tkVector<3>> points(static_cast<size_t>(a.shape(0)));
  for (py::ssize_t i = 0; i < a.shape(0); ++i) {
    points[static_cast<size_t>(i)] = tkVector<3>(a(i, 0), a(i, 1), planar ? 0.0 : a(i, 2));
  }
  return points;
}

std::vector<double> tfPyWeights(const py::handle& value, size_t n, const char* what) {
  if (value.is_none())
    return std::vector<double>(n, 1.0);
  const tkPyArray array = tkPyArray::ensure(value);
  if (!array || array.ndim() != 1 || static_cast<size_t>(array.shape(0)) != n) {
    PyErr_Clear();
    throw py::value_error(std::string(what) + ": expected " + std::to_string(n) + " weights");
  }
  const double* data = array.data();
  return std::vector<double>(data, data + n);
}

tkPyArray tfPyArray2(const std::vector<tkVector<2>>& points) {
  tkPyArray array(std::vector<py::ssize_t>{static_cast<py::ssize_t>(points.size()), 2});
  auto a = array.mutable_unchecked<2>();
  for (size_t i = 0; i < points.size(); ++i) {
    a(static_cast<py::ssize_t>(i), 0) = points[i].x();
    a(static_cast<py::ssize_t>(i), 1) = points[i].y();
  }
  return array;
}

tkPyArray tfPyArray3(const std::vector<tkVector<3>>& points) {
  tkPyArray array(std::vector<py::ssize_t>{static_cast<py::ssize_t>(points.size()), 3});
  auto a = array.mutable_unchecked<2>();
  for (size_t i = 0; i < points.size(); ++i) {
    for (int c = 0; c < 3; ++c)
      a(static_cast<py::ssize_t>(i), c) = points[i][c];
  }
  return array;
}

tkPyArray tfPyArray1(const std::vector<double>& values) {
  tkPyArray array(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), array.mutable_data());
  return array;
}

tkXform<3> tfPyXform3(const py::handle& value, const char* what) {
  const tkPyArray array = tkPyArray::ensure(value);
  if (!array || array.ndim() != 2 || array.shape(0) != 3 || array.shape(1) != 4) {
    PyErr_Clear();
    throw py::value_error(std::string(what) + ": expected a (3, 4) array [R | t]");
  }
  auto a = array.unchecked<2>();
  tkMatrix<3> matrix;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      matrix.element(r, c, a(r, c));
  return tkXform<3>(matrix, tkVector<3>(a(0, 3), a(1, 3), a(2, 3)));
}

tkPyArray tfPyPose(const tkXform<3>& xform) {
  double values[12];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      values[r * 4 + c] = xform.matrix().element(r, c);
    values[r * 4 + 3] = xform.trans()[r];
  }
  return tfPyMatrix(values, 3, 4);
}

tkPyArray tfPyMatrix(const double* values, py::ssize_t rows, py::ssize_t cols) {
  tkPyArray array(std::vector<py::ssize_t>{rows, cols});
  std::copy(values, values + rows * cols, array.mutable_data());
  return array;
}

std::vector<tkCrspPairWeighted> tfPyWeightedView(const py::handle& image, const py::handle& plate,
                                                 const py::handle& weights, const char* what) {
  const std::vector<tkVector<2>> imagePoints = tfPyPoints2(image, what);
  const std::vector<tkVector<3>> platePoints = tfPyPoints3(plate, what, true);
  if (imagePoints.size() != platePoints.size()) {
    throw py::value_error(std::string(what) + ": image and plate points differ in number (" +
                          std::to_string(imagePoints.size()) + " and " +
                          std::to_string(platePoints.size()) + ")");
  }
  const std::vector<double> w = tfPyWeights(weights, imagePoints.size(), what);
  std::vector<tkCrspPairWeighted> view;
  view.reserve(imagePoints.size());
  for (size_t i = 0; i < imagePoints.size(); ++i)
    view.emplace_back(imagePoints[i], platePoints[i], w[i]);
  return view;
}

tk2XformCalib2Defs::tkCalib2DistortionModel tfPyModel(const std::string& name) {
  tk2XformCalib2Defs::tkCalib2DistortionModel model = tk2XformCalib2Defs::eRadial;
  if (!tfDistortionModelFromName(name, model)) {
    throw py::value_error("unknown lens model \"" + name +
                          "\": expected \"radial\", \"sine-tan\", \"none\" or \"telecentric\"");
  }
  return model;
}

std::string tfPyModelName(int model) {
  const char* name =
      tfDistortionModelName(static_cast<tk2XformCalib2Defs::tkCalib2DistortionModel>(model));
  return name != nullptr ? name : "model " + std::to_string(model);
}
