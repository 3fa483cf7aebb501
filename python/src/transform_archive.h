// Archive forms of the objects the Python module saves and loads.
//
// The library archives the line-scan transform (a persistent class) and the calibration options;
// the calibrated transform itself has no archived form in the library, so the module stores it
// with the library's archive primitives under its own name:
//
//   "ccal.CalibratedTransform"   std::string, the form's name
//   version                      unsigned char, 0
//   holdsLineScan                bool
//   holdsLineScan: the tk2XformLineScan through a tkPersistent* (registered name, then fields)
//   otherwise:     K as tkXform<2> (distorted normalised plane -> image), the distortion model
//                  (long), the distortion list (std::vector<double>), E as tkXform<3>
//                  (world -> camera)
//
// Loading checks the name and the version (tkArchive::Corrupt, tkArchive::UnknownVersion
// ("ccal.CalibratedTransform", 0)) and builds the transform through its validating
// constructor, so an archive holding no valid camera throws tkInvariantFailure or
// tkMathError::Singular.
#ifndef CCAL_PYTHON_TRANSFORM_ARCHIVE_H
#define CCAL_PYTHON_TRANSFORM_ARCHIVE_H

#include <ccal/line_scan_xform.h>
#include <tk/xform_calib2.h>

#include <vector>

std::vector<unsigned char> tfStoreCalibratedTransform(const tk2XformCalib2& transform);
tk2XformCalib2 tfLoadCalibratedTransform(const std::vector<unsigned char>& buffer);

// The library's form: the transform through a tkPersistent*. Loading another class throws
// tkArchive::Corrupt.
std::vector<unsigned char> tfStoreLineScanTransform(const tk2XformLineScan& transform);
tk2XformLineScan tfLoadLineScanTransform(const std::vector<unsigned char>& buffer);

// The calibrated transform holding a copy of lineScan, and a copy of the line-scan transform a
// calibrated transform holds (what tfThrowExceptionOnFailure raises when it holds none).
tk2XformCalib2 tfPyTransformFromLineScan(const tk2XformLineScan& lineScan);
tk2XformLineScan tfPyLineScanOf(const tk2XformCalib2& transform);

#endif
