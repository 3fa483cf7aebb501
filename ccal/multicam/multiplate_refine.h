// The refinement procedure around the multi-plate solvers: removal of the starting Z rotations,
// normalisation of the physical and image frames, a first solve on seeded subsets of at most 100
// correspondences per list when some list is longer, the solve itself, and the way back to the
// caller's frames.
//
// Frames: image points in pixels, plate points in plate coordinates (Z = 0 on the plate), heights
// and translations in plate units; models and poses as in tkCameraCalibrationMultiplate...Params.
// Inside, the solve runs with the plate points of every Z-rotation placement turned by its
// starting angle (so that the solve starts each such placement at angle 0), the physical frame
// scaled so that camera 0's centre sits at distance 1 (s = 1 when it is at the origin), and the
// image points of each camera mapped by its own normalisation (mean and three standard
// deviations per axis); the intrinsic models follow the normalisation through mapRight.
//
// Subsets: one generator seeded with 1 per call; every list longer than 100 is shuffled in its
// first 100 places (swap m with trunc(next(m, size − 1)), m = 0 .. 99) and cut to 100, in the
// order Z-rotation placements (cameras in order) then arbitrary placements. Results are
// therefore repeatable.
//
// Preconditions of every solve (tkInvariantFailure, result not written): at least one
// Z-rotation placement; the first Z-rotation pose is the identity within 1e-15 (its translation
// must be 0 and its height 0); for the rig procedures nC intrinsic models and camera poses, nC
// lists in every placement and one pose per placement. In estimate-only progress mode the result
// is the start and only the work (N · iteration limit) is reported. Non-convergence is not
// reported: the result is the point where the minimisation stopped.
#ifndef CCAL_MULTICAM_MULTIPLATE_REFINE_H
#define CCAL_MULTICAM_MULTIPLATE_REFINE_H

#include "ccal/multicam/multiplate_data.h"

#include <ccal/multicamera_calibration_params.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/vector.h>

#include <utility>
#include <vector>

using tk_Crsp = std::pair<tkVector<2>, tkVector<3>>;
using tk_CrspList = std::vector<tk_Crsp>;
using tk_ZRotationPlacements = std::vector<std::pair<std::vector<tk_CrspList>, double>>;
using tk_ArbitraryPlacements = std::vector<std::vector<tk_CrspList>>;
using tk_ZRotationPlacementsW =
    std::vector<std::pair<std::vector<std::vector<tkCrspPairWeighted>>, double>>;
using tk_ArbitraryPlacementsW = std::vector<std::vector<std::vector<tkCrspPairWeighted>>>;

// Every weight 1.0 / the weights of the records; orders and heights kept.
tk_ZRotationData tfWeightedData(const tk_ZRotationPlacements& data);
tk_ArbitraryData tfWeightedData(const tk_ArbitraryPlacements& data);
tk_ZRotationData tfWeightedData(const tk_ZRotationPlacementsW& data);
tk_ArbitraryData tfWeightedData(const tk_ArbitraryPlacementsW& data);

// The translation of every camera, Z-rotation and arbitrary pose times factor.
tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams tfScaleTranslations(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& p, double factor);
// Scale of the plate frame for the entry points: over x and y of every plate point (Z-rotation
// placements first) and L lists visited (empty ones included), with n values and standard
// deviation σ, √(n / L) / σ · 15 / √12; 1 for n <= 2 or σ = 0.
double tfPlateScale(const tk_ZRotationData& zData, const tk_ArbitraryData& aData);
// Heights and Z-rotation plate points times s; of arbitrary plate points x and y only.
void tfScalePlates(double s, tk_ZRotationData& zData, tk_ArbitraryData& aData);

// Joint refinement of a rig (intrinsics and poses).
void tfRefineCameraCalibrationMultiplateMulticamera(
    const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& start,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result);
void tfRefineCameraCalibrationMultiplateMulticamera(
    const tk_ZRotationPlacements& zData, const tk_ArbitraryPlacements& aData,
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& start,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result);
void tfRefineCameraCalibrationMultiplateMulticamera(
    const tk_ZRotationPlacementsW& zData, const tk_ArbitraryPlacementsW& aData,
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& start,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result);

// Refinement of the poses of a rig whose intrinsic models (those of start) stay fixed; the
// returned intrinsic list is start's up to the rounding of the normalisation and its inverse.
void tfRefineCameraPoseMultiplateMulticamera(
    const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& start,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result);

// Refinement of one camera with the placements it saw (estimate: model, pose and one pose per
// placement of the data).
void tfRefineCameraCalibrationMultiplateSingleCamera(const tk_ZRotationData1& zData,
                                                     const tk_ArbitraryData1& aData,
                                                     const tk_MultiplateCameraEstimate& start,
                                                     tk_MultiplateCameraEstimate& result);
void tfRefineCameraCalibrationMultiplateSingleCamera(
    const std::vector<std::pair<tk_CrspList, double>>& zData, const std::vector<tk_CrspList>& aData,
    const tk_MultiplateCameraEstimate& start, tk_MultiplateCameraEstimate& result);

#endif
