// The synthetic single-camera data sets (data/single-*.json) in the form the single-camera
// calibration takes: weighted correspondences in the world frame (each placement's plate points
// mapped with its ground-truth plate -> world pose), the plate views with their poses, and the
// ground-truth camera.
#ifndef CCAL_TESTS_SUPPORT_SINGLE_CAMERA_DATA_H
#define CCAL_TESTS_SUPPORT_SINGLE_CAMERA_DATA_H

#include <ccal/camera_calibration_params.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <string>
#include <utility>
#include <vector>

using WeightedCorrespondences = std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>;

struct SingleCameraDataSet {
  WeightedCorrespondences correspondences;                  // world frame
  std::vector<std::vector<tkCrspPairWeighted>> plateViews;  // plate frame, per placement
  std::vector<tkXform<3>> platePoses;                       // plate -> world, per placement
  tkCameraCalibrationParams truth;
  double noiseSigmaPx = 0.0;
};

// Loads data/<fileName> (camera 0). Throws when the file is missing or has no ground truth.
SingleCameraDataSet LoadSingleCameraDataSet(const std::string& fileName);

// The ground-truth camera of an area-scan data set's camera 0 as a parameter object.
tkCameraCalibrationParams TruthCamera(const std::string& fileName);

#endif
