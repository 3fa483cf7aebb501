// The library's error families: constructors, error numbers, rethrow and archive code.
#include <ccal/line_scan_calibration_errors.h>
#include <ccal/line_scan_xform_errors.h>
#include <ccal/multicamera_calibration_errors.h>
#include <ccal/telecentric_calibration_errors.h>
#include <ccal/telecentric_extrinsics_errors.h>

#include "ccal/foundation/error_family_impl.h"

CCAL_DEFINE_ERRORS_CLASS(tk2XformLineScanDefs)
CCAL_DEFINE_ERROR_LEAF(tk2XformLineScanDefs, InsufficientPoints, 0x1000AA00)
CCAL_DEFINE_ERROR_LEAF(tk2XformLineScanDefs, BadParams, 0x1000AA01)

CCAL_DEFINE_ERRORS_CLASS(tkCalibrateLineScanCameraDefs)
CCAL_DEFINE_ERROR_LEAF(tkCalibrateLineScanCameraDefs, BadParams, 0x1000B400)
CCAL_DEFINE_ERROR_LEAF(tkCalibrateLineScanCameraDefs, InsufficientPoints, 0x1000B401)

CCAL_DEFINE_ERRORS_CLASS(tkCalibrateTelecentricCameraDefs)
CCAL_DEFINE_ERROR_LEAF(tkCalibrateTelecentricCameraDefs, BadParams, 0x1000B600)
CCAL_DEFINE_ERROR_LEAF(tkCalibrateTelecentricCameraDefs, InsufficientPoses, 0x1000B601)

CCAL_DEFINE_ERRORS_CLASS(tk_TelecentricCalibrationDefs)
CCAL_DEFINE_ERROR_LEAF(tk_TelecentricCalibrationDefs, BadParams, 0x1000AE40)
CCAL_DEFINE_ERROR_LEAF(tk_TelecentricCalibrationDefs, TooFewCorrespondences, 0x1000AE41)

CCAL_DEFINE_ERRORS_CLASS(tk_MulticameraCalibrationDefs)
CCAL_DEFINE_ERROR_LEAF(tk_MulticameraCalibrationDefs, BadParams, 0x1000AE80)
CCAL_DEFINE_ERROR_LEAF(tk_MulticameraCalibrationDefs, NotImplemented, 0x1000AE81)
CCAL_DEFINE_ERROR_LEAF(tk_MulticameraCalibrationDefs, TooFewCorrespondences, 0x1000AE82)
