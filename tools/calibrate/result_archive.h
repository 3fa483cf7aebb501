// The calibration archive of ccal-calibrate (docs/formats.md): the calibrated transforms of all
// cameras of a result, in camera order, as one std::vector<tk2XformCalib2> moved with the
// library's operator (<ccal/calibrated_xform_archive.h>): a 32-bit count, then each transform.
// Every kind of camera (area-scan, telecentric, line-scan) is stored the same way.
#ifndef CCAL_TOOLS_CALIBRATE_RESULT_ARCHIVE_H
#define CCAL_TOOLS_CALIBRATE_RESULT_ARCHIVE_H

#include "calibration_result.h"

#include <tk/xform_calib2.h>

#include <string>
#include <vector>

// Writes the cameras of result to path. Throws tkArchive::IOFailure when the file cannot be
// written.
void tfWriteCalibrationArchive(const tkToolResult& result, const std::string& path);

// Reads a calibration archive: one transform per camera. Throws tkToolInputError naming the file
// and the fault when it cannot be read, is truncated or corrupt, holds no camera, has bytes after
// the last camera, or holds values that no camera can have.
std::vector<tk2XformCalib2> tfReadCalibrationArchive(const std::string& path);

#endif
