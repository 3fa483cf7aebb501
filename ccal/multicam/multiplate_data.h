// Shapes of the multi-plate correspondence data and the per-camera estimate.
//
// A weighted correspondence is ((image point p, plate point P), weight w): p in pixels (or the
// normalised image frame of a solve), P in the placement's plate coordinates (the plate surface
// is Z = 0; a non-zero z is used as stored).
#ifndef CCAL_MULTICAM_MULTIPLATE_DATA_H
#define CCAL_MULTICAM_MULTIPLATE_DATA_H

#include <ccal/camera_calibration_params.h>
#include <tk/quaternion_xform.h>
#include <tk/vector.h>
#include <tk/zrotation_xform.h>

#include <utility>
#include <vector>

using tk_WeightedCrsp = std::pair<std::pair<tkVector<2>, tkVector<3>>, double>;
using tk_WeightedCrspList = std::vector<tk_WeightedCrsp>;
// Rig: per Z-rotation placement its [camera] lists and its height (world z of the plate).
using tk_ZRotationData = std::vector<std::pair<std::vector<tk_WeightedCrspList>, double>>;
// Rig: [arbitrary placement][camera] lists.
using tk_ArbitraryData = std::vector<std::vector<tk_WeightedCrspList>>;
// One camera: per Z-rotation placement its list and height; per arbitrary placement its list.
using tk_ZRotationData1 = std::vector<std::pair<tk_WeightedCrspList, double>>;
using tk_ArbitraryData1 = std::vector<tk_WeightedCrspList>;

// One camera estimated alone: its model and pose (plate frame of its world -> camera) and the
// poses of the placements it saw, with the meanings of the rig parameters. Default: the default
// camera and both lists empty.
struct tk_MultiplateCameraEstimate {
  tkCameraCalibrationParams camera;
  std::vector<tk3ZRotationXform> calibrationPlatePoses;
  std::vector<tk3QuaternionXform> arbitraryCalibrationPlatePoses;
};

#endif
