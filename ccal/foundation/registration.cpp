// What the library registers when it is loaded, in this order: each persistent class's factory
// with the type registry, and the line-scan status converter with the exception machinery.
// All of it lives in this one file because C++ fixes the order of static initialisation only
// within a translation unit. Nothing is unregistered when the library is unloaded.
#include <ccal/line_scan_calibration_errors.h>
#include <ccal/line_scan_xform.h>
#include <ccal/line_scan_xform_errors.h>
#include <ccal/multicamera_calibration_errors.h>
#include <ccal/telecentric_calibration_errors.h>
#include <ccal/telecentric_extrinsics_errors.h>
#include <tk/failure.h>

#include <typeinfo>

#include "ccal/foundation/error_family_impl.h"

namespace {

// Registers the line-scan converter under key 128 (statuses 0x80xxxxxx). It runs twice, as two
// separate start-up steps; the registry keeps one entry.
bool registerLineScanConverter() {
  tfRegisterExceptionConverter(128, convertLineScanCalibrationFailure);
  return true;
}

}  // namespace

CCAL_DEFINE_ERROR_EXEMPLAR(tk2XformLineScanDefs, InsufficientPoints);
CCAL_DEFINE_ERROR_EXEMPLAR(tk2XformLineScanDefs, BadParams);
tk_Instantiator tk2XformLineScan::sExemplar(typeid(tk2XformLineScan), &tk2XformLineScan::make);
[[maybe_unused]] static const bool sLineScanConverterFirst = registerLineScanConverter();
CCAL_DEFINE_ERROR_EXEMPLAR(tkCalibrateLineScanCameraDefs, BadParams);
CCAL_DEFINE_ERROR_EXEMPLAR(tkCalibrateLineScanCameraDefs, InsufficientPoints);
[[maybe_unused]] static const bool sLineScanConverterSecond = registerLineScanConverter();
CCAL_DEFINE_ERROR_EXEMPLAR(tk_TelecentricCalibrationDefs, BadParams);
CCAL_DEFINE_ERROR_EXEMPLAR(tk_TelecentricCalibrationDefs, TooFewCorrespondences);
CCAL_DEFINE_ERROR_EXEMPLAR(tkCalibrateTelecentricCameraDefs, BadParams);
CCAL_DEFINE_ERROR_EXEMPLAR(tkCalibrateTelecentricCameraDefs, InsufficientPoses);
CCAL_DEFINE_ERROR_EXEMPLAR(tk_MulticameraCalibrationDefs, BadParams);
CCAL_DEFINE_ERROR_EXEMPLAR(tk_MulticameraCalibrationDefs, NotImplemented);
CCAL_DEFINE_ERROR_EXEMPLAR(tk_MulticameraCalibrationDefs, TooFewCorrespondences);
