// The extension module ccal._ccal. The package ccal (python/ccal/__init__.py) re-exports its
// classes and wraps its underscore functions; import ccal, not ccal._ccal.
#include "bindings.h"

PYBIND11_MODULE(_ccal, m) {
  m.doc() = "Camera calibration: the compiled part of the ccal package.";
  tfPyBindErrors(m);
  tfPyBindCamera(m);
  tfPyBindArchives(m);
  tfPyBindUncertainty(m);
  tfPyBindCalibration(m);
  tfPyBindPointFiles(m);
  tfPyBindImages(m);
}
