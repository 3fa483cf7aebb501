#include "result_archive.h"

#include "tool_error.h"

#include <tk/archive.h>
#include <tk/archive_geometry.h>
#include <tk/exception.h>

namespace {

const char* const kMagic = "ccal-calibration";
constexpr unsigned char kVersion = 1;

}  // namespace

tkVector<2> tkArchivedCamera::toPlate(const tkVector<2>& image) const {
  return lineScan ? lineScan->inverse().mapPoint(image) : xform.mapPoint(image);
}

tkVector<2> tkArchivedCamera::toImage(const tkVector<2>& plate) const {
  return lineScan ? lineScan->mapPoint(plate) : xform.invMapPoint(plate);
}

void tfWriteCalibrationArchive(const tkToolResult& result, const std::string& path) {
  tkArchive ar(path, tkArchive::eStore);
  std::string magic = kMagic;
  unsigned char version = kVersion;
  std::string kind = result.kind;
  unsigned long count = static_cast<unsigned long>(result.cameras.size());
  ar || magic;
  ar || version;
  ar || kind;
  ar || count;
  for (const tkToolCamera& camera : result.cameras) {
    std::string name = camera.name;
    ar || name;
    if (camera.lineScan) {
      tk2XformLineScan lineScan = *camera.lineScan;
      ar || static_cast<tkPersistent&>(lineScan);
      continue;
    }
    const tkCalib2ParamsIntrinsic k = camera.xform.intrinsicParams();
    tkVector<2> scale = k.scale();
    double skew = k.skew();
    tkVector<2> translation = k.translation();
    tk2XformCalib2Defs::tkCalib2DistortionModel model = k.distortionModel();
    std::vector<double> params = k.distortionParams();
    tkXform<3> cameraFromWorld = camera.xform.extrinsicXform();
    ar || scale;
    ar || skew;
    ar || translation;
    tfArchiveEnum(ar, model, tk2XformCalib2Defs::eSineTan, tk2XformCalib2Defs::eTelecentric);
    ar || params;
    ar || cameraFromWorld;
  }
  ar.flush();
}

tkCalibrationArchive tfReadCalibrationArchive(const std::string& path) {
  tkCalibrationArchive archive;
  try {
    tkArchive ar(path, tkArchive::eLoad);
    std::string magic;
    unsigned char version = 0;
    ar || magic;
    if (magic != kMagic)
      throw tkToolInputError(path + ": not a calibration archive written by ccal-calibrate");
    ar || version;
    if (version != kVersion) {
      throw tkToolInputError(path + ": archive version " + std::to_string(version) +
                             " is not known (expected 1)");
    }
    unsigned long count = 0;
    ar || archive.kind;
    ar || count;
    if (archive.kind != "area-scan" && archive.kind != "telecentric" &&
        archive.kind != "line-scan") {
      throw tkToolInputError(path + ": unknown camera kind \"" + archive.kind + "\"");
    }
    ar.requireItems(count, 8);
    for (unsigned long c = 0; c < count; ++c) {
      tkArchivedCamera camera;
      ar || camera.name;
      if (archive.kind == "line-scan") {
        camera.lineScan = std::make_shared<tk2XformLineScan>();
        ar || static_cast<tkPersistent&>(*camera.lineScan);
      } else {
        tkVector<2> scale, translation;
        double skew = 0.0;
        auto model = tk2XformCalib2Defs::eNoDistortion;
        std::vector<double> params;
        tkXform<3> cameraFromWorld;
        ar || scale;
        ar || skew;
        ar || translation;
        tfArchiveEnum(ar, model, tk2XformCalib2Defs::eSineTan, tk2XformCalib2Defs::eTelecentric);
        ar || params;
        ar || cameraFromWorld;
        camera.xform.init(tkCalib2ParamsIntrinsic(scale, skew, translation, model, params),
                          tkCalib2ParamsExtrinsic());
        camera.xform.extrinsicXform(cameraFromWorld);
      }
      archive.cameras.push_back(std::move(camera));
    }
    if (ar.remaining() != 0)
      throw tkToolInputError(path + ": unexpected bytes after the last camera");
  } catch (const tkException& error) {
    throw tkToolInputError(path + ": " + error.what());
  }
  return archive;
}
