// Ground truth of the synthetic area-scan data sets (the "ground_truth" of a point file): the
// intrinsic model of each camera, its pose, and the pose of each placement, read from a point
// file's ground-truth JSON; plus the plate views of one camera as (image point, plate point)
// pairs.
#ifndef CCAL_TESTS_SUPPORT_AREA_SCAN_TRUTH_H
#define CCAL_TESTS_SUPPORT_AREA_SCAN_TRUTH_H

#include <point_file.h>
#include <tk/calib2_params.h>
#include <tk/pair.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <string>
#include <vector>

struct tkAreaScanCameraTruth {
  // Linear map image -> distorted normalised plane: d.x = scale.x p.x + skew p.y + translation.x,
  // d.y = scale.y p.y + translation.y.
  tkVector<2> scale;
  double skew = 0.0;
  tkVector<2> translation;
  tkVector<2> centerOfExpansion;
  std::string distModel;  // "eRadial", "eSineTan", "eNoDistortion"
  std::vector<double> lensDistParams;
  tkXform<3> worldToCamera;

  // The camera matrix K = L^-1 (image from the distorted normalised plane).
  tkXform<2> imageFromDistorted() const;
  // The intrinsic part of the calibrated transform: K and the lens list with the centre last.
  tkCalib2ParamsIntrinsic intrinsic() const;
};

struct tkAreaScanTruth {
  double noiseSigmaPx = 0.0;
  std::vector<tkAreaScanCameraTruth> cameras;
  std::vector<tkXform<3>> plateToWorld;  // per placement
};

// Parses the ground truth of an area-scan point file (throws std::runtime_error when absent).
tkAreaScanTruth tfParseAreaScanTruth(const tkPointFile& file);

// The placements in which camera `camera` sees at least `minimumPoints` points, each as pairs
// (image point, plate point (X, Y)); placementIndices (when not null) receives their indices.
std::vector<std::vector<tkPair<tkVector<2>>>> tfPlateViews(
    const tkPointFile& file, int camera, std::size_t minimumPoints = 1,
    std::vector<int>* placementIndices = nullptr);

#endif
