// Shared pieces of the Python extension ccal._ccal: numpy conversions, the model names, the
// long-call runner and the registration functions of each binding file.
//
// Conventions of the module:
// - point arrays are float64 numpy arrays of shape (N, 2) (image points, pixels; plane points) or
//   (N, 3) (world or plate points); anything numpy can turn into such an array is accepted;
// - weights are an optional 1-D array of N values;
// - rigid transforms are (3, 4) arrays [R | t] (row-major, as in point-list files);
// - lens models are named "radial", "sine-tan", "none" and "telecentric".
// Wrong shapes, lengths and names raise ValueError before the library is called.
#ifndef CCAL_PYTHON_BINDINGS_H
#define CCAL_PYTHON_BINDINGS_H

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <ccal/outlier_rejection.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/pair.h>
#include <tk/quaternion_xform.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>

#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <ccal/multicamera_calibration.h>

namespace py = pybind11;

using tkPyArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// ---- arrays (arrays.cpp) ---------------------------------------------------------------------

// A (N, columns) float64 array from any array-like; `columns` lists the accepted widths (e.g.
// {2, 3}). Throws py::value_error naming `what` for another shape or a non-numeric input.
tkPyArray tfPyPoints(const py::handle& value, std::initializer_list<py::ssize_t> columns,
                     const char* what);
std::vector<tkVector<2>> tfPyPoints2(const py::handle& value, const char* what);
// (N, 3) points, or (N, 2) points taken with z = 0 when allowPlanar.
std::vector<tkVector<3>> tfPyPoints3(const py::handle& value, const char* what, bool allowPlanar);
// N weights (1.0 each when value is None). Throws py::value_error for another length.
std::vector<double> tfPyWeights(const py::handle& value, size_t n, const char* what);

// New arrays: (N, 2), (N, 3), (N,).
tkPyArray tfPyArray2(const std::vector<tkVector<2>>& points);
tkPyArray tfPyArray3(const std::vector<tkVector<3>>& points);
tkPyArray tfPyArray1(const std::vector<double>& values);

// (3, 4) array <-> rigid transform. The reader checks the shape only.
tkXform<3> tfPyXform3(const py::handle& value, const char* what);
tkPyArray tfPyPose(const tkXform<3>& xform);
// (rows, cols) array of a matrix given row by row.
tkPyArray tfPyMatrix(const double* values, py::ssize_t rows, py::ssize_t cols);

// Weighted correspondences of one view: image (N, 2), plate (N, 3) or (N, 2), weights or None.
std::vector<tkCrspPairWeighted> tfPyWeightedView(const py::handle& image, const py::handle& plate,
                                                 const py::handle& weights, const char* what);

// ---- model names -------------------------------------------------------------------------------
tk2XformCalib2Defs::tkCalib2DistortionModel tfPyModel(const std::string& name);
std::string tfPyModelName(int model);

// ---- long calls (long_call.cpp) ----------------------------------------------------------------

// Runs work on a worker thread that carries an abort token and a progress scope, while the
// calling thread waits with the GIL released. Every 20 ms the calling thread takes the GIL back,
// runs Python's signal handlers and, when the fraction done has moved, calls progress(fraction)
// (progress may be None). A KeyboardInterrupt (or any exception of a handler or of the callback)
// requests an abort through the token; once work has returned, that Python exception is raised,
// whatever work did; an exception of the library that ended work then becomes its __context__
// (so a test or a curious user can see that the library stopped with ccal.Aborted). Otherwise an
// exception of work passes on to the caller (and from there to the exception translator). The
// callback always receives the final fraction of a successful call.
void tfPyRunLong(const py::object& progress, const std::function<void()>& work);

// ---- outlier rejection (outliers.cpp) ---------------------------------------------------------

// The rig solved under the library's outlier rejection (tfRejectOutliers, default options) as a
// long call; outcome receives "inliers" (per placement of the input order (where[j]: Z-rotation
// or arbitrary index), per camera a bool array), "dropped_views" [(placement, camera)],
// "rejected", "outlier_rounds", "outlier_capped", "sigma", "inlier_rms", "all_rms" (per camera)
// and their pooled values. On return the rejected points of zRotation and arbitrary have weight 0
// (the placements the final rig was fitted to).
tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams tfPyRejectOutliers(
    const tkRigSolve& solve, tkMulticameraZRotationPlacementsWeighted& zRotation,
    tkMulticameraArbitraryPlacementsWeighted& arbitrary,
    const std::vector<std::pair<bool, size_t>>& where, const py::object& progress,
    py::dict& outcome);

// ---- errors (errors.cpp) ------------------------------------------------------------------------

// The Python exception object (ccal.Error tree, or PointFileError) for a library exception, or
// None for any other exception (and for a null pointer). Needs the GIL.
py::object tfPyLibraryException(std::exception_ptr error);

// ---- registration ------------------------------------------------------------------------------
void tfPyBindErrors(py::module_& m);
void tfPyBindCamera(py::module_& m);
void tfPyBindCalibration(py::module_& m);
void tfPyBindArchives(py::module_& m);
void tfPyBindPointFiles(py::module_& m);
void tfPyBindUncertainty(py::module_& m);

// ---- uncertainty (uncertainty.cpp) ---------------------------------------------------------------

// The _Uncertainty object of rig on its data; imageSize None or (width, height); sigma 0:
// estimated.
py::object tfPyUncertainty(const tkMulticameraZRotationPlacementsWeighted& zRotation,
                           const tkMulticameraArbitraryPlacementsWeighted& arbitrary,
                           bool intrinsicsFixed,
                           const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& rig,
                           const py::object& imageSize, double sigma);
void tfPyBindImages(py::module_& m);

#endif
