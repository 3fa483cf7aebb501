// Data sets of the OpenCV comparison: the bundled point-list files and generated sets of one
// camera looking at a 20 x 15 plate in a chosen number of views.
//
// A set is a point-list file (tools/point_file) with, when known, its ground truth in the
// library's camera model (tests/support/area_scan_truth.h). Plate points are in plate units,
// image points in pixels.
#ifndef CCAL_BENCH_COMPARE_COMPARE_SETS_H
#define CCAL_BENCH_COMPARE_COMPARE_SETS_H

#include "support/area_scan_truth.h"

#include <ccal/physical_at_z1_from_image_params.h>
#include <point_file.h>
#include <tk/xform_calib2.h>

#include <string>
#include <vector>

struct tkCompareSet {
  std::string name;  // file name without ".json", or "gen-<views>"
  tkPointFile file;
  bool hasTruth = false;
  tkAreaScanTruth truth;  // valid when hasTruth
};

// Loads dataDir/fileName (an area-scan point-list file) and its ground truth when it has one.
// Throws tkPointFileError for a missing or malformed file and std::runtime_error for a file of
// another kind or without an image size.
tkCompareSet tfLoadCompareSet(const std::string& dataDir, const std::string& fileName);

// A generated set: camera `camera` (its intrinsic model and image size; its pose is replaced)
// sees a 20 x 15 plate at 10 plate-unit pitch in `views` placements (views >= 1). Placement 0 is
// the world frame (a z-rotation placement at height 0) seen square-on from about 540 units, the
// others arbitrary poses tilted 10-40 degrees at 450-650 units with every point inside the image.
// Gaussian noise of sigmaPx is added to u and v. The same arguments give the same set.
tkCompareSet tfGenerateViewSet(const tkAreaScanCameraTruth& camera, double width, double height,
                               int views, double sigmaPx, unsigned seed);

// "radial" / "eRadial" -> eRadial, "sine-tan" / "eSineTan" -> eSineTan, "none" /
// "eNoDistortion" -> eNoDistortion. Throws std::runtime_error for another name.
tk2XformCalib2Defs::tkCalib2DistortionModel tfCompareModelNamed(const std::string& name);
// The short name: "radial", "sine-tan" or "none".
std::string tfCompareModelName(tk2XformCalib2Defs::tkCalib2DistortionModel model);

// The intrinsic model of a ground-truth camera.
tkPhysicalAtZEquals1FromImageParams tfIntrinsicOf(const tkAreaScanCameraTruth& camera);

// Number of correspondences of camera c over all placements.
long tfPointCount(const tkPointFile& file, int camera);

#endif
