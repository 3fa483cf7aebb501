// Writes the seed corpus of archive_load_fuzz: small valid archives of each kind the target
// reads. Run it after a change of the archive format:  archive_seed_writer <folder>
#include "archive_fuzz_classes.h"

#include <ccal/line_scan_calibration.h>
#include <ccal/line_scan_calibration_errors.h>
#include <ccal/line_scan_xform.h>
#include <ccal/line_scan_xform_errors.h>
#include <ccal/multicamera_calibration_errors.h>
#include <ccal/telecentric_calibration.h>
#include <ccal/telecentric_calibration_errors.h>
#include <ccal/telecentric_extrinsics_errors.h>
#include <tk/archive.h>
#include <tk/archive_geometry.h>
#include <tk/failure.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

void storePointer(const std::string& path, tkPersistent* object) {
  tkArchive ar(path, tkArchive::eStore);
  ar || object;
  ar.flush();
}

template <class T>
void storeValue(const std::string& path, T& value) {
  tkArchive ar(path, tkArchive::eStore);
  ar || value;
  ar.flush();
}

template <class Leaf>
void storeLeaf(const std::string& path) {
  Leaf leaf(L"seed");
  storePointer(path, &leaf);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";

  auto* values = new tkFuzzValues;
  values->flag = true;
  values->byte = 200;
  values->small = -3;
  values->integer = -70000;
  values->count = 4000000000u;
  values->status = -2147479551L;
  values->size = 12;
  values->ratio = 0.25f;
  values->grid = {{1, 2}, {}, {3}};
  values->mask = {true, false};
  values->names = {"u", "\xC3\xA9"};
  tkFuzzSample sample(L"fit diverged \u00B5");
  sample.scale = 1.5;
  sample.samples = {0.5, -1e300};
  sample.words = {L"a", L"\U0001D11E"};
  sample.shape = tkFuzzSample::eSquare;
  sample.child = values;
  storePointer(folder + "sample_with_values", &sample);

  tkBadPointer badPointer(L"points is null");
  storePointer(folder + "bad_pointer", &badPointer);
  tkArchive::UnknownVersion unknownVersion("ccal/lnsc/xflnsc", 34);
  storePointer(folder + "unknown_version", &unknownVersion);
  tkProcedureFailure failure(static_cast<long>(static_cast<std::int32_t>(0x80001001u)));
  storePointer(folder + "procedure_failure", &failure);
  tkMathError::Singular singular;
  storePointer(folder + "singular", &singular);
  storePointer(folder + "null", nullptr);
  storeLeaf<tk2XformLineScanDefs::InsufficientPoints>(folder + "leaf_xform_points");
  storeLeaf<tk2XformLineScanDefs::BadParams>(folder + "leaf_xform_params");
  storeLeaf<tkCalibrateLineScanCameraDefs::BadParams>(folder + "leaf_linescan_params");
  storeLeaf<tkCalibrateLineScanCameraDefs::InsufficientPoints>(folder + "leaf_linescan_points");
  storeLeaf<tk_TelecentricCalibrationDefs::BadParams>(folder + "leaf_extrinsics_params");
  storeLeaf<tk_TelecentricCalibrationDefs::TooFewCorrespondences>(folder + "leaf_extrinsics_few");
  storeLeaf<tkCalibrateTelecentricCameraDefs::BadParams>(folder + "leaf_telecentric_params");
  storeLeaf<tkCalibrateTelecentricCameraDefs::InsufficientPoses>(folder + "leaf_telecentric_poses");
  storeLeaf<tk_MulticameraCalibrationDefs::BadParams>(folder + "leaf_rig_params");
  storeLeaf<tk_MulticameraCalibrationDefs::NotImplemented>(folder + "leaf_rig_missing");
  storeLeaf<tk_MulticameraCalibrationDefs::TooFewCorrespondences>(folder + "leaf_rig_few");

  tk2XformLineScan lineScan;
  storePointer(folder + "line_scan_xform", &lineScan);
  storeValue(folder + "line_scan_xform_in_place", static_cast<tkPersistent&>(lineScan));
  tkCalibrateLineScanCameraParams lineScanParams;
  lineScanParams.distanceFromCameraToTarget(250.0);
  storeValue(folder + "line_scan_params", lineScanParams);
  tkCalibrateTelecentricCameraParams telecentricParams;
  telecentricParams.cameraHeight(-4.5);
  storeValue(folder + "telecentric_params", telecentricParams);
  tkXform<3> xform3(tkMatrix<3>(), tkVector<3>(1, 2, 3));
  storeValue(folder + "xform3", xform3);
  tk1Xform xform1(2.0, -1.0);
  storeValue(folder + "xform1", xform1);

  FuzzSequence sequence;
  sequence.flag = true;
  sequence.byte = 7;
  sequence.small = -1;
  sequence.integer = 123456;
  sequence.count = 9;
  sequence.status = -1;
  sequence.size = 65536;
  sequence.ratio = -0.5f;
  sequence.length = 3.25;
  sequence.name = "plate";
  sequence.label = L"m\u00B2";
  sequence.samples = {1.0, 2.0};
  sequence.grid = {{5}};
  sequence.mask = {false, true, true};
  sequence.words = {L"x"};
  sequence.shape = tkFuzzSample::eLine;
  sequence.sample = new tkFuzzSample(L"inner");
  tkArchive ar(folder + "sequence", tkArchive::eStore);
  ar || sequence;
  ar.flush();
  return 0;
}
