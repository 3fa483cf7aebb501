#include <ccal/calibrated_xform_archive.h>
#include <ccal/camera_terms.h>
#include <ccal/line_scan_xform.h>
#include <proc/clnsc_xformCalib2.h>
#include <tk/archive_geometry.h>
#include <tk/failure.h>

#include "ccal/lnsc/lnsccal3.h"

namespace {

constexpr unsigned char kVersion = 0;
constexpr const char* kLocation = "ccal/camera/calibrated_xform_archive";
constexpr long kLine = 0;

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

// A procedural line-scan record that ends its life with the scope.
class LineScanRecord {
 public:
  LineScanRecord() { tfThrowExceptionOnFailure(clnsc_xformLineScan_construct(&record_)); }
  explicit LineScanRecord(const clnsc_xformLineScan& source) {
    tfThrowExceptionOnFailure(clnsc_xformLineScan_constructCopy(&record_, &source));
  }
  ~LineScanRecord() { clnsc_xformLineScan_destruct(&record_); }
  LineScanRecord(const LineScanRecord&) = delete;
  LineScanRecord& operator=(const LineScanRecord&) = delete;
  clnsc_xformLineScan& get() { return record_; }

 private:
  clnsc_xformLineScan record_;
};

// The camera record and the direction: the fields of tk2XformLineScan's archived form without
// its class version bytes (the transform object here is a temporary, which the archive's
// visited marks must not see).
void moveLineScan(tkArchive& ar, clnsc_xformLineScan& record) {
  ar || record.camera;
  bool worldToImage = record.w2i == 1;
  ar || worldToImage;
  record.w2i = worldToImage ? 1 : 0;
}

void storeTransform(tkArchive& ar, const tk2XformCalib2& xform) {
  const clnsc_xformLineScan* held = nullptr;
  bool lineScan = ccal_getLineScanTransform(&xform.data(), &held) >= 0 && held != nullptr;
  ar || lineScan;
  if (lineScan) {
    LineScanRecord copy(*held);
    moveLineScan(ar, copy.get());
    return;
  }
  const tkCalib2ParamsIntrinsic k = xform.intrinsicParams();
  tkVector<2> scale = k.scale();
  double skew = k.skew();
  tkVector<2> translation = k.translation();
  Model model = k.distortionModel();
  std::vector<double> params = k.distortionParams();
  tkXform<3> cameraFromWorld = xform.extrinsicXform();
  ar || scale || skew || translation;
  tfArchiveEnum(ar, model, tk2XformCalib2Defs::eSineTan, tk2XformCalib2Defs::eTelecentric);
  ar || params || cameraFromWorld;
}

tk2XformCalib2 loadTransform(tkArchive& ar) {
  bool lineScan = false;
  ar || lineScan;
  tk2XformCalib2 loaded;
  if (lineScan) {
    LineScanRecord record;
    moveLineScan(ar, record.get());
    tfConvert(tk2XformLineScan(record.get()), loaded);
    return loaded;
  }
  tkVector<2> scale, translation;
  double skew = 0.0;
  Model model = tk2XformCalib2Defs::eNoDistortion;
  std::vector<double> params;
  tkXform<3> cameraFromWorld;
  ar || scale || skew || translation;
  tfArchiveEnum(ar, model, tk2XformCalib2Defs::eSineTan, tk2XformCalib2Defs::eTelecentric);
  if (tfDistortionModelName(model) == nullptr)
    throw tkArchive::Corrupt(L"the archived camera names no distortion model");
  ar || params || cameraFromWorld;
  loaded.init(tkCalib2ParamsIntrinsic(scale, skew, translation, model, params),
              tkCalib2ParamsExtrinsic());
  loaded.extrinsicXform(cameraFromWorld);
  return loaded;
}

}  // namespace

tkArchive& operator||(tkArchive& ar, tk2XformCalib2& xform) {
  unsigned char version = kVersion;
  ar || version;
  if (version != kVersion)
    throw tkArchive::UnknownVersion(kLocation, kLine);
  if (ar.isStoring())
    storeTransform(ar, xform);
  else
    xform = loadTransform(ar);
  return ar;
}
