// Calibration of a rig of cameras from plate placements, and the poses of a rig whose intrinsic
// models are known.
//
// Data: Z-rotation placements, each with [camera] lists of correspondences (image point in
// pixels, plate point in plate coordinates, z = 0 on the plate) and its height (world z of the
// plate, plate units); arbitrary placements, each with [camera] lists. Every placement holds one
// list per camera in the same order (empty where a camera did not see it). The first Z-rotation
// placement is the world frame and must exist. Weighted overloads take tkCrspPairWeighted (its
// image(), physical3D() and weight(); a weight multiplies its point's squared error).
//
// Results: a rig parameter set (multicamera_calibration_params.h) in the caller's plate units;
// placement 0's pose is the identity, Z-rotation poses carry the given heights.
#ifndef CCAL_MULTICAMERA_CALIBRATION_H
#define CCAL_MULTICAMERA_CALIBRATION_H

#include <ccal/export.h>
#include <ccal/multicamera_calibration_params.h>
#include <ccal/physical_at_z1_from_image_params.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

#include <utility>
#include <vector>

using tkMulticameraCrspList = std::vector<std::pair<tkVector<2>, tkVector<3>>>;
using tkMulticameraZRotationPlacements =
    std::vector<std::pair<std::vector<tkMulticameraCrspList>, double>>;
using tkMulticameraArbitraryPlacements = std::vector<std::vector<tkMulticameraCrspList>>;
using tkMulticameraWeightedList = std::vector<tkCrspPairWeighted>;
using tkMulticameraZRotationPlacementsWeighted =
    std::vector<std::pair<std::vector<tkMulticameraWeightedList>, double>>;
using tkMulticameraArbitraryPlacementsWeighted =
    std::vector<std::vector<tkMulticameraWeightedList>>;

// Joint calibration with one distortion model (eSineTan, eNoDistortion or eRadial) for every
// camera: each camera is estimated alone (planar calibration of its views with more than 9
// points, refined over its placements), cameras are linked into the world frame through shared
// placements (under eSineTan a camera may be re-seeded from the best camera's model), and all
// is refined jointly. Throws tkInvariantFailure when there is no Z-rotation placement, when a
// placement does not hold one list per camera, or when some camera cannot be linked to the
// world frame (fewer than 9 points in placement 0 and no placement shared with a linked camera);
// exceptions of the planar calibration and pose functions pass through (e.g. a camera without
// any view of more than 9 points). result is written only on success.
CCAL_API void tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
    tk2XformCalib2Defs::tkCalib2DistortionModel distModel,
    const tkMulticameraZRotationPlacements& zRotationPlacements,
    const tkMulticameraArbitraryPlacements& arbitraryPlacements,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result);

// The same with weights; the plate frame is scaled internally to a unit set by the spread of
// the plate points, so the result does not depend on the plate unit. Error figures, one entry
// per camera, in pixels: RMS √(Σw·d²/Σw) (0 when Σw = 0) and largest |d| (0 without points) of
// the image residual d = p − projection, over Z-rotation and over arbitrary placements.
CCAL_API void tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
    tk2XformCalib2Defs::tkCalib2DistortionModel distModel,
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result,
    std::vector<double>& rmsErrorsZRotation, std::vector<double>& maxErrorsZRotation,
    std::vector<double>& rmsErrorsArbitrary, std::vector<double>& maxErrorsArbitrary);

// The same without the error figures.
CCAL_API void tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
    tk2XformCalib2Defs::tkCalib2DistortionModel distModel,
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result);

// Poses of a rig whose intrinsic models are known (one per camera, in camera order), with the
// poses of the placements: starting from the camera with most points in placement 0, poses
// propagate through lists of at least 9 points (planar pose with known intrinsics), then all
// poses are refined jointly with the intrinsics fixed. The returned intrinsic list is the given
// one up to rounding. Throws tkInvariantFailure when there is no Z-rotation placement, when
// placements do not hold one list per model, or when no camera has a point in placement 0;
// tk_MulticameraCalibrationDefs::BadParams "calib not set" when some camera or placement cannot
// be reached. The weighted overload scales the plate frame as the calibration does and returns
// a default (empty) parameter set when the final image error is not finite.
CCAL_API void tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(
    const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
    const tkMulticameraZRotationPlacements& zRotationPlacements,
    const tkMulticameraArbitraryPlacements& arbitraryPlacements,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result);
CCAL_API void tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(
    const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result);

#endif
