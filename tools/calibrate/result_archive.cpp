#include "result_archive.h"

#include "tool_error.h"

#include <ccal/calibrated_xform_archive.h>
#include <tk/archive.h>
#include <tk/exception.h>

void tfWriteCalibrationArchive(const tkToolResult& result, const std::string& path) {
  std::vector<tk2XformCalib2> cameras;
  for (const tkToolCamera& camera : result.cameras)
    cameras.push_back(camera.xform);
  tkArchive ar(path, tkArchive::eStore);
  ar || cameras;
  ar.flush();
}

std::vector<tk2XformCalib2> tfReadCalibrationArchive(const std::string& path) {
  std::vector<tk2XformCalib2> cameras;
  try {
    tkArchive ar(path, tkArchive::eLoad);
    ar || cameras;
    if (ar.remaining() != 0)
      throw tkArchive::Corrupt(L"bytes follow the last camera");
    if (cameras.empty())
      throw tkArchive::Corrupt(L"it holds no camera");
  } catch (const tkArchive::IOFailure& error) {
    throw tkToolInputError(error.what());  // names the file
  } catch (const tkException& error) {
    throw tkToolInputError(path + ": not a readable calibration archive: " + error.what());
  }
  return cameras;
}
